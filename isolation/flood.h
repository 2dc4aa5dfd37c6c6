#pragma once

#include <QImage>
#include <QList>
#include <QPoint>

#include "analysis/progress.h"

// Marker-controlled watershed: grows keep and remove fronts over the gradient in order of
// increasing level and appends the keep pixels to `result`, column by column. Points off the
// picture are ignored.
int floodFromMarkers(const QImage &gradientImage, const QList<QPoint> &keepPoints,
                     const QList<QPoint> &removePoints, QList<QPoint> &result,
                     const ProgressCallback &progress);

// The same flood, returning the label of every pixel as an 8-bit indexed image: 0 not
// reached, 1 keep, 2 remove, 3 boundary (colour table black, green, red, white). Writes
// no debug lines.
QImage floodLabelImage(const QImage &gradientImage, const QList<QPoint> &keepPoints,
                       const QList<QPoint> &removePoints, const ProgressCallback &progress = {});
