#include "output/refine.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "analysis/parallel.h"

// Alpha: closed-form matting (A. Levin, D. Lischinski, Y. Weiss, "A Closed-Form Solution to
// Natural Image Matting", IEEE TPAMI 30(2), 2008) restricted to a band around the keep
// decision's outline, the band's outer rims being the known foreground and background.
// The matting Laplacian is never stored: it is applied through per-window box sums (as in
// K. He, J. Sun, X. Tang, "Fast Matting Using Large Kernel Matting Laplacian Matrices",
// CVPR 2010) and the system solved by Jacobi-preconditioned conjugate gradients.
//
// Determinism: every pass writes only its own pixels, and every sum over the band is made
// of partial sums over fixed blocks added in block order, so the split across threads
// never changes a byte.

namespace {

// Regularises each window's colour covariance (colours 0..1): smaller keeps finer detail but
// converges more slowly.
constexpr double windowEpsilon = 1e-5;
constexpr int solveIterations = 100;

constexpr qint64 blockSize = 8192; // fixed reduction blocks
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
    std::vector<quint8> unknown;
    std::vector<quint8> window; // centre of a 3 x 3 window that lies on the picture
    std::vector<double> known;  // alpha of the known pixels, the decision on the unknown
    std::vector<double> red, green, blue; // 0..1
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
    // Each side's distance to the other side.
    std::vector<qint32> toKeep, toRemove;
    {
        std::vector<quint8> removed(keep.size());
        for (size_t i = 0; i < keep.size(); ++i)
            removed[i] = !keep[i];
        const qint32 cap = qint32(std::max(inside, outside) + 4) * (std::max(inside, outside) + 4);
        toKeep = squaredDistance(keep, W, H, cap);
        toRemove = squaredDistance(removed, W, H, cap);
    }
    // Unknown within the band; the pixels up to 3 farther (more than the two rings of
    // windows around the unknown ones) carry the windows.
    const qint32 in2 = qint32(inside) * inside, out2 = qint32(outside) * outside;
    const qint32 inRim = qint32(inside + 3) * (inside + 3), outRim = qint32(outside + 3) * (outside + 3);
    std::vector<quint8> ring(keep.size());
    Parallel::forRange(qint64(keep.size()), 1 << 16, [&](qint64 begin, qint64 end) {
        for (qint64 i = begin; i < end; ++i) {
            const qint32 d = keep[size_t(i)] ? toRemove[size_t(i)] : toKeep[size_t(i)];
            const qint32 limit = keep[size_t(i)] ? in2 : out2;
            const qint32 rim = keep[size_t(i)] ? inRim : outRim;
            ring[size_t(i)] = d <= limit ? 0 : d <= rim ? 1 : 3;
        }
    });
    std::vector<qint32> index(keep.size(), -1);
    for (int y = 0; y < H; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(photo.constScanLine(y));
        for (int x = 0; x < W; ++x) {
            const size_t i = size_t(y) * W + x;
            if (ring[i] > 2)
                continue;
            index[i] = qint32(b.x.size());
            b.x.push_back(x);
            b.y.push_back(y);
            b.unknown.push_back(ring[i] == 0);
            b.window.push_back(0);
            b.known.push_back(keep[i] ? 1.0 : 0.0);
            b.red.push_back(qRed(line[x]) / 255.0);
            b.green.push_back(qGreen(line[x]) / 255.0);
            b.blue.push_back(qBlue(line[x]) / 255.0);
        }
    }
    const qint64 n = qint64(b.x.size());
    b.n = n;
    for (auto *channel : {&b.known, &b.red, &b.green, &b.blue})
        channel->push_back(0.0);
    b.unknown.push_back(0);
    b.window.push_back(0);
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
    for (qint64 i = 0; i < n; ++i) {
        const qint32 u = b.up[size_t(i)], d = b.down[size_t(i)];
        b.window[size_t(i)] = b.x[size_t(i)] > 0 && b.x[size_t(i)] + 1 < W && u < n && d < n
                              && b.left[size_t(u)] < n && b.right[size_t(u)] < n && b.left[size_t(i)] < n
                              && b.right[size_t(i)] < n && b.left[size_t(d)] < n && b.right[size_t(d)] < n;
    }
    return b;
}

// The matting Laplacian of the band's windows, applied without storing it.
class Laplacian
{
public:
    Laplacian(const Band &band, double epsilon);

