#include "output/refine.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "analysis/parallel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Alpha: closed-form matting (A. Levin, D. Lischinski, Y. Weiss, "A Closed-Form Solution to
// Natural Image Matting", IEEE TPAMI 30(2), 2008) with 3 x 3 windows, restricted to a band
// around the keep decision's outline whose rims are the known foreground and background,
// plus a faint pull towards the decision itself. The sparse system (5 x 5 taps a row) is
// solved by conjugate gradients preconditioned with an incomplete Cholesky factor of the
// same sparsity (IC(0)), which settles in a few dozen steps where a diagonal
// preconditioner needs hundreds.
// Colour: each soft pixel's foreground is the colour that, mixed by its alpha with a local
// background estimate, gives the photo back, kept near a local foreground estimate (the
// per-pixel least squares of sampling-based matting, e.g. E. Gastal, M. Oliveira, "Shared
// Sampling for Real-Time Alpha Matting", Eurographics 2010, with local means as samples).
//
// Determinism: every pass writes only its own pixels; every sum over the band is made of
// partial sums over fixed blocks added in block order; the factor is cut into a fixed
// number of runs. So the split across threads never changes a byte.

namespace {

// Regularises each window's colour covariance (colours 0..1): smaller keeps finer detail but
// converges more slowly.
constexpr double windowEpsilon = 1e-5;
// Enough for the preconditioned solve to settle on bands of this width.
constexpr int solveIterations = 30;

constexpr qint64 blockSize = 8192; // fixed reduction blocks
// A pixel's matting-Laplacian row reaches the 5 x 5 pixels around it.
constexpr int stencil = 25;
constexpr int centre = 12;
constexpr int lowerTaps = 12; // the taps before the centre: earlier pixels in row order

// A dot product of float weights and double values summed in two lanes (even and odd taps
// of each group) and a tail, so that pairs of taps go through the vector unit together;
// without it the same sums are made one by one in the same order.
class Dot
{
public:
    void four(const float *w, const double *v)
    {
#if defined(__SSE2__)
        const __m128 w4 = _mm_loadu_ps(w);
        lanes = _mm_add_pd(lanes, _mm_mul_pd(_mm_cvtps_pd(w4), _mm_loadu_pd(v)));
        lanes = _mm_add_pd(lanes, _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(w4, w4)), _mm_loadu_pd(v + 2)));
#else
        lane0 += double(w[0]) * v[0];
        lane1 += double(w[1]) * v[1];
        lane0 += double(w[2]) * v[2];
        lane1 += double(w[3]) * v[3];
#endif
    }
    void two(const float *w, const double *v)
    {
#if defined(__SSE2__)
        const __m128 w2 = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(w)));
        lanes = _mm_add_pd(lanes, _mm_mul_pd(_mm_cvtps_pd(w2), _mm_loadu_pd(v)));
#else
        lane0 += double(w[0]) * v[0];
        lane1 += double(w[1]) * v[1];
#endif
    }
    void one(float w, double v) { tail += double(w) * v; }
    double total() const
    {
#if defined(__SSE2__)
        double l[2];
        _mm_storeu_pd(l, lanes);
        return l[0] + l[1] + tail;
#else
        return lane0 + lane1 + tail;
#endif
    }

private:
#if defined(__SSE2__)
    __m128d lanes = _mm_setzero_pd();
#else
    double lane0 = 0, lane1 = 0;
#endif
    double tail = 0;
};
constexpr qint64 grain = 4096;

// Squared Euclidean distance to the nearest pixel where `seed` is set (P. Felzenszwalb,
// D. Huttenlocher, "Distance Transforms of Sampled Functions", 2012), capped at `cap`.
std::vector<qint32> squaredDistance(const std::vector<quint8> &seed, int W, int H, qint32 cap)
{
    std::vector<qint32> d(seed.size());
    // Columns, scanned row by row in strips for the cache: distance to the nearest seed
    // above or below.
    Parallel::forRange((W + 63) / 64, 1, [&](qint64 begin, qint64 end) {
        const int x0 = int(begin * 64), x1 = std::min(W, int(end * 64));
        std::vector<qint64> last(size_t(x1 - x0), -1);
        for (int y = 0; y < H; ++y) {
            const quint8 *s = &seed[size_t(y) * W];
            qint32 *row = &d[size_t(y) * W];
            for (int x = x0; x < x1; ++x) {
                qint64 &l = last[size_t(x - x0)];
                if (s[x])
                    l = y;
                row[x] = l < 0 ? cap : qint32(std::min<qint64>(cap, (y - l) * (y - l)));
            }
        }
        std::fill(last.begin(), last.end(), -1);
        for (int y = H - 1; y >= 0; --y) {
            const quint8 *s = &seed[size_t(y) * W];
            qint32 *row = &d[size_t(y) * W];
            for (int x = x0; x < x1; ++x) {
                qint64 &l = last[size_t(x - x0)];
                if (s[x])
                    l = y;
                if (l >= 0)
                    row[x] = qint32(std::min<qint64>(row[x], (l - y) * (l - y)));
            }
        }
    });
    // Rows: lower envelope of the parabolas (x - q)^2 + column distance at q.
    Parallel::forRange(H, 16, [&](qint64 begin, qint64 end) {
        std::vector<qint32> f(static_cast<size_t>(W)), v(static_cast<size_t>(W));
        std::vector<double> z(static_cast<size_t>(W) + 1);
        for (qint64 y = begin; y < end; ++y) {
            qint32 *row = d.data() + size_t(y) * W;
            if (std::all_of(row, row + W, [cap](qint32 v) { return v >= cap; }))
                continue; // nothing near: stays capped
            std::copy(row, row + W, f.begin());
            int k = 0;
            v[0] = 0;
            z[0] = -std::numeric_limits<double>::infinity();
            z[1] = std::numeric_limits<double>::infinity();
            for (int q = 1; q < W; ++q) {
                double s = 0;
                while (true) {
                    const int p = v[size_t(k)];
                    s = ((f[size_t(q)] + double(q) * q) - (f[size_t(p)] + double(p) * p)) / (2.0 * (q - p));
                    if (s <= z[size_t(k)] && k > 0)
                        --k;
                    else
                        break;
                }
                if (s <= z[size_t(k)]) {
                    v[0] = q;
                    z[1] = std::numeric_limits<double>::infinity();
                    continue;
                }
                ++k;
                v[size_t(k)] = q;
                z[size_t(k)] = s;
                z[size_t(k) + 1] = std::numeric_limits<double>::infinity();
            }
            k = 0;
            for (int q = 0; q < W; ++q) {
                while (z[size_t(k) + 1] < q)
                    ++k;
                const qint64 dx = q - v[size_t(k)];
                row[q] = qint32(std::min<qint64>(cap, dx * dx + f[size_t(v[size_t(k)])]));
            }
        }
    });
    return d;
}

