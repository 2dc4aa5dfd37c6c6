#include "analysis/colorclusters.h"

#include "analysis/largebuffer.h"

#include <QDebug>

#include <climits>
#include <cstdlib>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// The progress value after iteration t, start + 30 at the first; it passes 100 after
// iteration 16, which a progress bar with range 0..100 ignores.
int iterationProgress(int start, int end, int t)
{
    return start + 30 + ((end - start) * t) / 20;
}

// A list of centres searched for the nearest one, lowest index among equal distances, as
// the per-pixel search does. Distances are integers below 2^17, exact in float, which
// lets four of them be computed at once; padding centres lie too far away to ever win.
class CentreSearch
{
public:
    explicit CentreSearch(int count)
        : count(qBound(1, count, 256)), padded((this->count + 3) & ~3), L(size_t(padded), far), A(L), B(L)
    {
    }

    void set(int k, int l, int a, int b)
    {
        L[size_t(k)] = float(l);
        A[size_t(k)] = float(a);
        B[size_t(k)] = float(b);
    }

    int nearest(int l, int a, int b) const
    {
#ifdef __SSE2__
        __m128 d[256 / 4]; // K <= 256, labels being bytes
        const __m128 pl = _mm_set1_ps(float(l));
        const __m128 pa = _mm_set1_ps(float(a));
        const __m128 pb = _mm_set1_ps(float(b));
        __m128 least = _mm_set1_ps(3.0e38f);
        for (int g = 0; g < padded / 4; ++g) {
            const __m128 dl = _mm_sub_ps(pl, _mm_loadu_ps(&L[size_t(4 * g)]));
            const __m128 da = _mm_sub_ps(pa, _mm_loadu_ps(&A[size_t(4 * g)]));
            const __m128 db = _mm_sub_ps(pb, _mm_loadu_ps(&B[size_t(4 * g)]));
            d[g] = _mm_add_ps(_mm_add_ps(_mm_mul_ps(dl, dl), _mm_mul_ps(da, da)), _mm_mul_ps(db, db));
            least = _mm_min_ps(least, d[g]);
        }
        least = _mm_min_ps(least, _mm_shuffle_ps(least, least, _MM_SHUFFLE(1, 0, 3, 2)));
        least = _mm_min_ps(least, _mm_shuffle_ps(least, least, _MM_SHUFFLE(2, 3, 0, 1)));
        for (int g = 0;; ++g) {
            const int equal = _mm_movemask_ps(_mm_cmpeq_ps(d[g], least));
            if (equal)
                return 4 * g + __builtin_ctz(unsigned(equal));
        }
#else
        int best = INT_MAX;
        int label = 0;
        for (int k = 0; k < count; ++k) {
            const int d = distance(l, a, b, int(L[size_t(k)]), int(A[size_t(k)]), int(B[size_t(k)]));
            if (d < best) {
                best = d;
                label = k;
            }
        }
        return label;
#endif
    }

private:
    static constexpr float far = 1.0e4f;
    int count;
    int padded;
    std::vector<float> L, A, B;
};

// From this size on a picture's colours fill much of the colour table anyway, and large
// pages make it cheaper; below it the table is only paid for where it is touched.
const qint64 hugeTablePixels = qint64(1) << 22;

} // namespace

CColorClusters::~CColorClusters()
{
    delete[] centerL;
    delete[] centerA;
    delete[] centerB;
    delete[] pixelCounts;
}

QList<QList<qint16>> CColorClusters::centers() const
{
    QList<QList<qint16>> result;
    for (int i = 0; i < clusterCount && centerL; ++i)
        result.append({centerL[i], centerA[i], centerB[i]});
    return result;
}

void CColorClusters::allocateCenters(int K)
{
    delete[] centerL;
    delete[] centerA;
    delete[] centerB;
    centerL = new qint16[K];
    centerA = new qint16[K];
    centerB = new qint16[K];
}

void CColorClusters::storeCounts(const std::vector<qint64> &counts)
{
    delete[] pixelCounts;
    pixelCounts = new qint64[counts.size()];
    std::copy(counts.begin(), counts.end(), pixelCounts);
}

