#include "isolation/precise.h"

#include "isolation/colourmixture.h"
#include "isolation/columnorder.h"
#include "isolation/kernels.h"
#include "isolation/maxflow.h"
#include "isolation/marksquares.h"


#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "analysis/largebuffer.h"
#include "analysis/parallel.h"

namespace {

// The reduced copy has at most about this many pixels: enough for the outline of anything a
// few clicks pick out, small enough for the cuts to fit in a click's time.
constexpr qint64 coarseArea = 40000;
// The boundary term's weight against the colour models (Rother et al.'s gamma).
constexpr double smoothness = 50;
// The colour models are fitted to the marks, then twice more to the last cut's labels
// (GrabCut's iteration, cut by cut).
constexpr int cutRounds = 3;
// Geodesic step: sqrt(length^2 + geodesicContrast * |colour step|^2 / mean |colour step|^2):
// paths keep to regions of one colour, so the star shape follows the photo's regions.
constexpr double geodesicContrast = 30;
// Energies in nats become integer capacities at this scale; a colour cost above the ceiling
// says no more than the ceiling does.
constexpr double capacityScale = 32;
constexpr double costCeiling = 60;

// A block is a mark when it holds marks of one kind; a block with both kinds is left free
// and cut again, with smaller blocks, in the band.
enum : uchar { Free = 0, KeepSeed = 1, RemoveSeed = 2, MixedSeed = 3 };
// Plane bytes of the pixels the last band settled: the flag and the label.
enum : uchar { SettledInBand = 0x80 };

struct Offset
{
    int dx;
    int dy;
    double length;
};
// The eight neighbours; k and k + 4 are opposite, and 0..3 lie ahead in row order.
constexpr Offset around[8] = {{1, 0, 1},  {1, 1, M_SQRT2},   {0, 1, 1},  {-1, 1, M_SQRT2},
                              {-1, 0, 1}, {-1, -1, M_SQRT2}, {0, -1, 1}, {1, -1, M_SQRT2}};

double squaredStep(const float *a, const float *b)
{
    const double d0 = a[0] - b[0], d1 = a[1] - b[1], d2 = a[2] - b[2];
    return d0 * d0 + d1 * d1 + d2 * d2;
}

MaxFlow::Capacity capacityOf(double nats)
{
    return MaxFlow::Capacity(std::lround(std::min(nats, 4 * costCeiling) * capacityScale));
}

// The marks on a W x H plane: keep squares first, then remove squares over them.
LargeBuffer seedPlane(const MarkSquares &marks, int W, int H)
{
    LargeBuffer plane(size_t(W) * size_t(H), true);
    if (plane.isNull())
        return plane;
    uchar *const bytes = plane.data();
    const auto paint = [&](const PixelSquare &square, uchar value) {
        for (int y = square.y0; y < square.y1; ++y)
            std::memset(bytes + qsizetype(y) * W + square.x0, value, size_t(square.x1 - square.x0));
    };
    marks.forEachAnyOrder(true, [&](const PixelSquare &square) { paint(square, KeepSeed); });
    marks.forEachAnyOrder(false, [&](const PixelSquare &square) { paint(square, RemoveSeed); });
    return plane;
}

// The picture the models and the star shape work on: the photo's blocks of f x f pixels
// averaged (the last row and column of blocks may be smaller), with the kind of marks in each.
struct Grid
{
    int w = 0;
    int h = 0;
    int f = 1;
    std::vector<float> colour; // three per pixel
    std::vector<uchar> seed;
    const float *at(qsizetype p) const { return colour.data() + 3 * p; }
};

Grid reducedGrid(const QImage &photo, const uchar *seeds, int f)
{
    const int W = photo.width();
    const int H = photo.height();
    Grid g;
    g.f = f;
    g.w = (W + f - 1) / f;
    g.h = (H + f - 1) / f;
    g.colour.resize(size_t(g.w) * g.h * 3);
    g.seed.resize(size_t(g.w) * g.h);
    Parallel::forRange(g.h, 8, [&](qint64 begin, qint64 end) {
        std::vector<quint64> sums(size_t(g.w) * 3);
        std::vector<quint32> keeps(size_t(g.w)), removes(size_t(g.w));
        for (qint64 by = begin; by < end; ++by) {
            std::fill(sums.begin(), sums.end(), 0);
            std::fill(keeps.begin(), keeps.end(), 0);
            std::fill(removes.begin(), removes.end(), 0);
            const int y0 = int(by) * f;
            const int y1 = std::min(H, y0 + f);
            for (int y = y0; y < y1; ++y) {
                const QRgb *line = reinterpret_cast<const QRgb *>(photo.constScanLine(y));
                const uchar *marks = seeds + qsizetype(y) * W;
                for (int bx = 0; bx < g.w; ++bx) {
                    const int x1 = std::min(W, (bx + 1) * f);
                    quint64 r = 0, gr = 0, b = 0;
                    quint32 k = 0, m = 0;
                    for (int x = bx * f; x < x1; ++x) {
                        r += quint64(qRed(line[x]));
                        gr += quint64(qGreen(line[x]));
                        b += quint64(qBlue(line[x]));
                        k += marks[x] == KeepSeed;
                        m += marks[x] == RemoveSeed;
                    }
                    sums[size_t(bx) * 3] += r;
                    sums[size_t(bx) * 3 + 1] += gr;
                    sums[size_t(bx) * 3 + 2] += b;
                    keeps[size_t(bx)] += k;
                    removes[size_t(bx)] += m;
                }
            }
            for (int bx = 0; bx < g.w; ++bx) {
                const int count = (std::min(W, (bx + 1) * f) - bx * f) * (y1 - y0);
                const size_t p = size_t(by) * g.w + bx;
                for (int i = 0; i < 3; ++i)
                    g.colour[3 * p + i] = float(double(sums[size_t(bx) * 3 + i]) / count);
                const bool keep = keeps[size_t(bx)] > 0;
                const bool remove = removes[size_t(bx)] > 0;
                g.seed[p] = keep && remove ? MixedSeed : keep ? KeepSeed : remove ? RemoveSeed : Free;
            }
        }
    });
    return g;
}

// Mean squared colour step between 8-neighbours, summed row by row and then in row order,
// so that the sum does not depend on how the rows were shared out.
double meanSquaredStep(const Grid &g)
{
    std::vector<double> rowSums(size_t(g.h), 0.0);
    std::vector<qint64> rowCounts(size_t(g.h), 0);
    Parallel::forRange(g.h, 16, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y) {
            double sum = 0;
            qint64 count = 0;
            for (int x = 0; x < g.w; ++x) {
                for (int k = 0; k < 4; ++k) {
                    const int qx = x + around[k].dx, qy = int(y) + around[k].dy;
                    if (qx < 0 || qx >= g.w || qy >= g.h)
                        continue;
                    sum += squaredStep(g.at(y * g.w + x), g.at(qsizetype(qy) * g.w + qx));
                    ++count;
                }
            }
            rowSums[size_t(y)] = sum;
            rowCounts[size_t(y)] = count;
        }
    });
    double sum = 0;
    qint64 count = 0;
    for (int y = 0; y < g.h; ++y) {
        sum += rowSums[size_t(y)];
        count += rowCounts[size_t(y)];
    }
    return count > 0 ? sum / count : 0.0;
}

