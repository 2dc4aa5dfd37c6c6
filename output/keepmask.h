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
