#pragma once

#include <QImage>
#include <QPoint>

// Straight-alpha "over" of `object`, placed at `offset`, on a copy of `background`; both are
// read as ARGB32 and the result is ARGB32 of the background's size. Integer arithmetic with
// truncating division: outA = (a*255 + bA*(255-a)) / 255; where outA is 0 the background pixel
// stays, otherwise c = (o*a*255 + b*bA*(255-a)) / (outA*255). Only the overlap is touched.
QImage composeOver(const QImage &background, const QImage &object, QPoint offset);
