#pragma once

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRectF>
#include <QSizeF>

enum class MarkerKind { Keep, Remove, Edge };

// One marker dab as the canvas places it: a keep square, a remove disc or an edge dab, given
// by the square's rectangle in picture coordinates. An edge dab marks its square as unknown:
// the isolation counts it as neither keep nor remove, and the matte solves alpha and the
// foreground colour over it. `edge` comes last so that {keep, rect} still makes the two
// older kinds; `keep` means nothing on an edge dab.
struct MarkerDab
{
    bool keep = true;
    QRectF rect;
    bool edge = false;

    static MarkerDab edgeDab(const QRectF &rect) { return {false, rect, true}; }
    MarkerKind kind() const { return edge ? MarkerKind::Edge : keep ? MarkerKind::Keep : MarkerKind::Remove; }

    friend bool operator==(const MarkerDab &a, const MarkerDab &b)
    {
        return a.kind() == b.kind() && a.rect == b.rect;
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
// clipped to the W x H picture; edge dabs give neither. The lists grow with the dabs' area, not the picture's: the
// isolation takes a MarkerSet instead.
void harvestMarkers(const QList<MarkerDab> &newestFirst, int W, int H,
                    QList<QPoint> &keepPoints, QList<QPoint> &removePoints);

// Whether any keep point of the set lies on the W x H picture.
bool markerSetHasKeepPoint(const MarkerSet &markers, int W, int H);

// The pixels the edge dabs cover on a W x H picture: Grayscale8, 255 under a dab, 0
// elsewhere; a null image when no edge dab covers a pixel.
QImage edgeDabMask(const QList<MarkerDab> &dabs, int W, int H);
