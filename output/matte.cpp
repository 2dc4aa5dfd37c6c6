#include "output/matte.h"

#include <QElapsedTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "analysis/largebuffer.h"
#include "analysis/parallel.h"

// The blur's bytes depend on the order of the floating-point sums, so every path below
// goes through blurChannel / blurTaps, or a table built with them, which add the
// symmetric pairs nearest first (as integers), the centre last, and truncate once.
//
// Mattes are mostly flat with a thin outline. A pixel whose whole (2r + 1)^2 neighbourhood
// holds one value keeps it through both passes, so only blocks of pixels near a change are
// computed; the horizontal pass is worked out lazily for the rows and blocks those need.
// Pixels are handled as 32-bit values and their channels taken by shifts, so nothing
// depends on the order of the bytes in memory.

namespace {

constexpr quint32 whitePixel = 0xFFFFFFFFu;
constexpr quint32 blackPixel = 0xFF000000u;

// Windows of up to this many taps that hold only matte black and white are looked up in a
// table indexed by which taps are white (2^15 bytes at most).
constexpr int maxTableTaps = 15;

// Pixels per block of the blur's change map.
constexpr int blockPixels = 16;

// The matte is filled and painted in tiles of this many rows by a cache line of columns.
constexpr int matteBandRows = 32;
constexpr int tileColumns = 16;

inline int channel(quint32 pixel, int shift)
{
    return int((pixel >> shift) & 0xFFu);
}

inline quint32 greyOpaque(quint32 v)
{
    return 0xFF000000u | (v * 0x010101u);
}

// One channel of one output pixel from taps at centre[k * stride], k = -r .. r. A channel
// whose taps all hold one value keeps it, so flat areas stay flat.
inline quint32 blurChannel(const double *w, int r, const quint32 *centre, qsizetype stride, int shift)
{
    const int c = channel(centre[0], shift);
    bool flat = true;
    double sum = 0.0;
    for (int k = 1; k <= r; ++k) {
        const int before = channel(centre[-k * stride], shift);
        const int after = channel(centre[k * stride], shift);
        flat = flat && before == c && after == c;
        sum += w[r + k] * (before + after);
    }
    if (flat)
        return quint32(c);
    sum += w[r] * c;
    return quint32(uchar(sum));
}

// The same with tap k (0 .. 2r) of column x in its own row, taps[k][x].
inline quint32 blurTaps(const double *w, int r, const quint32 *const *taps, int x, int shift)
{
    const int c = channel(taps[r][x], shift);
    bool flat = true;
    double sum = 0.0;
    for (int k = 1; k <= r; ++k) {
        const int before = channel(taps[r - k][x], shift);
        const int after = channel(taps[r + k][x], shift);
        flat = flat && before == c && after == c;
        sum += w[r + k] * (before + after);
    }
    if (flat)
        return quint32(c);
    sum += w[r] * c;
    return quint32(uchar(sum));
}

struct Kernel
{
    QVector<double> weights;
    int r = 0;
    int taps = 0;
    // Blue (= green = red) channel of a window of matte pixels; bit j set when the tap at
    // offset r - j is white.
    std::vector<uchar> table;
};

void buildTable(Kernel &kernel)
{
    const int taps = kernel.taps;
    const int r = kernel.r;
    if (taps > maxTableTaps)
        return;
    kernel.table.resize(size_t(1) << taps);
    std::vector<quint32> window(static_cast<size_t>(taps));
    for (quint32 pattern = 0; pattern < (quint32(1) << taps); ++pattern) {
        for (int offset = -r; offset <= r; ++offset)
            window[size_t(offset + r)] = (pattern >> (r - offset)) & 1u ? whitePixel : blackPixel;
        kernel.table[pattern] = uchar(blurChannel(kernel.weights.constData(), r, window.data() + r, 1, 0));
    }
}

// Horizontal pass of one row for columns xa .. xb - 1 (all within r .. W - r - 1).
void horizontalSpan(const quint32 *in, quint32 *out, int xa, int xb, const Kernel &kernel)
{
    const int r = kernel.r;
    const double *w = kernel.weights.constData();
    auto generic = [&](int x) {
        quint32 value = 0;
        for (int shift = 0; shift < 32; shift += 8)
            value |= blurChannel(w, r, in + x, 1, shift) << shift;
        out[x] = value;
    };
    if (kernel.table.empty()) {
        for (int x = xa; x < xb; ++x)
            generic(x);
        return;
    }
    const uchar *table = kernel.table.data();
    const quint32 fullMask = (quint32(1) << kernel.taps) - 1;
    auto foreign = [](quint32 p) { return p != whitePixel && p != blackPixel ? 1 : 0; };
    quint32 pattern = 0;
    int foreigners = 0;
    for (int i = xa - r; i <= xa + r; ++i) {
        pattern = (pattern << 1) | (in[i] == whitePixel ? 1u : 0u);
        foreigners += foreign(in[i]);
    }
    for (int x = xa; x < xb; ++x) {
        if (foreigners == 0)
            out[x] = greyOpaque(table[pattern]);
        else
            generic(x);
        if (x + 1 < xb) { // slide the window by one
            const quint32 entering = in[x + r + 1];
            pattern = ((pattern << 1) | (entering == whitePixel ? 1u : 0u)) & fullMask;
            foreigners += foreign(entering) - foreign(in[x - r]);
        }
    }
}

// Rows [first, first + count) of the source, copied before any band writes into it.
struct Halo
{
    int first = 0;
    int count = 0;
    std::vector<quint32> pixels;
};

struct BlurJob
{
    const Kernel *kernel = nullptr;
    int W = 0;
    int H = 0;
    const uchar *source = nullptr;
    qsizetype sourceStride = 0;
    uchar *destination = nullptr;
    qsizetype destinationStride = 0;
    bool inPlace = false;
};

// Output rows y0 .. y1 - 1 (within r .. H - r - 1). In place, the rows of the neighbouring
// bands come from their halos, and each output row is held back until no later row of
// this band reads it as source.
void blurBand(const BlurJob &job, int y0, int y1, const Halo *above, const Halo *below)
{
    const Kernel &kernel = *job.kernel;
    const int W = job.W;
    const int r = kernel.r;
    const int taps = kernel.taps;
    const double *w = kernel.weights.constData();
    const int blocks = (W + blockPixels - 1) / blockPixels;
    const int spread = (r + blockPixels - 1) / blockPixels;

    auto sourceRow = [&](int j) -> const quint32 * {
        if (job.inPlace) {
            if (j < y0 && above)
                return above->pixels.data() + size_t(j - above->first) * size_t(W);
            if (j >= y1 && below)
                return below->pixels.data() + size_t(j - below->first) * size_t(W);
        }
        return reinterpret_cast<const quint32 *>(job.source + j * job.sourceStride);
    };

    // lastChange[b]: the newest source row seen whose pixels near block b differ from their
    // left or upper neighbours.
    std::vector<int> lastChange(size_t(blocks), INT_MIN / 2);
    std::vector<uchar> changed(static_cast<size_t>(blocks));
    auto markRow = [&](int j) {
        const quint32 *row = sourceRow(j);
        const quint32 *up = j > y0 - r ? sourceRow(j - 1) : row;
        for (int b = 0; b < blocks; ++b) {
            const int xa = b * blockPixels;
            const int xb = std::min(W, xa + blockPixels);
            quint32 any = 0;
            for (int x = std::max(xa, 1); x < xb; ++x)
                any |= (row[x] ^ row[x - 1]) | (row[x] ^ up[x]);
            if (xa == 0)
                any |= row[0] ^ up[0];
            changed[size_t(b)] = any != 0;
        }
        // A change reaches the windows of up to r pixels on either side.
        int inReach = 0;
        for (int b = 0; b < std::min(spread, blocks); ++b)
            inReach += changed[size_t(b)];
        for (int b = 0; b < blocks; ++b) {
            if (b + spread < blocks)
                inReach += changed[size_t(b + spread)];
            if (inReach > 0)
                lastChange[size_t(b)] = j;
            if (b - spread >= 0)
                inReach -= changed[size_t(b - spread)];
        }
    };

    // The horizontal pass, worked out for a block of a row when first needed.
    std::vector<quint32> ring(size_t(taps) * size_t(W));
    std::vector<int> stamp(size_t(taps) * size_t(blocks), INT_MIN);
    auto intermediateRow = [&](int j, int b) {
        const int slot = j % taps;
        quint32 *row = ring.data() + size_t(slot) * size_t(W);
        int &done = stamp[size_t(slot) * size_t(blocks) + size_t(b)];
        if (done != j) {
            const int xa = std::max(r, b * blockPixels);
            const int xb = std::min(W - r, (b + 1) * blockPixels);
            if (xa < xb)
                horizontalSpan(sourceRow(j), row, xa, xb, kernel);
            done = j;
        }
        return row;
    };

    // In place: computed blocks of the last r + 1 output rows, written back r rows late.
    const int pendingRows = job.inPlace ? r + 1 : 0;
    std::vector<quint32> pending(size_t(pendingRows) * size_t(W));
    std::vector<std::vector<int>> pendingBlocks(static_cast<size_t>(pendingRows));
    auto flush = [&](int y) {
        const int slot = y % pendingRows;
        const quint32 *from = pending.data() + size_t(slot) * size_t(W);
        quint32 *to = reinterpret_cast<quint32 *>(job.destination + y * job.destinationStride);
        for (int b : pendingBlocks[size_t(slot)]) {
            const int xa = std::max(r, b * blockPixels);
            const int xb = std::min(W - r, (b + 1) * blockPixels);
            std::memcpy(to + xa, from + xa, size_t(xb - xa) * sizeof(quint32));
        }
        pendingBlocks[size_t(slot)].clear();
    };

    for (int j = y0 - r; j < y0 + r; ++j)
        markRow(j);
    std::vector<const quint32 *> column(static_cast<size_t>(taps));
    for (int y = y0; y < y1; ++y) {
        markRow(y + r);
        quint32 *out;
        std::vector<int> *computed = nullptr;
        if (job.inPlace) {
            out = pending.data() + size_t(y % pendingRows) * size_t(W);
            computed = &pendingBlocks[size_t(y % pendingRows)];
        } else {
            out = reinterpret_cast<quint32 *>(job.destination + y * job.destinationStride);
        }
        for (int b = 0; b < blocks; ++b) {
            if (lastChange[size_t(b)] < y - r)
                continue; // the neighbourhood of every pixel in the block is flat
            const int xa = std::max(r, b * blockPixels);
            const int xb = std::min(W - r, (b + 1) * blockPixels);
            if (xa >= xb)
                continue;
            for (int k = 0; k < taps; ++k)
                column[size_t(k)] = intermediateRow(y - r + k, b);
            const quint32 *const *t = column.data();
            for (int x = xa; x < xb; ++x) {
                bool grey = true;
                for (int k = 0; k < taps && grey; ++k)
                    grey = t[k][x] == greyOpaque(t[k][x] & 0xFFu);
                if (grey) { // blue, green and red see the same taps; alpha is flat
                    out[x] = greyOpaque(blurTaps(w, r, t, x, 0));
                } else {
                    quint32 value = 0;
                    for (int shift = 0; shift < 32; shift += 8)
                        value |= blurTaps(w, r, t, x, shift) << shift;
                    out[x] = value;
                }
            }
            if (computed)
                computed->push_back(b);
        }
        if (job.inPlace && y - r >= y0)
            flush(y - r);
    }
    if (job.inPlace)
        for (int y = std::max(y0, y1 - r); y < y1; ++y)
            flush(y);
}

// The progress the two passes reported row by row, repeated values left out.
void reportBlurProgress(int H, int r, const ProgressCallback &progress)
{
    if (!progress)
        return;
    int last = -1;
    auto report = [&](int value) {
        if (value != last)
            progress(value);
        last = value;
    };
    for (int y = 0; y < H; ++y)
        report(int((45 * qint64(y)) / H));
    for (int y = r; y < H - r; ++y)
        report(45 + int((45 * qint64(y)) / H));
}

bool validKernel(int s, double sigma)
{
    return s >= 1 && sigma > 0.0 && std::isfinite(sigma);
}

void blur(const uchar *source, qsizetype sourceStride, uchar *destination, qsizetype destinationStride,
          int W, int H, int s, double sigma, const ProgressCallback &progress)
{
    if (!validKernel(s, sigma))
        return;
    // r = s / 2 for odd and even sizes alike. The kernel is built only when some pixel gets
    // output: a size from a hand-edited store may be larger than memory.
    const int r = s / 2;
    Kernel kernel;
    // Output needs both passes: columns and rows r .. size - r - 1. With r = 0 every
    // window is flat.
    if (r > 0 && W > 2 * r && H > 2 * r) {
        kernel.weights = gaussianWeights(s, sigma);
        kernel.taps = int(kernel.weights.size());
        kernel.r = r;
        buildTable(kernel);
        BlurJob job;
        job.kernel = &kernel;
        job.W = W;
        job.H = H;
        job.source = source;
        job.sourceStride = sourceStride;
        job.destination = destination;
        job.destinationStride = destinationStride;
        job.inPlace = source == destination;

        const int rows = H - 2 * r;
        const int minimumBand = 32;
        const int parts = std::max(1, std::min(Parallel::threadCount(), rows / minimumBand));
        std::vector<int> bandStart(size_t(parts) + 1);
        for (int p = 0; p <= parts; ++p)
            bandStart[size_t(p)] = r + int(qint64(rows) * p / parts);
        // In place, every band reads up to r rows of its neighbours, which they overwrite.
        std::vector<Halo> halos(size_t(parts) + 1);
        if (job.inPlace) {
            for (int p = 1; p < parts; ++p) {
                Halo &halo = halos[size_t(p)];
                halo.first = std::max(0, bandStart[size_t(p)] - r);
                halo.count = std::min(H, bandStart[size_t(p)] + r) - halo.first;
                halo.pixels.resize(size_t(halo.count) * size_t(W));
                for (int i = 0; i < halo.count; ++i)
                    std::memcpy(halo.pixels.data() + size_t(i) * size_t(W),
                                source + (halo.first + i) * sourceStride, size_t(W) * 4);
            }
        }
        Parallel::forRange(parts, 1, [&](qint64 begin, qint64 end) {
            for (qint64 p = begin; p < end; ++p)
                blurBand(job, bandStart[size_t(p)], bandStart[size_t(p) + 1],
                         p > 0 ? &halos[size_t(p)] : nullptr,
                         p + 1 < parts ? &halos[size_t(p) + 1] : nullptr);
        });
    }
    reportBlurProgress(H, r, progress);
}

// Paints the keep pixels black into a matte of contiguous rows, filled white tile by tile
// just before. The list comes column by column from the isolation; walking it in that
// order would touch one row (and page) per pixel, so each band of rows takes, column by
// column, the run of list entries that falls into it. Correctness rests on nothing but the
// checks: an entry outside the band or column it was found in, or runs that do not add up
// to the whole list, leave the rest to a plain pass over the list.
void paintMatte(quint32 *pixels, int W, int H, const QList<qint32> &keepPixels)
{
    const qint32 *list = keepPixels.constData();
    const qsizetype n = keepPixels.size();
    const qint64 count = qint64(W) * H;

    // Where each column's entries begin, if the list is in column order.
    std::vector<qsizetype> columnStart(size_t(W) + 1);
    Parallel::forRange(W + 1, 512, [&](qint64 begin, qint64 end) {
        for (qint64 x = begin; x < end; ++x)
            columnStart[size_t(x)] = std::lower_bound(list, list + n, x, [W](qint32 v, qint64 column) {
                                         return v % W < column;
                                     }) - list;
    });
    columnStart[0] = 0;
    columnStart[size_t(W)] = n;
    for (int x = 1; x < W; ++x)
        columnStart[size_t(x)] = std::clamp(columnStart[size_t(x)], columnStart[size_t(x) - 1], n);

    // v mod W without a division, exact for 0 <= v < 2^31: v div W = (v * m) >> (31 + l).
    int l = 0;
    while ((qint64(1) << l) < W)
        ++l;
    const quint64 m = ((quint64(1) << (31 + l)) / quint64(W)) + 1;
    const auto column = [W, m, l](qint32 v) {
        return int(v - qint64((quint64(quint32(v)) * m) >> (31 + l)) * W);
    };

    const int parts = std::max(1, std::min(Parallel::threadCount(), H / matteBandRows));
    std::vector<int> partStart(size_t(parts) + 1);
    for (int p = 0; p <= parts; ++p)
        partStart[size_t(p)] = int(qint64(H) * p / parts);
    // first[p][x]: where part p starts in column x's entries; last[p][x]: where it stopped.
    std::vector<qsizetype> first(size_t(parts) * size_t(W));
    std::vector<qsizetype> last(size_t(parts) * size_t(W));
    std::vector<char> outOfPlace(size_t(parts), 0);

    Parallel::forRange(parts, 1, [&](qint64 begin, qint64 end) {
        for (qint64 p = begin; p < end; ++p) {
            const int y0 = partStart[size_t(p)];
            const int y1 = partStart[size_t(p) + 1];
            const qint64 lowest = qint64(y0) * W;
            qsizetype *cursor = last.data() + size_t(p) * size_t(W);
            qsizetype *start = first.data() + size_t(p) * size_t(W);
            for (int x = 0; x < W; ++x) {
                const qint32 *from = list + columnStart[size_t(x)];
                const qint32 *to = list + columnStart[size_t(x) + 1];
                start[x] = cursor[x] = std::lower_bound(from, to, lowest) - list;
            }
            bool stray = false;
            for (int band = y0; band < y1; band += matteBandRows) {
                const int bandEnd = std::min(y1, band + matteBandRows);
                const qint64 limit = qint64(bandEnd) * W;
                // A tile of columns at a time, filled and painted while in the cache; the
                // next tile's list entries are asked for ahead, as each column's lie apart.
                for (int x0 = 0; x0 < W; x0 += tileColumns) {
                    const int x1 = std::min(W, x0 + tileColumns);
                    for (int x = x1; x < std::min(W, x1 + tileColumns) && n > 0; ++x)
                        __builtin_prefetch(list + std::min(cursor[x], n - 1));
                    for (int y = band; y < bandEnd; ++y)
                        std::fill(pixels + qint64(y) * W + x0, pixels + qint64(y) * W + x1, whitePixel);
                    for (int x = x0; x < x1; ++x) {
                        qsizetype c = cursor[x];
                        const qsizetype columnEnd = columnStart[size_t(x) + 1];
                        while (c < columnEnd && list[c] < limit) {
                            const qint32 v = list[c++];
                            // Another column's pixel would be painted over by its tile's fill.
                            if (v >= lowest && column(v) == x)
                                pixels[v] = blackPixel;
                            else
                                stray = true;
                        }
                        cursor[x] = c;
                    }
                }
            }
            outOfPlace[size_t(p)] = stray;
        }
    });

    bool complete = std::none_of(outOfPlace.begin(), outOfPlace.end(), [](char c) { return c != 0; });
    for (int x = 0; x < W && complete; ++x) {
        complete = first[size_t(x)] == columnStart[size_t(x)];
        for (int p = 0; p < parts && complete; ++p) {
            const qsizetype next = p + 1 < parts ? first[size_t(p + 1) * size_t(W) + size_t(x)]
                                                 : columnStart[size_t(x) + 1];
            complete = last[size_t(p) * size_t(W) + size_t(x)] == next;
        }
    }
    if (complete)
        return;
    for (qsizetype i = 0; i < n; ++i) {
        const qint32 v = list[i];
        if (v >= 0 && v < count)
            pixels[v] = blackPixel;
    }
}

} // namespace

