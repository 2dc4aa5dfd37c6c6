#include "output/alphasolve.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "analysis/parallel.h"
#include "output/featuretree.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Alpha over the unknown pixels with the known ones fixed, by one energy:
// - everywhere the local flow, the matting Laplacian of closed-form matting (A. Levin,
//   D. Lischinski, Y. Weiss, "A Closed-Form Solution to Natural Image Matting", IEEE TPAMI
//   30(2), 2008), 3 x 3 windows, which carries alpha along smooth colour changes;
// - on the pixels solved fully, information-flow matting's nonlocal flows (Y. Aksoy,
//   T. Aydin, M. Pollefeys, "Designing Effective Inter-Pixel Information Flow for Natural
//   Image Matting", CVPR 2017): colour mixture, known to unknown and within the unknown
//   region, over neighbours found by colour and position as in KNN matting (Q. Chen, D. Li,
//   C.-K. Tang, "KNN Matting", IEEE TPAMI 35(9), 2013). They let a strand take its alpha
//   from pixels of its own colour however thin it is, and gaps between strands from the
//   background's;
// - a pull towards the decision, faint where the user asked for a solve, the closed-form
//   refinement's own in a band around the decision's outline.
// The sparse system is solved by conjugate gradients preconditioned with an incomplete
// Cholesky factor of the local part (IC(0)) plus the nonlocal diagonal.
//
// Determinism: every pass writes only its own pixels; every sum over the band is made of
// partial sums over fixed blocks added in block order; the factor is cut into a fixed
// number of runs; neighbours are searched with ties broken by index and their lists filled
// in pixel order. So the split across threads never changes a byte.

namespace {

// Regularises each window's colour covariance (colours 0..1): smaller follows finer detail.
// Windows that touch a fully solved pixel follow it closely, the nonlocal terms keeping the
// system well conditioned; the band's windows, with nothing but the decision to lean on,
// keep the closed-form refinement's value.
constexpr double fineEpsilon = 1e-7;
constexpr double bandEpsilon = 1e-5;
// The flows' weights, as the information-flow paper sets them.
constexpr double mixtureWeight = 1.0;
constexpr double knownWeight = 0.05;
constexpr double similarWeight = 0.01;
constexpr int mixtureK = 20;
constexpr int knownK = 7;
constexpr int similarK = 5;
// Regularises the mixing weights (colours 0..1).
constexpr double mixEpsilon = 1e-3;
// Unknown pixels are compared mostly by colour.
constexpr float similarPositionWeight = 1.0f / 20;
// The pull towards the decision: faint for fully solved pixels, only so that a region with
// no known pixel near still has one solution; for the band's, the closed-form refinement's.
constexpr double priorWeight = 1e-5;
constexpr double bandPrior = 1e-4;
// How far from the fully solved pixels mixing neighbours and known samples are looked for.
constexpr int sampleReach = 8;
// Leaves each neighbour search reads beyond the pixels around the query: its own and the
// next in the tree. The exact neighbours cost many times more (a mixed colour lies far from
// every sure one) for a matte better by about 1 %: the weights only need pixels that mix
// alike.
constexpr int mixtureLeaves = 2;
constexpr int knownLeaves = 2;
constexpr int similarLeaves = 1;
// With fully solved pixels the solve stops when the preconditioned residual has fallen this
// far: solving further costs twice the steps and does not make the mattes better. A band
// alone takes the closed-form refinement's fixed steps from the decision, which settle it.
constexpr double solveTolerance = 1e-5;
constexpr int solveIterations = 200;
constexpr int bandIterations = 30;
// Alpha this close to 0 or 1 is the solve's noise, not a strand: taken as 0 or 1, so that
// sure parts of the band carry no faint haze.
constexpr double settled = 0.04;

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
    std::vector<quint8> mark;   // the caller's SolveMark
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

// The pixels within two of an unknown one (Chebyshev distance) carry its windows: 0 for the
// unknown pixels, 1 for those, 3 for the rest.
std::vector<quint8> ringsAround(const std::vector<quint8> &unknown, int W, int H)
{
    std::vector<quint8> across(unknown.size(), 0), ring(unknown.size(), 3);
    Parallel::forRange(H, 16, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y) {
            const quint8 *u = &unknown[size_t(y) * W];
            quint8 *a = &across[size_t(y) * W];
            for (int x = 0; x < W; ++x) {
                if (!u[x])
                    continue;
                for (int dx = std::max(0, x - 2); dx <= std::min(W - 1, x + 2); ++dx)
                    a[dx] = 1;
            }
        }
    });
    Parallel::forRange(H, 16, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y) {
            quint8 *r = &ring[size_t(y) * W];
            for (int dy = int(std::max<qint64>(0, y - 2)); dy <= int(std::min<qint64>(H - 1, y + 2)); ++dy) {
                const quint8 *a = &across[size_t(dy) * W];
                for (int x = 0; x < W; ++x) {
                    if (a[x])
                        r[x] = 1;
                }
            }
            const quint8 *u = &unknown[size_t(y) * W];
            for (int x = 0; x < W; ++x) {
                if (u[x])
                    r[x] = 0;
            }
        }
    });
    return ring;
}

