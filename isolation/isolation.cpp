#include "isolation/isolation.h"

#include "isolation/kernels.h"
#include "isolation/flood.h"
#include "isolation/gradient.h"
#include "isolation/markerflood.h"
#include "isolation/vote.h"

#include <QDebug>
#include <QElapsedTimer>

QList<qint32> isolateKeepPixels(const QImage &labelMap, const QList<QPoint> &keepPoints,
                                const QList<QPoint> &removePoints,
                                const QList<QList<qint16>> &centers,
                                const IsolationHooks &hooks)
{
    QElapsedTimer stage;
    stage.start();
    const auto finish = [&](const char *name) {
        if (hooks.stageTimer)
            hooks.stageTimer(name, stage.nsecsElapsed());
        stage.restart();
    };

    const QImage labels = labelMap.isNull() || labelMap.depth() == 8
        ? labelMap
        : labelMap.convertToFormat(QImage::Format_Grayscale8);
    const int W = labels.width();
    const int H = labels.height();

    // The vote plane borrows the flood's state plane, which is not needed before the flood,
    // and the gradient is written straight into the flood's framed plane.
    const std::array<uchar, 256> table = voteTable(labels, keepPoints, removePoints, centers);
    MarkerFlood flood(W, H);
    uchar *const votes = flood.scratchPlane();
    applyVoteTable(table, labels.constBits(), labels.bytesPerLine(), W, H, votes, W);
    finish("vote");

    computeGradient(votes, W, W, H, flood.gradientLine(0), flood.gradientStride());
    finish("gradient");

    QElapsedTimer clock;
    clock.start();
    flood.run(keepPoints, removePoints, hooks.progress, &clock);
    finish("flood");

    QList<qint32> keepPixels;
    keepPixels.reserve(flood.keepCount());
    flood.forEachKeep([&](int x, int y) { keepPixels.append(y * W + x); });
    qDebug() << "ws: 4" << clock.elapsed();
    qDebug() << "Done";
    finish("keep");
    return keepPixels;
}

namespace {

struct Harvest
{
    QList<QPoint> keep;
    QList<QPoint> remove;
};

Harvest harvest(const QImage &labelMap, const MarkerSet &markers, const IsolationHooks &hooks)
{
    QElapsedTimer clock;
    clock.start();
    Harvest points;
    harvestMarkerSet(markers, labelMap.width(), labelMap.height(), points.keep, points.remove);
    if (hooks.stageTimer)
        hooks.stageTimer("harvest", clock.nsecsElapsed());
    return points;
}

} // namespace

QList<qint32> isolateKeepPixels(const QImage &labelMap, const MarkerSet &markers,
                                const QList<QList<qint16>> &centers,
                                const IsolationHooks &hooks)
{
    const Harvest points = harvest(labelMap, markers, hooks);
    return isolateKeepPixels(labelMap, points.keep, points.remove, centers, hooks);
}

IsolationStages isolateByStages(const QImage &labelMap, const MarkerSet &markers,
                                const QList<QList<qint16>> &centers,
                                const IsolationHooks &hooks)
{
    const Harvest points = harvest(labelMap, markers, hooks);
    QElapsedTimer clock;
    clock.start();
    const auto finish = [&](const char *name) {
        if (hooks.stageTimer)
            hooks.stageTimer(name, clock.nsecsElapsed());
        clock.restart();
    };
    IsolationStages stages;
    stages.votes = buildVoteImage(labelMap, points.keep, points.remove, centers);
    finish("vote");
    stages.gradient = buildGradientImage(stages.votes);
    finish("gradient");
    stages.floodLabels = floodLabelImage(stages.gradient, points.keep, points.remove, hooks.progress);
    finish("flood");
    const int W = stages.floodLabels.width();
    const int H = stages.floodLabels.height();
    for (int x = 0; x < W; ++x) {
        for (int y = 0; y < H; ++y) {
            if (stages.floodLabels.constScanLine(y)[x] == 1)
                stages.keepPixels.append(y * W + x);
        }
    }
    finish("keep");
    return stages;
}