// The pixels the solve touches, listed row by row: the unknown band and two rings around
// it (the windows that hold an unknown pixel, and the pixels of those windows). Index n
// is a sentinel that stands for every missing neighbour and holds zeros.
struct Band
{
    int W = 0, H = 0;
    qint64 n = 0;
    std::vector<qint32> x, y;
    std::vector<qint32> left, right, up, down;
    std::vector<quint8> compact; // the 5 x 5 neighbourhood is 5 runs of consecutive indices
    std::vector<quint8> unknown;
    std::vector<quint8> window; // centre of a 3 x 3 window that lies on the picture
    std::vector<double> known;  // alpha of the known pixels, the decision on the unknown
    std::vector<double> red, green, blue; // 0..1

    // The 5 x 5 pixels around a, row by row (n where missing). Steps go up or down first:
    // around an unknown pixel or a window every pixel on the way is in the band.
    void neighbourhood(qint64 a, qint32 out[25]) const
    {
        const qint32 rows[5] = {up[size_t(up[size_t(a)])], up[size_t(a)], qint32(a), down[size_t(a)],
                                down[size_t(down[size_t(a)])]};
        for (int r = 0; r < 5; ++r) {
            const qint32 c = rows[r];
            out[r * 5 + 2] = c;
            out[r * 5 + 1] = left[size_t(c)];
            out[r * 5] = left[size_t(left[size_t(c)])];
            out[r * 5 + 3] = right[size_t(c)];
            out[r * 5 + 4] = right[size_t(right[size_t(c)])];
        }
    }
    // The first index of the row dy (-2 .. 2) of a compact neighbourhood.
    qint32 rowStart(qint64 a, int dy) const
    {
        switch (dy) {
        case -2: return up[size_t(up[size_t(a)])] - 2;
        case -1: return up[size_t(a)] - 2;
        case 1: return down[size_t(a)] - 2;
        case 2: return down[size_t(down[size_t(a)])] - 2;
        default: return qint32(a) - 2;
        }
    }
};

void forBlocks(qint64 count, const std::function<void(qint64, qint64)> &work)
{
    Parallel::forRange(count, grain, work);
}

// Sum of partial(begin, end) over fixed blocks of [0, count), added in block order.
double blockSum(qint64 count, const std::function<double(qint64, qint64)> &partial)
{
    const qint64 blocks = (count + blockSize - 1) / blockSize;
    std::vector<double> sums(size_t(std::max<qint64>(blocks, 1)), 0.0);
    Parallel::forRange(blocks, 1, [&](qint64 begin, qint64 end) {
        for (qint64 b = begin; b < end; ++b)
            sums[size_t(b)] = partial(b * blockSize, std::min(count, (b + 1) * blockSize));
    });
    double total = 0;
    for (const double s : sums)
        total += s;
    return total;
}