Band buildBand(const QImage &photo, const std::vector<quint8> &marks, const std::vector<quint8> &ring,
               const std::vector<quint8> &keep, std::vector<qint32> &index)
{
    Band b;
    const int W = photo.width(), H = photo.height();
    b.W = W;
    b.H = H;
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
    b.mark.assign(size, solveKnown);
    b.window.assign(size, 0);
    for (auto *channel : {&b.known, &b.red, &b.green, &b.blue})
        channel->assign(size, 0.0);
    index.assign(keep.size(), -1);
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
                b.mark[size_t(j)] = marks[i];
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
// A = matting Laplacian, and its right side from the known pixels.
struct MattingSystem
{
    std::unique_ptr<float[]> rows; // stencil per pixel; set only for the unknown pixels
    std::vector<double> rhs;
};

MattingSystem buildSystem(const Band &b)
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
            bool fine = false;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx)
                    fine = fine || b.mark[size_t(near[(dy + 2) * 5 + dx + 2])] == solveFully;
            }
            const double e = (fine ? fineEpsilon : bandEpsilon) / 9.0;
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
            std::copy(row, row + stencil, system.rows.get() + size_t(a) * stencil);
            system.rhs[size_t(a)] = rhs;
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

// The nonlocal terms of information-flow matting over the pixels solved fully, each a list
// of neighbours found by colour and position:
// - colour mixture: the pixel's colour as an affine mix of its nearest neighbours' (locally
//   linear embedding weights), whose alphas should mix the same way;
// - known to unknown: the same mix of the nearest sure foreground and background pixels,
//   whose foreground share is a direct estimate of alpha, trusted as far as the two sides'
//   colours differ;
// - within the unknown region: similar pixels pulled together.
// Pixels solved locally get none of these, only a pull towards the decision. Neighbour
// slots hold band indices, `sentinel` (the band's n) for a known pixel.
struct Nonlocal
{
    qint64 count = 0;               // unknown pixels
    std::vector<qint32> pixel;      // band index of each unknown pixel
    std::vector<qint32> ordinal;    // unknown number of each band index, -1 for a known pixel
    std::vector<double> estimate;   // alpha to start from: known-to-unknown, or the decision
    std::vector<double> confidence; // of the known-to-unknown estimate
    std::vector<double> prior;      // the pull towards the decision
    std::vector<double> diagonal;   // of the nonlocal terms and the prior, weights included
    // The fully solved pixels' terms.
    qint64 rows = 0;
    std::vector<qint32> row;         // per unknown pixel: its number among these, -1
    std::vector<qint32> rowPixel;    // unknown number of each
    std::vector<qint32> mixture;     // mixtureK slots each
    std::vector<float> mixWeight;
    std::vector<double> mixKnown;    // the known neighbours' share of each mix: sum w alpha
    std::vector<qint64> spreadStart; // per unknown pixel: where its entries in spread begin
    std::vector<qint32> spread;      // the mixes that hold it (row numbers) ...
    std::vector<float> spreadWeight; // ... with its weight in each
    std::vector<qint64> similarStart; // per unknown pixel, symmetric: both directions
    std::vector<qint32> similar;      // band indices
    std::vector<float> similarWeight;
};

