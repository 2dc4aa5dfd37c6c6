// Object isolation at 6, 24 and 96 megapixels on a smooth and a noisy photo: every stage in
// nanoseconds per pixel, the whole run against OpenCV's single-threaded watershed on the
// same picture and strokes (when built with OpenCV), peak memory per pixel, and a million
// large dabs on the 24-megapixel photo. Ends with every figure against its target.
//
//   bench_isolation [--threads N] [--runs N] [--no-dabs] [megapixels ...]

#include "analysis/analysis.h"
#include "analysis/parallel.h"
#include "bench/benchsupport.h"
#include "isolation/isolation.h"
#include "isolation/markers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMap>

#include <malloc.h>

#include <cstdio>
#include <random>

#ifdef PELTRIX_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

// Targets of the isolation's speed work.
constexpr double floodTarget = 35;        // ns/px, noisy 24-megapixel photo
constexpr double watershedTarget = 0.45;  // whole run / cv::watershed
constexpr double keepTarget = 3;          // ns/px at every size
constexpr double growthTarget = 1.15;     // per-pixel cost, largest size / smallest

struct Measured
{
    double megapixels = 0;
    QString photo;
    QMap<QString, double> stageNs; // median ns per pixel
    QStringList stageOrder;
    double wholeNs = 0;
    double watershedNs = 0; // 0 without OpenCV
    double peakPerPixel = 0;
};

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

#ifdef PELTRIX_HAVE_OPENCV
double watershedMs(const QImage &photo, const QList<MarkerDab> &strokes, int runs)
{
    cv::setNumThreads(1);
    const int W = photo.width();
    const int H = photo.height();
    const QImage rgb = photo.convertToFormat(QImage::Format_RGB888);
    const cv::Mat picture(H, W, CV_8UC3, const_cast<uchar *>(rgb.constBits()), size_t(rgb.bytesPerLine()));
    cv::Mat markers(H, W, CV_32SC1, cv::Scalar(0));
    {
        QList<QPoint> keepPoints, removePoints;
        harvestMarkers(strokes, W, H, keepPoints, removePoints);
        for (const QPoint &p : std::as_const(keepPoints))
            markers.at<qint32>(p.y(), p.x()) = 1;
        for (const QPoint &p : std::as_const(removePoints))
            markers.at<qint32>(p.y(), p.x()) = 2;
    }
    QList<double> times;
    for (int run = 0; run < runs; ++run) {
        cv::Mat work = markers.clone();
        QElapsedTimer timer;
        timer.start();
        cv::watershed(picture, work);
        times.append(timer.nsecsElapsed() / 1e6);
    }
    return median(times);
}
#endif

// The share of pixels whose gradient is 0: what makes a photo easy or hard to flood.
double flatShare(const IsolationStages &stages)
{
    const QImage &g = stages.gradient;
    qint64 flat = 0;
    for (int y = 0; y < g.height(); ++y) {
        const uchar *line = g.constScanLine(y);
        for (int x = 0; x < g.width(); ++x)
            flat += line[x] == 0;
    }
    return double(flat) / (qint64(g.width()) * g.height());
}

