#pragma once

#include <QImage>
#include <QList>
#include <QPoint>

#include "analysis/progress.h"
#include "isolation/markers.h"

// The isolation's first, point-list forms, kept for the tests to compare against.

// Appends the pixels of one marker's square, column by column (see clippedMarker).
void rasteriseMarker(const QRectF &rect, int W, int H, QList<QPoint> &points);

// The points of a whole marker set, in the order the isolation counts them: the dabs
// newest first, each square column by column, then the painted pixels column by column;
// duplicates kept.
void harvestMarkerSet(const MarkerSet &markers, int W, int H, QList<QPoint> &keepPoints,
                      QList<QPoint> &removePoints);

// The marker flood appending the keep pixels to `result`, column by column, with the debug
// lines "different scanlines" (a gradient whose rows are not packed), "ws: 1" to "ws: 4"
// and "Done". Returns 0.
int floodFromMarkers(const QImage &gradientImage, const QList<QPoint> &keepPoints,
                     const QList<QPoint> &removePoints, QList<QPoint> &result,
                     const ProgressCallback &progress);
