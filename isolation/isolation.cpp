#include "isolation/isolation.h"

#include "analysis/diagnostics.h"
#include "isolation/kernels.h"
#include "isolation/markerflood.h"
#include "isolation/marksquares.h"

#include <QDebug>
#include <QElapsedTimer>

QString isolationMethodName(IsolationMethod method)
{
    return method == IsolationMethod::Precise ? QStringLiteral("precise") : QStringLiteral("clusters");
}

std::optional<IsolationMethod> isolationMethodFromName(const QString &name)
{
    for (IsolationMethod method : {IsolationMethod::ColourClusters, IsolationMethod::Precise}) {
        if (name == isolationMethodName(method))
            return method;
    }
    return std::nullopt;
}

namespace {

QImage eightBit(const QImage &labelMap)
{
    return labelMap.isNull() || labelMap.depth() == 8 ? labelMap
                                                      : labelMap.convertToFormat(QImage::Format_Grayscale8);
}

// Everything after reading the marks: the vote table, the gradient, the flood and the keep
// pixels; with `stages`, the pictures of the stages as well. The memory is the flood's
// plane and queue, a few bytes per pixel, whatever the marks.
QList<qint32> isolate(const QImage &labels, const MarkSquares &marks, const VoteCounts &keepVotes,
                      const VoteCounts &removeVotes, const QList<QList<qint16>> &centers,
                      const IsolationHooks &hooks, StageClock &clock, IsolationStages *stages)
{
    const int W = labels.width();
    const int H = labels.height();
    const std::array<uchar, 256> table = voteTable(keepVotes, removeVotes, centers);
    if (labels.isNull())
        return {};
    if (stages) {
        stages->votes = QImage(labels.size(), QImage::Format_Indexed8);
        stages->votes.setColorTable(greyColourTable());
        applyVoteTable(table, labels.constBits(), labels.bytesPerLine(), W, H, stages->votes.bits(),
                       stages->votes.bytesPerLine());
    }
    clock.finish("vote");

    MarkerFlood flood(W, H);
    flood.gradientFromLabels(labels.constBits(), labels.bytesPerLine(), table);
    if (stages)
        stages->gradient = flood.gradientImage();
    clock.finish("gradient");

    QElapsedTimer debugClock;
    debugClock.start();
    if (!flood.run(marks, hooks.progress, &debugClock, hooks.cancelled))
        return {};
    if (stages)
        stages->floodLabels = flood.labelImage();
    clock.finish("flood");

    QList<qint32> keepPixels = flood.keepIndices();
    qCDebug(lcIsolation) << "ws: 4" << debugClock.elapsed();
    qCDebug(lcIsolation) << "Done";
    clock.finish("keep");
    return keepPixels;
}

} // namespace

QList<qint32> isolateKeepPixels(const QImage &labelMap, const QList<QPoint> &keepPoints,
                                const QList<QPoint> &removePoints,
                                const QList<QList<qint16>> &centers,
                                const IsolationHooks &hooks)
{
    StageClock clock(hooks.stageTimer);
    const QImage labels = eightBit(labelMap);
    const MarkSquares marks(keepPoints, removePoints, labels.width(), labels.height());
    VoteCounts keepVotes, removeVotes;
    countVotes(labels.constBits(), labels.bytesPerLine(), marks, keepVotes, removeVotes);
    return isolate(labels, marks, keepVotes, removeVotes, centers, hooks, clock, nullptr);
}

namespace {

// The marks read where they lie: their votes counted under every dab's square and every
// painted pixel, without listing a point.
QList<qint32> isolateMarkerSet(const QImage &labelMap, const MarkerSet &markers,
                               const QList<QList<qint16>> &centers, const IsolationHooks &hooks,
                               IsolationStages *stages)
{
    StageClock clock(hooks.stageTimer);
    const QImage labels = eightBit(labelMap);
    const MarkSquares marks(markers, labels.width(), labels.height());
    VoteCounts keepVotes, removeVotes;
    countVotes(labels.constBits(), labels.bytesPerLine(), marks, keepVotes, removeVotes);
    clock.finish("harvest");
    return isolate(labels, marks, keepVotes, removeVotes, centers, hooks, clock, stages);
}

} // namespace

QList<qint32> isolateKeepPixels(const QImage &labelMap, const MarkerSet &markers,
                                const QList<QList<qint16>> &centers,
                                const IsolationHooks &hooks)
{
    return isolateMarkerSet(labelMap, markers, centers, hooks, nullptr);
}

IsolationStages isolateByStages(const QImage &labelMap, const MarkerSet &markers,
                                const QList<QList<qint16>> &centers,
                                const IsolationHooks &hooks)
{
    IsolationStages stages;
    stages.keepPixels = isolateMarkerSet(labelMap, markers, centers, hooks, &stages);
    return stages;
}