Measured measure(double megapixels, bool noisy, int runs)
{
    Measured result;
    result.megapixels = megapixels;
    result.photo = noisy ? QStringLiteral("noisy") : QStringLiteral("smooth");
    const QImage photo = noisy ? noisyBenchPhoto(megapixels) : benchPhoto(megapixels);
    if (photo.isNull())
        return result;
    const int W = photo.width();
    const int H = photo.height();
    const double pixels = double(W) * H;
    QImage labelMap;
    QList<QList<qint16>> centers;
    {
        CColorClusters clusters;
        analysePicture(photo, clusters, labelMap);
        centers = clusters.centers();
    }
    MarkerSet markers;
    markers.newestFirst = benchStrokes(photo.size());

    const IsolationStages stages = isolateByStages(labelMap, markers, centers);
    std::printf("\n%s photo, %d x %d (%.1f MP), %.1f %% of pixels with gradient 0, %lld keep pixels\n",
                qPrintable(result.photo), W, H, pixels / 1e6, 100 * flatShare(stages),
                qint64(stages.keepPixels.size()));

    QMap<QString, QList<double>> stageMs;
    QList<double> wholeMs;
    for (int run = 0; run < runs; ++run) {
        IsolationHooks hooks;
        hooks.stageTimer = [&](const char *stage, qint64 ns) {
            const QString name = QString::fromLatin1(stage);
            if (!result.stageOrder.contains(name))
                result.stageOrder.append(name);
            stageMs[name].append(ns / 1e6);
        };
        const PeakGrowth peak;
        QElapsedTimer whole;
        whole.start();
        const QList<qint32> keepPixels = isolateKeepPixels(labelMap, markers, centers, hooks);
        wholeMs.append(whole.nsecsElapsed() / 1e6);
        result.peakPerPixel = qMax(result.peakPerPixel, peak.bytes() / pixels);
        if (keepPixels != stages.keepPixels) {
            std::printf("  the one-call run and the stage-by-stage run differ\n");
            std::exit(1);
        }
    }
    const auto nsPerPixel = [&](double ms) { return ms * 1e6 / pixels; };
    for (const QString &stage : std::as_const(result.stageOrder)) {
        result.stageNs[stage] = nsPerPixel(median(stageMs.value(stage)));
        std::printf("  %-10s %8.1f ms %7.2f ns/px\n", qPrintable(stage), median(stageMs.value(stage)),
                    result.stageNs[stage]);
    }
    result.wholeNs = nsPerPixel(median(wholeMs));
    std::printf("  %-10s %8.1f ms %7.2f ns/px (median of %d)\n", "whole", median(wholeMs), result.wholeNs, runs);
    std::printf("  peak memory %.2f bytes per pixel\n", result.peakPerPixel);
#ifdef PELTRIX_HAVE_OPENCV
    const double theirs = watershedMs(photo, markers.newestFirst, runs);
    result.watershedNs = nsPerPixel(theirs);
    std::printf("  cv::watershed %8.1f ms %7.2f ns/px (1 thread); whole run / watershed %.3f\n", theirs,
                result.watershedNs, result.wholeNs / result.watershedNs);
#endif
    return result;
}

// A million dabs of side 30 scattered over the photo, a third of them keep squares: the
// marks cover the picture many times over.
void manyDabs(double megapixels)
{
    const QImage photo = benchPhoto(megapixels);
    if (photo.isNull())
        return;
    QImage labelMap;
    QList<QList<qint16>> centers;
    {
        CColorClusters clusters;
        analysePicture(photo, clusters, labelMap);
        centers = clusters.centers();
    }
    const int W = photo.width();
    const int H = photo.height();
    const int count = 1000000;
    const int side = 30;
    MarkerSet markers;
    markers.newestFirst.reserve(count);
    std::mt19937 random(20261212);
    std::uniform_real_distribution<double> x(1, W - 1), y(1, H - 1);
    for (int i = 0; i < count; ++i)
        markers.newestFirst.append({i % 3 == 0, QRectF(x(random), y(random), side, side)});

    QStringList order;
    QMap<QString, double> stageMs;
    IsolationHooks hooks;
    hooks.stageTimer = [&](const char *stage, qint64 ns) {
        order.append(QString::fromLatin1(stage));
        stageMs[order.last()] = ns / 1e6;
    };
    const PeakGrowth peak;
    QElapsedTimer whole;
    whole.start();
    const QList<qint32> keepPixels = isolateKeepPixels(labelMap, markers, centers, hooks);
    const double ms = whole.nsecsElapsed() / 1e6;
    const double pixels = double(W) * H;
    std::printf("\n%d dabs of side %d (%.0f dab pixels, %.1f x the picture) on the smooth photo, %d x %d:\n",
                count, side, double(count) * side * side, double(count) * side * side / pixels, W, H);
    for (const QString &stage : std::as_const(order))
        std::printf("  %-10s %8.1f ms\n", qPrintable(stage), stageMs.value(stage));
    std::printf("  whole run %.1f ms, peak memory %.1f MB = %.2f bytes per picture pixel, %lld keep pixels\n",
                ms, peak.bytes() / 1e6, peak.bytes() / pixels, qint64(keepPixels.size()));
}

