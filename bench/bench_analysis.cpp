// The colour analysis of an opened photo against the decoding of its JPEG.
#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>
#include <QLoggingCategory>
#include <QMap>

#include <cstdio>

#include "analysis/analysis.h"
#include "bench/benchsupport.h"
#include "output/pictureio.h"

namespace {

const int runs = 5;
const char *const stages[] = {"analysis-scale", "lab-analysis", "cluster", "label"};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

void benchmark(double megapixels)
{
    const QImage photo = benchPhoto(megapixels);
    if (photo.isNull()) {
        std::printf("benchmark photo missing: %s\n", benchPhotoPath());
        return;
    }
    const qint64 pixels = qint64(photo.width()) * photo.height();
    std::printf("\n%g MP: %d x %d, %lld distinct colours\n", megapixels, photo.width(),
                photo.height(), static_cast<long long>(distinctColours(photo)));

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
    std::printf("  JPEG q95 %.1f MB: decode %.1f ms, as opened (EXIF, ARGB32) %.1f ms\n",
                jpeg.size() / 1e6, decodeMs, readMs);

    QMap<QByteArray, QList<double>> stageMs;
    QList<double> wholeMs;
    qint64 peakExtra = 0;
    for (int run = 0; run < runs; ++run) {
        CColorClusters clusters;
        QImage labelMap;
        AnalysisHooks hooks;
        hooks.stageTimer = [&](const char *stage, qint64 ns) { stageMs[stage].append(ns / 1e6); };
        resetPeakResident();
        const qint64 baseline = peakResidentBytes();
        wholeMs.append(medianMs(1, [&] { analysePicture(photo, clusters, labelMap, hooks); }));
        peakExtra = qMax(peakExtra, peakResidentBytes() - baseline);
    }
    for (const char *stage : stages)
        std::printf("  %-15s %8.1f ms\n", stage, median(stageMs.value(stage)));
    const double whole = median(wholeMs);
    std::printf("  whole analysis  %8.1f ms, ratio to decode %.2f\n", whole, whole / decodeMs);
    std::printf("  peak extra memory %.1f MB, %.2f bytes per pixel\n", peakExtra / 1e6,
                double(peakExtra) / pixels);
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
    QGuiApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    verifyConversion();
    for (double megapixels : {1.0, 12.0, 24.0})
        benchmark(megapixels);
    return 0;
}
