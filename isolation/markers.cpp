#include "isolation/markers.h"

#include "isolation/markerinput.h"
#include "isolation/marksquares.h"

#include <algorithm>
#include <cmath>

bool dabCornerAccepted(QPointF corner, QSizeF sceneSize)
{
    // Truncated toward zero, kept in doubles so that any position compares safely.
    const double xi = std::trunc(corner.x());
    const double yi = std::trunc(corner.y());
    return xi > 0 && yi > 0 && xi < sceneSize.width() && yi < sceneSize.height();
}

PixelSquare clippedMarker(const QRectF &rect, int W, int H)
{
    // In whole doubles, so that no item geometry can overflow an int on the way.
    const double x0 = std::trunc(rect.left());
    const double y0 = std::trunc(rect.top());
    const double n = std::trunc(rect.width());
    if (!(x0 <= W && y0 <= H && n > 0))
        return {};
    PixelSquare square;
    square.x0 = int(qMax(x0, 0.0));
    square.x1 = int(qBound(0.0, x0 + n, double(W)));
    square.y0 = int(qMax(y0, 0.0));
    square.y1 = int(qBound(0.0, y0 + n, double(H)));
    return square.isEmpty() ? PixelSquare() : square;
}

static void appendSquare(const PixelSquare &square, QList<QPoint> &points)
{
    for (int x = square.x0; x < square.x1; ++x) {
        for (int y = square.y0; y < square.y1; ++y)
            points.append(QPoint(x, y));
    }
}

void harvestMarkers(const QList<MarkerDab> &newestFirst, int W, int H,
                    QList<QPoint> &keepPoints, QList<QPoint> &removePoints)
{
    // Sized once: the lists reach millions of points on a big photo.
    qsizetype keepCount = 0;
    qsizetype removeCount = 0;
    for (const MarkerDab &dab : newestFirst) {
        if (!dab.edge)
            (dab.keep ? keepCount : removeCount) += clippedMarker(dab.rect, W, H).area();
    }
    keepPoints.reserve(keepPoints.size() + keepCount);
    removePoints.reserve(removePoints.size() + removeCount);
    for (const MarkerDab &dab : newestFirst) {
        if (!dab.edge)
            appendSquare(clippedMarker(dab.rect, W, H), dab.keep ? keepPoints : removePoints);
    }
}

namespace {
const QList<MarkerDab> noDabs;
const QList<QPoint> noPoints;
} // namespace

MarkSquares::MarkSquares(const MarkerSet &markers, int W, int H)
    : W(W), H(H), dabs(&markers.newestFirst), keepPoints(&noPoints), removePoints(&noPoints)
{
    if (!markers.picture.isNull()) {
        picture = markerPictureArgb(markers.picture);
        pictureW = qMin(picture.width(), W);
        pictureH = qMin(picture.height(), H);
    }
}

MarkSquares::MarkSquares(const QList<QPoint> &keepPoints, const QList<QPoint> &removePoints, int W,
                         int H)
    : W(W), H(H), dabs(&noDabs), keepPoints(&keepPoints), removePoints(&removePoints)
{
}

bool markerSetHasKeepPoint(const MarkerSet &markers, int W, int H)
{
    for (const MarkerDab &dab : markers.newestFirst) {
        if (dab.kind() == MarkerKind::Keep && !clippedMarker(dab.rect, W, H).isEmpty())
            return true;
    }
    if (markers.picture.isNull())
        return false;
    const QImage picture = markerPictureArgb(markers.picture);
    for (int y = 0; y < qMin(picture.height(), H); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        for (int x = 0; x < qMin(picture.width(), W); ++x) {
            if (paintedMark(line[x]) == PaintedMark::Keep)
                return true;
        }
    }
    return false;
}

QImage edgeDabMask(const QList<MarkerDab> &dabs, int W, int H)
{
    QImage mask;
    for (const MarkerDab &dab : dabs) {
        const PixelSquare square = dab.edge ? clippedMarker(dab.rect, W, H) : PixelSquare();
        if (square.isEmpty())
            continue;
        if (mask.isNull()) {
            mask = QImage(W, H, QImage::Format_Grayscale8);
            if (mask.isNull())
                return mask;
            mask.fill(0);
        }
        for (int y = square.y0; y < square.y1; ++y)
            std::fill(mask.scanLine(y) + square.x0, mask.scanLine(y) + square.x1, uchar(255));
    }
    return mask;
}
