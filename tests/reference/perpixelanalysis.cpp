#include "reference/perpixelanalysis.h"

#include <QDebug>
#include <QHash>

#include <climits>
#include <vector>

namespace {

int distance(int L, int a, int b, int cL, int cA, int cB)
{
    return (L - cL) * (L - cL) + (a - cA) * (a - cA) + (b - cB) * (b - cB);
}

void report(const ProgressCallback &progress, int value)
{
    if (progress)
        progress(value);
}

void allocateCenters(CColorClusters &clusters, int K)
{
    delete[] clusters.centerL;
    delete[] clusters.centerA;
    delete[] clusters.centerB;
    clusters.centerL = new qint16[K];
    clusters.centerA = new qint16[K];
    clusters.centerB = new qint16[K];
}

} // namespace

LabValue rgbToLab(QRgb colour)
{
    return labFromLinear(linearChannel(qRed(colour)), linearChannel(qGreen(colour)),
                         linearChannel(qBlue(colour)));
}

CLabImage::CLabImage(const QImage &picture)
    : width(picture.width()), height(picture.height())
{
    const qsizetype count = qsizetype(width) * height;
    planeL.resize(count);
    planeA.resize(count);
    planeB.resize(count);

    // One conversion per distinct 32-bit value; pixels differing only in alpha are
    // separate keys with equal results.
    QHash<QRgb, LabValue> cache;
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            const QRgb colour = picture.pixel(x, y);
            if (!cache.contains(colour))
                cache.insert(colour, rgbToLab(colour));
        }
    }
    qint16 *L = planeL.data();
    qint16 *A = planeA.data();
    qint16 *B = planeB.data();
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            const LabValue lab = cache.value(picture.pixel(x, y));
            const qsizetype i = qsizetype(y) * width + x;
            L[i] = lab.L;
            A[i] = lab.a;
            B[i] = lab.b;
        }
    }
}

QList<qint16> CLabImage::valuesAt(int x, int y) const
{
    const qsizetype i = qsizetype(y) * width + x;
    return {planeL.at(i), planeA.at(i), planeB.at(i)};
}

void PerPixel::setModel(CColorClusters &clusters, const QList<QList<int>> &centres,
                        const QList<qint64> &counts)
{
    const int n = int(centres.size());
    clusters.clusterCount = n;
    allocateCenters(clusters, n);
    delete[] clusters.pixelCounts;
    clusters.pixelCounts = new qint64[n];
    for (int k = 0; k < n; ++k) {
        clusters.centerL[k] = qint16(centres[k][0]);
        clusters.centerA[k] = qint16(centres[k][1]);
        clusters.centerB[k] = qint16(centres[k][2]);
        clusters.pixelCounts[k] = counts[k];
    }
}

int PerPixel::initCenters(CColorClusters &clusters, const CLabImage &lab, const QList<QPoint> &positions,
                          int K)
{
    Q_ASSERT(!positions.isEmpty());
    std::vector<LabValue> samples;
    samples.reserve(size_t(positions.size()));
    for (const QPoint &p : positions) {
        const QList<qint16> v = lab.valuesAt(p.x(), p.y());
        samples.push_back({v.at(0), v.at(1), v.at(2)});
    }

    allocateCenters(clusters, K);
    qint16 *centerL = clusters.centerL;
    qint16 *centerA = clusters.centerA;
    qint16 *centerB = clusters.centerB;
    centerL[0] = samples[0].L;
    centerA[0] = samples[0].a;
    centerB[0] = samples[0].b;
    std::vector<double> nearest(samples.size());
    for (int i = 1; i < K; ++i) {
        int best = 0;
        size_t bestIndex = 0;
        for (size_t j = 0; j < samples.size(); ++j) {
            const double d = distance(samples[j].L, samples[j].a, samples[j].b,
                                      centerL[i - 1], centerA[i - 1], centerB[i - 1]);
            if (i == 1 || d < nearest[j])
                nearest[j] = d;
            if (nearest[j] > best) {
                best = int(nearest[j]);
                bestIndex = j;
            }
        }
        centerL[i] = samples[bestIndex].L;
        centerA[i] = samples[bestIndex].a;
        centerB[i] = samples[bestIndex].b;
    }
    return 0;
}

