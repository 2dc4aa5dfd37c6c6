#pragma once
// What the matte and export benchmarks share: the benchmark photo at 6, 24 and 96
// megapixels, smooth (the plain upscale) and noisy (that upscale once through ImageMagick's
// Gaussian noise, like a high-ISO photo, cached under /tmp), the keep pixels the program
// isolates on it from the benchmark strokes, and the OpenCV anchors.

#include <QDir>
#include <QFileInfo>
#include <QImage>
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

inline QImage noisyVersion(const QImage &smooth, double megapixels)
{
    const QString base = QDir::temp().filePath(QStringLiteral("peltrix-bench-%1mp").arg(megapixels));
    const QString noisy = base + QStringLiteral("-noisy.ppm");
    if (!QFileInfo::exists(noisy)) {
        const QString plain = base + QStringLiteral("-smooth.ppm");
        std::printf("(making %s with ImageMagick, once)\n", qPrintable(noisy));
        std::fflush(stdout);
        if (!smooth.save(plain))
            return QImage();
        const int status = QProcess::execute(QStringLiteral("convert"),
            {QStringLiteral("-seed"), QStringLiteral("1"), plain, QStringLiteral("+noise"),
             QStringLiteral("Gaussian"), noisy});
        QFile::remove(plain);
        if (status != 0)
            return QImage();
    }
    return QImage(noisy).convertToFormat(QImage::Format_ARGB32);
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
