#pragma once

#include <QImage>
#include <QList>
#include <QPoint>
#include <QVector>

#include "analysis/colorclusters.h"

// The colour analysis done pixel by pixel, as first written: the reference that the
// program's per-colour analysis must match byte for byte. Slow; for tests and benchmarks.

// CIE L*a*b* of one colour, computed directly.
LabValue rgbToLab(QRgb colour);

// A picture as three row-major planes of integer L*, a*, b*. Copies share the planes.
class CLabImage
{
public:
    CLabImage() = default;
    explicit CLabImage(const QImage &picture);

    QList<qint16> valuesAt(int x, int y) const;

    int width = 0;
    int height = 0;
    QVector<qint16> planeL;
    QVector<qint16> planeA;
    QVector<qint16> planeB;
};

namespace PerPixel {

// Replaces the model's centres and counts.
void setModel(CColorClusters &clusters, const QList<QList<int>> &centres, const QList<qint64> &counts);

// Farthest-point initial centres over the samples at `positions`, in list order.
int initCenters(CColorClusters &clusters, const CLabImage &lab, const QList<QPoint> &positions, int K);
// k-means over every pixel, positions column by column, 20 iterations.
int cluster(CColorClusters &clusters, const CLabImage &lab, int K, const ProgressCallback &progress,
            int start, int end);
// Every pixel's nearest non-empty cluster into the first width bytes of each row.
void labelImage(const CColorClusters &clusters, const CLabImage &lab, QImage &labelMap);

} // namespace PerPixel
