#include "isolation/flood.h"

#include "isolation/markerflood.h"
#include "isolation/marksquares.h"

QImage floodLabelImage(const QImage &gradientImage, const QList<QPoint> &keepPoints,
                       const QList<QPoint> &removePoints, const ProgressCallback &progress)
{
    if (gradientImage.isNull())
        return {};
    const int W = gradientImage.width();
    const int H = gradientImage.height();
    MarkerFlood flood(W, H);
    flood.gradientFromImage(gradientImage);
    flood.run(MarkSquares(keepPoints, removePoints, W, H), progress, nullptr);
    return flood.labelImage();
}