// The cost of the four steps ahead of each pixel for the geodesic distances:
// sqrt(length^2 + geodesicContrast * |colour step|^2 / mean |colour step|^2). A step back is
// the neighbour's step ahead.
std::vector<float> geodesicSteps(const Grid &g, double meanStep)
{
    const qsizetype n = qsizetype(g.w) * g.h;
    const double contrast = meanStep > 0 ? geodesicContrast / meanStep : 0.0;
    std::vector<float> stepCost(size_t(n) * 4, std::numeric_limits<float>::infinity());
    Parallel::forRange(g.h, 16, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y) {
            for (int x = 0; x < g.w; ++x) {
                const qsizetype p = y * g.w + x;
                for (int k = 0; k < 4; ++k) {
                    const int qx = x + around[k].dx, qy = int(y) + around[k].dy;
                    if (qx < 0 || qx >= g.w || qy >= g.h)
                        continue;
                    const double l = around[k].length;
                    stepCost[size_t(p) * 4 + k] =
                        float(std::sqrt(l * l + contrast * squaredStep(g.at(p), g.at(qsizetype(qy) * g.w + qx))));
                }
            }
        }
    });
    return stepCost;
}

// Geodesic distance from the keep marks and each pixel's step towards its nearest mark (-1 at
// the marks). Raster scans forwards and backwards in turn (Toivanen 1996; Criminisi, Sharp
// and Blake, "GeoS", ECCV 2008): a fixed order, so a fixed result. Remove marks are crossed
// like any pixel: the star shape then keeps nothing that lies behind one.
void geodesicTree(const Grid &g, const std::vector<float> &stepCost, std::vector<float> &distance,
                  std::vector<qint8> &parent)
{
    const qsizetype n = qsizetype(g.w) * g.h;
    const float unreached = std::numeric_limits<float>::infinity();
    distance.assign(size_t(n), unreached);
    parent.assign(size_t(n), -1);
    for (qsizetype p = 0; p < n; ++p) {
        if (g.seed[size_t(p)] == KeepSeed)
            distance[size_t(p)] = 0;
    }
    const auto relax = [&](int x, int y, int k) {
        const qsizetype p = qsizetype(y) * g.w + x;
        const int qx = x + around[k].dx, qy = y + around[k].dy;
        if (qx < 0 || qx >= g.w || qy < 0 || qy >= g.h)
            return;
        const qsizetype q = qsizetype(qy) * g.w + qx;
        const float dq = distance[size_t(q)];
        if (dq == unreached)
            return;
        // The step p -> q is q's step ahead when q lies behind p.
        const float step = k < 4 ? stepCost[size_t(p) * 4 + k] : stepCost[size_t(q) * 4 + (k - 4)];
        const float candidate = dq + step;
        if (candidate < distance[size_t(p)]) {
            distance[size_t(p)] = candidate;
            parent[size_t(p)] = qint8(k);
        }
    };
    for (int round = 0; round < 2; ++round) {
        for (int y = 0; y < g.h; ++y) {
            for (int x = 0; x < g.w; ++x) {
                if (g.seed[size_t(y) * g.w + x] == KeepSeed)
                    continue;
                for (int k : {4, 5, 6, 7})
                    relax(x, y, k);
            }
        }
        for (int y = g.h - 1; y >= 0; --y) {
            for (int x = g.w - 1; x >= 0; --x) {
                if (g.seed[size_t(y) * g.w + x] == KeepSeed)
                    continue;
                for (int k : {0, 1, 2, 3})
                    relax(x, y, k);
            }
        }
    }
}