    // out = (L + prior) v on the unknown pixels, 0 elsewhere, and returns v . out; v holds
    // zero at the sentinel.
    double apply(const std::vector<double> &v, std::vector<double> &out, double prior = 0) const;
    const std::vector<double> &diagonal() const { return diag; }

private:
    const Band &b;
    std::vector<double> mean[3];
    std::vector<double> inverse[6]; // symmetric (covariance + eps / 9)^-1: 00 01 02 11 12 22
    std::vector<double> windows;    // windows holding each unknown pixel
    std::vector<double> diag;
    mutable std::vector<double> coefficient[4];
};

Laplacian::Laplacian(const Band &band, double epsilon) : b(band)
{
    const qint64 n = b.n;
    const size_t size = size_t(n) + 1;
    for (auto &m : mean)
        m.assign(size, 0.0);
    for (auto &m : inverse)
        m.assign(size, 0.0);
    for (auto &c : coefficient)
        c.assign(size, 0.0);
    windows.assign(size, 0.0);
    diag.assign(size, 0.0);

    // Row sums of the colours and their products, then each window's mean and inverse.
    std::vector<double> moments[9];
    for (auto &m : moments)
        m.assign(size, 0.0);
    const double *R = b.red.data(), *G = b.green.data(), *B = b.blue.data();
    forBlocks(n, [&](qint64 begin, qint64 end) {
        for (qint64 i = begin; i < end; ++i) {
            double m[9] = {};
            for (const qint32 j : {b.left[size_t(i)], qint32(i), b.right[size_t(i)]}) {
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
            for (int k = 0; k < 9; ++k)
                moments[k][size_t(i)] = m[k];
        }
    });
    forBlocks(n, [&](qint64 begin, qint64 end) {
        for (qint64 i = begin; i < end; ++i) {
            if (!b.window[size_t(i)])
                continue;
            const size_t u = size_t(b.up[size_t(i)]), d = size_t(b.down[size_t(i)]);
            double m[9];
            for (int k = 0; k < 9; ++k)
                m[k] = (moments[k][u] + moments[k][size_t(i)] + moments[k][d]) / 9.0;
            const double e = epsilon / 9.0;
            const double s00 = m[3] - m[0] * m[0] + e, s01 = m[4] - m[0] * m[1], s02 = m[5] - m[0] * m[2];
            const double s11 = m[6] - m[1] * m[1] + e, s12 = m[7] - m[1] * m[2], s22 = m[8] - m[2] * m[2] + e;
            const double c00 = s11 * s22 - s12 * s12, c01 = s02 * s12 - s01 * s22, c02 = s01 * s12 - s02 * s11;
            const double det = s00 * c00 + s01 * c01 + s02 * c02;
            inverse[0][size_t(i)] = c00 / det;
            inverse[1][size_t(i)] = c01 / det;
            inverse[2][size_t(i)] = c02 / det;
            inverse[3][size_t(i)] = (s00 * s22 - s02 * s02) / det;
            inverse[4][size_t(i)] = (s01 * s02 - s00 * s12) / det;
            inverse[5][size_t(i)] = (s00 * s11 - s01 * s01) / det;
            for (int k = 0; k < 3; ++k)
                mean[k][size_t(i)] = m[k];
        }
    });
    // Diagonal: over the windows holding i, 1 - (1 + (I - mu)^T inverse (I - mu)) / 9.
    forBlocks(n, [&](qint64 begin, qint64 end) {
        for (qint64 i = begin; i < end; ++i) {
            if (!b.unknown[size_t(i)])
                continue;
            double sum = 0, count = 0;
            for (const qint32 row : {b.up[size_t(i)], qint32(i), b.down[size_t(i)]}) {
                for (const qint32 k : {b.left[size_t(row)], row, b.right[size_t(row)]}) {
                    if (!b.window[size_t(k)])
                        continue;
                    const double d0 = R[i] - mean[0][size_t(k)], d1 = G[i] - mean[1][size_t(k)],
                                 d2 = B[i] - mean[2][size_t(k)];
                    const double q = inverse[0][size_t(k)] * d0 * d0 + inverse[3][size_t(k)] * d1 * d1
                                     + inverse[5][size_t(k)] * d2 * d2
                                     + 2 * (inverse[1][size_t(k)] * d0 * d1 + inverse[2][size_t(k)] * d0 * d2
                                            + inverse[4][size_t(k)] * d1 * d2);
                    sum += 1 - (1 + q) / 9.0;
                    count += 1;
                }
            }
            diag[size_t(i)] = sum;
            windows[size_t(i)] = count;
        }
    });
}

double Laplacian::apply(const std::vector<double> &v, std::vector<double> &out, double prior) const
{
    const qint64 n = b.n;
    const double *R = b.red.data(), *G = b.green.data(), *B = b.blue.data();
    const qint32 *left = b.left.data(), *right = b.right.data(), *up = b.up.data(), *down = b.down.data();
    const double *V = v.data();
    // Each window's affine model a . I + b of v.
    forBlocks(n, [&](qint64 begin, qint64 end) {
        double *a0 = coefficient[0].data(), *a1 = coefficient[1].data(), *a2 = coefficient[2].data(),
               *a3 = coefficient[3].data();
        for (qint64 i = begin; i < end; ++i) {
            if (!b.window[size_t(i)]) {
                a0[i] = a1[i] = a2[i] = a3[i] = 0;
                continue;
            }
            double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
            for (const qint32 row : {up[i], qint32(i), down[i]}) {
                for (const qint32 j : {left[row], row, right[row]}) {
                    const double value = V[j];
                    s0 += value;
                    s1 += R[j] * value;
                    s2 += G[j] * value;
                    s3 += B[j] * value;
                }
            }
            const double m = s0 / 9.0;
            const double mu0 = mean[0][size_t(i)], mu1 = mean[1][size_t(i)], mu2 = mean[2][size_t(i)];
            const double c0 = s1 / 9.0 - mu0 * m, c1 = s2 / 9.0 - mu1 * m, c2 = s3 / 9.0 - mu2 * m;
            const double i00 = inverse[0][size_t(i)], i01 = inverse[1][size_t(i)], i02 = inverse[2][size_t(i)];
            const double i11 = inverse[3][size_t(i)], i12 = inverse[4][size_t(i)], i22 = inverse[5][size_t(i)];
            const double x0 = i00 * c0 + i01 * c1 + i02 * c2;
            const double x1 = i01 * c0 + i11 * c1 + i12 * c2;
            const double x2 = i02 * c0 + i12 * c1 + i22 * c2;
            a0[i] = x0;
            a1[i] = x1;
            a2[i] = x2;
            a3[i] = m - (x0 * mu0 + x1 * mu1 + x2 * mu2);
        }
    });
    // out = (L + prior) v on the unknown pixels; returns v . out.
    return blockSum(n, [&](qint64 begin, qint64 end) {
        const double *a0 = coefficient[0].data(), *a1 = coefficient[1].data(), *a2 = coefficient[2].data(),
                     *a3 = coefficient[3].data();
        double dot = 0;
        for (qint64 i = begin; i < end; ++i) {
            if (!b.unknown[size_t(i)]) {
                out[size_t(i)] = 0;
                continue;
            }
            double t0 = 0, t1 = 0, t2 = 0, t3 = 0;
            for (const qint32 row : {up[i], qint32(i), down[i]}) {
                for (const qint32 k : {left[row], row, right[row]}) {
                    t0 += a0[k];
                    t1 += a1[k];
                    t2 += a2[k];
                    t3 += a3[k];
                }
            }
            const double value = (windows[size_t(i)] + prior) * V[i] - t0 * R[i] - t1 * G[i] - t2 * B[i] - t3;
            out[size_t(i)] = value;
            dot += value * V[i];
        }
        return dot;
    });
}

// Conjugate gradients for (L + prior) x = prior * decision - L known on the unknown pixels,
// from the start in `x` (the whole band; the known pixels keep their values).
void solve(const Band &b, const Laplacian &L, std::vector<double> &x, int iterations)
{
    const qint64 n = b.n;
    const size_t size = size_t(n) + 1;
    const double prior = 1e-4; // keeps unknown areas that touch no known pixel well posed
    std::vector<double> r(size, 0.0), z(size, 0.0), p(size, 0.0), q(size, 0.0), precondition(size, 0.0);
    for (qint64 i = 0; i < n; ++i) {
        if (b.unknown[size_t(i)])
            precondition[size_t(i)] = 1.0 / (L.diagonal()[size_t(i)] + prior);
    }
    L.apply(x, q);
    const double rz0 = blockSum(n, [&](qint64 begin, qint64 end) {
        double s = 0;
        for (qint64 i = begin; i < end; ++i) {
            if (!b.unknown[size_t(i)])
                continue;
            r[size_t(i)] = prior * (b.known[size_t(i)] - x[size_t(i)]) - q[size_t(i)];
            z[size_t(i)] = r[size_t(i)] * precondition[size_t(i)];
            p[size_t(i)] = z[size_t(i)];
            s += r[size_t(i)] * z[size_t(i)];
        }
        return s;
    });
    double rz = rz0;
    for (int it = 0; it < iterations && rz > 1e-14 * rz0 && rz > 0; ++it) {
        const double pq = L.apply(p, q, prior);
        if (!(pq > 0))
            break;
        const double step = rz / pq;
        const double next = blockSum(n, [&](qint64 begin, qint64 end) {
            double s = 0;
            for (qint64 i = begin; i < end; ++i) {
                x[size_t(i)] += step * p[size_t(i)];
                r[size_t(i)] -= step * q[size_t(i)];
                z[size_t(i)] = r[size_t(i)] * precondition[size_t(i)];
                s += r[size_t(i)] * z[size_t(i)];
            }
            return s;
        });
        const double beta = next / rz;
        rz = next;
        forBlocks(n, [&](qint64 begin, qint64 end) {
            for (qint64 i = begin; i < end; ++i)
                p[size_t(i)] = z[size_t(i)] + beta * p[size_t(i)];
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
    const Laplacian L(band, windowEpsilon);
    if (stageTimer)
        stageTimer("laplacian", timer.nsecsElapsed());
    timer.restart();
    solve(band, L, alpha, solveIterations);
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
        std::vector<double> sums(size_t(cw) * ch * channels, 0.0);
        Parallel::forRange(ch, 8, [&](qint64 begin, qint64 end) {
            for (qint64 cy = begin; cy < end; ++cy) {
                for (int y = int(cy) * cell; y < std::min(H, int(cy + 1) * cell); ++y) {
                    const QRgb *line = reinterpret_cast<const QRgb *>(photo.constScanLine(y));
                    const quint8 *a = &alpha[size_t(y) * W];
                    for (int x = 0; x < W; ++x) {
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
        means = boxFilter(sums, 3);
        const std::vector<double> wide = boxFilter(sums, 12);
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

    static double weight(int a)
    {
        // Only the nearly pure pixels: 1 at 255, 0 below 192.
        const double t = (a - 191) / 64.0;
        return t <= 0 ? 0.0 : t * t;
    }

    std::vector<double> boxFilter(const std::vector<double> &in, int r) const
    {
        std::vector<double> across(in.size(), 0.0), out(in.size(), 0.0);
        Parallel::forRange(ch, 16, [&](qint64 begin, qint64 end) {
            for (qint64 cy = begin; cy < end; ++cy) {
                for (int cx = 0; cx < cw; ++cx) {
                    double *o = &across[(size_t(cy) * cw + cx) * channels];
                    for (int k = std::max(0, cx - r); k <= std::min(cw - 1, cx + r); ++k) {
                        const double *i = &in[(size_t(cy) * cw + k) * channels];
                        for (int c = 0; c < channels; ++c)
                            o[c] += i[c];
                    }
                }
            }
        });
        Parallel::forRange(ch, 16, [&](qint64 begin, qint64 end) {
            for (qint64 cy = begin; cy < end; ++cy) {
                for (int k = std::max<int>(0, int(cy) - r); k <= std::min<int>(ch - 1, int(cy) + r); ++k) {
                    const double *i = &across[size_t(k) * cw * channels];
                    double *o = &out[size_t(cy) * cw * channels];
                    for (size_t c = 0; c < size_t(cw) * channels; ++c)
                        o[c] += i[c];
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
    for (int y = 0; y < H; ++y) {
        const QRgb *in = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        QRgb *m = reinterpret_cast<QRgb *>(result.matte.scanLine(y));
        QRgb *c = reinterpret_cast<QRgb *>(result.cutout.scanLine(y));
        const quint8 *a8 = &alphaMap[size_t(y) * W];
        for (int x = 0; x < W; ++x) {
            const quint32 a = a8[x];
            const quint32 g = 255 - a;
            m[x] = 0xFF000000u | (g << 16) | (g << 8) | g;
            QRgb colour = in[x];
            double f0[3], b0[3];
            if (a != 0 && a != 255 && estimates.at(x, y, 0, f0)) {
                if (!estimates.at(x, y, 1, b0))
                    std::copy(f0, f0 + 3, b0);
                colour = foregroundColour(colour, a / 255.0, f0, b0);
            }
            c[x] = (colour & 0xFFFFFFu) | (a << 24);
        }
    }
    if (stageTimer)
        stageTimer("cutout", timer.nsecsElapsed());
    if (progress)
        progress(100);
    return result;
}
