// peltrix-cut: the program's pipeline without the window, for scripts and batch work.
// The run is a list of stages over one context; each stage reads what the earlier ones
// left, records its wall time and adds its intermediate results to the dump.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>
#include <optional>

#include "analysis/analysis.h"
#include "isolation/flood.h"
#include "isolation/gradient.h"
#include "isolation/isolation.h"
#include "isolation/markerinput.h"
#include "isolation/markers.h"
#include "isolation/vote.h"
#include "output/exportcompose.h"
#include "output/matte.h"
#include "output/pictureio.h"

namespace {

// The program's own defaults, not whatever the user last chose in the window.
constexpr int defaultGaussSize = 5;
constexpr QRgb defaultBackgroundColour = 0x00FFFFFF;
// The Export dialog's width and height boxes go up to this.
constexpr int largestExportSide = 9999;
constexpr int largestGaussSize = 99;

struct CutOptions
{
    QString picture;
    QString dumpFolder; // empty: no dump
    bool time = false;

    QList<MarkerDab> drawingOrder; // from --markers
    QImage markerPicture;          // from --marker-image
    bool smooth = true;
    int gaussSize = defaultGaussSize;

    QString outputPath; // empty: no export
    std::optional<QSize> exportSize;
    QRgb backgroundColour = defaultBackgroundColour;
    QImage backgroundPicture; // null: the colour
    QPoint offset;

    // Without markers or an export only the colour analysis runs.
    bool cutting = false;
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