int PerPixel::cluster(CColorClusters &clusters, const CLabImage &lab, int K,
                      const ProgressCallback &progress, int start, int end)
{
    const int W = lab.width;
    const int H = lab.height;
    clusters.clusterCount = K;
    report(progress, start);
    std::vector<quint8> labels(size_t(W) * size_t(H), 0);
    report(progress, start + 10);
    QList<QPoint> positions;
    positions.reserve(qsizetype(W) * H);
    for (int x = 0; x < W; ++x) {
        for (int y = 0; y < H; ++y)
            positions.append(QPoint(x, y));
    }
    initCenters(clusters, lab, positions, K);
    report(progress, start + 20);
    std::vector<qint32> distances(static_cast<size_t>(K), 0);
    report(progress, start + 30);

    qint16 *centerL = clusters.centerL;
    qint16 *centerA = clusters.centerA;
    qint16 *centerB = clusters.centerB;
    const size_t count = size_t(K);
    std::vector<double> sumL(count), sumA(count), sumB(count);
    std::vector<qint64> counts(count);
    const qint16 *planeL = lab.planeL.constData();
    const qint16 *planeA = lab.planeA.constData();
    const qint16 *planeB = lab.planeB.constData();
    for (int t = 0; t < 20; ++t) {
        qDebug() << "iteration" << t;
        for (int x = 0; x < W; ++x) {
            for (int y = 0; y < H; ++y) {
                const size_t i = size_t(y) * size_t(W) + size_t(x);
                for (int k = 0; k < K; ++k)
                    distances[size_t(k)] = distance(planeL[i], planeA[i], planeB[i],
                                                    centerL[k], centerA[k], centerB[k]);
                int label = 0;
                for (int k = 1; k < K; ++k) {
                    if (distances[size_t(k)] < distances[size_t(label)])
                        label = k;
                }
                labels[i] = quint8(label);
            }
        }
        qDebug() << "iteration" << t << "step2";
        std::fill(sumL.begin(), sumL.end(), 0.0);
        std::fill(sumA.begin(), sumA.end(), 0.0);
        std::fill(sumB.begin(), sumB.end(), 0.0);
        std::fill(counts.begin(), counts.end(), 0);
        for (int x = 0; x < W; ++x) {
            for (int y = 0; y < H; ++y) {
                const size_t i = size_t(y) * size_t(W) + size_t(x);
                const size_t label = labels[i];
                sumL[label] += double(planeL[i]);
                sumA[label] += double(planeA[i]);
                sumB[label] += double(planeB[i]);
                ++counts[label];
            }
        }
        for (size_t i = 0; i < count; ++i) {
            if (counts[i] > 0) {
                centerL[i] = qint16(sumL[i] / counts[i]);
                centerA[i] = qint16(sumA[i] / counts[i]);
                centerB[i] = qint16(sumB[i] / counts[i]);
            }
        }
        report(progress, start + 30 + ((end - start) * t) / 20);
    }
    delete[] clusters.pixelCounts;
    clusters.pixelCounts = new qint64[count];
    std::copy(counts.begin(), counts.end(), clusters.pixelCounts);
    return 0;
}

void PerPixel::labelImage(const CColorClusters &clusters, const CLabImage &lab, QImage &labelMap)
{
    const int K = clusters.clusterCount;
    std::vector<qint32> distances(static_cast<size_t>(K));
    uchar *bits = labelMap.bits();
    const qsizetype stride = labelMap.bytesPerLine();
    for (int y = 0; y < lab.height; ++y) {
        uchar *row = bits + y * stride;
        for (int x = 0; x < lab.width; ++x) {
            const qsizetype i = qsizetype(y) * lab.width + x;
            const int L = lab.planeL.at(i);
            const int a = lab.planeA.at(i);
            const int b = lab.planeB.at(i);
            for (int k = 0; k < K; ++k) {
                const bool live = clusters.pixelCounts && clusters.pixelCounts[k] > 0;
                distances[size_t(k)] = live ? distance(L, a, b, clusters.centerL[k], clusters.centerA[k],
                                                       clusters.centerB[k])
                                            : INT_MAX;
            }
            int label = 0;
            for (int k = 1; k < K; ++k) {
                if (distances[size_t(k)] < distances[size_t(label)])
                    label = k;
            }
            row[x] = uchar(label);
        }
    }
}
