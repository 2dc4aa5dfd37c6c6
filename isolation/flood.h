#pragma once

#include <QImage>
#include <QList>
#include <QPoint>

#include "analysis/progress.h"

// Marker-controlled watershed: grows keep and remove fronts over the gradient in order of
// increasing level and appends the keep pixels to `result`, column by column.
int floodFromMarkers(const QImage &gradientImage, const QList<QPoint> &keepPoints,
                     const QList<QPoint> &removePoints, QList<QPoint> &result,
                     const ProgressCallback &progress);