// The colour costs of every pixel of the grid under both models, and each one's likeliest
// component; per pixel, so the same on any number of threads.
struct ColourCosts
{
    std::vector<float> keep;
    std::vector<float> remove;
    std::vector<uchar> keepComponent;
    std::vector<uchar> removeComponent;
};

void colourCosts(const Grid &g, const ColourMixture &keepModel, const ColourMixture &removeModel, ColourCosts &costs)
{
    const qsizetype n = qsizetype(g.w) * g.h;
    costs.keep.resize(size_t(n));
    costs.remove.resize(size_t(n));
    costs.keepComponent.resize(size_t(n));
    costs.removeComponent.resize(size_t(n));
    Parallel::forRange(n, 4096, [&](qint64 begin, qint64 end) {
        for (qint64 p = begin; p < end; ++p) {
            int k = 0, r = 0;
            costs.keep[size_t(p)] = float(std::min(keepModel.cost(g.at(p), &k), costCeiling));
            costs.remove[size_t(p)] = float(std::min(removeModel.cost(g.at(p), &r), costCeiling));
            costs.keepComponent[size_t(p)] = uchar(k);
            costs.removeComponent[size_t(p)] = uchar(r);
        }
    });
}

// What the cut of the reduced grid leaves: the label of each grid pixel and the models that
// made it.
struct GridCut
{
    std::vector<uchar> keep; // 1 keep, 0 remove
    ColourMixture keepModel;
    ColourMixture removeModel;
    std::vector<float> distance;
    ColourCosts costs;
};

