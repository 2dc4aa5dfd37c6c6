// Export of the 24-megapixel photo at full size over the default background (white with
// alpha 0), as the Export command does it, against encoding the same picture alone.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMap>
#include <QTemporaryDir>

#include <cstdio>

#include "analysis/analysis.h"
#include "bench/benchsupport.h"
#include "isolation/isolation.h"
#include "isolation/markers.h"
#include "output/exportcompose.h"
#include "output/matte.h"

namespace {

// Qt's PNG writer takes the zlib level as quality: level = (100 - quality) * 9 / 91.
constexpr int pngQuality = 85; // the level writeExportFile uses
constexpr QRgb defaultBackground = 0x00FFFFFF;

// The ladybird as the program isolates it from the benchmark strokes.
QList<qint32> ladybird(const QImage &photo)
{
    CColorClusters clusters;
    QImage labelMap;
    analysePicture(photo, clusters, labelMap);
    QList<QPoint> keepPoints, removePoints;
    harvestMarkers(benchStrokes(photo.size()), photo.width(), photo.height(), keepPoints,
                   removePoints);
    return isolateKeepPixels(labelMap, keepPoints, removePoints, clusters.centers());
}

// The export command's work once its dialog is closed, as it does it for a colour
// background: the composition and the file.
QImage exportOnce(const QImage &cutout, QSize pictureSize, const QString &path,
                  QMap<QString, QList<double>> &stages)
{
    QElapsedTimer timer;
    timer.start();
    QImage result = composeExport(defaultBackground, pictureSize, pictureSize, cutout,
                                  QPoint(0, 0), pictureSize);
    stages["compose"].append(timer.nsecsElapsed() / 1e6);
    timer.restart();
    if (!writeExportFile(result, path))
        std::printf("export to %s failed\n", qPrintable(path));
    stages["write"].append(timer.nsecsElapsed() / 1e6);
    return result;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    const QImage photo = benchPhoto(24);
    if (photo.isNull()) {
        std::printf("no benchmark photo at %s\n", benchPhotoPath());
        return 1;
    }
    const int W = photo.width(), H = photo.height();
    const QList<qint32> keep = ladybird(photo);
    const QImage cutout = buildCutout(photo, smoothedMatte(keep, W, H, true, 5));
    std::printf("%d x %d (%.1f MP), object %.1f %% of the picture\n", W, H, W * double(H) / 1e6,
                100.0 * keep.size() / (double(W) * H));

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const int runs = 5;
    int failures = 0;
    for (const auto &[format, quality] : {std::pair<const char *, int>{"jpg", 100}, {"png", pngQuality}}) {
        const QString exported = dir.filePath(QStringLiteral("export.") + QLatin1String(format));
        const QString encoded = dir.filePath(QStringLiteral("encode.") + QLatin1String(format));

        // Export and encoding take turns, so that both meet the same load on the machine.
        QMap<QString, QList<double>> stages;
        QList<double> exportTimes, encodeTimes;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            const QImage composed = exportOnce(cutout, photo.size(), exported, stages);
            exportTimes.append(timer.nsecsElapsed() / 1e6);
            timer.restart();
            if (!composed.save(encoded, nullptr, quality))
                std::printf("save to %s failed\n", qPrintable(encoded));
            encodeTimes.append(timer.nsecsElapsed() / 1e6);
        }
        const double exportMs = median(exportTimes);
        const double encodeMs = median(encodeTimes);
        const double ratio = exportMs / encodeMs;
        std::printf("\n%s: export %.1f ms, encoding alone %.1f ms, ratio %.2f (target <= 1.5)%s\n",
                    format, exportMs, encodeMs, ratio, ratio > 1.5 ? "  ** over **" : "");
        for (const char *stage : {"compose", "write"})
            std::printf("  %-10s %8.1f ms\n", stage, median(stages.value(QLatin1String(stage))));
        std::printf("  files: export %.1f MB, encoding alone %.1f MB\n",
                    QFileInfo(exported).size() / 1e6, QFileInfo(encoded).size() / 1e6);
        if (ratio > 1.5)
            ++failures;
    }
    return failures;
}
