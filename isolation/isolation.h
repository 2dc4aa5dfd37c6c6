#pragma once

#include <QImage>
#include <QList>
#include <QPoint>

#include "analysis/progress.h"
#include "isolation/markers.h"

// The whole isolation after the harvest: vote, gradient, flood, and the keep pixels as
// linear indices y * W + x in column order. Same result as running the three stages and
// converting the flood's points, at a fraction of the memory.
struct IsolationHooks
{
    ProgressCallback progress;
    StageTimer stageTimer;
};

QList<qint32> isolateKeepPixels(const QImage &labelMap, const QList<QPoint> &keepPoints,
                                const QList<QPoint> &removePoints,
                                const QList<QList<qint16>> &centers,
                                const IsolationHooks &hooks = {});

// The same from a marker set; "harvest" is reported to the stage timer as well.
QList<qint32> isolateKeepPixels(const QImage &labelMap, const MarkerSet &markers,
                                const QList<QList<qint16>> &centers,
                                const IsolationHooks &hooks = {});

// The isolation stage by stage, keeping each stage's picture: the vote and gradient images
// (8-bit, grey table) and the flood's labels (0 unreached, 1 keep, 2 remove, 3 boundary).
// The keep pixels are those of the one-call run.
struct IsolationStages
{
    QImage votes;
    QImage gradient;
    QImage floodLabels;
    QList<qint32> keepPixels;
};
IsolationStages isolateByStages(const QImage &labelMap, const MarkerSet &markers,
                                const QList<QList<qint16>> &centers,
                                const IsolationHooks &hooks = {});