void printTargets(const QList<Measured> &all)
{
    std::printf("\nAgainst the targets:\n");
    for (const Measured &m : all) {
        if (m.stageNs.isEmpty())
            continue;
        const double flood = m.stageNs.value(QStringLiteral("flood"));
        const double keep = m.stageNs.value(QStringLiteral("keep"));
        std::printf("  %5.1f MP %-6s flood %6.2f ns/px", m.megapixels, qPrintable(m.photo), flood);
        if (m.photo == QLatin1String("noisy") && qFuzzyCompare(m.megapixels, 24.0))
            std::printf(" (target <= %.0f: %.2f x)", floodTarget, flood / floodTarget);
        std::printf("; keep %5.2f ns/px (target <= %.0f: %.2f x)", keep, keepTarget, keep / keepTarget);
        if (m.watershedNs > 0)
            std::printf("; whole / watershed %.3f (target <= %.2f)", m.wholeNs / m.watershedNs, watershedTarget);
        std::printf("\n");
    }
    // Per-pixel growth from the smallest to the largest size, each photo on its own.
    for (const char *photo : {"smooth", "noisy"}) {
        const Measured *smallest = nullptr;
        const Measured *largest = nullptr;
        for (const Measured &m : all) {
            if (m.photo != QLatin1String(photo) || m.stageNs.isEmpty())
                continue;
            if (!smallest || m.megapixels < smallest->megapixels)
                smallest = &m;
            if (!largest || m.megapixels > largest->megapixels)
                largest = &m;
        }
        if (!smallest || smallest == largest)
            continue;
        std::printf("  %s, ns/px at %.0f MP over %.0f MP (target <= %.2f):", photo,
                    largest->megapixels, smallest->megapixels, growthTarget);
        for (const QString &stage : largest->stageOrder) {
            const double base = smallest->stageNs.value(stage);
            if (base > 0)
                std::printf(" %s %.2f", qPrintable(stage), largest->stageNs.value(stage) / base);
        }
        std::printf(", whole %.2f\n", largest->wholeNs / smallest->wholeNs);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // figures as they come, also into a file
    // The stages' diagnostic lines would swamp the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    // Fixed threshold: big blocks come from and go back to the system, so the resident
    // peak measures what a run really holds.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);

    QList<double> sizes;
    int runs = 0;
    bool dabs = true;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--threads") && i + 1 < args.size())
            Parallel::setThreadCount(args[++i].toInt());
        else if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = args[++i].toInt();
        else if (args[i] == QLatin1String("--no-dabs"))
            dabs = false;
        else
            sizes.append(args[i].toDouble());
    }
    if (sizes.isEmpty())
        sizes = {6, 24, 96};
    if (benchPhoto(0.01).isNull()) {
        std::printf("no benchmark photo at %s\n", benchPhotoPath());
        return 1;
    }
    std::printf("labels: the program's colour analysis (30 clusters); %d threads\n", Parallel::threadCount());
#ifndef PELTRIX_HAVE_OPENCV
    std::printf("(built without OpenCV: no watershed comparison)\n");
#endif

    QList<Measured> all;
    for (double megapixels : std::as_const(sizes)) {
        const int n = runs > 0 ? runs : megapixels > 50 ? 3 : 5;
        for (bool noisy : {false, true}) {
            all.append(measure(megapixels, noisy, n));
            if (all.last().stageNs.isEmpty())
                std::printf("\n(no %s photo at %g MP: ImageMagick's convert missing?)\n",
                            noisy ? "noisy" : "smooth", megapixels);
        }
    }
    if (dabs)
        manyDabs(24);
    printTargets(all);
    return 0;
}
