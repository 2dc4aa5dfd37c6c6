#include "output/matte.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

// The blur's bytes depend on the order of the floating-point sums, so every path below
// (table, plain, either pass) goes through blurByte or replays its exact operations.
// Mattes are mostly flat with a thin outline: windows whose taps are all equal keep their
// value, so only pixels within r of a change need arithmetic at all.

namespace {

constexpr quint32 whitePixel = 0xFFFFFFFFu;
constexpr quint32 blackPixel = 0xFF000000u;

// Windows of up to this many taps that hold only matte black and white are looked up in a
// table indexed by which taps are white (2^15 bytes at most).
constexpr int maxTableTaps = 15;

// One output byte: symmetric pairs nearest first (added as integers), the centre last,
// truncated once. A byte whose taps all hold one value keeps it, so flat areas stay flat.
inline uchar blurByte(const double *w, int r, const uchar *centre, qsizetype stride)
{
    const int c = centre[0];
    bool flat = true;
    double sum = 0.0;
    for (int k = 1; k <= r; ++k) {
        const int before = centre[-k * stride];
        const int after = centre[k * stride];
        flat = flat && before == c && after == c;
        sum += w[r + k] * (before + after);
    }
    if (flat)
        return uchar(c);
    sum += w[r] * c;
    return uchar(sum);
}

inline void blurPixel(const double *w, int r, const uchar *centre, qsizetype stride, uchar *out)
{
    for (int c = 0; c < 4; ++c)
        out[c] = blurByte(w, r, centre + c, stride);
}

struct Kernel
{
    QVector<double> weights;
    int r = 0;
    int taps = 0;
    // Blue (= green = red) byte of a window of matte pixels; bit j set when the tap at
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
    std::vector<uchar> window(static_cast<size_t>(taps));
    for (quint32 pattern = 0; pattern < (quint32(1) << taps); ++pattern) {
        for (int offset = -r; offset <= r; ++offset)
            window[size_t(offset + r)] = (pattern >> (r - offset)) & 1u ? 255 : 0;
        kernel.table[pattern] = blurByte(kernel.weights.constData(), r, window.data() + r, 1);
    }
}

// Horizontal pass of one row into `out` (columns r .. W - r - 1 only).
void blurRow(const quint32 *in, quint32 *out, int W, const Kernel &kernel)
{
    const int r = kernel.r;
    const int end = W - r;
    const double *w = kernel.weights.constData();
    const uchar *table = kernel.table.empty() ? nullptr : kernel.table.data();
    const quint32 fullMask = kernel.taps >= 32 ? ~0u : (quint32(1) << kernel.taps) - 1;

    auto nextChange = [in, W](int from) {
        while (from < W && in[from] == in[from - 1])
            ++from;
        return from;
    };

    int x = r;
    int change = nextChange(1);
    while (x < end) {
        // Windows of x .. change - r - 1 lie inside one run of equal pixels.
        const int flatEnd = std::min(change - r, end);
        if (flatEnd > x) {
            std::memcpy(out + x, in + x, size_t(flatEnd - x) * sizeof(quint32));
            x = flatEnd;
        }
        if (x >= end)
            break;
        // Windows containing a change: x in [c - r, c + r) for every change c, merged.
        int busyEnd = change + r;
        change = nextChange(change + 1);
        while (change < W && change - r <= busyEnd) {
            busyEnd = change + r;
            change = nextChange(change + 1);
        }
        busyEnd = std::min(busyEnd, end);

        quint32 pattern = 0;
        int foreign = 0;
        if (table) {
            for (int i = x - r; i <= x + r; ++i) {
                pattern = (pattern << 1) | (in[i] == whitePixel ? 1u : 0u);
                foreign += in[i] != whitePixel && in[i] != blackPixel;
            }
        }
        for (; x < busyEnd; ++x) {
            if (table) {
                if (foreign == 0) {
                    const quint32 v = table[pattern];
                    out[x] = blackPixel | (v << 16) | (v << 8) | v;
                } else {
                    blurPixel(w, r, reinterpret_cast<const uchar *>(in + x), 4,
                              reinterpret_cast<uchar *>(out + x));
                }
                if (x + 1 < busyEnd) { // slide the window by one
                    const quint32 entering = in[x + r + 1];
                    const quint32 leaving = in[x - r];
                    pattern = ((pattern << 1) | (entering == whitePixel ? 1u : 0u)) & fullMask;
                    foreign += entering != whitePixel && entering != blackPixel;
                    foreign -= leaving != whitePixel && leaving != blackPixel;
                }
            } else {
                blurPixel(w, r, reinterpret_cast<const uchar *>(in + x), 4,
                          reinterpret_cast<uchar *>(out + x));
            }
        }
    }
}

} // namespace

QImage buildMatte(const QList<qint32> &keepPixels, int W, int H)
{
    if (W <= 0 || H <= 0)
        return QImage();
    QImage matte(W, H, QImage::Format_ARGB32);
    if (matte.isNull())
        return matte;
    std::memset(matte.bits(), 0xFF, size_t(matte.sizeInBytes()));

    const qint64 count = qint64(W) * H;
    uchar *bits = matte.bits();
    const qsizetype stride = matte.bytesPerLine();
    if (stride == qsizetype(W) * 4) {
        // Rows are contiguous: the linear index is the pixel's offset.
        quint32 *pixels = reinterpret_cast<quint32 *>(bits);
        for (const qint32 v : keepPixels) {
            if (v >= 0 && v < count)
                pixels[v] = blackPixel;
        }
    } else {
        for (const qint32 v : keepPixels) {
            if (v >= 0 && v < count)
                reinterpret_cast<quint32 *>(bits + (v / W) * stride)[v % W] = blackPixel;
        }
    }
    return matte;
}

