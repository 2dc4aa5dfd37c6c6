#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QList>

#include <array>

#include "analysis/largebuffer.h"
#include "analysis/progress.h"

class MarkSquares;

// The marker flood on one plane of 16-bit elements, a pixel's state in the low byte and its
// gradient in the high byte, so that settling a pixel reads and writes three rows of one
// plane. The plane carries a one-pixel frame whose state reads as settled, so no neighbour
// loop tests bounds.
//
// One state byte per pixel holds what the plain algorithm spreads over the label image and
// the two mark planes: bit 0 the keep mark, bit 1 the remove mark, bit 2 "settled". A
// settled pixel's label is its two low bits (a seed's are overwritten with its label), so
// the label 1 + 2 = 3 of a pixel reached by both fronts falls out of the marks.
//
// A pixel is queued only on its first arrival; later arrivals only add their mark. This
// settles the same pixels in the same order as queueing every arrival: all entries of a
// pixel sit in the same level (its own gradient) and the first leaves first, so every
// later entry would be dropped as stale, and marks are read only when the pixel settles.
// The queue therefore never holds more than one entry per pixel, and each level no more
// than the pixels of its gradient value.
//
// Seeding needs no list of marker pixels: every seed is settled before its front starts,
// so the points inside a marker's square reach only seeds, and starting the front from the
// square's outline queues the same pixels in the same order as starting it from every point.
class MarkerFlood
{
public:
    enum : uchar { KeepMark = 1, RemoveMark = 2, Settled = 4, SettledKeep = Settled | KeepMark };

    MarkerFlood(int width, int height);

    // The vote and gradient stages in one pass: every pixel's gradient, from the W x H label
    // plane through the vote of each label. On every core.
    void gradientFromLabels(const uchar *labels, qsizetype stride, const std::array<uchar, 256> &voteOf);
    // Or the gradient as an 8-bit image of the flood's size (read through its own stride).
    void gradientFromImage(const QImage &gradient);

    // Seeds and floods, writing "ws: 1" to "ws: 3" with the milliseconds of `clock` unless
    // it is null. The marks must be clipped to the flood's size.
    // Returns false when `cancelled` (asked every 10 000 settled pixels) stopped it early.
    bool run(const MarkSquares &marks, const ProgressCallback &progress, const QElapsedTimer *clock,
             const std::function<bool()> &cancelled = {});

    // Label 0..3 of every pixel after run(), as an 8-bit image (black, green, red, white).
    QImage labelImage() const;
    // The gradient as an 8-bit image with the grey colour table.
    QImage gradientImage() const;
    // The pixels with label 1 as y * W + x, column by column. On every core.
    QList<qint32> keepIndices() const;

private:
    quint16 *element(int x, int y) const
    {
        return reinterpret_cast<quint16 *>(plane.data()) + (qsizetype(y) + 1) * pitch + x + 1;
    }
    void frameRow(int y) const; // the frame row above (y = -1) or below (y = H) the picture
    template <typename ValueOf>
    QImage planeImage(const QVector<QRgb> &colours, ValueOf valueOf) const;

    int W;
    int H;
    qsizetype pitch;
    LargeBuffer plane;
    std::array<qint64, 256> histogram{};
};