GridCut cutGrid(const Grid &g, const ProgressCallback &progress)
{
    const qsizetype n = qsizetype(g.w) * g.h;
    GridCut result;
    result.keep.assign(size_t(n), 0);

    const double meanStep = meanSquaredStep(g);
    const double beta = meanStep > 0 ? 1.0 / (2.0 * meanStep) : 0.0;
    std::vector<qint8> parent;
    geodesicTree(g, geodesicSteps(g, meanStep), result.distance, parent);

    // The first models: the keep marks against the remove marks and the half of the picture
    // geodesically farthest from the keep marks. Against everything unmarked, an object
    // that fills much of the picture would explain its own colours as background.
    {
        std::vector<float> distances = result.distance;
        const auto middle = distances.begin() + qsizetype(distances.size() / 2);
        std::nth_element(distances.begin(), middle, distances.end());
        const float median = distances.empty() ? 0.f : *middle;
        std::vector<float> keepColours, removeColours;
        for (qsizetype p = 0; p < n; ++p) {
            const uchar seed = g.seed[size_t(p)];
            if (seed == KeepSeed)
                keepColours.insert(keepColours.end(), g.at(p), g.at(p) + 3);
            else if (seed == RemoveSeed || result.distance[size_t(p)] > median)
                removeColours.insert(removeColours.end(), g.at(p), g.at(p) + 3);
        }
        result.keepModel.fitBySplitting(keepColours);
        result.removeModel.fitBySplitting(removeColours);
    }

    // The boundary edges stay the same from round to round; only the colour costs change,
    // so each round goes on from the flow of the last.
    MaxFlow graph{int(n)};
    for (int y = 0; y < g.h; ++y) {
        for (int x = 0; x < g.w; ++x) {
            const qsizetype p = qsizetype(y) * g.w + x;
            for (int k = 0; k < 4; ++k) {
                const int qx = x + around[k].dx, qy = y + around[k].dy;
                if (qx < 0 || qx >= g.w || qy >= g.h)
                    continue;
                const qsizetype q = qsizetype(qy) * g.w + qx;
                const double d2 = squaredStep(g.at(p), g.at(q));
                MaxFlow::Capacity pq = capacityOf(smoothness * std::exp(-beta * d2) / around[k].length);
                MaxFlow::Capacity qp = pq;
                // Keeping a pixel while removing its step towards the keep marks is ruled
                // out: the kept region is star-shaped around the marks.
                if (parent[size_t(p)] == k)
                    pq = MaxFlow::infinite;
                if (parent[size_t(q)] == k + 4)
                    qp = MaxFlow::infinite;
                graph.addEdge(int(p), int(q), pq, qp);
            }
        }
    }

    for (int round = 0; round < cutRounds; ++round) {
        colourCosts(g, result.keepModel, result.removeModel, result.costs);
        for (qsizetype p = 0; p < n; ++p) {
            const uchar seed = g.seed[size_t(p)];
            if (seed == KeepSeed) {
                graph.setTerminal(int(p), MaxFlow::infinite, 0);
            } else if (seed == RemoveSeed || result.distance[size_t(p)] == std::numeric_limits<float>::infinity()) {
                // Unreached only when no block holds keep marks alone: the band decides.
                graph.setTerminal(int(p), 0, MaxFlow::infinite);
            } else {
                // Keeping p costs its keep cost, removing it its remove cost.
                const double keepCost = result.costs.keep[size_t(p)];
                const double removeCost = result.costs.remove[size_t(p)];
                const double base = std::min(keepCost, removeCost);
                graph.setTerminal(int(p), capacityOf(removeCost - base), capacityOf(keepCost - base));
            }
        }
        graph.solve();
        for (qsizetype p = 0; p < n; ++p)
            result.keep[size_t(p)] = graph.inSourceSet(int(p)) ? 1 : 0;
        if (progress)
            progress(30 + 50 * (round + 1) / cutRounds);
        if (round + 1 == cutRounds)
            break;

        ColourMixture::Moments keepMoments, removeMoments;
        for (qsizetype p = 0; p < n; ++p) {
            if (result.keep[size_t(p)])
                keepMoments.add(result.costs.keepComponent[size_t(p)], g.at(p));
            else
                removeMoments.add(result.costs.removeComponent[size_t(p)], g.at(p));
        }
        result.keepModel.fit(keepMoments);
        result.removeModel.fit(removeMoments);
    }
    return result;
}

// The labels of the photo's f x f blocks (the last row and column may be smaller) at one
// level of the refinement: 1 keep, 0 remove; `refined` where a band below the reduced copy
// decided, `mixed` where a block holds both kinds of mark.
struct Level
{
    int f = 1;
    int w = 0;
    int h = 0;
    std::vector<uchar> keep;
    std::vector<uchar> refined;
    std::vector<uchar> mixed;
};

// The next block size down from f: a step of 5, 4, 3 or 2 that divides it (the sizes are
// chosen so that one does), straight to single pixels from 5 and below.
int nextBlockSize(int f)
{
    if (f <= 5)
        return 1;
    for (int step : {5, 4, 3, 2}) {
        if (f % step == 0)
            return f / step;
    }
    return 1;
}

// The smallest block size at least `wanted` whose every step down divides it.
int blockSizeFor(int wanted)
{
    for (int f = std::max(wanted, 1);; ++f) {
        int rest = f;
        for (int step : {5, 3, 2}) {
            while (rest % step == 0)
                rest /= step;
        }
        if (rest == 1)
            return f;
    }
}

