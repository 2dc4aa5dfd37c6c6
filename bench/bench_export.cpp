// Export at full size, as the Export command does it, at 6, 24 and 96 megapixels on a smooth
// and a noisy photo, over the default background (white with alpha 0: mostly empty) and over
// the photo itself as background picture (a full photo to encode): the composition and the
// file writing in ns per pixel, against OpenCV's imwrite PNG with its default settings of
// the same picture, measured in the same run, with the file sizes. The export replaces its
// file safely (a temporary file, synced to disk, renamed); "encoding alone" writes a plain
// file, as imwrite does.
//   bench_export [--threads N] [--mp 6,24,96]

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>

#include "bench/outputbench.h"
#include "output/exportcompose.h"
#include "output/matte.h"
#include "output/pngwriter.h"

namespace {

constexpr int runs = 5;
constexpr QRgb defaultBackground = 0x00FFFFFF;
// PNG: at most as slow as OpenCV's imwrite and at most 5 % larger.
constexpr double pngTimeTarget = 1.0;
constexpr double pngSizeTarget = 1.05;

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

qint64 fileSize(const QString &path) { return QFileInfo(path).size(); }

// Returns false when a target is missed.
bool measure(const outputbench::Photo &photo, const QImage &cutout, bool overPhoto,
             const QTemporaryDir &dir)
{
    const QImage &picture = photo.picture;

    const QString png = dir.filePath(QStringLiteral("export.png"));
    const QString jpeg = dir.filePath(QStringLiteral("export.jpg"));
    const QString anchor = dir.filePath(QStringLiteral("opencv.png"));
    const QString plain = dir.filePath(QStringLiteral("plain.png"));
    QList<double> composeMs, pngMs, encodeMs, jpegMs, opencvMs;
    QImage composed;
    // The export and the anchor take turns, so that both meet the same load on the machine.
    for (int run = 0; run < runs; ++run) {
        composed = QImage();
        composeMs.append(medianMs(1, [&] {
            composed = overPhoto
                ? composeExport(picture, picture.size(), cutout, QPoint(0, 0), picture.size())
                : composeExport(defaultBackground, picture.size(), picture.size(), cutout,
                                QPoint(0, 0), picture.size());
        }));
        QString error;
        pngMs.append(medianMs(1, [&] {
            if (!writeExportFile(composed, png, &error))
                std::printf("export to %s failed: %s\n", qPrintable(png), qPrintable(error));
        }));
        // The encoder alone into a plain file, as imwrite writes: no temporary, no sync.
        encodeMs.append(medianMs(1, [&] {
            QFile file(plain);
            if (!file.open(QIODevice::WriteOnly) || !writePng(composed, file))
                std::printf("writing %s failed\n", qPrintable(plain));
        }));
#ifdef PELTRIX_HAVE_OPENCV
        const cv::Mat mat = outputbench::matOf(composed);
        opencvMs.append(medianMs(1, [&] { cv::imwrite(anchor.toStdString(), mat); }));
#endif
        if (run < 3)
            jpegMs.append(medianMs(1, [&] { writeExportFile(composed, jpeg); }));
    }
    auto ns = [&](const QList<double> &ms) { return outputbench::nsPerPixel(median(ms), picture); };
    std::printf("%-6s %4.0f MP (%d x %d) over %s:\n", qPrintable(photo.name), photo.megapixels,
                picture.width(), picture.height(), overPhoto ? "the photo" : "the default colour");
    std::printf("  compose %6.2f ns/px   JPEG %6.2f ns/px %7.1f MB\n", ns(composeMs), ns(jpegMs),
                fileSize(jpeg) / 1e6);
    std::printf("  PNG export %6.2f ns/px (encoding alone %6.2f ns/px) %7.1f MB\n", ns(pngMs),
                ns(encodeMs), fileSize(png) / 1e6);
    bool met = true;
    if (!opencvMs.isEmpty()) {
        const double time = median(pngMs) / median(opencvMs);
        const double encodeTime = median(encodeMs) / median(opencvMs);
        const double size = double(fileSize(png)) / fileSize(anchor);
        std::printf("  OpenCV imwrite %6.2f ns/px %7.1f MB; export time %4.2f (target <= %.1f, %s), "
                    "encoding alone %4.2f, size %4.3f (target <= %.2f, %s)\n",
                    ns(opencvMs), fileSize(anchor) / 1e6, time, pngTimeTarget,
                    outputbench::verdict(time, pngTimeTarget), encodeTime, size, pngSizeTarget,
                    outputbench::verdict(size, pngSizeTarget));
        met = time <= pngTimeTarget && size <= pngSizeTarget;
    }
    std::fflush(stdout);
    return met;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    Parallel::setThreadCount(outputbench::threadsArgument(argc, argv));
    std::printf("export over the default background on %d threads; medians of %d runs\n",
                Parallel::threadCount(), runs);
#ifndef PELTRIX_HAVE_OPENCV
    std::printf("(built without OpenCV: no anchor)\n");
#endif
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    int missed = 0;
    for (double mp : outputbench::sizesArgument(argc, argv)) {
        const QList<outputbench::Photo> photos = outputbench::photos(mp);
        if (photos.isEmpty()) {
            std::printf("no benchmark photo at %s\n", benchPhotoPath());
            return 1;
        }
        for (const outputbench::Photo &photo : photos) {
            const QImage &picture = photo.picture;
            const int W = picture.width(), H = picture.height();
            const QList<qint32> keep = outputbench::keepPixels(picture);
            const QImage cutout = buildCutout(picture, smoothedMatte(keep, W, H, true, 5));
            std::printf("(object %.1f %% of the picture)\n", 100.0 * keep.size() / (double(W) * H));
            for (bool overPhoto : {false, true})
                missed += measure(photo, cutout, overPhoto, dir) ? 0 : 1;
        }
    }
    return missed;
}
