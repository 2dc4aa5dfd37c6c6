#pragma once

#include <QImage>
#include <QList>
#include <QSize>

// A picture of `size` holding `keepValue` at every keep pixel (linear index y * W + x) and
// `otherValue` elsewhere, in an 8-bit or 32-bit `format`. The mask view, the matte and the
// dumps all start from one of these.
QImage keepPixelImage(const QList<qint32> &keepPixels, QSize size, QImage::Format format,
                      uint keepValue, uint otherValue);

// The bytes of an 8-bit picture as plain grey, whatever its colour table says.
QImage indexedAsGrey(const QImage &indexed);

// The mask view's overlay: the keep pixels blue (0, 50, 255) over grey (150, 150, 150),
// opaque, in the layout a pixmap takes over without converting it.
QImage maskOverlay(const QList<qint32> &keepPixels, QSize size);
