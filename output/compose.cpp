#include "output/compose.h"

#include <algorithm>

#include "analysis/parallel.h"

namespace {

// Rows below this many stay on one thread: starting another costs more than they do.
constexpr qint64 rowGrain = 32;

// The general case of "over"; the common ones (either alpha 0 or 255) are shortcuts that
// give the same integers.
inline quint32 over(quint32 o, quint32 b)
{
    const quint32 a = qAlpha(o);
    const quint32 bA = qAlpha(b);
    const quint32 outA = (a * 255 + bA * (255 - a)) / 255;
    if (outA == 0)
        return b;
    const quint32 objectWeight = a * 255;
    const quint32 backgroundWeight = bA * (255 - a);
    const quint32 divisor = outA * 255;
    const quint32 red = (quint32(qRed(o)) * objectWeight + quint32(qRed(b)) * backgroundWeight) / divisor;
    const quint32 green = (quint32(qGreen(o)) * objectWeight + quint32(qGreen(b)) * backgroundWeight) / divisor;
    const quint32 blue = (quint32(qBlue(o)) * objectWeight + quint32(qBlue(b)) * backgroundWeight) / divisor;
    return (outA << 24) | (red << 16) | (green << 8) | blue;
}

// Over an opaque background the divisor is 255 * 255 and the numerator a multiple of 255.
inline quint32 overOpaque(quint32 o, quint32 b)
{
    const quint32 a = qAlpha(o);
    const quint32 rest = 255 - a;
    const quint32 red = (quint32(qRed(o)) * a + quint32(qRed(b)) * rest) / 255;
    const quint32 green = (quint32(qGreen(o)) * a + quint32(qGreen(b)) * rest) / 255;
    const quint32 blue = (quint32(qBlue(o)) * a + quint32(qBlue(b)) * rest) / 255;
    return 0xFF000000u | (red << 16) | (green << 8) | blue;
}

inline void composePixel(quint32 &out, quint32 o)
{
    const quint32 a = qAlpha(o);
    if (a == 0)
        return; // the background stays, whatever its alpha
    if (a == 255) {
        out = o;
        return;
    }
    const quint32 bA = qAlpha(out);
    if (bA == 255)
        out = overOpaque(o, out);
    else if (bA == 0)
        out = o;
    else
        out = over(o, out);
}

// One scan line of the composition: object pixels x0 - dx to x1 - 1 - dx over canvas pixels
// x0 to x1 - 1. Most of a cut-out is see-through, so such stretches are passed over eight
// pixels at a time.
inline void composeRow(quint32 *out, const quint32 *in, int x0, int x1, int dx)
{
    int x = x0;
    for (; x + 8 <= x1; x += 8) {
        const quint32 *block = in + (x - dx);
        quint32 any = 0;
        for (int i = 0; i < 8; ++i)
            any |= block[i];
        if (qAlpha(any) == 0)
            continue;
        for (int i = 0; i < 8; ++i)
            composePixel(out[x + i], block[i]);
    }
    for (; x < x1; ++x)
        composePixel(out[x], in[x - dx]);
}

// The rows and columns of the canvas that the object covers, with the object converted to
// ARGB32; empty when they do not overlap.
struct Overlap
{
    QImage top;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int dx = 0, dy = 0; // canvas position minus object position
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

Overlap overlapOf(const QImage &canvas, const QImage &object, QPoint offset)
{
    Overlap o;
    if (object.isNull())
        return o;
    o.top = object.format() == QImage::Format_ARGB32 ? object
                                                     : object.convertToFormat(QImage::Format_ARGB32);
    const qint64 ox = offset.x();
    const qint64 oy = offset.y();
    o.x0 = int(std::max<qint64>(ox, 0));
    o.y0 = int(std::max<qint64>(oy, 0));
    o.x1 = int(std::min<qint64>(ox + o.top.width(), canvas.width()));
    o.y1 = int(std::min<qint64>(oy + o.top.height(), canvas.height()));
    if (!o.empty()) { // a non-empty overlap keeps the offset within int range
        o.dx = int(ox);
        o.dy = int(oy);
    }
    return o;
}

} // namespace

QImage composeOver(const QImage &background, const QImage &object, QPoint offset)
{
    QImage result = background.convertToFormat(QImage::Format_ARGB32);
    composeOverInPlace(result, object, offset);
    return result;
}

void composeOverInPlace(QImage &canvas, const QImage &object, QPoint offset)
{
    if (canvas.format() != QImage::Format_ARGB32)
        canvas = canvas.convertToFormat(QImage::Format_ARGB32);
    if (canvas.isNull())
        return;
    const Overlap o = overlapOf(canvas, object, offset);
    if (o.empty())
        return;
    uchar *const bits = canvas.bits();
    const qsizetype stride = canvas.bytesPerLine();
    Parallel::forRange(o.y1 - o.y0, rowGrain, [&](qint64 begin, qint64 end) {
        for (int y = o.y0 + int(begin); y < o.y0 + int(end); ++y)
            composeRow(reinterpret_cast<quint32 *>(bits + y * stride),
                       reinterpret_cast<const quint32 *>(o.top.constScanLine(y - o.dy)), o.x0, o.x1, o.dx);
    });
}

void fillAndComposeOver(QImage &canvas, QRgb colour, const QImage &object, QPoint offset)
{
    if (canvas.format() != QImage::Format_ARGB32)
        canvas = canvas.convertToFormat(QImage::Format_ARGB32);
    if (canvas.isNull())
        return;
    const Overlap o = overlapOf(canvas, object, offset);
    uchar *const bits = canvas.bits();
    const qsizetype stride = canvas.bytesPerLine();
    const int W = canvas.width();
    // Each scan line is composed while its fill is still in the cache.
    Parallel::forRange(canvas.height(), rowGrain, [&](qint64 begin, qint64 end) {
        for (int y = int(begin); y < int(end); ++y) {
            auto *out = reinterpret_cast<quint32 *>(bits + y * stride);
            std::fill_n(out, W, quint32(colour));
            if (!o.empty() && y >= o.y0 && y < o.y1)
                composeRow(out, reinterpret_cast<const quint32 *>(o.top.constScanLine(y - o.dy)),
                           o.x0, o.x1, o.dx);
        }
    });
}