int CColorClusters::initCenters(CLabImage lab, const QList<QPoint> &positions, int K)
{
    Q_ASSERT(!positions.isEmpty());
    std::vector<LabValue> samples;
    samples.reserve(size_t(positions.size()));
    for (const QPoint &p : positions) {
        const QList<qint16> v = lab.valuesAt(p.x(), p.y());
        samples.push_back({v.at(0), v.at(1), v.at(2)});
    }

    allocateCenters(K);
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

int CColorClusters::cluster(CLabImage lab, int K, const ProgressCallback &progress, int start, int end)
{
    const int W = lab.width;
    const int H = lab.height;
    clusterCount = K;
    report(progress, start);
    std::vector<quint8> labels(size_t(W) * size_t(H), 0);
    report(progress, start + 10);
    QList<QPoint> positions;
    positions.reserve(qsizetype(W) * H);
    for (int x = 0; x < W; ++x) {
        for (int y = 0; y < H; ++y)
            positions.append(QPoint(x, y));
    }
    initCenters(lab, positions, K);
    report(progress, start + 20);
    std::vector<qint32> distances(static_cast<size_t>(K), 0);
    report(progress, start + 30);

    const size_t clusters = size_t(K);
    std::vector<double> sumL(clusters), sumA(clusters), sumB(clusters);
    std::vector<qint64> counts(clusters);
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
        for (size_t i = 0; i < size_t(K); ++i) {
            if (counts[i] > 0) {
                centerL[i] = qint16(sumL[i] / counts[i]);
                centerA[i] = qint16(sumA[i] / counts[i]);
                centerB[i] = qint16(sumB[i] / counts[i]);
            }
        }
        report(progress, iterationProgress(start, end, t));
    }
    storeCounts(counts);
    return 0;
}