Band buildBand(const QImage &photo, const std::vector<quint8> &keep, int inside, int outside)
{
    Band b;
    const int W = photo.width(), H = photo.height();
    b.W = W;
    b.H = H;
    // Distance to the outline: the pixels with a 4-neighbour on the other side.
    const int reach = std::max(inside, outside) + 3;
    std::vector<qint32> distance;
    {
        std::vector<quint8> outline(keep.size(), 0);
        Parallel::forRange(H, 16, [&](qint64 begin, qint64 end) {
            for (qint64 y = begin; y < end; ++y) {
                const quint8 *k = &keep[size_t(y) * W];
                quint8 *o = &outline[size_t(y) * W];
                for (int x = 0; x < W; ++x) {
                    o[x] = (x > 0 && k[x - 1] != k[x]) || (x + 1 < W && k[x + 1] != k[x])
                           || (y > 0 && k[x - W] != k[x]) || (y + 1 < H && k[x + W] != k[x]);
                }
            }
        });
        distance = squaredDistance(outline, W, H, (reach + 1) * (reach + 1));
    }
    // Unknown within the band; the pixels up to 3 farther (more than the two rings of
    // windows around the unknown ones) carry the windows.
    const qint32 in2 = qint32(inside) * inside, out2 = qint32(outside) * outside;
    const qint32 inRim = qint32(inside + 3) * (inside + 3), outRim = qint32(outside + 3) * (outside + 3);
    std::vector<quint8> ring(keep.size());
    Parallel::forRange(qint64(keep.size()), 1 << 16, [&](qint64 begin, qint64 end) {
        for (qint64 i = begin; i < end; ++i) {
            const qint32 d = distance[size_t(i)];
            const qint32 limit = keep[size_t(i)] ? in2 : out2;
            const qint32 rim = keep[size_t(i)] ? inRim : outRim;
            ring[size_t(i)] = d <= limit ? 0 : d <= rim ? 1 : 3;
        }
    });
    std::vector<qint32>().swap(distance); // large pictures: free it before the lists grow
    // Listed row by row: count each row, then fill the rows side by side.
    std::vector<qint64> rowStart(size_t(H) + 1, 0);
    Parallel::forRange(H, 16, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y)
            rowStart[size_t(y) + 1] = std::count_if(ring.data() + size_t(y) * W, ring.data() + size_t(y + 1) * W,
                                                    [](quint8 r) { return r <= 2; });
    });
    for (int y = 0; y < H; ++y)
        rowStart[size_t(y) + 1] += rowStart[size_t(y)];
    const qint64 n = rowStart[size_t(H)];
    b.n = n;
    const size_t size = size_t(n) + 1;
    b.x.resize(size, 0);
    b.y.resize(size, 0);
    b.unknown.assign(size, 0);
    b.window.assign(size, 0);
    for (auto *channel : {&b.known, &b.red, &b.green, &b.blue})
        channel->assign(size, 0.0);
    std::vector<qint32> index(keep.size(), -1);
    Parallel::forRange(H, 16, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(photo.constScanLine(int(y)));
            qint64 j = rowStart[size_t(y)];
            for (int x = 0; x < W; ++x) {
                const size_t i = size_t(y) * W + x;
                if (ring[i] > 2)
                    continue;
                index[i] = qint32(j);
                b.x[size_t(j)] = x;
                b.y[size_t(j)] = qint32(y);
                b.unknown[size_t(j)] = ring[i] == 0;
                b.known[size_t(j)] = keep[i] ? 1.0 : 0.0;
                b.red[size_t(j)] = qRed(line[x]) / 255.0;
                b.green[size_t(j)] = qGreen(line[x]) / 255.0;
                b.blue[size_t(j)] = qBlue(line[x]) / 255.0;
                ++j;
            }
        }
    });
    b.left.resize(size_t(n) + 1, qint32(n));
    b.right.resize(size_t(n) + 1, qint32(n));
    b.up.resize(size_t(n) + 1, qint32(n));
    b.down.resize(size_t(n) + 1, qint32(n));
    auto at = [&](qint64 p) { return index[size_t(p)] < 0 ? qint32(n) : index[size_t(p)]; };
    for (qint64 i = 0; i < n; ++i) {
        const int x = b.x[size_t(i)], y = b.y[size_t(i)];
        const qint64 p = qint64(y) * W + x;
        if (x > 0)
            b.left[size_t(i)] = at(p - 1);
        if (x + 1 < W)
            b.right[size_t(i)] = at(p + 1);
        if (y > 0)
            b.up[size_t(i)] = at(p - W);
        if (y + 1 < H)
            b.down[size_t(i)] = at(p + W);
    }
    b.compact.assign(size_t(n) + 1, 0);
    forBlocks(n, [&](qint64 begin, qint64 end) {
        for (qint64 i = begin; i < end; ++i) {
            qint32 near[stencil];
            b.neighbourhood(i, near);
            bool runs = true;
            for (int row = 0; row < 5; ++row)
                runs = runs && near[row * 5] < n && near[row * 5 + 4] == near[row * 5] + 4;
            b.compact[size_t(i)] = runs;
        }
    });
    for (qint64 i = 0; i < n; ++i) {
        const qint32 u = b.up[size_t(i)], d = b.down[size_t(i)];
        b.window[size_t(i)] = b.x[size_t(i)] > 0 && b.x[size_t(i)] + 1 < W && u < n && d < n
                              && b.left[size_t(u)] < n && b.right[size_t(u)] < n && b.left[size_t(i)] < n
                              && b.right[size_t(i)] < n && b.left[size_t(d)] < n && b.right[size_t(d)] < n;
    }
    return b;
}

// The closed-form system on the unknown pixels, stored row by row over the 5 x 5 taps:
// A = matting Laplacian + prior, and its right side from the known pixels and the prior.
struct MattingSystem
{
    std::unique_ptr<float[]> rows; // stencil per pixel; set only for the unknown pixels
    std::vector<double> rhs;
};