// Cuts the band of `from` again with blocks of fb pixels (fb divides from.f): the blocks on
// its outline and those holding both kinds of mark, split into fb x fb blocks of their mean
// colour. The models are refitted to the band, the boundary term comes from the band's own
// colour steps, and the blocks around the band stay as `from` has them. With fb = 1 the band
// pixels are written into the plane as SettledInBand | label and the result is empty;
// otherwise it is the level of fb-blocks. The models go on to the next level.
Level cutBand(const QImage &photo, uchar *plane, const Level &from, int fb, ColourMixture &keepModel,
              ColourMixture &removeModel)
{
    const int W = photo.width();
    const int H = photo.height();
    const int fa = from.f;
    const int r = fa / fb;
    Level to;
    to.f = fb;
    to.w = (W + fb - 1) / fb;
    to.h = (H + fb - 1) / fb;

    // The band's blocks of `from`, and the first node of each.
    std::vector<qint32> first(size_t(from.w) * from.h, -1);
    std::vector<qint32> blocks;
    qint64 nodes = 0;
    for (int y = 0; y < from.h; ++y) {
        for (int x = 0; x < from.w; ++x) {
            const size_t p = size_t(y) * from.w + x;
            bool edge = from.mixed[p] != 0;
            for (int k = 0; k < 8 && !edge; ++k) {
                const int qx = x + around[k].dx, qy = y + around[k].dy;
                if (qx >= 0 && qx < from.w && qy >= 0 && qy < from.h)
                    edge = from.keep[size_t(qy) * from.w + qx] != from.keep[p];
            }
            if (!edge)
                continue;
            first[p] = qint32(nodes);
            blocks.push_back(qint32(p));
            const int columns = std::min(r, (W - x * fa + fb - 1) / fb);
            const int rows = std::min(r, (H - y * fa + fb - 1) / fb);
            nodes += qint64(columns) * rows;
            if (nodes > std::numeric_limits<int>::max() / MaxFlow::maxDegree)
                return {}; // beyond any photo the program opens
        }
    }
    // A node is an fb-block (ux, uy) of the band.
    const auto nodeOf = [&](int ux, int uy) -> qint32 {
        const int bx = ux / r, by = uy / r;
        const qint32 start = first[size_t(by) * from.w + bx];
        if (start < 0)
            return -1;
        const int columns = std::min(r, (W - bx * fa + fb - 1) / fb);
        return start + (uy - by * r) * columns + (ux - bx * r);
    };
    const auto fromKeep = [&](int ux, int uy) { return from.keep[size_t(uy / r) * from.w + ux / r] != 0; };
    // Visits the nodes of band blocks [begin, end) in node order with their fb-block.
    const auto forBlocks = [&](qint64 begin, qint64 end, const auto &visit) {
        for (qint64 i = begin; i < end; ++i) {
            const int bx = blocks[size_t(i)] % from.w, by = blocks[size_t(i)] / from.w;
            qint32 node = first[size_t(blocks[size_t(i)])];
            const int uy1 = std::min(to.h, (by + 1) * r), ux1 = std::min(to.w, (bx + 1) * r);
            for (int uy = by * r; uy < uy1; ++uy)
                for (int ux = bx * r; ux < ux1; ++ux)
                    visit(ux, uy, node++);
        }
    };
    const qint64 blockCount = qint64(blocks.size());
    const qint64 grain = std::max<qint64>(1, 4096 / (qint64(fa) * fa));

    // Each node's mean colour and marks.
    std::vector<float> colour(size_t(nodes) * 3);
    std::vector<uchar> seed(static_cast<size_t>(nodes));
    Parallel::forRange(blockCount, grain, [&](qint64 begin, qint64 end) {
        forBlocks(begin, end, [&](int ux, int uy, qint32 node) {
            const int x0 = ux * fb, y0 = uy * fb;
            const int x1 = std::min(W, x0 + fb), y1 = std::min(H, y0 + fb);
            quint64 sum[3] = {};
            bool keep = false, remove = false;
            for (int y = y0; y < y1; ++y) {
                const QRgb *line = reinterpret_cast<const QRgb *>(photo.constScanLine(y));
                const uchar *marks = plane + qsizetype(y) * W;
                for (int x = x0; x < x1; ++x) {
                    sum[0] += quint64(qRed(line[x]));
                    sum[1] += quint64(qGreen(line[x]));
                    sum[2] += quint64(qBlue(line[x]));
                    keep = keep || marks[x] == KeepSeed;
                    remove = remove || marks[x] == RemoveSeed;
                }
            }
            const double count = double(x1 - x0) * (y1 - y0);
            for (int i = 0; i < 3; ++i)
                colour[size_t(node) * 3 + i] = float(double(sum[i]) / count);
            seed[size_t(node)] = keep && remove ? MixedSeed : keep ? KeepSeed : remove ? RemoveSeed : Free;
        });
    });
    const auto colourOf = [&](qint32 node) { return colour.data() + size_t(node) * 3; };
    // The colour of any fb-block: a node's, or the mean of the pixels of one outside the band.
    const auto blockColour = [&](int ux, int uy, float *c) {
        const qint32 node = nodeOf(ux, uy);
        if (node >= 0) {
            std::copy_n(colourOf(node), 3, c);
            return;
        }
        const int x0 = ux * fb, y0 = uy * fb;
        const int x1 = std::min(W, x0 + fb), y1 = std::min(H, y0 + fb);
        quint64 sum[3] = {};
        for (int y = y0; y < y1; ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(photo.constScanLine(y));
            for (int x = x0; x < x1; ++x) {
                sum[0] += quint64(qRed(line[x]));
                sum[1] += quint64(qGreen(line[x]));
                sum[2] += quint64(qBlue(line[x]));
            }
        }
        const double count = double(x1 - x0) * (y1 - y0);
        for (int i = 0; i < 3; ++i)
            c[i] = float(double(sum[i]) / count);
    };

    // The models refitted to the band, each node labelled as `from` or its marks say and
    // given to its likeliest component; summed in node order.
    {
        std::vector<uchar> component(static_cast<size_t>(nodes));
        std::vector<uchar> learnKeep(static_cast<size_t>(nodes));
        Parallel::forRange(blockCount, grain, [&](qint64 begin, qint64 end) {
            forBlocks(begin, end, [&](int ux, int uy, qint32 node) {
                const uchar s = seed[size_t(node)];
                const bool keep = s == KeepSeed || (s != RemoveSeed && fromKeep(ux, uy));
                int k = 0;
                (keep ? keepModel : removeModel).cost(colourOf(node), &k);
                component[size_t(node)] = uchar(k);
                learnKeep[size_t(node)] = keep;
            });
        });
        ColourMixture::Moments keepMoments, removeMoments;
        for (qint64 node = 0; node < nodes; ++node)
            (learnKeep[size_t(node)] ? keepMoments : removeMoments).add(component[size_t(node)], colourOf(qint32(node)));
        ColourMixture refitted;
        refitted.fit(keepMoments);
        if (!refitted.isEmpty())
            keepModel = refitted;
        refitted.fit(removeMoments);
        if (!refitted.isEmpty())
            removeModel = refitted;
    }

    // The contrast across the band, summed block by block and then in block order.
    std::vector<double> blockSums(blocks.size(), 0.0);
    std::vector<qint64> blockSteps(blocks.size(), 0);
    Parallel::forRange(blockCount, grain, [&](qint64 begin, qint64 end) {
        for (qint64 i = begin; i < end; ++i) {
            double sum = 0;
            qint64 steps = 0;
            forBlocks(i, i + 1, [&](int ux, int uy, qint32 node) {
                for (int k = 0; k < 4; ++k) {
                    const int qx = ux + around[k].dx, qy = uy + around[k].dy;
                    if (qx < 0 || qx >= to.w || qy >= to.h)
                        continue;
                    float d[3];
                    blockColour(qx, qy, d);
                    sum += squaredStep(colourOf(node), d);
                    ++steps;
                }
            });
            blockSums[size_t(i)] = sum;
            blockSteps[size_t(i)] = steps;
        }
    });
    double stepSum = 0;
    qint64 steps = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        stepSum += blockSums[i];
        steps += blockSteps[i];
    }
    const double beta = steps > 0 && stepSum > 0 ? steps / (2.0 * stepSum) : 0.0;

    // Each node's terminal capacities (its colour costs, and the boundary terms with the
    // fixed blocks around the band) and its edges to the band blocks ahead of it.
    std::vector<MaxFlow::Capacity> terminal(size_t(nodes) * 2);
    std::vector<MaxFlow::Capacity> ahead(size_t(nodes) * 4, -1);
    Parallel::forRange(blockCount, grain, [&](qint64 begin, qint64 end) {
        forBlocks(begin, end, [&](int ux, int uy, qint32 node) {
            const float *c = colourOf(node);
            double toKeep = 0, toRemove = 0;
            for (int k = 0; k < 8; ++k) {
                const int qx = ux + around[k].dx, qy = uy + around[k].dy;
                if (qx < 0 || qx >= to.w || qy < 0 || qy >= to.h)
                    continue;
                const qint32 other = nodeOf(qx, qy);
                if (other >= 0 && k >= 4)
                    continue; // that node's edge ahead
                float d[3];
                blockColour(qx, qy, d);
                const double w = smoothness * std::exp(-beta * squaredStep(c, d)) / around[k].length;
                if (other >= 0)
                    ahead[size_t(node) * 4 + k] = capacityOf(w);
                else if (fromKeep(qx, qy))
                    toKeep += w; // removing this block would cut the kept one beside it
                else
                    toRemove += w;
            }
            MaxFlow::Capacity *t = &terminal[size_t(node) * 2];
            const uchar s = seed[size_t(node)];
            if (s == KeepSeed) {
                t[0] = MaxFlow::infinite;
                t[1] = 0;
            } else if (s == RemoveSeed) {
                t[0] = 0;
                t[1] = MaxFlow::infinite;
            } else {
                const double keepCost = std::min(keepModel.cost(c), costCeiling);
                const double removeCost = std::min(removeModel.cost(c), costCeiling);
                const double base = std::min(keepCost, removeCost);
                t[0] = capacityOf(removeCost - base + toKeep);
                t[1] = capacityOf(keepCost - base + toRemove);
            }
        });
    });

    MaxFlow graph{int(nodes)};
    forBlocks(0, blockCount, [&](int ux, int uy, qint32 node) {
        for (int k = 0; k < 4; ++k) {
            const MaxFlow::Capacity w = ahead[size_t(node) * 4 + k];
            if (w >= 0)
                graph.addEdge(node, nodeOf(ux + around[k].dx, uy + around[k].dy), w, w);
        }
        graph.addTerminal(node, terminal[size_t(node) * 2], terminal[size_t(node) * 2 + 1]);
    });
    ahead = {};
    terminal = {};
    graph.solve();

    // Kept band blocks must hang together with the kept blocks around the band or with a
    // keep mark, as the star shape made them on the reduced copy.
    std::vector<uchar> kept(static_cast<size_t>(nodes));
    for (qint64 i = 0; i < nodes; ++i)
        kept[size_t(i)] = graph.inSourceSet(int(i)) ? 1 : 0;
    std::vector<uchar> joined(size_t(nodes), 0);
    std::vector<qint32> stack;
    std::vector<QPoint> positions(static_cast<size_t>(nodes));
    forBlocks(0, blockCount, [&](int ux, int uy, qint32 node) {
        positions[size_t(node)] = QPoint(ux, uy);
        if (!kept[size_t(node)])
            return;
        bool anchored = seed[size_t(node)] == KeepSeed;
        for (int k = 0; k < 8 && !anchored; ++k) {
            const int qx = ux + around[k].dx, qy = uy + around[k].dy;
            anchored = qx >= 0 && qx < to.w && qy >= 0 && qy < to.h && nodeOf(qx, qy) < 0 && fromKeep(qx, qy);
        }
        if (anchored) {
            joined[size_t(node)] = 1;
            stack.push_back(node);
        }
    });
    while (!stack.empty()) {
        const qint32 node = stack.back();
        stack.pop_back();
        const QPoint p = positions[size_t(node)];
        for (int k = 0; k < 8; ++k) {
            const int qx = p.x() + around[k].dx, qy = p.y() + around[k].dy;
            if (qx < 0 || qx >= to.w || qy < 0 || qy >= to.h)
                continue;
            const qint32 other = nodeOf(qx, qy);
            if (other >= 0 && kept[size_t(other)] && !joined[size_t(other)]) {
                joined[size_t(other)] = 1;
                stack.push_back(other);
            }
        }
    }

    if (fb == 1) {
        forBlocks(0, blockCount, [&](int ux, int uy, qint32 node) {
            plane[qsizetype(uy) * W + ux] = uchar(SettledInBand | (joined[size_t(node)] ? 1 : 0));
        });
        return {};
    }
    // The next level: the blocks of `from` split, the band's as cut.
    const size_t count = size_t(to.w) * to.h;
    to.keep.resize(count);
    to.refined.resize(count);
    to.mixed.assign(count, 0);
    Parallel::forRange(to.h, 64, [&](qint64 begin, qint64 end) {
        for (qint64 uy = begin; uy < end; ++uy) {
            for (int ux = 0; ux < to.w; ++ux) {
                const size_t a = size_t(uy / r) * from.w + ux / r;
                to.keep[size_t(uy) * to.w + ux] = from.keep[a];
                to.refined[size_t(uy) * to.w + ux] = from.refined[a];
            }
        }
    });
    forBlocks(0, blockCount, [&](int ux, int uy, qint32 node) {
        const size_t u = size_t(uy) * to.w + ux;
        to.keep[u] = joined[size_t(node)];
        to.refined[u] = 1;
        to.mixed[u] = seed[size_t(node)] == MixedSeed;
    });
    return to;
}

