#pragma once

#include <QImage>
#include <QList>

#include "analysis/progress.h"

// What the edge refinement gives the preview and export in place of the Gaussian feather.
struct RefinedCutout
{
    QImage matte;  // ARGB32, blue byte = 255 - alpha, like smoothedMatte's
    QImage cutout; // ARGB32: estimated foreground colour where alpha is fractional, the
                   // photo's colour where it is 0 or 255
};

// How far inside and outside the keep decision's outline alpha is estimated; pixels
// farther inside stay 255, farther outside 0. Strands and fur that the decision misses
// reach out from the object, so the band reaches farther out than in.
constexpr int refineBandInside = 15;
constexpr int refineBandOutside = 30;

// Fractional alpha and foreground colour near the outline of the keep pixels (linear
// indices y * W + x of `photo`, any order; others are ignored). The same inputs give the
// same bytes on any number of threads. Progress reaches 80 when alpha is done, then 100;
// the stage timer hears "band", "system", "solve", "colours" and "cutout".
RefinedCutout refineEdges(const QImage &photo, const QList<qint32> &keepPixels,
                          const ProgressCallback &progress = {}, const StageTimer &stageTimer = {});
