#pragma once
// What the matte and export benchmarks share: the benchmark photo at 6, 24 and 96
// megapixels, smooth (the plain upscale) and noisy (that upscale once through ImageMagick's
// Gaussian noise, like a high-ISO photo, cached under /tmp), the keep pixels the program
// isolates on it from the benchmark strokes, and the OpenCV anchors.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QList>
#include <QProcess>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "analysis/analysis.h"
#include "analysis/parallel.h"
#include "bench/benchsupport.h"
#include "isolation/isolation.h"
#include "isolation/markers.h"

#ifdef PELTRIX_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace outputbench {

struct Photo
{
    QString name; // "smooth" or "noisy"
    double megapixels = 0;
    QImage picture; // ARGB32
};

// ImageMagick's resource policy refuses very large pictures in one go, and the noise of one
// pixel does not depend on the others: the picture goes through in strips.
inline QImage noisyVersion(const QImage &smooth, double megapixels)
{
    const QString base = QDir::temp().filePath(QStringLiteral("peltrix-bench-%1mp").arg(megapixels));
    const QString noisy = base + QStringLiteral("-noisy.ppm");
    if (!QFileInfo::exists(noisy)) {
        std::printf("(making %s with ImageMagick, once)\n", qPrintable(noisy));
        std::fflush(stdout);
        QImage result(smooth.size(), QImage::Format_RGB32);
        const int stripRows = std::max(1, int(16e6 / smooth.width()));
        const QString plain = base + QStringLiteral("-strip.ppm");
        const QString strip = base + QStringLiteral("-strip-noisy.ppm");
        for (int y = 0, seed = 1; y < smooth.height(); y += stripRows, ++seed) {
            const int rows = std::min(stripRows, smooth.height() - y);
            if (!smooth.copy(0, y, smooth.width(), rows).save(plain))
                return QImage();
            const int status = QProcess::execute(QStringLiteral("convert"),
                {QStringLiteral("-seed"), QString::number(seed), plain, QStringLiteral("+noise"),
                 QStringLiteral("Gaussian"), strip});
            const QImage done = QImage(strip).convertToFormat(QImage::Format_RGB32);
            if (status != 0 || done.size() != QSize(smooth.width(), rows))
                return QImage();
            for (int row = 0; row < rows; ++row)
                std::memcpy(result.scanLine(y + row), done.constScanLine(row), size_t(smooth.width()) * 4);
        }
        QFile::remove(plain);
        QFile::remove(strip);
        if (!result.save(noisy))
            return QImage();
    }
    QImageReader::setAllocationLimit(0); // the 96-megapixel picture
    return QImageReader(noisy).read().convertToFormat(QImage::Format_ARGB32);
}

// The photos of one size, smooth first; a missing one is left out.
inline QList<Photo> photos(double megapixels)
{
    QList<Photo> result;
    const QImage smooth = benchPhoto(megapixels);
    if (smooth.isNull())
        return result;
    result.append({QStringLiteral("smooth"), megapixels, smooth});
    const QImage noisy = noisyVersion(smooth, megapixels);
    if (!noisy.isNull())
        result.append({QStringLiteral("noisy"), megapixels, noisy});
    else
        std::printf("(no noisy photo: is ImageMagick's convert installed?)\n");
    return result;
}

// The keep pixels, column by column, as the program finds them from the benchmark strokes.
inline QList<qint32> keepPixels(const QImage &photo)
{
    CColorClusters clusters;
    QImage labelMap;
    analysePicture(photo, clusters, labelMap);
    QList<QPoint> keepPoints, removePoints;
    harvestMarkers(benchStrokes(photo.size()), photo.width(), photo.height(), keepPoints,
                   removePoints);
    return isolateKeepPixels(labelMap, keepPoints, removePoints, clusters.centers());
}

inline double nsPerPixel(double ms, const QImage &picture)
{
    return ms * 1e6 / (double(picture.width()) * picture.height());
}

// "--threads N" on the command line; 0 (all cores) without it.
inline int threadsArgument(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--threads") == 0)
            return std::max(0, std::atoi(argv[i + 1]));
    return 0;
}

// Sizes to run: "--mp 6,24" on the command line, or all three.
inline QList<double> sizesArgument(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--mp") == 0) {
            QList<double> sizes;
            for (const QByteArray &part : QByteArray(argv[i + 1]).split(','))
                sizes.append(part.toDouble());
            return sizes;
        }
    return {6.0, 24.0, 96.0};
}

inline const char *verdict(double ratio, double target)
{
    return ratio <= target ? "met" : "** over **";
}

#ifdef PELTRIX_HAVE_OPENCV
// A Mat over the picture's bytes (no copy); OpenCV reads them as B, G, R, A, which is what
// ARGB32 holds in memory on a little-endian machine.
inline cv::Mat matOf(const QImage &picture)
{
    return cv::Mat(picture.height(), picture.width(), CV_8UC4,
                   const_cast<uchar *>(picture.constBits()), size_t(picture.bytesPerLine()));
}
#endif

} // namespace outputbench