// Locally linear embedding weights (S. Roweis, L. Saul, "Nonlinear Dimensionality Reduction by
// Locally Linear Embedding", Science 290, 2000) that mix the colours of `neighbours` into
// `colour`, summing to 1, regularised by `epsilon`. The Gram matrix of k differences has
// rank 3, so (G + eI)^-1 1 = (1 - Z^T (eI + Z Z^T)^-1 Z 1) / e needs only a 3 x 3 inverse.
void mixingWeights(const float colour[3], const FeatureTree::Point *const *neighbours, int k, double epsilon,
                   float *weights)
{
    double g[6] = {epsilon, 0, 0, epsilon, 0, epsilon}; // 00 01 02 11 12 22
    double s[3] = {};
    double z[FeatureTree::maximumK][3];
    for (int j = 0; j < k; ++j) {
        for (int c = 0; c < 3; ++c)
            z[j][c] = double((*neighbours[j])[size_t(c)]) - colour[c];
        g[0] += z[j][0] * z[j][0];
        g[1] += z[j][0] * z[j][1];
        g[2] += z[j][0] * z[j][2];
        g[3] += z[j][1] * z[j][1];
        g[4] += z[j][1] * z[j][2];
        g[5] += z[j][2] * z[j][2];
        for (int c = 0; c < 3; ++c)
            s[c] += z[j][c];
    }
    const double c00 = g[3] * g[5] - g[4] * g[4], c01 = g[2] * g[4] - g[1] * g[5], c02 = g[1] * g[4] - g[2] * g[3];
    const double c11 = g[0] * g[5] - g[2] * g[2], c12 = g[1] * g[2] - g[0] * g[4], c22 = g[0] * g[3] - g[1] * g[1];
    const double det = g[0] * c00 + g[1] * c01 + g[2] * c02;
    const double v[3] = {(c00 * s[0] + c01 * s[1] + c02 * s[2]) / det, (c01 * s[0] + c11 * s[1] + c12 * s[2]) / det,
                         (c02 * s[0] + c12 * s[1] + c22 * s[2]) / det};
    double sum = 0;
    double w[FeatureTree::maximumK];
    for (int j = 0; j < k; ++j) {
        w[j] = 1 - (z[j][0] * v[0] + z[j][1] * v[1] + z[j][2] * v[2]);
        sum += w[j];
    }
    for (int j = 0; j < k; ++j)
        weights[j] = float(w[j] / sum);
}