    QImage source; // ARGB32, as the program opens it; dropped once the cut-out is built
    QSize pictureSize;
    CColorClusters clusters;
    QImage labelMap;
    QList<QPoint> keepPoints;
    QList<QPoint> removePoints;
    QList<qint32> keepPixels;
    QImage matte;
    QImage cutout;
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
    context.pictureSize = context.source.size();
    context.times.report("decode", clock.nsecsElapsed());
    const QImage &markers = context.options.markerPicture;
    if (!markers.isNull() && markers.size() != context.source.size()) {
        context.error = QStringLiteral("the marker picture is %1x%2 but %3 is %4x%5")
                            .arg(markers.width())
                            .arg(markers.height())
                            .arg(context.options.picture)
                            .arg(context.source.width())
                            .arg(context.source.height());
        return false;
    }
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

// The dabs as the window's scene would hold them, rasterised newest first; the marker
// picture's points follow, as if painted before every dab.
bool harvestStage(CutContext &context)
{
    if (!context.options.cutting)
        return true;
    QElapsedTimer clock;
    clock.start();
    const QSize size = context.source.size();
    harvestMarkers(placeDabs(context.options.drawingOrder, size), size.width(), size.height(),
                   context.keepPoints, context.removePoints);
    if (!context.options.markerPicture.isNull())
        markerPicturePoints(context.options.markerPicture, context.keepPoints, context.removePoints);
    context.times.report("harvest", clock.nsecsElapsed());
    if (context.keepPoints.isEmpty())
        std::fprintf(stderr, "peltrix-cut: warning: no keep marker lies on the picture, "
                             "the cut-out is empty\n");
    return true;
}

// The keep pixels of the flood's labels, column by column, as the flood hands them out.
QList<qint32> keepPixelsOf(const QImage &floodLabels)
{
    const int W = floodLabels.width();
    const int H = floodLabels.height();
    QList<qint32> keepPixels;
    for (int x = 0; x < W; ++x) {
        for (int y = 0; y < H; ++y) {
            if (floodLabels.constScanLine(y)[x] == 1)
                keepPixels.append(y * W + x);
        }
    }
    return keepPixels;
}

QImage maskOf(const QList<qint32> &keepPixels, int W, int H)
{
    QImage mask(W, H, QImage::Format_Grayscale8);
    mask.fill(0);
    for (const qint32 index : keepPixels)
        mask.scanLine(index / W)[index % W] = 255;
    return mask;
}

bool isolationStage(CutContext &context)
{
    if (!context.options.cutting)
        return true;
    const QList<QList<qint16>> centers = context.clusters.centers();
    if (!context.dump.enabled()) {
        // The window's own call: vote, gradient and flood without their images.
        IsolationHooks hooks;
        hooks.stageTimer = context.times.timer();
        context.keepPixels = isolateKeepPixels(context.labelMap, context.keepPoints,
                                               context.removePoints, centers, hooks);
    } else {
        // Stage by stage, for the images in between; the same keep pixels.
        QElapsedTimer clock;
        clock.start();
        const QImage votes =
            buildVoteImage(context.labelMap, context.keepPoints, context.removePoints, centers);
        context.times.report("vote", clock.nsecsElapsed());
        if (!context.dump.writeImage(QStringLiteral("vote.png"), labelsAsGrey(votes), context.error))
            return false;
        clock.restart();
        const QImage gradient = buildGradientImage(votes);
        context.times.report("gradient", clock.nsecsElapsed());
        if (!context.dump.writeImage(QStringLiteral("gradient.png"), labelsAsGrey(gradient), context.error))
            return false;
        clock.restart();
        const QImage floodLabels = floodLabelImage(gradient, context.keepPoints, context.removePoints);
        context.times.report("flood", clock.nsecsElapsed());
        if (!context.dump.writeImage(QStringLiteral("flood.png"), labelsAsGrey(floodLabels), context.error))
            return false;
        clock.restart();
        context.keepPixels = keepPixelsOf(floodLabels);
        context.times.report("keep", clock.nsecsElapsed());
    }
    context.labelMap = QImage();
    context.keepPoints.clear();
    context.removePoints.clear();
    const QImage mask = context.dump.enabled()
        ? maskOf(context.keepPixels, context.pictureSize.width(), context.pictureSize.height())
        : QImage();
    return context.dump.writeImage(QStringLiteral("mask.png"), mask, context.error);
}

bool matteStage(CutContext &context)
{
    if (!context.options.cutting)
        return true;
    const QSize size = context.pictureSize;
    context.matte = smoothedMatte(context.keepPixels, size.width(), size.height(), context.options.smooth,
                                  context.options.gaussSize, {}, context.times.timer());
    context.keepPixels.clear();
    return context.dump.writeImage(QStringLiteral("matte.png"), context.matte, context.error);
}

bool cutoutStage(CutContext &context)
{
    if (!context.options.cutting)
        return true;
    QElapsedTimer clock;
    clock.start();
    context.cutout = buildCutout(context.source, context.matte);
    context.times.report("cutout", clock.nsecsElapsed());
    context.matte = QImage();
    context.source = QImage();
    if (context.cutout.isNull()) {
        context.error = QStringLiteral("not enough memory for the cut-out");
        return false;
    }
    return context.dump.writeImage(QStringLiteral("cutout.png"), context.cutout, context.error);
}

// What the Export command writes, from what the preview would show.
bool exportStage(CutContext &context)
{
    const CutOptions &options = context.options;
    if (options.outputPath.isEmpty())
        return true;
    QElapsedTimer clock;
    clock.start();
    const QSize size = options.exportSize.value_or(
        options.backgroundPicture.isNull() ? context.pictureSize : options.backgroundPicture.size());
    qint64 preparation = 0;
    const StageTimer timer = [&](const char *stage, qint64 nanoseconds) {
        context.times.report(stage, nanoseconds + preparation);
        preparation = 0;
    };
    QImage result;
    if (!options.backgroundPicture.isNull()) {
        // The preview shows the picture fitted into the photo's size, and the export scales the
        // picture itself to that displayed size: take the size from the preview's own scaling.
        const QSize displayedSize = options.backgroundPicture
                                        .scaled(context.pictureSize, Qt::KeepAspectRatio,
                                                Qt::SmoothTransformation)
                                        .size();
        preparation = clock.nsecsElapsed();
        result = composeExport(options.backgroundPicture, displayedSize, context.cutout,
                               options.offset, size, timer);
    } else {
        // A colour fills a background of the photo's size, as the preview's background item.
        result = composeExport(options.backgroundColour, context.pictureSize, context.pictureSize,
                               context.cutout, options.offset, size, timer);
    }
    if (result.isNull()) {
        context.error =
            QStringLiteral("cannot compose the %1x%2 export").arg(size.width()).arg(size.height());
        return false;
    }

    clock.restart();
    QString reason;
    if (!writeExportFile(result, options.outputPath, &reason)) {
        context.error = QStringLiteral("cannot write %1: %2").arg(options.outputPath, reason);
        return false;
    }
    context.times.report("encode", clock.nsecsElapsed());
    if (options.backgroundPicture.isNull() && qAlpha(options.backgroundColour) < 255
        && exportFormat(options.outputPath) == "jpeg") {
        std::fprintf(stderr, "peltrix-cut: warning: the background colour is transparent but %s is a "
                             "JPEG: its transparency was lost (write .png to keep it)\n",
                     qPrintable(options.outputPath));
    }
    return true;
}

using Stage = bool (*)(CutContext &);

// In pipeline order; each later step of the cut-out slots in here.
const Stage stages[] = {decodeStage, analysisStage, harvestStage, isolationStage,
                        matteStage,  cutoutStage,   exportStage};

int fail(const QString &message, int code)
{
    std::fprintf(stderr, "peltrix-cut: %s\n", qPrintable(message));
    return code;
}

enum ExitCode { Success = 0, RunFailed = 1, UsageError = 2 };

std::optional<QSize> parseSize(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,4})[xX](\\d{1,4})$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const QSize size(match.captured(1).toInt(), match.captured(2).toInt());
    if (size.width() < 1 || size.height() < 1)
        return std::nullopt;
    return size;
}

