#include "isolation/markers.h"

#include "isolation/markerinput.h"

#include <cmath>

bool dabCornerAccepted(QPointF corner, QSizeF sceneSize)
{
    // Truncated toward zero, kept in doubles so that any position compares safely.
    const double xi = std::trunc(corner.x());
    const double yi = std::trunc(corner.y());
    return xi > 0 && yi > 0 && xi < sceneSize.width() && yi < sceneSize.height();
}

namespace {
struct ClippedSquare
{
    int xBegin = 0, xEnd = 0, yBegin = 0, yEnd = 0;
    qsizetype area() const { return qsizetype(xEnd - xBegin) * (yEnd - yBegin); }
};
}

static ClippedSquare clippedSquare(const QRectF &rect, int W, int H)
{
    // In whole doubles, so that no item geometry can overflow an int on the way.
    const double x0 = std::trunc(rect.left());
    const double y0 = std::trunc(rect.top());
    const double n = std::trunc(rect.width());
    if (!(x0 <= W && y0 <= H && n > 0))
        return {};
    ClippedSquare square;
    square.xBegin = int(qMax(x0, 0.0));
    square.xEnd = int(qBound(0.0, x0 + n, double(W)));
    square.yBegin = int(qMax(y0, 0.0));
    square.yEnd = int(qBound(0.0, y0 + n, double(H)));
    if (square.xBegin >= square.xEnd || square.yBegin >= square.yEnd)
        return {};
    return square;
}

static void appendSquare(const ClippedSquare &square, QList<QPoint> &points)
{
    for (int x = square.xBegin; x < square.xEnd; ++x) {
        for (int y = square.yBegin; y < square.yEnd; ++y)
            points.append(QPoint(x, y));
    }
}

void rasteriseMarker(const QRectF &rect, int W, int H, QList<QPoint> &points)
{
    appendSquare(clippedSquare(rect, W, H), points);
}

void harvestMarkers(const QList<MarkerDab> &newestFirst, int W, int H,
                    QList<QPoint> &keepPoints, QList<QPoint> &removePoints)
{
    // Sized once: the lists reach millions of points on a big photo.
    qsizetype keepCount = 0;
    qsizetype removeCount = 0;
    for (const MarkerDab &dab : newestFirst)
        (dab.keep ? keepCount : removeCount) += clippedSquare(dab.rect, W, H).area();
    keepPoints.reserve(keepPoints.size() + keepCount);
    removePoints.reserve(removePoints.size() + removeCount);
    for (const MarkerDab &dab : newestFirst)
        appendSquare(clippedSquare(dab.rect, W, H), dab.keep ? keepPoints : removePoints);
}

void harvestMarkerSet(const MarkerSet &markers, int W, int H, QList<QPoint> &keepPoints,
                      QList<QPoint> &removePoints)
{
    harvestMarkers(markers.newestFirst, W, H, keepPoints, removePoints);
    if (!markers.picture.isNull())
        markerPicturePoints(markers.picture, keepPoints, removePoints);
}

bool markerSetHasKeepPoint(const MarkerSet &markers, int W, int H)
{
    for (const MarkerDab &dab : markers.newestFirst) {
        if (dab.keep && clippedSquare(dab.rect, W, H).area() > 0)
            return true;
    }
    const QImage &picture = markers.picture;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (isClearlyKeep(picture.pixel(x, y)))
                return true;
        }
    }
    return false;
}