Nonlocal buildNonlocal(const QImage &photo, const Band &b, const std::vector<quint8> &keep,
                       const std::vector<qint32> &index, const StageTimer &stageTimer)
{
    QElapsedTimer timer;
    timer.start();
    const int W = b.W, H = b.H;
    const qint32 sentinel = qint32(b.n);
    Nonlocal t;
    t.ordinal.assign(size_t(b.n) + 1, -1);
    for (qint64 a = 0; a < b.n; ++a) {
        if (b.unknown[size_t(a)]) {
            t.ordinal[size_t(a)] = qint32(t.pixel.size());
            t.row.push_back(b.mark[size_t(a)] == solveFully ? qint32(t.rowPixel.size()) : -1);
            if (b.mark[size_t(a)] == solveFully)
                t.rowPixel.push_back(qint32(t.pixel.size()));
            t.pixel.push_back(qint32(a));
        }
    }
    const qint64 m = qint64(t.pixel.size()), rows = qint64(t.rowPixel.size());
    t.count = m;
    t.rows = rows;
    t.prior.resize(size_t(m));
    t.estimate.resize(size_t(m));
    t.confidence.assign(size_t(m), 0.0);
    for (qint64 j = 0; j < m; ++j) {
        const qint32 a = t.pixel[size_t(j)];
        t.prior[size_t(j)] = t.row[size_t(j)] >= 0 ? priorWeight : bandPrior;
        t.estimate[size_t(j)] = b.known[size_t(a)];
    }
    t.mixture.assign(size_t(rows) * mixtureK, sentinel);
    t.mixWeight.assign(size_t(rows) * mixtureK, 0.0f);
    t.mixKnown.assign(size_t(rows), 0.0);
    std::vector<qint32> similarOut(size_t(rows) * similarK, -1); // row numbers
    std::vector<float> similarOutWeight(size_t(rows) * similarK, 0.0f);

    if (rows > 0) {
        // Samples: every pixel within sampleReach of a fully solved one, row by row.
        std::vector<quint8> near(size_t(W) * H, 0);
        {
            std::vector<quint8> across(near.size(), 0);
            for (const qint32 j : t.rowPixel) {
                const int x = b.x[size_t(t.pixel[size_t(j)])], y = b.y[size_t(t.pixel[size_t(j)])];
                for (int u = std::max(0, x - sampleReach); u <= std::min(W - 1, x + sampleReach); ++u)
                    across[size_t(y) * W + u] = 1;
            }
            Parallel::forRange(H, 16, [&](qint64 begin, qint64 end) {
                for (qint64 y = begin; y < end; ++y) {
                    for (int v = int(std::max<qint64>(0, y - sampleReach));
                         v <= int(std::min<qint64>(H - 1, y + sampleReach)); ++v) {
                        const quint8 *in = &across[size_t(v) * W];
                        for (int x = 0; x < W; ++x)
                            near[size_t(y) * W + x] |= in[x];
                    }
                }
            });
        }
        const float xScale = 1.0f / float(W), yScale = 1.0f / float(H);
        auto feature = [&](int x, int y, float positionWeight) {
            const QRgb c = reinterpret_cast<const QRgb *>(photo.constScanLine(y))[x];
            return FeatureTree::Point{qRed(c) / 255.0f, qGreen(c) / 255.0f, qBlue(c) / 255.0f,
                                      x * xScale * positionWeight, y * yScale * positionWeight};
        };
        std::vector<FeatureTree::Point> samples, foreground, background;
        std::vector<qint32> sampleAt; // pixel index of each sample
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                const size_t i = size_t(y) * W + x;
                if (!near[i])
                    continue;
                const FeatureTree::Point f = feature(x, y, 1.0f);
                samples.push_back(f);
                sampleAt.push_back(qint32(i));
                const qint32 a = index[i];
                if (a < 0 || !b.unknown[size_t(a)])
                    (keep[i] ? foreground : background).push_back(f);
            }
        }
        std::vector<quint8>().swap(near);
        // Each band pixel's sample, -1 for one beyond the samples' reach: both lists run row by
        // row.
        std::vector<qint32> bandSample(size_t(b.n) + 1, -1);
        {
            size_t at = 0;
            for (qint64 a = 0; a < b.n; ++a) {
                const qint32 pixel = qint32(size_t(b.y[size_t(a)]) * W + b.x[size_t(a)]);
                while (at < sampleAt.size() && sampleAt[at] < pixel)
                    ++at;
                if (at < sampleAt.size() && sampleAt[at] == pixel)
                    bandSample[size_t(a)] = qint32(at);
            }
        }
        std::vector<FeatureTree::Point> rowFeatures(static_cast<size_t>(rows));
        for (qint64 r = 0; r < rows; ++r) {
            const qint32 a = t.pixel[size_t(t.rowPixel[size_t(r)])];
            rowFeatures[size_t(r)] = feature(b.x[size_t(a)], b.y[size_t(a)], similarPositionWeight);
        }
        // The four trees side by side: each is built alone, the same way on any thread.
        const std::vector<FeatureTree::Point> *treePoints[4] = {&samples, &foreground, &background, &rowFeatures};
        std::unique_ptr<FeatureTree> trees[4];
        Parallel::forRange(4, 1, [&](qint64 begin, qint64 end) {
            for (qint64 i = begin; i < end; ++i)
                trees[i] = std::make_unique<FeatureTree>(*treePoints[i]);
        });
        const FeatureTree &mixTree = *trees[0], &foreTree = *trees[1], &backTree = *trees[2], &similarTree = *trees[3];
        if (stageTimer)
            stageTimer("trees", timer.nsecsElapsed());
        timer.restart();

        Parallel::forRange(rows, 256, [&](qint64 begin, qint64 end) {
            qint32 found[FeatureTree::maximumK];
            const FeatureTree::Point *points[FeatureTree::maximumK];
            float weights[FeatureTree::maximumK];
            for (qint64 r = begin; r < end; ++r) {
                const qint32 j = t.rowPixel[size_t(r)];
                const qint32 a = t.pixel[size_t(j)];
                const int x = b.x[size_t(a)], y = b.y[size_t(a)];
                const FeatureTree::Point f = feature(x, y, 1.0f);
                const float colour[3] = {f[0], f[1], f[2]};
                // The pixels around it start the searches off; it skips itself.
                qint32 around[stencil], seeds[stencil], rowSeeds[stencil];
                b.neighbourhood(a, around);
                int seedCount = 0, rowSeedCount = 0;
                for (const qint32 c : around) {
                    if (c == sentinel || c == a || bandSample[size_t(c)] < 0)
                        continue;
                    seeds[seedCount++] = bandSample[size_t(c)];
                    if (b.mark[size_t(c)] == solveFully)
                        rowSeeds[rowSeedCount++] = t.row[size_t(t.ordinal[size_t(c)])];
                }
                const int k = mixTree.nearest(f, mixtureK, bandSample[size_t(a)], found, mixtureLeaves, seeds, seedCount);
                for (int i = 0; i < k; ++i)
                    points[i] = &samples[size_t(found[i])];
                if (k > 0)
                    mixingWeights(colour, points, k, mixEpsilon, weights);
                double known = 0;
                for (int i = 0; i < k; ++i) {
                    const qint32 pixel = sampleAt[size_t(found[i])];
                    const qint32 at = index[size_t(pixel)];
                    if (at >= 0 && b.unknown[size_t(at)]) {
                        t.mixture[size_t(r) * mixtureK + size_t(i)] = at;
                        t.mixWeight[size_t(r) * mixtureK + size_t(i)] = weights[i];
                    } else {
                        known += double(weights[i]) * (keep[size_t(pixel)] ? 1.0 : 0.0);
                    }
                }
                t.mixKnown[size_t(r)] = known;

                // Known to unknown: the nearest sure pixels of each side, mixed together.
                const int kf = foreTree.nearest(f, knownK, -1, found, knownLeaves);
                for (int i = 0; i < kf; ++i)
                    points[i] = &foreground[size_t(found[i])];
                const int kb = backTree.nearest(f, knownK, -1, found, knownLeaves);
                for (int i = 0; i < kb; ++i)
                    points[kf + i] = &background[size_t(found[i])];
                if (kf > 0 && kb > 0) {
                    mixingWeights(colour, points, kf + kb, mixEpsilon, weights);
                    double share = 0, meanF[3] = {}, meanB[3] = {};
                    for (int i = 0; i < kf + kb; ++i) {
                        if (i < kf)
                            share += weights[i];
                        double *mean = i < kf ? meanF : meanB;
                        for (int c = 0; c < 3; ++c)
                            mean[c] += (*points[i])[size_t(c)];
                    }
                    double gap = 0;
                    for (int c = 0; c < 3; ++c) {
                        const double d = meanF[c] / kf - meanB[c] / kb;
                        gap += d * d;
                    }
                    t.estimate[size_t(j)] = std::clamp(share, 0.0, 1.0);
                    t.confidence[size_t(j)] = gap / 3;
                } else if (kf > 0 || kb > 0) {
                    t.estimate[size_t(j)] = kf > 0 ? 1.0 : 0.0;
                }

                const int ks = similarTree.nearest(rowFeatures[size_t(r)], similarK, qint32(r), found, similarLeaves,
                                                   rowSeeds, rowSeedCount);
                for (int i = 0; i < ks; ++i) {
                    const FeatureTree::Point &p = rowFeatures[size_t(r)], &q = rowFeatures[size_t(found[i])];
                    float l1 = 0;
                    for (int c = 0; c < FeatureTree::dimensions; ++c)
                        l1 += std::abs(p[size_t(c)] - q[size_t(c)]);
                    similarOut[size_t(r) * similarK + size_t(i)] = found[i];
                    similarOutWeight[size_t(r) * similarK + size_t(i)] = std::max(0.0f, 1 - l1);
                }
            }
        });
        if (stageTimer)
            stageTimer("neighbours", timer.nsecsElapsed());
        timer.restart();
    }

    // The transposed lists, filled in order of the mixing pixel so that every sum over them
    // runs the same way.
    t.spreadStart.assign(size_t(m) + 1, 0);
    for (const qint32 c : t.mixture) {
        if (c != sentinel)
            ++t.spreadStart[size_t(t.ordinal[size_t(c)]) + 1];
    }
    for (qint64 j = 0; j < m; ++j)
        t.spreadStart[size_t(j) + 1] += t.spreadStart[size_t(j)];
    t.spread.resize(size_t(t.spreadStart[size_t(m)]));
    t.spreadWeight.resize(t.spread.size());
    {
        std::vector<qint64> fill(t.spreadStart.begin(), t.spreadStart.end() - 1);
        for (qint64 r = 0; r < rows; ++r) {
            for (int i = 0; i < mixtureK; ++i) {
                const qint32 c = t.mixture[size_t(r) * mixtureK + size_t(i)];
                if (c == sentinel)
                    continue;
                const qint64 at = fill[size_t(t.ordinal[size_t(c)])]++;
                t.spread[size_t(at)] = qint32(r);
                t.spreadWeight[size_t(at)] = t.mixWeight[size_t(r) * mixtureK + size_t(i)];
            }
        }
    }
    // Similar pairs in both directions.
    t.similarStart.assign(size_t(m) + 1, 0);
    for (qint64 r = 0; r < rows; ++r) {
        for (int i = 0; i < similarK; ++i) {
            const qint32 o = similarOut[size_t(r) * similarK + size_t(i)];
            if (o < 0)
                continue;
            ++t.similarStart[size_t(t.rowPixel[size_t(r)]) + 1];
            ++t.similarStart[size_t(t.rowPixel[size_t(o)]) + 1];
        }
    }
    for (qint64 j = 0; j < m; ++j)
        t.similarStart[size_t(j) + 1] += t.similarStart[size_t(j)];
    t.similar.resize(size_t(t.similarStart[size_t(m)]));
    t.similarWeight.resize(t.similar.size());
    {
        std::vector<qint64> fill(t.similarStart.begin(), t.similarStart.end() - 1);
        for (qint64 r = 0; r < rows; ++r) {
            for (int i = 0; i < similarK; ++i) {
                const qint32 o = similarOut[size_t(r) * similarK + size_t(i)];
                if (o < 0)
                    continue;
                const float w = similarOutWeight[size_t(r) * similarK + size_t(i)];
                const qint32 from = t.rowPixel[size_t(r)], to = t.rowPixel[size_t(o)];
                t.similar[size_t(fill[size_t(from)])] = t.pixel[size_t(to)];
                t.similarWeight[size_t(fill[size_t(from)]++)] = w;
                t.similar[size_t(fill[size_t(to)])] = t.pixel[size_t(from)];
                t.similarWeight[size_t(fill[size_t(to)]++)] = w;
            }
        }
    }

    t.diagonal.assign(size_t(m), 0.0);
    Parallel::forRange(m, 1024, [&](qint64 begin, qint64 end) {
        for (qint64 j = begin; j < end; ++j) {
            double mix = t.row[size_t(j)] >= 0 ? 1 : 0;
            for (qint64 e = t.spreadStart[size_t(j)]; e < t.spreadStart[size_t(j) + 1]; ++e)
                mix += double(t.spreadWeight[size_t(e)]) * t.spreadWeight[size_t(e)];
            double degree = 0;
            for (qint64 e = t.similarStart[size_t(j)]; e < t.similarStart[size_t(j) + 1]; ++e)
                degree += t.similarWeight[size_t(e)];
            t.diagonal[size_t(j)] = mixtureWeight * mix + similarWeight * degree
                                    + knownWeight * t.confidence[size_t(j)] + t.prior[size_t(j)];
        }
    });
    if (stageTimer)
        stageTimer("weights", timer.nsecsElapsed());
    return t;
}

