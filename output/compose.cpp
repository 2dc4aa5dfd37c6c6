#include "output/compose.h"

#include <algorithm>

namespace {

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
    if (canvas.isNull() || object.isNull())
        return;
    const QImage top = object.format() == QImage::Format_ARGB32
                           ? object
                           : object.convertToFormat(QImage::Format_ARGB32);

    const qint64 ox = offset.x();
    const qint64 oy = offset.y();
    const int x0 = int(std::max<qint64>(ox, 0));
    const int y0 = int(std::max<qint64>(oy, 0));
    const int x1 = int(std::min<qint64>(ox + top.width(), canvas.width()));
    const int y1 = int(std::min<qint64>(oy + top.height(), canvas.height()));
    if (x0 >= x1 || y0 >= y1)
        return;

    const int dx = int(ox); // a non-empty overlap keeps ox within int range
    for (int y = y0; y < y1; ++y) {
        const quint32 *in = reinterpret_cast<const quint32 *>(top.constScanLine(int(y - oy)));
        quint32 *out = reinterpret_cast<quint32 *>(canvas.scanLine(y));
        for (int x = x0; x < x1; ++x) {
            const quint32 o = in[x - dx];
            const quint32 a = qAlpha(o);
            if (a == 0)
                continue; // the background stays, whatever its alpha
            if (a == 255) {
                out[x] = o;
                continue;
            }
            const quint32 bA = qAlpha(out[x]);
            if (bA == 255)
                out[x] = overOpaque(o, out[x]);
            else if (bA == 0)
                out[x] = o;
            else
                out[x] = over(o, out[x]);
        }
    }
}
