// Object isolation on the 1, 12 and 24-megapixel photo: each stage, the whole run, its
// peak extra memory, and OpenCV's watershed on the same picture and markers when built
// with OpenCV.

#include "analysis/analysis.h"
#include "bench/benchsupport.h"
#include "isolation/isolation.h"
#include "isolation/markers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMap>

#include <malloc.h>

#include <cstdio>
#include <ctime>

#ifdef PELTRIX_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

static const char *const labelSource = "labels: the program's colour analysis (30 clusters)";

// The label map and centres the isolation works on, as opening the photo leaves them.
static void benchLabels(const QImage &picture, QImage &labelMap, QList<QList<qint16>> &centers)
{
    CColorClusters clusters;
    analysePicture(picture, clusters, labelMap);
    centers = clusters.centers();
}

static double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// This process's CPU time: on a busy machine a steadier figure than the wall clock.
static double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

static void trimHeap()
{
    malloc_trim(0);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The stages' diagnostic lines would swamp the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    // Fixed threshold: big blocks come from and go back to the system, so the resident
    // peak measures what a run really holds.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    const int runs = 5;
    const char *const stages[] = {"harvest", "vote", "gradient", "flood", "keep"};

    // Optional sizes in megapixels on the command line; 1, 12 and 24 by default.
    QList<double> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.append(QByteArray(argv[i]).toDouble());
    if (sizes.isEmpty())
        sizes = {1.0, 12.0, 24.0};

    std::printf("%s\n", labelSource);
    for (double megapixels : std::as_const(sizes)) {
        const QImage photo = benchPhoto(megapixels);
        if (photo.isNull()) {
            std::printf("no benchmark photo at %s\n", benchPhotoPath());
            return 1;
        }
        QImage labelMap;
        QList<QList<qint16>> centers;
        benchLabels(photo, labelMap, centers);
        const QList<MarkerDab> strokes = benchStrokes(photo.size());
        const int W = photo.width();
        const int H = photo.height();
        const double pixels = double(W) * H;

        QMap<QString, QList<double>> stageMs;
        QList<double> totalMs, totalCpuMs;
        QList<qint32> firstResult;
        double peakPerPixel = 0;
        qsizetype keepPointCount = 0, removePointCount = 0;
        for (int run = 0; run < runs; ++run) {
            trimHeap();
            resetPeakResident();
            const qint64 base = peakResidentBytes();
            QElapsedTimer whole;
            whole.start();
            const double cpuStart = cpuMs();
            QElapsedTimer harvestTimer;
            harvestTimer.start();
            QList<QPoint> keepPoints, removePoints;
            harvestMarkers(strokes, W, H, keepPoints, removePoints);
            stageMs["harvest"].append(harvestTimer.nsecsElapsed() / 1e6);
            IsolationHooks hooks;
            hooks.stageTimer = [&](const char *stage, qint64 ns) {
                stageMs[QString::fromLatin1(stage)].append(ns / 1e6);
            };
            const QList<qint32> keepPixels =
                isolateKeepPixels(labelMap, keepPoints, removePoints, centers, hooks);
            totalMs.append(whole.nsecsElapsed() / 1e6);
            totalCpuMs.append(cpuMs() - cpuStart);
            peakPerPixel = qMax(peakPerPixel, (peakResidentBytes() - base) / pixels);
            if (run == 0) {
                firstResult = keepPixels;
                keepPointCount = keepPoints.size();
                removePointCount = removePoints.size();
            } else if (keepPixels != firstResult) {
                std::printf("results differ between runs\n");
                return 1;
            }
        }

        std::printf("\n%d x %d (%.1f MP), %lld keep points, %lld remove points, %lld keep pixels\n",
                    W, H, pixels / 1e6, qint64(keepPointCount), qint64(removePointCount),
                    qint64(firstResult.size()));
        for (const char *stage : stages)
            std::printf("  %-9s %9.1f ms\n", stage, median(stageMs.value(QString::fromLatin1(stage))));
        const double ours = median(totalMs);
        const double oursCpu = median(totalCpuMs);
        std::printf("  %-9s %9.1f ms (median of %d; CPU time %.1f ms)\n", "whole run", ours, runs, oursCpu);
        std::printf("  peak extra memory %.2f bytes per pixel\n", peakPerPixel);

#ifdef PELTRIX_HAVE_OPENCV
        cv::setNumThreads(1);
        const QImage rgb = photo.convertToFormat(QImage::Format_RGB888);
        const cv::Mat picture(H, W, CV_8UC3, const_cast<uchar *>(rgb.constBits()),
                              size_t(rgb.bytesPerLine()));
        cv::Mat markers(H, W, CV_32SC1, cv::Scalar(0));
        {
            QList<QPoint> keepPoints, removePoints;
            harvestMarkers(strokes, W, H, keepPoints, removePoints);
            for (const QPoint &p : std::as_const(keepPoints))
                markers.at<qint32>(p.y(), p.x()) = 1;
            for (const QPoint &p : std::as_const(removePoints))
                markers.at<qint32>(p.y(), p.x()) = 2;
        }
        QList<double> watershedMs, watershedCpuMs;
        for (int run = 0; run < runs; ++run) {
            cv::Mat work = markers.clone();
            QElapsedTimer timer;
            timer.start();
            const double cpuStart = cpuMs();
            cv::watershed(picture, work);
            watershedMs.append(timer.nsecsElapsed() / 1e6);
            watershedCpuMs.append(cpuMs() - cpuStart);
        }
        const double theirs = median(watershedMs);
        const double theirsCpu = median(watershedCpuMs);
        std::printf("  cv::watershed %9.1f ms (1 thread, median of %d; CPU time %.1f ms)\n", theirs,
                    runs, theirsCpu);
        std::printf("  ratio ours / watershed %.3f (target <= 0.5; CPU time %.3f)\n", ours / theirs,
                    oursCpu / theirsCpu);
#else
        std::printf("  (built without OpenCV: no watershed comparison)\n");
#endif
    }
    return 0;
}