MattingSystem buildSystem(const Band &b, double epsilon, double prior)
{
    const qint64 n = b.n;
    const size_t size = size_t(n) + 1;
    const double *R = b.red.data(), *G = b.green.data(), *B = b.blue.data();
    // Each window's mean and inverse regularised covariance (00 01 02 11 12 22).
    std::vector<double> mean(size * 3, 0.0), inverse(size * 6, 0.0);
    forBlocks(n, [&](qint64 begin, qint64 end) {
        for (qint64 i = begin; i < end; ++i) {
            if (!b.window[size_t(i)])
                continue;
            double m[9] = {};
            qint32 near[stencil];
            b.neighbourhood(i, near);
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const qint32 j = near[(dy + 2) * 5 + dx + 2];
                    const double r = R[j], g = G[j], bl = B[j];
                    m[0] += r;
                    m[1] += g;
                    m[2] += bl;
                    m[3] += r * r;
                    m[4] += r * g;
                    m[5] += r * bl;
                    m[6] += g * g;
                    m[7] += g * bl;
                    m[8] += bl * bl;
                }
            }
            for (double &v : m)
                v /= 9.0;
            const double e = epsilon / 9.0;
            const double s00 = m[3] - m[0] * m[0] + e, s01 = m[4] - m[0] * m[1], s02 = m[5] - m[0] * m[2];
            const double s11 = m[6] - m[1] * m[1] + e, s12 = m[7] - m[1] * m[2], s22 = m[8] - m[2] * m[2] + e;
            const double c00 = s11 * s22 - s12 * s12, c01 = s02 * s12 - s01 * s22, c02 = s01 * s12 - s02 * s11;
            const double det = s00 * c00 + s01 * c01 + s02 * c02;
            double *inv = &inverse[size_t(i) * 6];
            inv[0] = c00 / det;
            inv[1] = c01 / det;
            inv[2] = c02 / det;
            inv[3] = (s00 * s22 - s02 * s02) / det;
            inv[4] = (s01 * s02 - s00 * s12) / det;
            inv[5] = (s00 * s11 - s01 * s01) / det;
            std::copy(m, m + 3, &mean[size_t(i) * 3]);
        }
    });

    // Row a: over the windows k holding a and the pixels c of each,
    //   delta(a, c) - (1 + (I_c - mu_k)^T inverse_k (I_a - mu_k)) / 9.
    MattingSystem system;
    system.rows.reset(new float[size * stencil]);
    system.rhs.assign(size, 0.0);
    forBlocks(n, [&](qint64 begin, qint64 end) {
        for (qint64 a = begin; a < end; ++a) {
            if (!b.unknown[size_t(a)])
                continue;
            qint32 near[stencil];
            b.neighbourhood(a, near);
            double row[stencil] = {};
            double rhs = 0;
            for (int ky = -1; ky <= 1; ++ky) {
                for (int kx = -1; kx <= 1; ++kx) {
                    const qint32 k = near[(ky + 2) * 5 + kx + 2];
                    if (!b.window[size_t(k)])
                        continue;
                    const double *mu = &mean[size_t(k) * 3];
                    const double *inv = &inverse[size_t(k) * 6];
                    const double d0 = R[a] - mu[0], d1 = G[a] - mu[1], d2 = B[a] - mu[2];
                    const double w0 = inv[0] * d0 + inv[1] * d1 + inv[2] * d2;
                    const double w1 = inv[1] * d0 + inv[3] * d1 + inv[4] * d2;
                    const double w2 = inv[2] * d0 + inv[4] * d1 + inv[5] * d2;
                    // (1 + (I_c - mu) . w) / 9 = base + I_c . (w / 9)
                    const double base = (1 - (mu[0] * w0 + mu[1] * w1 + mu[2] * w2)) / 9.0;
                    const double v0 = w0 / 9.0, v1 = w1 / 9.0, v2 = w2 / 9.0;
                    for (int cy = ky - 1; cy <= ky + 1; ++cy) {
                        for (int cx = kx - 1; cx <= kx + 1; ++cx) {
                            const int tap = (cy + 2) * 5 + cx + 2;
                            const qint32 c = near[tap];
                            const double value = (tap == centre ? 1.0 : 0.0) - base - (R[c] * v0 + G[c] * v1 + B[c] * v2);
                            if (b.unknown[size_t(c)])
                                row[tap] += value;
                            else
                                rhs -= value * b.known[size_t(c)];
                        }
                    }
                }
            }
            row[centre] += prior;
            std::copy(row, row + stencil, system.rows.get() + size_t(a) * stencil);
            system.rhs[size_t(a)] = rhs + prior * b.known[size_t(a)];
        }
    });
    return system;
}

// Incomplete Cholesky factor with the system's own sparsity (IC(0)): A ~ F F^T, F lower
// triangular with `diagonal` and the lower taps of each row. The band is cut into a fixed
// number of runs of rows whose couplings the factor leaves out, so that the runs are
// factorised and solved side by side, the same way on any number of threads. A failing
// pivot restarts its run with a larger diagonal shift.
constexpr qint64 factorRuns = 4;

struct Preconditioner
{
    std::unique_ptr<float[]> lower; // lowerTaps per pixel, zero for the known ones
    std::unique_ptr<float[]> upper; // the same entries by column: taps 13 .. 24 of each pixel
    std::vector<double> inverseDiagonal; // multiplied, not divided, in the sequential solves
    qint64 runLength = 1;
};

// For each lower tap o of a row, the earlier taps o2 whose pixel is also a lower tap of
// o's pixel, with that tap's number in o's row: the products IC(0) subtracts.
struct TapPairs
{
    int count[lowerTaps] = {};
    int earlier[lowerTaps][lowerTaps] = {};
    int seenFrom[lowerTaps][lowerTaps] = {};

    TapPairs()
    {
        for (int o = 0; o < lowerTaps; ++o) {
            for (int o2 = 0; o2 < o; ++o2) {
                const int ry = o2 / 5 - o / 5 + 2, rx = o2 % 5 - o % 5 + 2;
                if (ry < 0 || ry > 4 || rx < 0 || rx > 4)
                    continue;
                earlier[o][count[o]] = o2;
                seenFrom[o][count[o]] = ry * 5 + rx;
                ++count[o];
            }
        }
    }
};

