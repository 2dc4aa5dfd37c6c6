#pragma once

#include <QImage>
#include <QList>
#include <QPoint>

#include "analysis/progress.h"

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
