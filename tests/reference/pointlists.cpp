#include "reference/pointlists.h"

#include <QDebug>
#include <QElapsedTimer>

#include "isolation/markerflood.h"
#include "isolation/markerinput.h"
#include "isolation/marksquares.h"

void rasteriseMarker(const QRectF &rect, int W, int H, QList<QPoint> &points)
{
    const PixelSquare square = clippedMarker(rect, W, H);
    for (int x = square.x0; x < square.x1; ++x) {
        for (int y = square.y0; y < square.y1; ++y)
            points.append(QPoint(x, y));
    }
}

void harvestMarkerSet(const MarkerSet &markers, int W, int H, QList<QPoint> &keepPoints,
                      QList<QPoint> &removePoints)
{
    harvestMarkers(markers.newestFirst, W, H, keepPoints, removePoints);
    if (!markers.picture.isNull())
        markerPicturePoints(markers.picture, keepPoints, removePoints);
}

int floodFromMarkers(const QImage &gradientImage, const QList<QPoint> &keepPoints,
                     const QList<QPoint> &removePoints, QList<QPoint> &result,
                     const ProgressCallback &progress)
{
    QElapsedTimer clock;
    clock.start();
    const int W = gradientImage.width();
    const int H = gradientImage.height();
    MarkerFlood flood(W, H);
    // The gradient is read by (x, y) through its own stride, so a stride that differs from
    // the label image's is only worth a note.
    if (gradientImage.bytesPerLine() != ((qsizetype(W) + 3) & ~qsizetype(3)))
        qDebug() << "different scanlines";
    flood.gradientFromImage(gradientImage);
    flood.run(MarkSquares(keepPoints, removePoints, W, H), progress, &clock);
    const QList<qint32> keep = flood.keepIndices();
    result.reserve(result.size() + keep.size());
    for (const qint32 index : keep)
        result.append(QPoint(index % W, index / W));
    qDebug() << "ws: 4" << clock.elapsed();
    qDebug() << "Done";
    return 0;
}