// The final label of every pixel into the plane: 1 keep, 0 remove.
void settleLabels(uchar *plane, int W, int H, const Level &level)
{
    Parallel::forRange(H, 64, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y) {
            uchar *row = plane + y * W;
            const uchar *blocks = level.keep.data() + (y / level.f) * level.w;
            for (int x = 0; x < W; ++x)
                row[x] = (row[x] & SettledInBand) ? (row[x] & 1) : blocks[x / level.f];
        }
    });
}

// The pixels whose byte is 1, as y * W + x column by column.
QList<qint32> keepIndicesOf(const uchar *plane, int W, int H)
{
    return pickedInColumnOrder(
        W, H,
        [&](int y, quint32 *counts) {
            const uchar *row = plane + qsizetype(y) * W;
            for (int x = 0; x < W; ++x)
                counts[x] += row[x];
        },
        [&](int y, int x0, int n, qint32 index, qint64 *cursor, qint32 *out) {
            const uchar *row = plane + qsizetype(y) * W + x0;
            for (int i = 0; i < n; ++i) {
                if (row[i])
                    out[cursor[i]++] = index + i;
            }
        });
}

QImage greyImage(int w, int h)
{
    QImage image(w, h, QImage::Format_Indexed8);
    if (!image.isNull())
        image.setColorTable(greyColourTable());
    return image;
}