QImage buildMatte(const QList<qint32> &keepPixels, int W, int H)
{
    if (W <= 0 || H <= 0)
        return QImage();
    QImage matte = LargeBuffer::image(QSize(W, H), QImage::Format_ARGB32);
    if (matte.isNull() || matte.bytesPerLine() != qsizetype(W) * 4)
        return QImage();
    paintMatte(reinterpret_cast<quint32 *>(matte.bits()), W, H, keepPixels);
    return matte;
}

QVector<double> gaussianWeights(int s, double sigma)
{
    QVector<double> w;
    if (!validKernel(s, sigma))
        return w;
    const int taps = s % 2 == 0 ? s + 1 : s;
    const int r = taps / 2;
    w.resize(taps);
    double sum = 0.0;
    for (int i = 0; i < taps; ++i) {
        const double d = i - r;
        w[i] = std::sqrt(std::exp(-(d * d) / (2 * sigma * sigma)) / (6.283 * sigma * sigma));
    }
    for (int i = 0; i < taps; ++i)
        sum += w[i];
    for (int i = 0; i < taps; ++i)
        w[i] /= sum;
    return w;
}

void gaussianBlur(const QImage &source, QImage &destination, int s, double sigma,
                  const ProgressCallback &progress)
{
    if (source.depth() != 32 || destination.depth() != 32 || source.size() != destination.size())
        return;
    if (!validKernel(s, sigma))
        return;
    uchar *to = destination.bits(); // may detach; the same buffer only when both are one image
    blur(source.constBits(), source.bytesPerLine(), to, destination.bytesPerLine(), source.width(),
         source.height(), s, sigma, progress);
}

