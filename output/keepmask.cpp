#include "output/keepmask.h"

#include <algorithm>
#include <cstring>

#include "analysis/largebuffer.h"
#include "analysis/parallel.h"

QImage keepPixelImage(const QList<qint32> &keepPixels, QSize size, QImage::Format format,
                      uint keepValue, uint otherValue)
{
    QImage image(size, format);
    if (image.isNull())
        return image;
    const int depth = image.depth();
    if (depth != 8 && depth != 32)
        return QImage();
    image.fill(otherValue);
    const int W = size.width();
    const qint64 count = qint64(W) * size.height();
    for (const qint32 index : keepPixels) {
        if (index < 0 || index >= count)
            continue;
        uchar *line = image.scanLine(index / W);
        if (depth == 8)
            line[index % W] = uchar(keepValue);
        else
            reinterpret_cast<quint32 *>(line)[index % W] = keepValue;
    }
    return image;
}

QImage indexedAsGrey(const QImage &indexed)
{
    if (indexed.depth() != 8)
        return indexed.convertToFormat(QImage::Format_Grayscale8);
    QImage grey(indexed.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < indexed.height(); ++y)
        std::memcpy(grey.scanLine(y), indexed.constScanLine(y), size_t(indexed.width()));
    return grey;
}

QImage maskOverlay(const QList<qint32> &keepPixels, QSize size)
{
    QImage overlay = LargeBuffer::image(size, QImage::Format_RGB32);
    if (overlay.isNull())
        return overlay;
    const int W = size.width();
    const qint64 count = qint64(W) * size.height();
    uchar *const bits = overlay.bits();
    const qsizetype stride = overlay.bytesPerLine();
    Parallel::forRange(size.height(), 16, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y)
            std::fill_n(reinterpret_cast<QRgb *>(bits + y * stride), W, qRgb(150, 150, 150));
    });
    // Every keep pixel is listed once, so the parts write to pixels of their own.
    Parallel::forRange(keepPixels.size(), 1 << 16, [&](qint64 begin, qint64 end) {
        for (qint64 i = begin; i < end; ++i) {
            const qint32 index = keepPixels.at(i);
            if (index >= 0 && index < count)
                reinterpret_cast<QRgb *>(bits + (index / W) * stride)[index % W] = qRgb(0, 50, 255);
        }
    });
    return overlay;
}