Preconditioner factorise(const Band &b, const MattingSystem &system)
{
    static const TapPairs pairs;
    const qint64 n = b.n;
    Preconditioner f;
    f.lower.reset(new float[(size_t(n) + 1) * lowerTaps]);
    f.inverseDiagonal.assign(size_t(n) + 1, 1.0);
    f.runLength = std::max<qint64>(1, (n + factorRuns - 1) / factorRuns);
    Parallel::forRange(factorRuns, 1, [&](qint64 firstRun, qint64 endRun) {
        for (qint64 run = firstRun; run < endRun; ++run) {
            const qint64 begin = run * f.runLength, end = std::min(n, begin + f.runLength);
            for (double shift = 0;; shift = shift == 0 ? 1e-3 : shift * 4) {
                bool failed = false;
                for (qint64 a = begin; a < end && !failed; ++a) {
                    float *l = &f.lower[size_t(a) * lowerTaps];
                    if (!b.unknown[size_t(a)]) {
                        std::fill(l, l + lowerTaps, 0.0f);
                        continue;
                    }
                    qint32 near[stencil];
                    b.neighbourhood(a, near);
                    const float *row = &system.rows[size_t(a) * stencil];
                    double sum = 0;
                    for (int o = 0; o < lowerTaps; ++o) {
                        const qint32 k = near[o];
                        if (k < begin || !b.unknown[size_t(k)]) {
                            l[o] = 0;
                            continue;
                        }
                        double v = row[o];
                        const float *lk = &f.lower[size_t(k) * lowerTaps];
                        for (int p = 0; p < pairs.count[o]; ++p)
                            v -= double(l[pairs.earlier[o][p]]) * lk[pairs.seenFrom[o][p]];
                        l[o] = float(v * f.inverseDiagonal[size_t(k)]);
                        sum += double(l[o]) * l[o];
                    }
                    const double pivot = row[centre] * (1 + shift) - sum;
                    if (!(pivot > 1e-9 * row[centre]))
                        failed = true;
                    else
                        f.inverseDiagonal[size_t(a)] = 1 / std::sqrt(pivot);
                }
                if (!failed)
                    break;
            }
        }
    });
    std::fill(f.lower.get() + size_t(n) * lowerTaps, f.lower.get() + size_t(n + 1) * lowerTaps, 0.0f);
    f.upper.reset(new float[(size_t(n) + 1) * lowerTaps]);
    forBlocks(n, [&](qint64 begin, qint64 end) {
        for (qint64 a = begin; a < end; ++a) {
            if (!b.unknown[size_t(a)])
                continue;
            qint32 near[stencil];
            b.neighbourhood(a, near);
            for (int t = centre + 1; t < stencil; ++t)
                f.upper[size_t(a) * lowerTaps + size_t(t - centre - 1)] = f.lower[size_t(near[t]) * lowerTaps + size_t(stencil - 1 - t)];
        }
    });
    return f;
}

// z = (F F^T)^-1 r on the unknown pixels.
void precondition(const Band &b, const Preconditioner &f, const std::vector<double> &r, std::vector<double> &z)
{
    const qint64 n = b.n;
    const float *lower = f.lower.get();
    Parallel::forRange(factorRuns, 1, [&](qint64 firstRun, qint64 endRun) {
        for (qint64 run = firstRun; run < endRun; ++run) {
            const qint64 begin = run * f.runLength, end = std::min(n, begin + f.runLength);
            for (qint64 a = begin; a < end; ++a) {
                if (!b.unknown[size_t(a)])
                    continue;
                const float *l = &lower[size_t(a) * lowerTaps];
                double s = r[size_t(a)];
                const qint32 top = b.compact[size_t(a)] ? b.rowStart(a, -2) : -1;
                if (top >= begin) {
                    const double *z0 = &z[size_t(top)], *z1 = &z[size_t(b.rowStart(a, -1))];
                    Dot d;
                    d.four(l, z0);
                    d.one(l[4], z0[4]);
                    d.four(l + 5, z1);
                    d.one(l[9], z1[4]);
                    d.two(l + 10, &z[size_t(a) - 2]);
                    s -= d.total();
                } else {
                    qint32 near[stencil];
                    b.neighbourhood(a, near);
                    for (int o = 0; o < lowerTaps; ++o) {
                        const qint32 k = near[o];
                        if (k >= begin) // taps into an earlier run are left out of the factor
                            s -= double(l[o]) * z[size_t(k)];
                    }
                }
                z[size_t(a)] = s * f.inverseDiagonal[size_t(a)];
            }
            for (qint64 a = end - 1; a >= begin; --a) {
                if (!b.unknown[size_t(a)])
                    continue;
                double s = z[size_t(a)];
                // The pixels whose tap o is a: tap 24 - o of a.
                const qint32 bottom = b.compact[size_t(a)] ? b.rowStart(a, 2) : qint32(n);
                if (bottom + 4 < end) {
                    // F^T's row a: the later pixels' taps onto a, in pixel order.
                    const float *u = &f.upper[size_t(a) * lowerTaps];
                    const double *z3 = &z[size_t(b.rowStart(a, 1))], *z4 = &z[size_t(bottom)];
                    Dot d;
                    d.two(u, &z[size_t(a) + 1]);
                    d.four(u + 2, z3);
                    d.one(u[6], z3[4]);
                    d.four(u + 7, z4);
                    d.one(u[11], z4[4]);
                    s -= d.total();
                } else {
                    qint32 near[stencil];
                    b.neighbourhood(a, near);
                    for (int o = 0; o < lowerTaps; ++o) {
                        const qint32 j = near[stencil - 1 - o];
                        if (j < end)
                            s -= double(lower[size_t(j) * lowerTaps + size_t(o)]) * z[size_t(j)];
                    }
                }
                z[size_t(a)] = s * f.inverseDiagonal[size_t(a)];
            }
        }
    });
}

