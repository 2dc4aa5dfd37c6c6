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

// Which pixels the refinement solves, and what the others get.
struct RefineRegion
{
    // Pixels painted unknown (edge dabs, a trimap's grey): Grayscale8 of the photo's size,
    // nonzero where alpha is solved whatever the decision there; null for none.
    QImage painted;
    // Whether the band around the decision's outline is solved as well.
    bool band = true;
    // What the pixels off the solved ones show: this matte (blue byte = 255 - alpha, the
    // photo's size) with the photo's colours; null for the decision itself.
    QImage outside;
};

// Fractional alpha and foreground colour over the region's pixels, given the keep pixels
// (linear indices y * W + x of `photo`, any order; others are ignored) as the decision
// around them. The same inputs give the same bytes on any number of threads. Progress
// reaches 80 when alpha is done, then 100; the stage timer hears the solver's stages (see
// alphasolve.h), "colours" and "refined-cutout".
RefinedCutout refineEdges(const QImage &photo, const QList<qint32> &keepPixels, const RefineRegion &region,
                          const ProgressCallback &progress = {}, const StageTimer &stageTimer = {});
// The band alone.
RefinedCutout refineEdges(const QImage &photo, const QList<qint32> &keepPixels,
                          const ProgressCallback &progress = {}, const StageTimer &stageTimer = {});
