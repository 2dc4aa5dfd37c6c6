#pragma once

#include <QImage>

#include <vector>

#include "analysis/progress.h"

// What the solver makes of a pixel: known (the decision), solved with every flow (where the
// user said the decision may be wrong), or solved locally, leaning on the decision (the
// band around its outline: closed-form matting, fast, as the refinement has always done).
enum SolveMark : quint8 { solveKnown = 0, solveFully = 1, solveLocally = 2 };

// Alpha (0..255) of every pixel of `photo` (ARGB32 or RGB32): the decision `keep` (0 or 1)
// as 0 or 255 where `marks` says known, and solved from the photo's colours elsewhere, with
// the known pixels as the sure foreground and background. Both hold one byte per pixel, row
// by row. The same inputs give the same bytes on any number of threads. The stage timer
// hears "band", "trees", "neighbours" (when a pixel is solved fully), "weights", "system"
// and "solve".
std::vector<quint8> solveAlpha(const QImage &photo, const std::vector<quint8> &marks,
                               const std::vector<quint8> &keep, const StageTimer &stageTimer = {});
