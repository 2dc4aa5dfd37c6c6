#include "app/cutrun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

#include <cstdio>

#include "output/exportcompose.h"
#include "output/keepmask.h"
#include "output/savefile.h"

namespace {

// Prints "stage: ms" lines to standard error as stages finish, when asked to.
class StageTimes
{
public:
    explicit StageTimes(bool enabled) : enabled(enabled) {}

    void report(const char *stage, qint64 nanoseconds) const
    {
        if (enabled)
            std::fprintf(stderr, "%s: %.1f\n", stage, nanoseconds / 1e6);
    }
    StageTimer timer() const
    {
        return [this](const char *stage, qint64 nanoseconds) { report(stage, nanoseconds); };
    }

private:
    bool enabled;
};

// Writes intermediate results into the dump folder; does nothing without one. Each write
// returns false with the reason in `error`.
class Dump
{
public:
    explicit Dump(const QString &folder) : folder(folder) {}

    bool enabled() const { return !folder.isEmpty(); }
    // Creates the folder and checks that it takes files, before any long work.
    bool prepare(QString &error) const;
    bool writeImage(const QString &name, const QImage &image, QString &error) const;
    bool writeText(const QString &name, const QString &text, QString &error) const;

private:
    QString filePath(const QString &name) const;

    QString folder;
};

bool Dump::prepare(QString &error) const
{
    if (!enabled())
        return true;
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
        error = QStringLiteral("cannot create the dump folder %1").arg(folder);
        return false;
    }
    QSaveFile probe(filePath(QStringLiteral(".peltrix-cut-probe")));
    if (!probe.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("cannot write to the dump folder %1: %2").arg(folder, probe.errorString());
        return false;
    }
    probe.cancelWriting();
    return true;
}

bool Dump::writeImage(const QString &name, const QImage &image, QString &error) const
{
    if (!enabled())
        return true;
    QSaveFile file(filePath(name));
    QImageWriter writer(&file, "png");
    QString reason;
    if (!file.open(QIODevice::WriteOnly) || !writer.write(image) || !commitComplete(file, &reason)) {
        // The file's own error names the system's reason (a full disk, no permission).
        if (reason.isEmpty())
            reason = file.error() != QFileDevice::NoError ? file.errorString() : writer.errorString();
        error = QStringLiteral("cannot write %1: %2").arg(file.fileName(), reason);
        return false;
    }
    return true;
}

bool Dump::writeText(const QString &name, const QString &text, QString &error) const
{
    if (!enabled())
        return true;
    QString reason;
    if (!writeWholeFile(filePath(name), text.toUtf8(), &reason)) {
        error = QStringLiteral("cannot write %1: %2").arg(filePath(name), reason);
        return false;
    }
    return true;
}

QString Dump::filePath(const QString &name) const
{
    return QDir(folder).filePath(name);
}

QString centresText(const CColorClusters &clusters)
{
    QString text;
    for (int k = 0; k < clusters.clusterCount; ++k)
        text += QStringLiteral("%1 %2 %3 %4\n").arg(clusters.centerL[k]).arg(clusters.centerA[k])
                    .arg(clusters.centerB[k]).arg(clusters.pixelCounts[k]);
    return text;
}


// The export, when one is asked for.
bool exportCutout(CutSession &session, const CutOptions &options, const StageTimes &times, QString &error)
{
    QElapsedTimer clock;
    QString reason;
    if (options.outputPath.isEmpty())
        return true;
    if (options.backgroundPicture.isNull())
        session.setBackgroundColour(options.backgroundColour);
    else
        session.setBackgroundPicture(options.backgroundPicture);
    session.setObjectOffset(options.offset);
    session.setBackgroundZoom(options.backgroundZoom);
    const QSize exportSize = options.exportSize.value_or(session.exportStartSize());
    const QImage result = session.exportImage(exportSize, times.timer());
    if (result.isNull()) {
        error = QStringLiteral("cannot compose the %1x%2 export").arg(exportSize.width()).arg(exportSize.height());
        return false;
    }
    clock.start();
    if (!writeExportFile(result, options.outputPath, &reason)) {
        error = QStringLiteral("cannot write %1: %2").arg(options.outputPath, reason);
        return false;
    }
    times.report("encode", clock.nsecsElapsed());
    if (options.backgroundPicture.isNull() && qAlpha(options.backgroundColour) < 255
        && exportFormat(options.outputPath) == "jpeg") {
        std::fprintf(stderr, "peltrix-cut: warning: the background colour is transparent but %s is a "
                             "JPEG: its transparency was lost (write .png to keep it)\n",
                     qPrintable(options.outputPath));
    }
    return true;
}

