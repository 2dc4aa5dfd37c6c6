#include "output/refine.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "analysis/parallel.h"
#include "output/alphasolve.h"

// Alpha (see alphasolve.cpp): closed-form matting in a band around the keep decision's
// outline, information-flow matting wherever the user painted the pixels unknown.
// Colour: each soft pixel's foreground is the colour that, mixed by its alpha with a local
// background estimate, gives the photo back, kept near a local foreground estimate (the
// per-pixel least squares of sampling-based matting, e.g. E. Gastal, M. Oliveira, "Shared
// Sampling for Real-Time Alpha Matting", Eurographics 2010, with local means as samples).
//
// Determinism: every pass writes only its own pixels, so the split across threads never
// changes a byte.

namespace {

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

// The band: within `inside` pixels of the decision's outline on the keep side, `outside`
// on the other. Where the outline runs through painted pixels the decision was not asked
// for, so it makes no band there.
void markBand(const std::vector<quint8> &keep, int W, int H, int inside, int outside, std::vector<quint8> &marks)
{
    std::vector<quint8> outline(keep.size(), 0);
    Parallel::forRange(H, 16, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y) {
            const quint8 *k = &keep[size_t(y) * W];
            quint8 *o = &outline[size_t(y) * W];
            for (int x = 0; x < W; ++x) {
                o[x] = marks[size_t(y) * W + x] != solveFully
                       && ((x > 0 && k[x - 1] != k[x]) || (x + 1 < W && k[x + 1] != k[x])
                           || (y > 0 && k[x - W] != k[x]) || (y + 1 < H && k[x + W] != k[x]));
            }
        }
    });
    const int reach = std::max(inside, outside);
    const std::vector<qint32> distance = squaredDistance(outline, W, H, (reach + 1) * (reach + 1));
    const qint32 in2 = qint32(inside) * inside, out2 = qint32(outside) * outside;
    Parallel::forRange(qint64(keep.size()), 1 << 16, [&](qint64 begin, qint64 end) {
        for (qint64 i = begin; i < end; ++i) {
            if (marks[size_t(i)] == solveKnown && distance[size_t(i)] <= (keep[size_t(i)] ? in2 : out2))
                marks[size_t(i)] = solveLocally;
        }
    });
}

} // namespace

RefinedCutout refineEdges(const QImage &photo, const QList<qint32> &keepPixels, const ProgressCallback &progress,
                          const StageTimer &stageTimer)
{
    return refineEdges(photo, keepPixels, RefineRegion(), progress, stageTimer);
}

RefinedCutout refineEdges(const QImage &photo, const QList<qint32> &keepPixels, const RefineRegion &region,
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
    std::vector<quint8> marks(size_t(count), solveKnown);
    if (region.painted.size() == source.size()) {
        const QImage painted = region.painted.convertToFormat(QImage::Format_Grayscale8);
        for (int y = 0; y < H; ++y) {
            const uchar *line = painted.constScanLine(y);
            for (int x = 0; x < W; ++x) {
                if (line[x])
                    marks[size_t(y) * W + x] = solveFully;
            }
        }
    }
    if (region.band)
        markBand(keep, W, H, refineBandInside, refineBandOutside, marks);
    const std::vector<quint8> alphaMap = solveAlpha(source, marks, keep, stageTimer);
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
    const bool outsideMatte = region.outside.size() == source.size() && region.outside.depth() == 32;
    // Row pointers taken once: the workers must not touch the images' sharing.
    uchar *matteBits = result.matte.bits();
    uchar *cutoutBits = result.cutout.bits();
    const qsizetype matteStride = result.matte.bytesPerLine(), cutoutStride = result.cutout.bytesPerLine();
    Parallel::forRange(H, 16, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y) {
            const QRgb *in = reinterpret_cast<const QRgb *>(source.constScanLine(int(y)));
            const QRgb *off = outsideMatte ? reinterpret_cast<const QRgb *>(region.outside.constScanLine(int(y))) : nullptr;
            QRgb *m = reinterpret_cast<QRgb *>(matteBits + y * matteStride);
            QRgb *c = reinterpret_cast<QRgb *>(cutoutBits + y * cutoutStride);
            const quint8 *a8 = &alphaMap[size_t(y) * W];
            const quint8 *solved = &marks[size_t(y) * W];
            for (int x = 0; x < W; ++x) {
                if (off && !solved[x]) {
                    m[x] = off[x];
                    c[x] = (in[x] & 0xFFFFFFu) | (quint32(255 - qBlue(off[x])) << 24);
                    continue;
                }
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