std::optional<QPoint> parseOffset(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*([-+]?\\d+)\\s*,\\s*([-+]?\\d+)\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool okX = false;
    bool okY = false;
    const QPoint offset(match.captured(1).toInt(&okX), match.captured(2).toInt(&okY));
    if (!okX || !okY)
        return std::nullopt;
    return offset;
}

// "#AARRGGBB" or "#RRGGBB" (opaque).
std::optional<QRgb> parseColour(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^#([0-9A-Fa-f]{6}|[0-9A-Fa-f]{8})$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    const QRgb value = text.mid(1).toUInt(nullptr, 16);
    return text.size() == 7 ? (value | 0xFF000000u) : value;
}

// Fills in the background of `options` from --background; on failure returns the exit code
// with the reason in `error`.
int applyBackground(const QString &value, CutOptions &options, QString &error)
{
    if (value == QLatin1String("white")) {
        options.backgroundColour = 0xFFFFFFFF;
    } else if (value == QLatin1String("transparent")) {
        options.backgroundColour = defaultBackgroundColour;
    } else if (value.startsWith(QLatin1Char('#'))) {
        const std::optional<QRgb> colour = parseColour(value);
        if (!colour) {
            error = QStringLiteral("--background: \"%1\" is not a colour #AARRGGBB or #RRGGBB").arg(value);
            return UsageError;
        }
        options.backgroundColour = *colour;
    } else {
        // Read as the background dialog reads it, so that the pixels are the window's.
        QImageReader reader(value);
        reader.setAutoTransform(true);
        options.backgroundPicture = reader.read().convertToFormat(QImage::Format_ARGB32);
        if (options.backgroundPicture.isNull()) {
            error = QStringLiteral("cannot read the background picture %1: %2")
                        .arg(value, reader.errorString());
            return RunFailed;
        }
    }
    return Success;
}

