#pragma once

#include <QImage>
#include <QPoint>

// `object` laid over a copy of `background` (ARGB32) with its top-left corner at `offset`,
// clipped to the background, by straight-alpha "over" in integers:
//   outA = (a * 255 + bA * (255 - a)) / 255, colour = (o * a * 255 + b * bA * (255 - a)) / (outA * 255);
// a background pixel stays as it is where outA is 0.
QImage composeOver(const QImage &background, const QImage &object, QPoint offset);

// The same composition written into `canvas` itself (converted to ARGB32 first if needed):
// no second picture-sized buffer when the caller no longer needs the background.
void composeOverInPlace(QImage &canvas, const QImage &object, QPoint offset);

// `canvas` filled with `colour`, then `object` composed over it as above, in one pass.
void fillAndComposeOver(QImage &canvas, QRgb colour, const QImage &object, QPoint offset);