QList<qint32> isolatePrecise(const QImage &photoIn, const MarkerSet &markers, const IsolationHooks &hooks,
                             PreciseStages *stages)
{
    StageClock clock(hooks.stageTimer);
    const QImage photo = photoIn.isNull() || photoIn.format() == QImage::Format_ARGB32
                             || photoIn.format() == QImage::Format_RGB32
                             ? photoIn
                             : photoIn.convertToFormat(QImage::Format_ARGB32);
    const int W = photo.width();
    const int H = photo.height();
    if (photo.isNull() || !markerSetHasKeepPoint(markers, W, H))
        return {};
    const MarkSquares marks(markers, W, H);
    LargeBuffer plane = seedPlane(marks, W, H);
    if (plane.isNull())
        return {};
    clock.finish("seeds");
    if (hooks.progress)
        hooks.progress(10);

    const qint64 pixels = qint64(W) * H;
    const int f = blockSizeFor(int(std::ceil(std::sqrt(double(pixels) / coarseArea))));
    const Grid grid = reducedGrid(photo, plane.data(), f);
    clock.finish("coarse");
    if (hooks.progress)
        hooks.progress(30);

    GridCut coarse = cutGrid(grid, hooks.progress);
    clock.finish("cut");
    // A run the caller gave up on stops between its stages: its result is never used.
    const auto cancelled = [&] { return hooks.cancelled && hooks.cancelled(); };
    if (cancelled())
        return {};

    // Bands of smaller blocks down to single pixels, each along the outline of the last.
    Level level;
    level.f = f;
    level.w = grid.w;
    level.h = grid.h;
    level.keep = coarse.keep;
    level.refined.assign(coarse.keep.size(), 0);
    level.mixed.resize(coarse.keep.size());
    for (size_t p = 0; p < level.mixed.size(); ++p)
        level.mixed[p] = grid.seed[p] == MixedSeed;
    while (level.f > 1) {
        if (cancelled())
            return {};
        const int next = nextBlockSize(level.f);
        Level finer = cutBand(photo, plane.data(), level, next, coarse.keepModel, coarse.removeModel);
        if (next == 1)
            break;
        if (finer.keep.empty())
            break; // a band too large to cut: the blocks stay as they are
        level = std::move(finer);
    }
    clock.finish("band");

    if (stages) {
        const qsizetype n = qsizetype(grid.w) * grid.h;
        stages->colourShare = greyImage(grid.w, grid.h);
        stages->distance = greyImage(grid.w, grid.h);
        float farthest = 0;
        for (float d : coarse.distance) {
            if (d < std::numeric_limits<float>::infinity())
                farthest = std::max(farthest, d);
        }
        for (qsizetype p = 0; p < n; ++p) {
            const int x = int(p % grid.w), y = int(p / grid.w);
            const double share = 1.0 / (1.0 + std::exp(double(coarse.costs.keep[size_t(p)]) - coarse.costs.remove[size_t(p)]));
            stages->colourShare.scanLine(y)[x] = uchar(std::lround(255 * share));
            const float d = coarse.distance[size_t(p)];
            stages->distance.scanLine(y)[x] =
                d < std::numeric_limits<float>::infinity() && farthest > 0 ? uchar(std::lround(255 * d / farthest)) : 255;
        }
        stages->decision = greyImage(W, H);
        for (int y = 0; y < H; ++y) {
            const uchar *row = plane.data() + qsizetype(y) * W;
            uchar *out = stages->decision.scanLine(y);
            for (int x = 0; x < W; ++x) {
                const size_t block = size_t(y / level.f) * level.w + x / level.f;
                out[x] = (row[x] & SettledInBand) ? uchar(2 + (row[x] & 1))
                                                  : uchar(2 * level.refined[block] + level.keep[block]);
            }
        }
    }

    settleLabels(plane.data(), W, H, level);
    QList<qint32> keepPixels = keepIndicesOf(plane.data(), W, H);
    clock.finish("keep");
    if (hooks.progress)
        hooks.progress(100);
    return keepPixels;
}

} // namespace

QList<qint32> preciseKeepPixels(const QImage &photo, const MarkerSet &markers, const IsolationHooks &hooks)
{
    return isolatePrecise(photo, markers, hooks, nullptr);
}

PreciseStages preciseByStages(const QImage &photo, const MarkerSet &markers, const IsolationHooks &hooks)
{
    PreciseStages stages;
    stages.keepPixels = isolatePrecise(photo, markers, hooks, &stages);
    return stages;
}