QVector<double> gaussianWeights(int s, double sigma)
{
    QVector<double> w;
    if (s < 1 || !(sigma > 0.0) || !std::isfinite(sigma))
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
    // Only a picture wider and taller than 2r gets any output (r = s / 2 for odd and even s
    // alike); a larger size from a hand-edited store would build a kernel for nothing, or
    // one larger than memory.
    if (qint64(s / 2) * 2 >= std::min(source.width(), source.height()))
        return;
    Kernel kernel;
    kernel.weights = gaussianWeights(s, sigma);
    if (kernel.weights.isEmpty())
        return;
    kernel.taps = int(kernel.weights.size());
    kernel.r = kernel.taps / 2;
    buildTable(kernel);

    const int W = source.width();
    const int H = source.height();
    const int r = kernel.r;
    const int taps = kernel.taps;
    const double *w = kernel.weights.constData();

    std::unique_ptr<quint32[]> intermediate;
    const bool horizontalOutput = W > 2 * r;
    if (horizontalOutput)
        intermediate.reset(new quint32[size_t(W) * size_t(H)]);

    for (int y = 0; y < H; ++y) {
        if (horizontalOutput)
            blurRow(reinterpret_cast<const quint32 *>(source.constScanLine(y)),
                    intermediate.get() + size_t(y) * W, W, kernel);
        if (progress)
            progress(int((45 * qint64(y)) / H));
    }

    if (H <= 2 * r)
        return;

    // run[x]: how many rows down to the newest one hold the same pixel in column x.
    std::vector<int> run(size_t(std::max(W, 1)), 0);
    const qsizetype rowBytes = qsizetype(W) * 4;
    auto addRow = [&](int row) {
        if (!horizontalOutput)
            return;
        const quint32 *line = intermediate.get() + size_t(row) * W;
        if (row == 0) {
            for (int x = r; x < W - r; ++x)
                run[size_t(x)] = 1;
            return;
        }
        const quint32 *above = line - W;
        for (int x = r; x < W - r; ++x)
            run[size_t(x)] = line[x] == above[x] ? run[size_t(x)] + 1 : 1;
    };
    for (int row = 0; row < 2 * r; ++row)
        addRow(row);

    for (int y = r; y < H - r; ++y) {
        addRow(y + r);
        if (horizontalOutput) {
            const quint32 *in = intermediate.get() + size_t(y) * W;
            quint32 *out = reinterpret_cast<quint32 *>(destination.scanLine(y));
            int x = r;
            while (x < W - r) {
                const int flatStart = x;
                while (x < W - r && run[size_t(x)] >= taps)
                    ++x;
                if (x > flatStart)
                    std::memcpy(out + flatStart, in + flatStart,
                                size_t(x - flatStart) * sizeof(quint32));
                for (; x < W - r && run[size_t(x)] < taps; ++x)
                    blurPixel(w, r, reinterpret_cast<const uchar *>(in + x), rowBytes,
                              reinterpret_cast<uchar *>(out + x));
            }
        }
        if (progress)
            progress(45 + int((45 * qint64(y)) / H));
    }
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
    QImage smoothed = matte.copy();
    gaussianBlur(matte, smoothed, gaussSize, gaussSize / 5.0, progress);
    if (stageTimer)
        stageTimer("blur", timer.nsecsElapsed());
    return smoothed;
}

QImage buildCutout(const QImage &photo, const QImage &matte)
{
    if (photo.isNull())
        return QImage();
    QImage source = photo;
    if (source.format() != QImage::Format_ARGB32 && source.format() != QImage::Format_RGB32)
        source = source.convertToFormat(QImage::Format_ARGB32);
    // RGB32 keeps 0xff in the unused byte; forcing it costs nothing and makes sure.
    const quint32 opaque = source.format() == QImage::Format_RGB32 ? 0xFF000000u : 0u;
    QImage alphaMatte = matte;
    if (!alphaMatte.isNull() && alphaMatte.depth() != 32)
        alphaMatte = alphaMatte.convertToFormat(QImage::Format_ARGB32);

    const int W = source.width();
    const int H = source.height();
    QImage cutout(W, H, QImage::Format_ARGB32);
    if (cutout.isNull())
        return cutout;
    const int matteW = alphaMatte.isNull() ? 0 : std::min(W, alphaMatte.width());
    const int matteH = alphaMatte.isNull() ? 0 : std::min(H, alphaMatte.height());

    for (int y = 0; y < H; ++y) {
        const quint32 *in = reinterpret_cast<const quint32 *>(source.constScanLine(y));
        quint32 *out = reinterpret_cast<quint32 *>(cutout.scanLine(y));
        int x = 0;
        if (y < matteH) {
            // The blue byte is the first byte of each pixel in memory.
            const uchar *m = alphaMatte.constScanLine(y);
            for (; x < matteW; ++x)
                out[x] = (in[x] & 0x00FFFFFFu) | (quint32(255 - m[4 * x]) << 24);
        }
        for (; x < W; ++x)
            out[x] = in[x] | opaque;
    }
    return cutout;
}