QImage smoothedMatte(const QList<qint32> &keepPixels, int W, int H, bool smooth, int gaussSize,
                     const ProgressCallback &progress, const StageTimer &stageTimer)
{
    QElapsedTimer timer;
    timer.start();
    QImage matte = buildMatte(keepPixels, W, H);
    if (stageTimer)
        stageTimer("matte", timer.nsecsElapsed());
    if (!smooth || gaussSize < 1 || matte.isNull())
        return matte;

    timer.restart();
    // Blurred where it lies: the unsmoothed matte is not needed afterwards.
    uchar *bits = matte.bits();
    blur(bits, matte.bytesPerLine(), bits, matte.bytesPerLine(), W, H, gaussSize, gaussSize / 5.0,
         progress);
    if (stageTimer)
        stageTimer("blur", timer.nsecsElapsed());
    return matte;
}

namespace {

QImage cutoutInto(const QImage &photo, const QImage &matte, QImage *reusable)
{
    if (photo.isNull())
        return QImage();
    QImage source = photo;
    if (source.format() != QImage::Format_ARGB32 && source.format() != QImage::Format_RGB32)
        source = source.convertToFormat(QImage::Format_ARGB32);
    // RGB32 keeps 0xff in the unused byte; forcing it costs nothing and makes sure.
    const quint32 opaque = source.format() == QImage::Format_RGB32 ? 0xFF000000u : 0u;
    // The opacity comes from the matte's blue channel, read from whole pixels of a format
    // that holds blue there.
    QImage alphaMatte = matte;
    if (!alphaMatte.isNull() && alphaMatte.format() != QImage::Format_ARGB32
        && alphaMatte.format() != QImage::Format_RGB32)
        alphaMatte = alphaMatte.convertToFormat(QImage::Format_ARGB32);

    const int W = source.width();
    const int H = source.height();
    QImage cutout;
    const bool inPlace = reusable && alphaMatte.size() == source.size()
                         && alphaMatte.format() == QImage::Format_ARGB32;
    if (inPlace) {
        // Each pixel is read before it is written: the matte can become the cut-out.
        cutout = std::move(alphaMatte);
        *reusable = QImage();
    } else {
        cutout = LargeBuffer::image(QSize(W, H), QImage::Format_ARGB32);
    }
    if (cutout.isNull())
        return cutout;
    uchar *const bits = cutout.bits(); // copies only if the matte is still shared elsewhere
    const qsizetype stride = cutout.bytesPerLine();
    const QImage &alphaSource = inPlace ? cutout : alphaMatte;
    const int matteW = alphaSource.isNull() ? 0 : std::min(W, alphaSource.width());
    const int matteH = alphaSource.isNull() ? 0 : std::min(H, alphaSource.height());
    const uchar *const matteBits = inPlace ? bits : alphaSource.constBits();
    const qsizetype matteStride = alphaSource.bytesPerLine();

    Parallel::forRange(H, 64, [&](qint64 begin, qint64 end) {
        for (int y = int(begin); y < int(end); ++y) {
            const quint32 *in = reinterpret_cast<const quint32 *>(source.constScanLine(y));
            quint32 *out = reinterpret_cast<quint32 *>(bits + y * stride);
            int x = 0;
            if (y < matteH) {
                const quint32 *m = reinterpret_cast<const quint32 *>(matteBits + y * matteStride);
                for (; x < matteW; ++x)
                    out[x] = (in[x] & 0x00FFFFFFu) | (quint32(255 - qBlue(m[x])) << 24);
            }
            for (; x < W; ++x)
                out[x] = in[x] | opaque;
        }
    });
    return cutout;
}

} // namespace

QImage buildCutout(const QImage &photo, const QImage &matte)
{
    return cutoutInto(photo, matte, nullptr);
}

QImage buildCutout(const QImage &photo, QImage &&matte)
{
    return cutoutInto(photo, matte, &matte);
}
