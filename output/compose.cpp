#include "output/compose.h"

#include <algorithm>

QImage composeOver(const QImage &background, const QImage &object, QPoint offset)
{
    QImage result = background.convertToFormat(QImage::Format_ARGB32);
    const QImage obj = object.convertToFormat(QImage::Format_ARGB32);
    const int x0 = std::max(offset.x(), 0);
    const int y0 = std::max(offset.y(), 0);
    const int x1 = std::min(offset.x() + obj.width(), result.width());
    const int y1 = std::min(offset.y() + obj.height(), result.height());
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const QRgb o = obj.pixel(x - offset.x(), y - offset.y());
            const QRgb b = result.pixel(x, y);
            const int a = qAlpha(o);
            const int bA = qAlpha(b);
            const int outA = (a * 255 + bA * (255 - a)) / 255;
            if (outA == 0)
                continue;
            const auto channel = [&](int oc, int bc) {
                return (oc * a * 255 + bc * bA * (255 - a)) / (outA * 255);
            };
            result.setPixel(x, y, qRgba(channel(qRed(o), qRed(b)), channel(qGreen(o), qGreen(b)),
                                        channel(qBlue(o), qBlue(b)), outA));
        }
    }
    return result;
}
