#pragma once

#include <QImage>
#include <QList>
#include <QPoint>
#include <QString>

#include <optional>

#include <functional>

#include "analysis/progress.h"
#include "isolation/markers.h"

// The two ways of isolating: the colour clusters' vote and flood, and the precise graph cut
// of the photo (isolation/precise.h).
enum class IsolationMethod { ColourClusters, Precise };

// "clusters" and "precise": the name in the settings store and on peltrix-cut's command line.
QString isolationMethodName(IsolationMethod method);
std::optional<IsolationMethod> isolationMethodFromName(const QString &name);

struct IsolationHooks
{
    ProgressCallback progress;
    StageTimer stageTimer;
    // Asked now and then; once it answers true the run stops early with no keep pixels (a
    // newer request has made its result useless).
    std::function<bool()> cancelled;
};

// The whole isolation: vote, gradient, flood, and the keep pixels as linear indices
// y * W + x in column order; the same result as running the stages one by one. Its memory
// is a few bytes per pixel of the label map beyond the point lists, and its time grows
// with the pixels plus the points. Stages reported: "vote", "gradient", "flood", "keep".
QList<qint32> isolateKeepPixels(const QImage &labelMap, const QList<QPoint> &keepPoints,
                                const QList<QPoint> &removePoints,
                                const QList<QList<qint16>> &centers,
                                const IsolationHooks &hooks = {});

// The same from a marker set, whose dabs are read where they lie, never listed point by
// point: memory a few bytes per pixel whatever the dabs, time growing with the pixels plus
// the dabs' area. "harvest" (counting the votes under the marks) is reported first.
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
