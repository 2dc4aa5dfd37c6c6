#pragma once

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRectF>
#include <QSizeF>

// One marker dab as the canvas places it: a keep square or a remove disc, given by the
// square's rectangle in picture coordinates.
struct MarkerDab
{
    bool keep = true;
    QRectF rect;

    friend bool operator==(const MarkerDab &a, const MarkerDab &b)
    {
        return a.keep == b.keep && a.rect == b.rect;
    }
    friend bool operator!=(const MarkerDab &a, const MarkerDab &b) { return !(a == b); }
};

// Everything the isolation reads of the user's marks, in the order in which their points
// count: the dabs newest first, each its whole square column by column, then the clearly
// painted pixels of the marker picture (see markerPicturePoints), column by column.
struct MarkerSet
{
    QList<MarkerDab> newestFirst;
    QImage picture; // optional
};

// The canvas's corner test: a dab whose top-left corner lies at `corner` (picture
// coordinates) is placed only when its truncated corner is inside the scene and off the
// first row and column.
bool dabCornerAccepted(QPointF corner, QSizeF sceneSize);

// Rasterises dabs given newest first (the scene's stacking order) into keep and remove
// points: each dab's whole n x n square (n = its truncated width), column by column,
// clipped to the W x H picture. The lists grow with the dabs' area, not the picture's: the
// isolation takes a MarkerSet instead.
void harvestMarkers(const QList<MarkerDab> &newestFirst, int W, int H,
                    QList<QPoint> &keepPoints, QList<QPoint> &removePoints);

// Whether any keep point of the set lies on the W x H picture.
bool markerSetHasKeepPoint(const MarkerSet &markers, int W, int H);
