#pragma once

#include <QImage>

#include <functional>

#include "analysis/colorclusters.h"
#include "analysis/progress.h"

// The reduced copy the clustering works on: the picture itself when its longer side is at
// most 512, otherwise scaled (nearest neighbour) to 512 on the longer side, the height for
// squares, the other side rounded and never below 1 pixel.
QImage analysisPicture(const QImage &full);

// What the analysis reports to its caller while it runs; every member may be empty.
struct AnalysisHooks
{
    ProgressCallback progress;
    std::function<void()> processEvents; // called exactly once, before the clustering
    StageTimer stageTimer;
};

// The colour analysis of an opened picture (32-bit ARGB, at least 1 x 1): clusters the
// analysis picture into 30 colours and labels every pixel of `full` with its nearest
// non-empty cluster in a new 8-bit indexed `labelMap` (grey colour table). Progress runs
// 10, 15, 20, then the clustering's 30 to 80; the caller sets the final 100.
void analysePicture(const QImage &full, CColorClusters &clusters, QImage &labelMap,
                    const AnalysisHooks &hooks = {});