// Makes sure the export can be written before any long work; the target itself is untouched.
QString checkOutput(const QString &path)
{
    if (exportFormat(path).isEmpty())
        return QStringLiteral("-o: %1 is neither .png nor .jpg/.jpeg").arg(path);
    QSaveFile probe(path);
    if (!probe.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1: %2").arg(path, probe.errorString());
    probe.cancelWriting();
    return {};
}

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
    parser.setApplicationDescription(QStringLiteral(
        "Cuts the object out of PICTURE as the program does: the colour analysis, the markers, "
        "the isolation, the matte and the export.\n"
        "Without --markers, --marker-image or -o only the colour analysis runs.\n"
        "Exit status: 0 done, 1 a file could not be read, was malformed or could not be "
        "written, 2 a bad command line."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption markersOption(
        QStringLiteral("markers"),
        QStringLiteral("Marker dabs, one per line in drawing order: \"keep X Y SIZE\" (a keep square) "
                       "or \"remove X Y SIZE\" (a remove disc); X Y the floating-point picture "
                       "coordinates of the dab's top-left corner, SIZE its side, 0 to 255. Blank "
                       "lines and text after # are ignored. A dab the canvas would not place (its "
                       "corner on the first row or column or off the picture) is skipped."),
        QStringLiteral("file"));
    const QCommandLineOption markerImageOption(
        QStringLiteral("marker-image"),
        QStringLiteral("A picture of PICTURE's size with painted strokes: every clearly green pixel "
                       "is a keep point, every clearly red one a remove point. Clearly: alpha at "
                       "least 128, that channel at least 128 and at least 64 above each of the "
                       "other two. With --markers too, the dabs count as painted after the "
                       "picture's strokes: both sets of points are used."),
        QStringLiteral("file"));
    const QCommandLineOption dumpOption(
        QStringLiteral("dump"),
        QStringLiteral("Write the intermediate results into <folder>: labels.png (cluster index per "
                       "pixel as grey) and centers.txt (L a b count per cluster); with markers also "
                       "vote.png, gradient.png, flood.png (0 unreached, 1 keep, 2 remove, 3 "
                       "boundary), mask.png (255 at the keep pixels), matte.png and cutout.png."),
        QStringLiteral("folder"));
    const QCommandLineOption timeOption(
        QStringLiteral("time"), QStringLiteral("Print each stage's wall time in milliseconds to standard error."));
    const QCommandLineOption noSmoothOption(
        QStringLiteral("no-smooth"), QStringLiteral("Do not smooth the matte's edge."));
    const QCommandLineOption gaussOption(
        QStringLiteral("gauss"),
        QStringLiteral("Size of the edge smoothing's Gaussian kernel, 1 to %1 (default %2).")
            .arg(largestGaussSize)
            .arg(defaultGaussSize),
        QStringLiteral("n"));
    const QCommandLineOption outputOption(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Export the cut-out to <file> as the Export command does: JPEG for .jpg or "
                       ".jpeg, PNG for .png."),
        QStringLiteral("file"));
    const QCommandLineOption sizeOption(
        QStringLiteral("size"),
        QStringLiteral("The export's size, each side 1 to %1 (default: PICTURE's size, or the "
                       "background picture's with --background PICTURE).")
            .arg(largestExportSide),
        QStringLiteral("WxH"));
    const QCommandLineOption backgroundOption(
        QStringLiteral("background"),
        QStringLiteral("The export's background: white, transparent (white with alpha 0, the "
                       "default), a colour #AARRGGBB or #RRGGBB, or a picture file, fitted into "
                       "PICTURE's size as the preview shows it."),
        QStringLiteral("background"));
    const QCommandLineOption offsetOption(
        QStringLiteral("offset"),
        QStringLiteral("Where the object's top-left corner sits on the preview, in PICTURE's "
                       "pixels (default 0,0)."),
        QStringLiteral("X,Y"));
    parser.addOptions({markersOption, markerImageOption, dumpOption, timeOption, noSmoothOption,
                       gaussOption, outputOption, sizeOption, backgroundOption, offsetOption});
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

    // Every option is checked, and every input read, before the long work starts.
    CutOptions options;
    options.picture = pictures.first();
    options.dumpFolder = parser.value(dumpOption);
    options.time = parser.isSet(timeOption);
    if (parser.isSet(dumpOption) && options.dumpFolder.isEmpty())
        return fail(QStringLiteral("--dump needs a folder"), UsageError);
    options.smooth = !parser.isSet(noSmoothOption);
    if (parser.isSet(gaussOption)) {
        bool ok = false;
        options.gaussSize = parser.value(gaussOption).toInt(&ok);
        if (!ok || options.gaussSize < 1 || options.gaussSize > largestGaussSize) {
            return fail(QStringLiteral("--gauss: \"%1\" is not a size from 1 to %2")
                            .arg(parser.value(gaussOption))
                            .arg(largestGaussSize),
                        UsageError);
        }
    }
    if (parser.isSet(sizeOption)) {
        options.exportSize = parseSize(parser.value(sizeOption));
        if (!options.exportSize) {
            return fail(QStringLiteral("--size: \"%1\" is not WxH with sides from 1 to %2")
                            .arg(parser.value(sizeOption))
                            .arg(largestExportSide),
                        UsageError);
        }
    }
    if (parser.isSet(offsetOption)) {
        const std::optional<QPoint> offset = parseOffset(parser.value(offsetOption));
        if (!offset)
            return fail(QStringLiteral("--offset: \"%1\" is not X,Y in whole pixels")
                            .arg(parser.value(offsetOption)),
                        UsageError);
        options.offset = *offset;
    }
    options.outputPath = parser.value(outputOption);
    if (parser.isSet(outputOption) && options.outputPath.isEmpty())
        return fail(QStringLiteral("-o needs a file"), UsageError);
    if (options.outputPath.isEmpty()) {
        for (const QCommandLineOption &exportOnly : {sizeOption, backgroundOption, offsetOption}) {
            if (parser.isSet(exportOnly))
                return fail(QStringLiteral("--%1 needs -o").arg(exportOnly.names().constFirst()), UsageError);
        }
    }
    if (parser.isSet(backgroundOption)) {
        QString error;
        const int code = applyBackground(parser.value(backgroundOption), options, error);
        if (code != Success)
            return fail(error, code);
    }
    if (parser.isSet(markersOption)) {
        QString error;
        if (!readMarkerFile(parser.value(markersOption), options.drawingOrder, error))
            return fail(error, RunFailed);
    }
    if (parser.isSet(markerImageOption)) {
        QString reason;
        options.markerPicture = readPicture(parser.value(markerImageOption), &reason);
        if (options.markerPicture.isNull())
            return fail(QStringLiteral("cannot read the marker picture %1: %2")
                            .arg(parser.value(markerImageOption), reason),
                        RunFailed);
    }
    options.cutting =
        parser.isSet(markersOption) || parser.isSet(markerImageOption) || parser.isSet(outputOption);
    if (!options.outputPath.isEmpty()) {
        const QString error = checkOutput(options.outputPath);
        if (!error.isEmpty())
            return fail(error, exportFormat(options.outputPath).isEmpty() ? UsageError : RunFailed);
    }

    CutContext context(options);
    if (!context.dump.prepare(context.error))
        return fail(context.error, RunFailed);
    for (const Stage stage : stages) {
        if (!stage(context))
            return fail(context.error, RunFailed);
    }
    return Success;
}
