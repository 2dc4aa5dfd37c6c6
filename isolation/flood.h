#pragma once

#include <QImage>
#include <QList>
#include <QPoint>

#include "analysis/progress.h"

// Marker-controlled watershed: grows keep and remove fronts over the gradient in order of
// increasing level and returns the label of every pixel as an 8-bit indexed image: 0 not
// reached, 1 keep, 2 remove, 3 boundary (colour table black, green, red, white). Points off
// the picture are ignored. Writes no debug lines.
QImage floodLabelImage(const QImage &gradientImage, const QList<QPoint> &keepPoints,
                       const QList<QPoint> &removePoints, const ProgressCallback &progress = {});