// The right side's nonlocal part: the known pixels' share of the mixes, spread back, and
// the known-to-unknown estimates and the prior.
void addNonlocalRhs(const Band &b, const Nonlocal &t, std::vector<double> &rhs)
{
    Parallel::forRange(t.count, 1024, [&](qint64 begin, qint64 end) {
        for (qint64 j = begin; j < end; ++j) {
            const qint32 r = t.row[size_t(j)];
            double spread = r >= 0 ? t.mixKnown[size_t(r)] : 0.0;
            for (qint64 e = t.spreadStart[size_t(j)]; e < t.spreadStart[size_t(j) + 1]; ++e)
                spread -= double(t.spreadWeight[size_t(e)]) * t.mixKnown[size_t(t.spread[size_t(e)])];
            const qint32 a = t.pixel[size_t(j)];
            rhs[size_t(a)] += mixtureWeight * spread + knownWeight * t.confidence[size_t(j)] * t.estimate[size_t(j)]
                              + t.prior[size_t(j)] * b.known[size_t(a)];
        }
    });
}

// q = A p on the unknown pixels; returns p . q. `mixed` is scratch of one value per fully
// solved pixel.
double multiply(const Band &b, const MattingSystem &system, const Nonlocal &t, const std::vector<double> &p,
                std::vector<double> &mixed, std::vector<double> &q)
{
    Parallel::forRange(t.rows, 1024, [&](qint64 begin, qint64 end) {
        for (qint64 r = begin; r < end; ++r) {
            double s = p[size_t(t.pixel[size_t(t.rowPixel[size_t(r)])])];
            const qint32 *neighbour = &t.mixture[size_t(r) * mixtureK];
            const float *w = &t.mixWeight[size_t(r) * mixtureK];
            for (int i = 0; i < mixtureK; ++i)
                s -= double(w[i]) * p[size_t(neighbour[i])];
            mixed[size_t(r)] = s;
        }
    });
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
            const qint32 j = t.ordinal[size_t(a)];
            const qint32 r = t.row[size_t(j)];
            double spread = r >= 0 ? mixed[size_t(r)] : 0.0;
            for (qint64 e = t.spreadStart[size_t(j)]; e < t.spreadStart[size_t(j) + 1]; ++e)
                spread -= double(t.spreadWeight[size_t(e)]) * mixed[size_t(t.spread[size_t(e)])];
            double pull = 0;
            const double own = p[size_t(a)];
            for (qint64 e = t.similarStart[size_t(j)]; e < t.similarStart[size_t(j) + 1]; ++e)
                pull += double(t.similarWeight[size_t(e)]) * (own - p[size_t(t.similar[size_t(e)])]);
            s += mixtureWeight * spread + similarWeight * pull
                 + (knownWeight * t.confidence[size_t(j)] + t.prior[size_t(j)]) * own;
            q[size_t(a)] = s;
            dot += s * own;
        }
        return dot;
    });
}

