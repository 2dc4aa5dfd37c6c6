#include "isolation/markers.h"

#include <cmath>

// Truncates toward zero, saturating far outside the int range so that absurd item
// geometry cannot overflow the conversion.
static int truncated(qreal value)
{
    if (!(value == value))
        return 0;
    return int(qBound(qreal(-2147483647.0), std::trunc(value), qreal(2147483647.0)));
}

bool dabCornerAccepted(QPointF corner, QSizeF sceneSize)
{
    const int xi = truncated(corner.x());
    const int yi = truncated(corner.y());
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
    const int x0 = truncated(rect.left());
    const int y0 = truncated(rect.top());
    const int n = truncated(rect.width());
    if (x0 > W || y0 > H || n <= 0)
        return {};
    // 64-bit ends so that x0 + n cannot overflow.
    ClippedSquare square;
    square.xBegin = int(qMax<qint64>(x0, 0));
    square.xEnd = int(qMin<qint64>(qint64(x0) + n, W));
    square.yBegin = int(qMax<qint64>(y0, 0));
    square.yEnd = int(qMin<qint64>(qint64(y0) + n, H));
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
