#pragma once

#include <QImage>
#include <QList>
#include <QVector>

#include "analysis/progress.h"

// Opaque white W x H matte with the keep pixels (linear indices y * W + x) opaque black.
QImage buildMatte(const QList<qint32> &keepPixels, int W, int H);

// The normalised kernel of a size-s blur: s taps, one more when s is even. Empty for s < 1
// or a sigma that is not positive.
QVector<double> gaussianWeights(int s, double sigma);

// Separable Gaussian blur of all four bytes of a 32-bit image; `destination` must already
// hold a copy of `source`, or be the same image (a band of r pixels along the edges is left
// as it is, and so is every pixel whose neighbourhood holds one value). The work is shared
// among the cores; the progress values of the two passes are reported once it is done.
void gaussianBlur(const QImage &source, QImage &destination, int s, double sigma,
                  const ProgressCallback &progress = {});

// The matte the preview uses: buildMatte, then, when smoothing is on, the blur with
// sigma = size / 5. A size below 1 means no smoothing.
QImage smoothedMatte(const QList<qint32> &keepPixels, int W, int H, bool smooth, int gaussSize,
                     const ProgressCallback &progress = {}, const StageTimer &stageTimer = {});

// The photo with alpha = 255 - the matte's blue channel, colour untouched; ARGB32.
QImage buildCutout(const QImage &photo, const QImage &matte);
// The same for a matte that is not needed afterwards: when nothing else shares it and it
// has the photo's size, the cut-out is written into its memory instead of new memory.
QImage buildCutout(const QImage &photo, QImage &&matte);
