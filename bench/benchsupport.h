#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QString>

#include <algorithm>
#include <functional>

#include "isolation/markers.h"

// The benchmark photo: a ladybird on a grass stalk among flowers, from Debian's
// mate-backgrounds package.
inline const char *benchPhotoPath() { return "/usr/share/backgrounds/mate/nature/LadyBird.jpg"; }

// The photo smoothly scaled to about `megapixels` (its 16:10 shape kept) with light
// fixed-seed noise, so that it has as many distinct colours as a camera photo. Null when
// the package is missing.
QImage benchPhoto(double megapixels);
// The same at exactly `size` (stretched when its shape is not 16:10).
QImage benchPhoto(QSize size);

// The same photo with ImageMagick's `+noise Gaussian` (fixed seed) over it, like a high-ISO
// camera photo: most pixels then differ from their neighbours. Made once with `convert` and
// kept under /tmp; null when ImageMagick or the photo is missing.
QImage noisyBenchPhoto(double megapixels);

// Keep strokes inside the ladybird and remove strokes around it, as dabs newest first,
// scaled to a picture of the given size.
QList<MarkerDab> benchStrokes(QSize pictureSize);

// Number of distinct 24-bit colours.
qsizetype distinctColours(const QImage &picture);

// Median wall time in milliseconds of `runs` calls.
inline double medianMs(int runs, const std::function<void()> &work)
{
    QList<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.append(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}

// Peak resident set size of this process so far, in bytes (VmHWM).
qint64 peakResidentBytes();
// Resets the peak to the current resident size, where the kernel allows it.
void resetPeakResident();

// How far the resident size rises above where it stood at construction (the heap trimmed
// and the peak reset first).
class PeakGrowth
{
public:
    PeakGrowth();
    qint64 bytes() const;

private:
    qint64 base;
};
