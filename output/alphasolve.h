#pragma once

#include <QImage>

#include <vector>

#include "analysis/progress.h"

// Alpha (0..255) of every pixel of `photo` (ARGB32 or RGB32): where `unknown` is 0 the
// decision `keep` (0 or 1) as 0 or 255; where it is 1, solved from the photo's colours with
// the other pixels as the known foreground and background, and pulled towards the decision
// as strongly as `pull` says (empty: not at all). The masks and `pull` hold one value per
// pixel, row by row. The same inputs give the same bytes on any number of threads. The
// stage timer hears "band", "trees", "neighbours", "weights", "system" and "solve".
std::vector<quint8> solveAlpha(const QImage &photo, const std::vector<quint8> &unknown,
                               const std::vector<quint8> &keep, const std::vector<float> &pull = {},
                               const StageTimer &stageTimer = {});