// Preconditioned conjugate gradients from the start in `x` (known pixels hold zero in
// every vector but x, and the sentinel zero in all), until the preconditioned residual has
// fallen by `tolerance` or after `iterations` steps.
int solve(const Band &b, const MattingSystem &system, const Nonlocal &t, const Preconditioner &f,
          std::vector<double> &x, int iterations, double tolerance)
{
    const qint64 n = b.n;
    const size_t size = size_t(n) + 1;
    std::vector<double> r(size, 0.0), z(size, 0.0), p(size, 0.0), q(size, 0.0), mixed(size_t(t.rows), 0.0);
    std::vector<double> start(size, 0.0);
    for (qint64 a = 0; a < n; ++a)
        start[size_t(a)] = b.unknown[size_t(a)] ? x[size_t(a)] : 0.0;
    multiply(b, system, t, start, mixed, q);
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
    int it = 0;
    for (; it < iterations && rz > tolerance * rz0 && rz > 0; ++it) {
        const double pq = multiply(b, system, t, p, mixed, q);
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
    return it;
}

} // namespace

std::vector<quint8> solveAlpha(const QImage &photo, const std::vector<quint8> &unknown, const std::vector<quint8> &keep,
                               const StageTimer &stageTimer)
{
    const int W = photo.width(), H = photo.height();
    std::vector<quint8> full(keep.size());
    for (size_t i = 0; i < keep.size(); ++i)
        full[i] = keep[i] ? 255 : 0;
    if (W < 3 || H < 3 || std::all_of(unknown.begin(), unknown.end(), [](quint8 u) { return u == 0; }))
        return full;
    QElapsedTimer timer;
    timer.start();
    std::vector<qint32> index;
    const Band band = buildBand(photo, unknown, ringsAround(unknown, W, H), keep, index);
    if (stageTimer)
        stageTimer("band", timer.nsecsElapsed());
    const Nonlocal nonlocal = buildNonlocal(photo, band, keep, index, stageTimer);
    std::vector<qint32>().swap(index);
    timer.restart();
    MattingSystem system = buildSystem(band);
    addNonlocalRhs(band, nonlocal, system.rhs);
    // The preconditioner sees the nonlocal terms through their diagonal only.
    for (qint64 j = 0; j < nonlocal.count; ++j)
        system.rows[size_t(nonlocal.pixel[size_t(j)]) * stencil + centre] += float(nonlocal.diagonal[size_t(j)]);
    const Preconditioner factor = factorise(band, system);
    for (qint64 j = 0; j < nonlocal.count; ++j)
        system.rows[size_t(nonlocal.pixel[size_t(j)]) * stencil + centre] -= float(nonlocal.diagonal[size_t(j)]);
    if (stageTimer)
        stageTimer("system", timer.nsecsElapsed());
    timer.restart();
    std::vector<double> alpha(size_t(band.n) + 1, 0.0);
    for (qint64 i = 0; i < band.n; ++i)
        alpha[size_t(i)] = band.known[size_t(i)];
    for (qint64 j = 0; j < nonlocal.count; ++j)
        alpha[size_t(nonlocal.pixel[size_t(j)])] = nonlocal.estimate[size_t(j)];
    if (nonlocal.rows > 0)
        solve(band, system, nonlocal, factor, alpha, solveIterations, solveTolerance);
    else
        solve(band, system, nonlocal, factor, alpha, bandIterations, 1e-14);
    if (stageTimer)
        stageTimer("solve", timer.nsecsElapsed());
    for (qint64 i = 0; i < band.n; ++i) {
        if (!band.unknown[size_t(i)])
            continue;
        double v = std::clamp(alpha[size_t(i)], 0.0, 1.0);
        v = v < settled ? 0.0 : v > 1 - settled ? 1.0 : v;
        full[size_t(band.y[size_t(i)]) * W + band.x[size_t(i)]] = quint8(std::lround(v * 255));
    }
    return full;
}
