#include "analysis/colorclusters.h"

#include "analysis/diagnostics.h"
#include "analysis/largebuffer.h"
#include "analysis/parallel.h"

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

// The picture as 32-bit words holding what QImage::pixel() returns (alpha aside).
QImage pixelWords(const QImage &picture)
{
    if (isRawArgb(picture))
        return picture;
    QImage words(picture.size(), QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(words.scanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            line[x] = picture.pixel(x, y);
    }
    return words;
}

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

// The analysis rests on two facts: a pixel's label depends only on its L*a*b* triple, and
// the triple only on its 24-bit colour. So the clustering and the labelling give the same
// bytes as working pixel by pixel (the tests compare them with a per-pixel reference).

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
        qCDebug(lcAnalysis) << "iteration" << t;
        CentreSearch search(K);
        for (int k = 0; k < K; ++k)
            search.set(k, centerL[k], centerA[k], centerB[k]);
        Parallel::forRange(n, 4096, [&](qint64 begin, qint64 end) {
            for (qint64 j = begin; j < end; ++j)
                labels[size_t(j)] = quint8(search.nearest(L[j], A[j], B[j]));
        });
        qCDebug(lcAnalysis) << "iteration" << t << "step2";
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
    // Only non-empty clusters can win, and visiting them in index order with a strict
    // comparison keeps the lowest index among equals.
    const int K = clusterCount;
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

    const QImage argb = pixelWords(picture);
    const int width = argb.width();
    const int height = argb.height();
    const uchar *in = argb.constBits();
    const qsizetype inStride = argb.bytesPerLine();
    uchar *out = labelMap.bits();
    const qsizetype outStride = labelMap.bytesPerLine();
    const qint64 rowsPerPart = qMax(1, (1 << 16) / qMax(width, 1));

    if (live.back() > 254) {
        // The table below stores label + 1 in a byte; beyond that every pixel is searched
        // for itself.
        Parallel::forRange(height, rowsPerPart, [&](qint64 begin, qint64 end) {
            const int width = argb.width();
            for (qint64 y = begin; y < end; ++y) {
                const QRgb *source = reinterpret_cast<const QRgb *>(in + y * inStride);
                uchar *row = out + y * outStride;
                for (int x = 0; x < width; ++x)
                    row[x] = uchar(labelOf(source[x]));
            }
        });
        return;
    }

    // label + 1 per 24-bit colour, 0 = not seen yet. The table is laid out in 8 x 8 x 8
    // colour cubes of 512 bytes, so that the slightly different colours of neighbouring
    // pixels share cache lines and pages instead of lying 64 KiB apart.
    // Zero-filled and paid for only where touched, so that a picture with few colours costs
    // little.
    const LargeBuffer table(size_t(1) << 24, qint64(width) * height >= hugeTablePixels);
    Q_CHECK_PTR(table.data());
    uchar *known = table.data();
    // Threads share the table: an entry is read and written with relaxed atomic byte
    // accesses, and two threads meeting a new colour at once store the same value.
    Parallel::forRange(height, rowsPerPart, [&](qint64 begin, qint64 end) {
        const int width = argb.width(); // a local, which no byte store can be taken to change
        for (qint64 y = begin; y < end; ++y) {
            const QRgb *source = reinterpret_cast<const QRgb *>(in + y * inStride);
            uchar *row = out + y * outStride;
            for (int x = 0; x < width; ++x) {
                const QRgb colour = source[x];
                const quint32 cube = (colour >> 9 & 0x7C00) | (colour >> 6 & 0x3E0) | (colour >> 3 & 0x1F);
                const quint32 inside = (colour >> 10 & 0x1C0) | (colour >> 5 & 0x38) | (colour & 0x7);
                uchar *entry = known + (cube << 9 | inside);
                int value = __atomic_load_n(entry, __ATOMIC_RELAXED);
                if (value == 0) {
                    value = labelOf(colour) + 1;
                    __atomic_store_n(entry, uchar(value), __ATOMIC_RELAXED);
                }
                row[x] = uchar(value - 1);
            }
        }
    });
}