void CColorClusters::labelImage(const CLabImage &lab, QImage &labelMap) const
{
    const int K = clusterCount;
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
                distances[size_t(k)] = isLive(k)
                                           ? distance(L, a, b, centerL[k], centerA[k], centerB[k])
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

// The fast paths below rest on two facts: a pixel's label depends only on its L*a*b*
// triple, and the triple only on its 24-bit colour. Both give bit-identical results to
// the per-pixel functions above (the tests compare them on photographs).

int CColorClusters::initCenters(const LabHistogram &triples, int K)
{
    // Triples are numbered by first occurrence in column order, so the lowest triple
    // number among equally far triples is the first such sample of the per-pixel list.
    Q_ASSERT(triples.size() > 0);
    const qint16 *L = triples.L.constData();
    const qint16 *A = triples.a.constData();
    const qint16 *B = triples.b.constData();
    const qsizetype n = triples.size();

    allocateCenters(K);
    centerL[0] = L[0];
    centerA[0] = A[0];
    centerB[0] = B[0];
    // Distances are small integers, exact in int as in double.
    std::vector<int> nearest(static_cast<size_t>(n), INT_MAX);
    for (int i = 1; i < K; ++i) {
        const int cL = centerL[i - 1], cA = centerA[i - 1], cB = centerB[i - 1];
        int best = 0;
        qsizetype bestIndex = 0;
        for (qsizetype j = 0; j < n; ++j) {
            const int d = distance(L[j], A[j], B[j], cL, cA, cB);
            if (d < nearest[size_t(j)])
                nearest[size_t(j)] = d;
            if (nearest[size_t(j)] > best) {
                best = nearest[size_t(j)];
                bestIndex = j;
            }
        }
        centerL[i] = L[bestIndex];
        centerA[i] = A[bestIndex];
        centerB[i] = B[bestIndex];
    }
    return 0;
}

int CColorClusters::cluster(const LabHistogram &triples, int K, const ProgressCallback &progress,
                            int start, int end)
{
    Q_ASSERT(K >= 1 && K <= 256); // labels are bytes
    clusterCount = K;
    report(progress, start);
    const qsizetype n = triples.size();
    std::vector<quint8> labels(static_cast<size_t>(n), 0);
    report(progress, start + 10);
    initCenters(triples, K);
    report(progress, start + 20);
    report(progress, start + 30);

    const qint16 *L = triples.L.constData();
    const qint16 *A = triples.a.constData();
    const qint16 *B = triples.b.constData();
    const qint64 *weight = triples.counts.constData();
    const size_t clusters = size_t(K);
    // Integer sums are what the per-pixel double sums come to exactly: every partial sum
    // is an integer far below 2^53.
    std::vector<qint64> sumL(clusters), sumA(clusters), sumB(clusters), counts(clusters);
    for (int t = 0; t < 20; ++t) {
        qDebug() << "iteration" << t;
        CentreSearch search(K);
        for (int k = 0; k < K; ++k)
            search.set(k, centerL[k], centerA[k], centerB[k]);
        for (qsizetype j = 0; j < n; ++j)
            labels[size_t(j)] = quint8(search.nearest(L[j], A[j], B[j]));
        qDebug() << "iteration" << t << "step2";
        std::fill(sumL.begin(), sumL.end(), 0);
        std::fill(sumA.begin(), sumA.end(), 0);
        std::fill(sumB.begin(), sumB.end(), 0);
        std::fill(counts.begin(), counts.end(), 0);
        for (qsizetype j = 0; j < n; ++j) {
            const size_t label = labels[size_t(j)];
            sumL[label] += weight[j] * L[j];
            sumA[label] += weight[j] * A[j];
            sumB[label] += weight[j] * B[j];
            counts[label] += weight[j];
        }
        for (size_t i = 0; i < size_t(K); ++i) {
            if (counts[i] > 0) {
                const double count = double(counts[i]);
                centerL[i] = qint16(double(sumL[i]) / count);
                centerA[i] = qint16(double(sumA[i]) / count);
                centerB[i] = qint16(double(sumB[i]) / count);
            }
        }
        report(progress, iterationProgress(start, end, t));
    }
    storeCounts(counts);
    return 0;
}

void CColorClusters::labelPicture(const QImage &picture, QImage &labelMap) const
{
    const int K = clusterCount;
    if (K > 255 || !isRawArgb(picture)) {
        // The table below stores label + 1 in a byte and reads 32-bit words.
        labelImage(CLabImage(picture), labelMap);
        return;
    }

    // Only non-empty clusters can win, and visiting them in index order with a strict
    // comparison keeps the lowest index among equals.
    std::vector<int> live;
    for (int k = 0; k < K; ++k) {
        if (isLive(k))
            live.push_back(k);
    }
    if (live.empty())
        live.push_back(0);
    CentreSearch search(int(live.size()));
    for (size_t i = 0; i < live.size(); ++i)
        search.set(int(i), centerL[live[i]], centerA[live[i]], centerB[live[i]]);
    const double *linear = linearChannelTable();
    const auto labelOf = [&](QRgb colour) {
        const LabValue lab = labFromLinearChecked(linear[qRed(colour)], linear[qGreen(colour)],
                                                  linear[qBlue(colour)]);
        return live[size_t(search.nearest(lab.L, lab.a, lab.b))];
    };

    // label + 1 per 24-bit colour, 0 = not seen yet. The table is laid out in 8 x 8 x 8
    // colour cubes of 512 bytes, so that the slightly different colours of neighbouring
    // pixels share cache lines and pages instead of lying 64 KiB apart.
    // Zero-filled and paid for only where touched, so that a picture with few colours costs
    // little.
    const LargeBuffer table(size_t(1) << 24, qint64(picture.width()) * picture.height() >= hugeTablePixels);
    Q_CHECK_PTR(table.data());
    uchar *known = table.data();
    const uchar *in = picture.constBits();
    const qsizetype inStride = picture.bytesPerLine();
    uchar *out = labelMap.bits();
    const qsizetype outStride = labelMap.bytesPerLine();
    const int width = picture.width();
    const int height = picture.height();
    for (int y = 0; y < height; ++y) {
        const QRgb *source = reinterpret_cast<const QRgb *>(in + y * inStride);
        uchar *row = out + y * outStride;
        for (int x = 0; x < width; ++x) {
            const QRgb colour = source[x];
            const quint32 cube = (colour >> 9 & 0x7C00) | (colour >> 6 & 0x3E0) | (colour >> 3 & 0x1F);
            const quint32 inside = (colour >> 10 & 0x1C0) | (colour >> 5 & 0x38) | (colour & 0x7);
            uchar &entry = known[cube << 9 | inside];
            int value = entry;
            if (value == 0) {
                value = labelOf(colour) + 1;
                entry = uchar(value);
            }
            row[x] = uchar(value - 1);
        }
    }
}