// Without markers: the trimap's object as the keep pixels, its grey solved. No analysis.
bool cutFromTrimap(CutSession &session, const CutOptions &options, const StageTimes &times, const Dump &dump,
                   QString &error)
{
    const QSize size = session.size();
    session.setTrimap(options.trimap);
    if (!session.hasKeepMarker())
        std::fprintf(stderr, "peltrix-cut: warning: the trimap has no object pixel (255)\n");
    session.isolate();
    if (dump.enabled()
        && !dump.writeImage(QStringLiteral("mask.png"),
                            keepPixelImage(session.keepPixels(), size, QImage::Format_Grayscale8, 255, 0), error))
        return false;
    if (!dump.writeImage(QStringLiteral("refined-matte.png"), session.buildMatte({}, times.timer()), error))
        return false;
    session.releaseKeepPixels();
    QElapsedTimer clock;
    clock.start();
    if (session.buildCutout(true).isNull()) {
        error = QStringLiteral("not enough memory for the cut-out");
        return false;
    }
    times.report("cutout", clock.nsecsElapsed());
    session.releasePhoto();
    return dump.writeImage(QStringLiteral("cutout.png"), session.cutout(), error);
}

} // namespace

// Each step frees what later ones no longer read.
bool runCut(const CutOptions &options, QString &error)
{
    const StageTimes times(options.time);
    const Dump dump(options.dumpFolder);
    if (!dump.prepare(error))
        return false;

    CutSession session;
    QElapsedTimer clock;
    clock.start();
    QString reason;
    if (!session.open(options.picture, &reason)) {
        error = QStringLiteral("cannot read %1: %2").arg(options.picture, reason);
        return false;
    }
    times.report("decode", clock.nsecsElapsed());
    const QSize size = session.size();
    const auto sameSize = [&](const QImage &picture, const char *name) {
        if (picture.isNull() || picture.size() == size)
            return true;
        error = QStringLiteral("the %1 is %2x%3 but %4 is %5x%6")
                    .arg(QLatin1String(name))
                    .arg(picture.width())
                    .arg(picture.height())
                    .arg(options.picture)
                    .arg(size.width())
                    .arg(size.height());
        return false;
    };
    if (!sameSize(options.markerPicture, "marker picture") || !sameSize(options.trimap, "trimap"))
        return false;
    if (!options.trimap.isNull())
        return cutFromTrimap(session, options, times, dump, error) && exportCutout(session, options, times, error);

    // The precise isolation reads the photo itself: the analysis only runs for its dump.
    if (!options.cutting || options.method == IsolationMethod::ColourClusters || dump.enabled()) {
        AnalysisHooks analysisHooks;
        analysisHooks.stageTimer = times.timer();
        session.analyse(analysisHooks);
        if (!dump.writeImage(QStringLiteral("labels.png"), indexedAsGrey(session.labelMap()), error)
            || !dump.writeText(QStringLiteral("centers.txt"), centresText(session.clusters()), error))
            return false;
    }
    if (!options.cutting)
        return true;

    session.setDabs(options.drawingOrder);
    session.setMarkerPicture(options.markerPicture);
    if (!session.hasKeepMarker())
        std::fprintf(stderr, "peltrix-cut: warning: no keep marker lies on the picture, "
                             "the cut-out is empty\n");
    IsolationHooks isolationHooks;
    isolationHooks.stageTimer = times.timer();
    session.setIsolationMethod(options.method);
    if (dump.enabled() && options.method == IsolationMethod::Precise) {
        const PreciseStages stages = session.preciseByStages(isolationHooks);
        if (!dump.writeImage(QStringLiteral("colours.png"), indexedAsGrey(stages.colourShare), error)
            || !dump.writeImage(QStringLiteral("geodesic.png"), indexedAsGrey(stages.distance), error)
            || !dump.writeImage(QStringLiteral("decision.png"), indexedAsGrey(stages.decision), error))
            return false;
    } else if (dump.enabled()) {
        const IsolationStages stages = session.isolateByStages(isolationHooks);
        if (!dump.writeImage(QStringLiteral("vote.png"), indexedAsGrey(stages.votes), error)
            || !dump.writeImage(QStringLiteral("gradient.png"), indexedAsGrey(stages.gradient), error)
            || !dump.writeImage(QStringLiteral("flood.png"), indexedAsGrey(stages.floodLabels), error))
            return false;
    } else {
        session.isolate(isolationHooks);
    }
    session.releaseAnalysis();
    if (dump.enabled()
        && !dump.writeImage(QStringLiteral("mask.png"),
                            keepPixelImage(session.keepPixels(), size, QImage::Format_Grayscale8, 255, 0),
                            error))
        return false;

    session.setSmoothing(options.smooth, options.gaussSize);
    session.setRefine(false);
    // With refined edges the dump keeps the plain matte too, to compare.
    if ((!options.refine || dump.enabled())
        && !dump.writeImage(QStringLiteral("matte.png"), session.buildMatte({}, times.timer()), error))
        return false;
    session.setRefine(options.refine);
    if (options.refine
        && !dump.writeImage(QStringLiteral("refined-matte.png"), session.buildMatte({}, times.timer()), error))
        return false;
    session.releaseKeepPixels();

    clock.restart();
    if (session.buildCutout(true).isNull()) {
        error = QStringLiteral("not enough memory for the cut-out");
        return false;
    }
    times.report("cutout", clock.nsecsElapsed());
    // The window leaves out edits that do not fit its cut-out too.
    if (!applyEdits(session.cutout(), options.edits))
        std::fprintf(stderr, "peltrix-cut: warning: the brush edits do not fit the picture and were left out\n");
    session.releasePhoto();
    if (!dump.writeImage(QStringLiteral("cutout.png"), session.cutout(), error))
        return false;

    return exportCutout(session, options, times, error);
}

