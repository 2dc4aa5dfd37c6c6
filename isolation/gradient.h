#pragma once

#include <QImage>

// Edge strength of the vote image: a Sobel magnitude / 8 inside, a one-sided difference / 5
// along the border, corners 0.
QImage buildGradientImage(QImage voteImage);
