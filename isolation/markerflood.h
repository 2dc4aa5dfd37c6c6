#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QPoint>

#include <memory>

#include "analysis/progress.h"

// The marker flood on its own planes. Both planes carry a one-pixel frame, and the state
// frame reads as settled, so no neighbour loop tests bounds.
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
// The queue therefore never holds more than one entry per pixel.
class MarkerFlood
{
public:
    enum : uchar { KeepMark = 1, RemoveMark = 2, Settled = 4, SettledKeep = Settled | KeepMark };

    MarkerFlood(int width, int height);

    // Row y of the gradient plane, to be filled by the caller before run().
    uchar *gradientLine(int y) { return gradient.get() + (y + 1) * pitch + 1; }
    qsizetype gradientStride() const { return pitch; }

    // W x H bytes of scratch space until run() starts (the state plane's memory).
    uchar *scratchPlane() { return state.get(); }

    // Seeds and floods, writing "ws: 1" to "ws: 3" with the milliseconds of `clock` unless
    // it is null. Points outside the picture are ignored. Frees the gradient plane when done.
    void run(const QList<QPoint> &keepPoints, const QList<QPoint> &removePoints,
             const ProgressCallback &progress, const QElapsedTimer *clock);

    const uchar *stateLine(int y) const { return state.get() + (y + 1) * pitch + 1; }
    qsizetype stateStride() const { return pitch; }
    // Label 0..3 of a state byte after run().
    static int label(uchar s) { return (s & Settled) ? (s & 3) : 0; }
    // Pixels with label 1.
    qsizetype keepCount() const { return keeps; }

    // Calls visit(x, y) for every keep pixel, column by column.
    template<typename Visit>
    void forEachKeep(Visit visit) const
    {
        for (int x = 0; x < W; ++x) {
            const uchar *s = state.get() + pitch + 1 + x;
            for (int y = 0; y < H; ++y, s += pitch) {
                if (*s == SettledKeep)
                    visit(x, y);
            }
        }
    }

private:
    int W;
    int H;
    qsizetype pitch;
    std::unique_ptr<uchar[]> gradient;
    std::unique_ptr<uchar[]> state;
    qsizetype keeps = 0;
};
