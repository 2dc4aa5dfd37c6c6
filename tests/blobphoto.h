#pragma once

#include <QImage>
#include <QRandomGenerator>

// A small photo with an object that strokes can find: a warm blob on a noisy green ground.
inline QImage blobPhoto()
{
    QImage photo(48, 32, QImage::Format_ARGB32);
    QRandomGenerator noise(7);
    for (int y = 0; y < photo.height(); ++y) {
        for (int x = 0; x < photo.width(); ++x) {
            const int n = int(noise.bounded(24));
            const bool object = (x - 20) * (x - 20) + (y - 15) * (y - 15) < 70;
            photo.setPixel(x, y, object ? qRgb(220 - n, 60 + n, 30) : qRgb(40 + n, 150 - n, 60 + n));
        }
    }
    return photo;
}
