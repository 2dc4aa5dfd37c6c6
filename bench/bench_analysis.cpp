// The colour analysis of an opened photo at 6, 24 and 96 megapixels, smooth and noisy: every
// stage in nanoseconds per pixel against the decoding of the photo's JPEG in the same run,
// peak memory per pixel, and how each stage's cost per pixel grows with the size.
//
//   bench_analysis [--threads N] [--runs N] [--no-check] [megapixels ...]

#include <QBuffer>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMap>

#include <cstdio>

#include "analysis/analysis.h"
#include "analysis/parallel.h"
#include "bench/benchsupport.h"
#include "output/pictureio.h"

namespace {

constexpr double growthTarget = 1.15; // per-pixel cost, largest size / smallest

struct Measured
{
    double megapixels = 0;
    QString photo;
    QStringList stageOrder;
    QMap<QString, double> stageNs;
    double wholeNs = 0;
    double decodeNs = 0;
};

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

Measured benchmark(double megapixels, bool noisy, int runs)
{
    Measured result;
    result.megapixels = megapixels;
    result.photo = noisy ? QStringLiteral("noisy") : QStringLiteral("smooth");
    const QImage photo = noisy ? noisyBenchPhoto(megapixels) : benchPhoto(megapixels);
    if (photo.isNull()) {
        std::printf("\n(no %s photo at %g MP)\n", qPrintable(result.photo), megapixels);
        return result;
    }
    const double pixels = double(photo.width()) * photo.height();
    const auto nsPerPixel = [&](double ms) { return ms * 1e6 / pixels; };
    std::printf("\n%s photo, %d x %d (%.1f MP), %lld distinct colours\n", qPrintable(result.photo),
                photo.width(), photo.height(), pixels / 1e6, static_cast<long long>(distinctColours(photo)));

    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        photo.save(&buffer, "JPEG", 95);
    }
    const double decodeMs = medianMs(runs, [&] {
        QImage decoded;
        decoded.loadFromData(jpeg, "JPEG");
    });
    const double readMs = medianMs(runs, [&] {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::ReadOnly);
        readPicture(&buffer);
    });
    result.decodeNs = nsPerPixel(decodeMs);
    std::printf("  JPEG q95 %.1f MB: decode %.1f ms (%.2f ns/px), as opened (EXIF, ARGB32) %.1f ms\n",
                jpeg.size() / 1e6, decodeMs, result.decodeNs, readMs);

    QMap<QString, QList<double>> stageMs;
    QList<double> wholeMs;
    qint64 peakExtra = 0;
    for (int run = 0; run < runs; ++run) {
        CColorClusters clusters;
        QImage labelMap;
        AnalysisHooks hooks;
        hooks.stageTimer = [&](const char *stage, qint64 ns) {
            const QString name = QString::fromLatin1(stage);
            if (!result.stageOrder.contains(name))
                result.stageOrder.append(name);
            stageMs[name].append(ns / 1e6);
        };
        const PeakGrowth peak;
        wholeMs.append(medianMs(1, [&] { analysePicture(photo, clusters, labelMap, hooks); }));
        peakExtra = qMax(peakExtra, peak.bytes());
    }
    for (const QString &stage : std::as_const(result.stageOrder)) {
        const double ms = median(stageMs.value(stage));
        result.stageNs[stage] = nsPerPixel(ms);
        std::printf("  %-15s %8.1f ms %7.2f ns/px\n", qPrintable(stage), ms, result.stageNs[stage]);
    }
    const double whole = median(wholeMs);
    result.wholeNs = nsPerPixel(whole);
    std::printf("  %-15s %8.1f ms %7.2f ns/px (median of %d), %.2f x the decode\n", "whole analysis", whole,
                result.wholeNs, runs, whole / decodeMs);
    std::printf("  peak memory %.1f MB, %.2f bytes per pixel (the 1-byte label map included)\n",
                peakExtra / 1e6, double(peakExtra) / pixels);
    return result;
}

void printGrowth(const QList<Measured> &all)
{
    std::printf("\nAgainst the targets:\n");
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
        std::printf("  %s, ns/px at %.0f MP over %.0f MP (target <= %.2f):", photo, largest->megapixels,
                    smallest->megapixels, growthTarget);
        for (const QString &stage : largest->stageOrder) {
            const double base = smallest->stageNs.value(stage);
            if (base > 0)
                std::printf(" %s %.2f", qPrintable(stage), largest->stageNs.value(stage) / base);
        }
        std::printf(", whole %.2f\n", largest->wholeNs / smallest->wholeNs);
    }
    for (const Measured &m : all) {
        if (!m.stageNs.isEmpty())
            std::printf("  %5.1f MP %-6s whole analysis %.2f x the JPEG decode\n", m.megapixels,
                        qPrintable(m.photo), m.wholeNs / m.decodeNs);
    }
}

// The labelling's quick conversion must equal the exact one everywhere.
void verifyConversion()
{
    const double *linear = linearChannelTable();
    qint64 differing = 0;
    for (quint32 c = 0; c < (1u << 24); ++c) {
        const LabValue quick = labFromLinearChecked(linear[qRed(c)], linear[qGreen(c)], linear[qBlue(c)]);
        const LabValue exact = labFromLinear(linearChannel(qRed(c)), linearChannel(qGreen(c)),
                                             linearChannel(qBlue(c)));
        differing += quick.L != exact.L || quick.a != exact.a || quick.b != exact.b;
    }
    std::printf("quick L*a*b* conversion vs the exact one over all 2^24 colours: %lld differ\n",
                static_cast<long long>(differing));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // figures as they come, also into a file
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    QList<double> sizes;
    int runs = 0;
    bool check = true;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--threads") && i + 1 < args.size())
            Parallel::setThreadCount(args[++i].toInt());
        else if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = args[++i].toInt();
        else if (args[i] == QLatin1String("--no-check"))
            check = false;
        else
            sizes.append(args[i].toDouble());
    }
    if (sizes.isEmpty())
        sizes = {6, 24, 96};
    if (benchPhoto(0.01).isNull()) {
        std::printf("benchmark photo missing: %s\n", benchPhotoPath());
        return 1;
    }
    std::printf("%d threads\n", Parallel::threadCount());
    if (check)
        verifyConversion();
    QList<Measured> all;
    for (double megapixels : std::as_const(sizes)) {
        for (bool noisy : {false, true})
            all.append(benchmark(megapixels, noisy, runs > 0 ? runs : megapixels > 50 ? 3 : 5));
    }
    printGrowth(all);
    return 0;
}