// q = A p on the unknown pixels; returns p . q.
double multiply(const Band &b, const MattingSystem &system, const std::vector<double> &p, std::vector<double> &q)
{
    return blockSum(b.n, [&](qint64 begin, qint64 end) {
        double dot = 0;
        for (qint64 a = begin; a < end; ++a) {
            if (!b.unknown[size_t(a)]) {
                q[size_t(a)] = 0;
                continue;
            }
            const float *row = &system.rows[size_t(a) * stencil];
            double s = 0;
            if (b.compact[size_t(a)]) {
                Dot dot5;
                for (int dy = 0; dy < 5; ++dy) {
                    const double *pp = &p[size_t(b.rowStart(a, dy - 2))];
                    dot5.four(row + dy * 5, pp);
                    dot5.one(row[dy * 5 + 4], pp[4]);
                }
                s = dot5.total();
            } else {
                qint32 near[stencil];
                b.neighbourhood(a, near);
                for (int o = 0; o < stencil; ++o)
                    s += row[o] * p[size_t(near[o])];
            }
            q[size_t(a)] = s;
            dot += s * p[size_t(a)];
        }
        return dot;
    });
}

// Preconditioned conjugate gradients from the start in `x` (known pixels hold zero in
// every vector but x, and the sentinel zero in all).
void solve(const Band &b, const MattingSystem &system, const Preconditioner &f, std::vector<double> &x, int iterations)
{
    const qint64 n = b.n;
    const size_t size = size_t(n) + 1;
    std::vector<double> r(size, 0.0), z(size, 0.0), p(size, 0.0), q(size, 0.0);
    std::vector<double> start(size, 0.0);
    for (qint64 a = 0; a < n; ++a)
        start[size_t(a)] = b.unknown[size_t(a)] ? x[size_t(a)] : 0.0;
    multiply(b, system, start, q);
    for (qint64 a = 0; a < n; ++a)
        r[size_t(a)] = b.unknown[size_t(a)] ? system.rhs[size_t(a)] - q[size_t(a)] : 0.0;
    precondition(b, f, r, z);
    p = z;
    auto dot = [&](const std::vector<double> &u, const std::vector<double> &v) {
        return blockSum(n, [&](qint64 begin, qint64 end) {
            double s = 0;
            for (qint64 a = begin; a < end; ++a)
                s += u[size_t(a)] * v[size_t(a)];
            return s;
        });
    };
    double rz = dot(r, z);
    const double rz0 = rz;
    for (int it = 0; it < iterations && rz > 1e-14 * rz0 && rz > 0; ++it) {
        const double pq = multiply(b, system, p, q);
        if (!(pq > 0))
            break;
        const double step = rz / pq;
        forBlocks(n, [&](qint64 begin, qint64 end) {
            for (qint64 a = begin; a < end; ++a) {
                x[size_t(a)] += step * p[size_t(a)];
                r[size_t(a)] -= step * q[size_t(a)];
            }
        });
        precondition(b, f, r, z);
        const double next = dot(r, z);
        const double beta = next / rz;
        rz = next;
        forBlocks(n, [&](qint64 begin, qint64 end) {
            for (qint64 a = begin; a < end; ++a)
                p[size_t(a)] = z[size_t(a)] + beta * p[size_t(a)];
        });
    }
}

// Alpha of every pixel: the decision off the band, solved on it.
std::vector<quint8> solveAlpha(const QImage &photo, const std::vector<quint8> &keep, int inside, int outside,
                              const StageTimer &stageTimer)
{
    const int W = photo.width(), H = photo.height();
    QElapsedTimer timer;
    timer.start();
    const Band band = buildBand(photo, keep, inside, outside);
    if (stageTimer)
        stageTimer("band", timer.nsecsElapsed());
    std::vector<double> alpha(size_t(band.n) + 1, 0.0);
    // The decision itself is the best start found: mostly right, wrong in a thin strip.
    for (qint64 i = 0; i < band.n; ++i)
        alpha[size_t(i)] = band.known[size_t(i)];
    std::vector<quint8> full(keep.size());
    for (size_t i = 0; i < keep.size(); ++i)
        full[i] = keep[i] ? 255 : 0;
    if (W < 3 || H < 3 || band.n == 0)
        return full;
    timer.restart();
    const MattingSystem system = buildSystem(band, windowEpsilon, 1e-4);
    const Preconditioner factor = factorise(band, system);
    if (stageTimer)
        stageTimer("system", timer.nsecsElapsed());
    timer.restart();
    solve(band, system, factor, alpha, solveIterations);
    if (stageTimer)
        stageTimer("solve", timer.nsecsElapsed());
    for (qint64 i = 0; i < band.n; ++i) {
        if (band.unknown[size_t(i)])
            full[size_t(band.y[size_t(i)]) * W + band.x[size_t(i)]] = quint8(std::lround(std::clamp(alpha[size_t(i)], 0.0, 1.0) * 255));
    }
    return full;
}


