#include "output/keepmask.h"

#include <cstring>

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
    return keepPixelImage(keepPixels, size, QImage::Format_RGB32, qRgb(0, 50, 255), qRgb(150, 150, 150));
}
