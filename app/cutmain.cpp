// peltrix-cut: the program's pipeline without the window, for scripts and batch work.
// The run is a list of stages over one context; each stage reads what the earlier ones
// left, records its wall time and adds its intermediate results to the dump.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageWriter>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>

#include "analysis/analysis.h"
#include "output/pictureio.h"

namespace {

struct CutOptions
{
    QString picture;
    QString dumpFolder; // empty: no dump
    bool time = false;
};

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

// Writes intermediate results into the dump folder; does nothing without one.
class Dump
{
public:
    explicit Dump(const QString &folder) : folder(folder) {}

    bool enabled() const { return !folder.isEmpty(); }

    // Creates the folder and checks that it takes files, before any long work.
    bool prepare(QString &error) const
    {
        if (!enabled())
            return true;
        QFileInfo info(folder);
        if (!QDir().mkpath(folder) || !info.isDir()) {
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

    bool writeImage(const QString &name, const QImage &image, QString &error) const
    {
        if (!enabled())
            return true;
        QImageWriter writer(filePath(name));
        if (!writer.write(image)) {
            error = QStringLiteral("cannot write %1: %2").arg(writer.fileName(), writer.errorString());
            return false;
        }
        return true;
    }

    bool writeText(const QString &name, const QString &text, QString &error) const
    {
        if (!enabled())
            return true;
        QSaveFile file(filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
            error = QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
            return false;
        }
        return true;
    }

private:
    QString filePath(const QString &name) const { return QDir(folder).filePath(name); }

    QString folder;
};

// Everything the stages share: the options, the helpers and what has been computed.
struct CutContext
{
    explicit CutContext(const CutOptions &options)
        : options(options), times(options.time), dump(options.dumpFolder)
    {
    }

    CutOptions options;
    StageTimes times;
    Dump dump;
    QString error;

    QImage source; // ARGB32, as the program opens it
    CColorClusters clusters;
    QImage labelMap;
};

bool decodeStage(CutContext &context)
{
    QElapsedTimer clock;
    clock.start();
    QString reason;
    context.source = readPicture(context.options.picture, &reason);
    if (context.source.isNull()) {
        context.error = QStringLiteral("cannot read %1: %2").arg(context.options.picture, reason);
        return false;
    }
    context.times.report("decode", clock.nsecsElapsed());
    return true;
}

// The label map as plain 8-bit grey, value = cluster index, whatever its colour table.
QImage labelsAsGrey(const QImage &labelMap)
{
    QImage grey(labelMap.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < labelMap.height(); ++y)
        memcpy(grey.scanLine(y), labelMap.constScanLine(y), size_t(labelMap.width()));
    return grey;
}

bool analysisStage(CutContext &context)
{
    AnalysisHooks hooks;
    hooks.stageTimer = context.times.timer();
    analysePicture(context.source, context.clusters, context.labelMap, hooks);

    if (!context.dump.enabled())
        return true;
    QString centres;
    QTextStream out(&centres);
    for (int k = 0; k < context.clusters.clusterCount; ++k) {
        out << context.clusters.centerL[k] << ' ' << context.clusters.centerA[k] << ' '
            << context.clusters.centerB[k] << ' ' << context.clusters.pixelCounts[k] << '\n';
    }
    out.flush();
    return context.dump.writeImage(QStringLiteral("labels.png"), labelsAsGrey(context.labelMap), context.error)
           && context.dump.writeText(QStringLiteral("centers.txt"), centres, context.error);
}

using Stage = bool (*)(CutContext &);

// In pipeline order; each later step of the cut-out slots in here.
const Stage stages[] = {decodeStage, analysisStage};

int fail(const QString &message, int code)
{
    std::fprintf(stderr, "peltrix-cut: %s\n", qPrintable(message));
    return code;
}

enum ExitCode { Success = 0, RunFailed = 1, UsageError = 2 };

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("peltrix-cut"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELTRIX_VERSION));
    // The analysis logs its iterations to the debug output; keep standard error for the
    // timings and errors (QT_LOGGING_RULES still overrides this).
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Analyses the colours of PICTURE as the program does when it opens it."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption dumpOption(
        QStringLiteral("dump"),
        QStringLiteral("Write the intermediate results into <folder>: labels.png (cluster index per "
                       "pixel as grey) and centers.txt (L a b count per cluster)."),
        QStringLiteral("folder"));
    const QCommandLineOption timeOption(
        QStringLiteral("time"), QStringLiteral("Print each stage's wall time in milliseconds to standard error."));
    parser.addOption(dumpOption);
    parser.addOption(timeOption);
    parser.addPositionalArgument(QStringLiteral("PICTURE"), QStringLiteral("The picture to work on."));

    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText(), UsageError);
    if (parser.isSet(helpOption))
        parser.showHelp(Success);
    if (parser.isSet(versionOption))
        parser.showVersion();
    const QStringList pictures = parser.positionalArguments();
    if (pictures.size() != 1) {
        return fail(pictures.isEmpty() ? QStringLiteral("no picture given (see --help)")
                                       : QStringLiteral("one picture at a time, got %1").arg(pictures.size()),
                    UsageError);
    }

    CutOptions options;
    options.picture = pictures.first();
    options.dumpFolder = parser.value(dumpOption);
    options.time = parser.isSet(timeOption);
    if (parser.isSet(dumpOption) && options.dumpFolder.isEmpty())
        return fail(QStringLiteral("--dump needs a folder"), UsageError);

    CutContext context(options);
    if (!context.dump.prepare(context.error))
        return fail(context.error, RunFailed);
    for (const Stage stage : stages) {
        if (!stage(context))
            return fail(context.error, RunFailed);
    }
    return Success;
}