// Local foreground and background colours: means of the nearly opaque and the nearly
// clear pixels around each pixel, gathered in 4 x 4 cells and box-filtered over cells.
class ColourEstimates
{
public:
    static constexpr int cell = 4;

    ColourEstimates(const QImage &photo, const std::vector<quint8> &alpha)
        : W(photo.width()), H(photo.height()), cw((W + cell - 1) / cell), ch((H + cell - 1) / cell)
    {
        // Only cells that a soft pixel may read are gathered.
        std::vector<double> soft(size_t(cw) * ch, 0.0);
        Parallel::forRange(ch, 8, [&](qint64 begin, qint64 end) {
            for (qint64 cy = begin; cy < end; ++cy) {
                for (int y = int(cy) * cell; y < std::min(H, int(cy + 1) * cell); ++y) {
                    const quint8 *a = &alpha[size_t(y) * W];
                    for (int x = 0; x < W; ++x) {
                        if (a[x] != 0 && a[x] != 255)
                            soft[size_t(cy) * cw + size_t(x / cell)] = 1;
                    }
                }
            }
        });
        const std::vector<double> needed = boxFilter(soft, 1, wideRadius + 1);
        std::vector<double> sums(size_t(cw) * ch * channels, 0.0);
        Parallel::forRange(ch, 8, [&](qint64 begin, qint64 end) {
            for (qint64 cy = begin; cy < end; ++cy) {
                for (int y = int(cy) * cell; y < std::min(H, int(cy + 1) * cell); ++y) {
                    const QRgb *line = reinterpret_cast<const QRgb *>(photo.constScanLine(y));
                    const quint8 *a = &alpha[size_t(y) * W];
                    for (int x = 0; x < W; ++x) {
                        if (needed[size_t(cy) * cw + size_t(x / cell)] < 0.5) {
                            x = (x / cell + 1) * cell - 1;
                            continue;
                        }
                        const double f = weight(a[x]), b = weight(255 - a[x]);
                        if (f == 0 && b == 0)
                            continue;
                        double *s = &sums[(size_t(cy) * cw + size_t(x / cell)) * channels];
                        const double r = qRed(line[x]), g = qGreen(line[x]), bl = qBlue(line[x]);
                        s[0] += f;
                        s[1] += f * r;
                        s[2] += f * g;
                        s[3] += f * bl;
                        s[4] += b;
                        s[5] += b * r;
                        s[6] += b * g;
                        s[7] += b * bl;
                    }
                }
            }
        });
        means = boxFilter(sums, channels, 3);
        const std::vector<double> wide = boxFilter(sums, channels, wideRadius);
        // Where no such pixel lies near, look farther.
        for (size_t c = 0; c < size_t(cw) * ch; ++c) {
            for (int side = 0; side < 2; ++side) {
                double *m = &means[c * channels + size_t(side) * 4];
                const double *w = &wide[c * channels + size_t(side) * 4];
                if (m[0] < 1e-3)
                    std::copy(w, w + 4, m);
            }
        }
    }

    // Foreground (side 0) or background (side 1) colour near (x, y); false when none is near.
    bool at(int x, int y, int side, double colour[3]) const
    {
        const double u = std::clamp((x + 0.5) / cell - 0.5, 0.0, cw - 1.0);
        const double v = std::clamp((y + 0.5) / cell - 0.5, 0.0, ch - 1.0);
        const int u0 = int(u), v0 = int(v);
        const int u1 = std::min(u0 + 1, cw - 1), v1 = std::min(v0 + 1, ch - 1);
        const double fu = u - u0, fv = v - v0;
        double s[4] = {};
        const double weights[4] = {(1 - fu) * (1 - fv), fu * (1 - fv), (1 - fu) * fv, fu * fv};
        const size_t cells[4] = {size_t(v0) * cw + u0, size_t(v0) * cw + u1, size_t(v1) * cw + u0, size_t(v1) * cw + u1};
        for (int k = 0; k < 4; ++k) {
            const double *m = &means[cells[k] * channels + size_t(side) * 4];
            for (int c = 0; c < 4; ++c)
                s[c] += weights[k] * m[c];
        }
        if (s[0] < 1e-6)
            return false;
        for (int c = 0; c < 3; ++c)
            colour[c] = s[c + 1] / s[0];
        return true;
    }

private:
    static constexpr int channels = 8;
    static constexpr int wideRadius = 12;

    static double weight(int a)
    {
        // Only the nearly pure pixels: 1 at 255, 0 below 192.
        const double t = (a - 191) / 64.0;
        return t <= 0 ? 0.0 : t * t;
    }

    // Sums over (2r + 1)^2 cells of each of `channels` interleaved planes, by running sums
    // along rows, then along columns.
    std::vector<double> boxFilter(const std::vector<double> &in, int channels, int r) const
    {
        std::vector<double> across(in.size(), 0.0), out(in.size(), 0.0);
        const size_t stride = size_t(channels);
        Parallel::forRange(ch, 16, [&](qint64 begin, qint64 end) {
            std::vector<double> run(stride);
            for (qint64 cy = begin; cy < end; ++cy) {
                const double *i = &in[size_t(cy) * cw * stride];
                double *o = &across[size_t(cy) * cw * stride];
                std::fill(run.begin(), run.end(), 0.0);
                for (int k = 0; k < std::min(cw, r); ++k)
                    for (size_t c = 0; c < stride; ++c)
                        run[c] += i[size_t(k) * stride + c];
                for (int cx = 0; cx < cw; ++cx) {
                    for (size_t c = 0; c < stride; ++c) {
                        if (cx + r < cw)
                            run[c] += i[size_t(cx + r) * stride + c];
                        if (cx - r - 1 >= 0)
                            run[c] -= i[size_t(cx - r - 1) * stride + c];
                        o[size_t(cx) * stride + c] = run[c];
                    }
                }
            }
        });
        const size_t rowLength = size_t(cw) * stride;
        Parallel::forRange(qint64(rowLength), 256, [&](qint64 begin, qint64 end) {
            std::vector<double> run(size_t(end - begin), 0.0);
            for (int k = 0; k < std::min(ch, r); ++k)
                for (qint64 c = begin; c < end; ++c)
                    run[size_t(c - begin)] += across[size_t(k) * rowLength + size_t(c)];
            for (int cy = 0; cy < ch; ++cy) {
                for (qint64 c = begin; c < end; ++c) {
                    double &v = run[size_t(c - begin)];
                    if (cy + r < ch)
                        v += across[size_t(cy + r) * rowLength + size_t(c)];
                    if (cy - r - 1 >= 0)
                        v -= across[size_t(cy - r - 1) * rowLength + size_t(c)];
                    out[size_t(cy) * rowLength + size_t(c)] = v;
                }
            }
        });
        return out;
    }

    int W, H, cw, ch;
    std::vector<double> means;
};

// The foreground colour of a pixel with fractional alpha a (0..1): the F of
//   min |a F + (1 - a) B - I|^2 + lambda (|F - F0|^2 + |B - B0|^2)
// per channel, F0 and B0 being the local estimates, so that the cut-out over the photo's
// own background gives the photo back.
QRgb foregroundColour(QRgb pixel, double a, const double f0[3], const double b0[3])
{
    constexpr double lambda = 0.05;
    const double b = 1 - a;
    const double det = lambda * (a * a + b * b) + lambda * lambda;
    const double image[3] = {double(qRed(pixel)), double(qGreen(pixel)), double(qBlue(pixel))};
    int out[3];
    for (int c = 0; c < 3; ++c) {
        const double rf = a * image[c] + lambda * f0[c];
        const double rb = b * image[c] + lambda * b0[c];
        const double f = ((b * b + lambda) * rf - a * b * rb) / det;
        out[c] = int(std::lround(std::clamp(f, 0.0, 255.0)));
    }
    return qRgb(out[0], out[1], out[2]);
}

} // namespace

RefinedCutout refineEdges(const QImage &photo, const QList<qint32> &keepPixels,
                          const ProgressCallback &progress, const StageTimer &stageTimer)
{
    RefinedCutout result;
    if (photo.isNull())
        return result;
    QImage source = photo;
    if (source.format() != QImage::Format_ARGB32 && source.format() != QImage::Format_RGB32)
        source = source.convertToFormat(QImage::Format_ARGB32);
    const int W = source.width(), H = source.height();
    const qint64 count = qint64(W) * H;

    std::vector<quint8> keep(size_t(count), 0);
    for (const qint32 v : keepPixels) {
        if (v >= 0 && v < count)
            keep[size_t(v)] = 1;
    }
    const std::vector<quint8> alphaMap = solveAlpha(source, keep, refineBandInside, refineBandOutside, stageTimer);
    if (progress)
        progress(80);

    QElapsedTimer timer;
    timer.start();
    const ColourEstimates estimates(source, alphaMap);
    if (stageTimer)
        stageTimer("colours", timer.nsecsElapsed());
    timer.restart();
    result.matte = QImage(W, H, QImage::Format_ARGB32);
    result.cutout = QImage(W, H, QImage::Format_ARGB32);
    if (result.matte.isNull() || result.cutout.isNull())
        return {};
    // Row pointers taken once: the workers must not touch the images' sharing.
    uchar *matteBits = result.matte.bits();
    uchar *cutoutBits = result.cutout.bits();
    const qsizetype matteStride = result.matte.bytesPerLine(), cutoutStride = result.cutout.bytesPerLine();
    Parallel::forRange(H, 16, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y) {
            const QRgb *in = reinterpret_cast<const QRgb *>(source.constScanLine(int(y)));
            QRgb *m = reinterpret_cast<QRgb *>(matteBits + y * matteStride);
            QRgb *c = reinterpret_cast<QRgb *>(cutoutBits + y * cutoutStride);
            const quint8 *a8 = &alphaMap[size_t(y) * W];
            for (int x = 0; x < W; ++x) {
                const quint32 a = a8[x];
                const quint32 g = 255 - a;
                m[x] = 0xFF000000u | (g << 16) | (g << 8) | g;
                QRgb colour = in[x];
                double f0[3], b0[3];
                if (a != 0 && a != 255 && estimates.at(x, int(y), 0, f0)) {
                    if (!estimates.at(x, int(y), 1, b0))
                        std::copy(f0, f0 + 3, b0);
                    colour = foregroundColour(colour, a / 255.0, f0, b0);
                }
                c[x] = (colour & 0xFFFFFFu) | (a << 24);
            }
        }
    });
    if (stageTimer)
        stageTimer("refined-cutout", timer.nsecsElapsed());
    if (progress)
        progress(100);
    return result;
}
