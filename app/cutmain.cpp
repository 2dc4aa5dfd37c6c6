// peltrix-cut: the program's pipeline without the window, for scripts and batch work. This
// file reads and checks the options; cutrun.cpp runs the cut.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSaveFile>

#include <cstdio>
#include <optional>

#include "analysis/parallel.h"
#include <QDir>
#include <QFileInfo>

#include "app/cutrun.h"
#include "isolation/markerinput.h"
#include "output/exportcompose.h"
#include "output/pictureio.h"
#include "session/project.h"

namespace {

enum ExitCode { Success = 0, RunFailed = 1, UsageError = 2 };

int fail(const QString &message, int code)
{
    std::fprintf(stderr, "peltrix-cut: %s\n", qPrintable(message));
    return code;
}

std::optional<QSize> parseSize(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,4})[xX](\\d{1,4})$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const QSize size(match.captured(1).toInt(), match.captured(2).toInt());
    if (size.width() < 1 || size.height() < 1 || size.width() > largestExportSide
        || size.height() > largestExportSide)
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
        options.backgroundColour = CutSession::defaultBackgroundColour;
    } else if (value.startsWith(QLatin1Char('#'))) {
        const std::optional<QRgb> colour = parseColour(value);
        if (!colour) {
            error = QStringLiteral("--background: \"%1\" is not a colour #AARRGGBB or #RRGGBB").arg(value);
            return UsageError;
        }
        options.backgroundColour = *colour;
    } else {
        QString reason;
        options.backgroundPicture = readPicture(value, &reason);
        if (options.backgroundPicture.isNull()) {
            error = QStringLiteral("cannot read the background picture %1: %2").arg(value, reason);
            return RunFailed;
        }
    }
    return Success;
}

// ".jpg/.jpeg" and ".png", or with `by`, "JPEG for .jpg or .jpeg" and "PNG for .png".
QStringList exportChoices(bool by)
{
    QStringList choices;
    for (const ExportFormat &format : exportFormats()) {
        QStringList suffixes;
        for (const QString &suffix : format.suffixes)
            suffixes << QStringLiteral(".") + suffix;
        choices << (by ? QStringLiteral("%1 for %2").arg(format.name, suffixes.join(QStringLiteral(" or ")))
                       : suffixes.join(QLatin1Char('/')));
    }
    return choices;
}

void warn(const QString &message)
{
    std::fprintf(stderr, "peltrix-cut: warning: %s\n", qPrintable(message));
}

// Fills in `options` from the project file, as the window's Open Project restores it: the
// photo (`picture` when given), the dabs, the edge settings, the background with its zoom,
// the object's place and the brush edits. Returns false with the reason in `error`.
bool applyProject(const QString &file, const QString &picture, CutOptions &options, QString &error)
{
    CutProject project;
    QString reason;
    if (!readProjectFile(file, project, reason)) {
        error = QStringLiteral("cannot read the project %1: %2").arg(file, reason);
        return false;
    }
    QString photo = picture.isEmpty() ? project.photoPath : picture;
    if (!QFileInfo(photo).isFile()) {
        // Moved together with the project: the same file beside it.
        const QString beside = QFileInfo(file).absoluteDir().filePath(QFileInfo(photo).fileName());
        if (!picture.isEmpty() || !QFileInfo(beside).isFile() || fileSha256(beside) != project.photoSha256) {
            error = QStringLiteral("the photo %1 is missing (give its new place as PICTURE)").arg(photo);
            return false;
        }
        photo = beside;
    }
    const QByteArray sum = fileSha256(photo);
    if (!sum.isEmpty() && sum != project.photoSha256) {
        warn(QStringLiteral("%1 has changed since the cut was saved: its dabs are used, its brush edits are not")
                 .arg(photo));
        project.edits = BrushEdits();
    }
    options.picture = photo;
    options.drawingOrder = project.dabs;
    options.smooth = project.smoothEdges;
    options.gaussSize = project.gaussSize;
    options.refine = project.refineEdges;
    options.method = project.isolation;
    options.backgroundColour = project.backgroundColour;
    if (!project.backgroundPath.isEmpty()) {
        options.backgroundPicture = readPicture(project.backgroundPath, &reason);
        if (options.backgroundPicture.isNull())
            warn(QStringLiteral("cannot read the background picture %1 (%2): the colour is used")
                     .arg(project.backgroundPath, reason));
        else if (fileSha256(project.backgroundPath) != project.backgroundSha256)
            warn(QStringLiteral("the background picture %1 has changed since the cut was saved")
                     .arg(project.backgroundPath));
    }
    options.backgroundZoom = project.backgroundZoom;
    options.offset = project.objectOffset;
    options.edits = project.edits;
    options.cutting = true;
    return true;
}

// Makes sure the export can be written before any long work; the target itself is untouched.
QString checkOutput(const QString &path)
{
    if (exportFormat(path).isEmpty()) {
        QStringList choices = exportChoices(false);
        const QString last = choices.takeLast();
        return QStringLiteral("-o: %1 is neither %2 nor %3").arg(path, choices.join(QStringLiteral(", ")), last);
    }
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

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Cuts the object out of PICTURE as the program does: the colour analysis, the markers, "
        "the isolation, the matte and the export; or, with --trimap, from a trimap.\n"
        "Without --markers, --marker-image, --trimap or -o only the colour analysis runs.\n"
        "Exit status: 0 done, 1 a file could not be read, was malformed or could not be "
        "written, 2 a bad command line."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption markersOption(
        QStringLiteral("markers"),
        QStringLiteral("Marker dabs, one per line in drawing order: \"keep X Y SIZE\" (a keep square), "
                       "\"remove X Y SIZE\" (a remove disc) or \"edge X Y SIZE\" (an edge dab: its square "
                       "is neither kept nor removed, its alpha and colours are solved from the photo, with "
                       "or without --refine); X Y the floating-point picture "
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
    const QCommandLineOption methodOption(
        QStringLiteral("method"),
        QStringLiteral("How the keep pixels are found from the markers: clusters (the colour clusters' "
                       "vote and flood, the default) or precise (a graph cut of the photo itself between "
                       "the markers, with colour models learnt from them)."),
        QStringLiteral("name"));
    const QCommandLineOption trimapOption(
        QStringLiteral("trimap"),
        QStringLiteral("Cut from a trimap instead of markers: a grey picture of PICTURE's size, white "
                       "(255) the object, black (0) the background, any other value unknown, its alpha "
                       "and colours solved from the photo (whatever --refine, --no-smooth and --gauss "
                       "say). No colour analysis runs; --dump writes mask.png (the white pixels), "
                       "refined-matte.png and cutout.png."),
        QStringLiteral("file"));
    const QCommandLineOption dumpOption(
        QStringLiteral("dump"),
        QStringLiteral("Write the intermediate results into <folder>: labels.png (cluster index per "
                       "pixel as grey) and centers.txt (L a b count per cluster); with markers also "
                       "vote.png, gradient.png, flood.png (0 unreached, 1 keep, 2 remove, 3 "
                       "boundary), or with --method precise instead colours.png (each pixel's keep "
                       "share under the colour models, 255 keep) and geodesic.png (the distance from "
                       "the keep markers, 255 farthest), both on the photo reduced to about 0.04 "
                       "megapixels, and decision.png (0 remove and 1 keep from the reduced cut, 2 "
                       "remove and 3 keep cut again near the outline with smaller blocks); then "
                       "mask.png (255 at the keep pixels), matte.png and cutout.png (with edge dabs, "
                       "matte.png holds their solved alpha)."),
        QStringLiteral("folder"));
    const QCommandLineOption timeOption(
        QStringLiteral("time"), QStringLiteral("Print each stage's wall time in milliseconds to standard error."));
    const QCommandLineOption noSmoothOption(
        QStringLiteral("no-smooth"), QStringLiteral("Do not smooth the matte's edge."));
    const QCommandLineOption gaussOption(
        QStringLiteral("gauss"),
        QStringLiteral("Size of the edge smoothing's Gaussian kernel, 1 to %1 (default %2).")
            .arg(largestGaussSize)
            .arg(ToolSettings::defaults().gaussSize),
        QStringLiteral("n"));
    const QCommandLineOption refineOption(
        QStringLiteral("refine"),
        QStringLiteral("Refine the edge from the photo (hair, fur, soft edges) instead of smoothing it: "
                       "alpha and foreground colours are estimated near the outline. --dump adds "
                       "refined-matte.png."));
    const QCommandLineOption outputOption(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Export the cut-out to <file> as the Export command does: %1.")
            .arg(exportChoices(true).join(QStringLiteral(", "))),
        QStringLiteral("file"));
    const QCommandLineOption sizeOption(
        QStringLiteral("size"),
        QStringLiteral("The export's size, each side 1 to %1 (default: PICTURE's size, or the "
                       "background picture's with --background PICTURE).")
            .arg(largestExportSide),
        QStringLiteral("WxH"));
    const QCommandLineOption backgroundOption(
        QStringLiteral("background"),
        QStringLiteral("The export's background, the choices of the window's background dialog: "
                       "white (Use White), transparent (Use Transparent: white with alpha 0, the "
                       "default), a colour #AARRGGBB or #RRGGBB (Use color), or a picture file "
                       "(Use picture), fitted into PICTURE's size as the preview shows it."),
        QStringLiteral("background"));
    const QCommandLineOption offsetOption(
        QStringLiteral("offset"),
        QStringLiteral("Where the object's top-left corner sits on the preview, in PICTURE's "
                       "pixels (default 0,0)."),
        QStringLiteral("X,Y"));
    const QCommandLineOption threadsOption(
        QStringLiteral("threads"),
        QStringLiteral("How many threads the image work may use (default: one per core). The "
                       "results are the same for every count."),
        QStringLiteral("n"));
    const QCommandLineOption projectOption(
        QStringLiteral("project"),
        QStringLiteral("Cut as the project <file> (written by the window's Save Project) says: its photo, "
                       "dabs, brush edits, background with its zoom, the object's place, the edge "
                       "settings and the isolation method; -o then writes what the window's Export "
                       "writes from it. PICTURE, when "
                       "given, stands in for the project's photo. Not with the options the project holds "
                       "(--markers, --marker-image, --trimap, --no-smooth, --gauss, --refine, --background, --offset, "
                       "--method)."),
        QStringLiteral("file"));
    parser.addOptions({markersOption, markerImageOption, methodOption, trimapOption, dumpOption, timeOption, noSmoothOption,
                       gaussOption, refineOption, outputOption, sizeOption, backgroundOption, offsetOption,
                       threadsOption, projectOption});
    parser.addPositionalArgument(QStringLiteral("PICTURE"),
                                 QStringLiteral("The picture to work on (optional with --project)."));

    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText(), UsageError);
    if (parser.isSet(helpOption))
        parser.showHelp(Success);
    if (parser.isSet(versionOption))
        parser.showVersion();
    const QStringList pictures = parser.positionalArguments();
    const bool fromProject = parser.isSet(projectOption);
    if (fromProject) {
        for (const QCommandLineOption &held : {markersOption, markerImageOption, noSmoothOption, gaussOption,
                                               refineOption, backgroundOption, offsetOption, methodOption, trimapOption}) {
            if (parser.isSet(held))
                return fail(QStringLiteral("--%1: the project holds it").arg(held.names().constFirst()), UsageError);
        }
        if (pictures.size() > 1)
            return fail(QStringLiteral("one picture at a time, got %1").arg(pictures.size()), UsageError);
    } else if (pictures.size() != 1) {
        return fail(pictures.isEmpty() ? QStringLiteral("no picture given (see --help)")
                                       : QStringLiteral("one picture at a time, got %1").arg(pictures.size()),
                    UsageError);
    }

    // Every option is checked, and every input read, before the long work starts.
    CutOptions options;
    options.picture = pictures.value(0);
    options.dumpFolder = parser.value(dumpOption);
    options.time = parser.isSet(timeOption);
    if (parser.isSet(dumpOption) && options.dumpFolder.isEmpty())
        return fail(QStringLiteral("--dump needs a folder"), UsageError);
    if (parser.isSet(methodOption)) {
        const std::optional<IsolationMethod> method = isolationMethodFromName(parser.value(methodOption));
        if (!method)
            return fail(QStringLiteral("--method: \"%1\" is neither clusters nor precise").arg(parser.value(methodOption)),
                        UsageError);
        options.method = *method;
    }
    options.smooth = !parser.isSet(noSmoothOption);
    options.refine = parser.isSet(refineOption);
    const auto number = [&](const QCommandLineOption &option, int lowest, int highest, int &value) {
        bool ok = false;
        value = parser.value(option).toInt(&ok);
        if (ok && value >= lowest && value <= highest)
            return true;
        fail(QStringLiteral("--%1: \"%2\" is not a number from %3 to %4")
                 .arg(option.names().constFirst(), parser.value(option)).arg(lowest).arg(highest),
             UsageError);
        return false;
    };
    if (parser.isSet(gaussOption) && !number(gaussOption, 1, largestGaussSize, options.gaussSize))
        return UsageError;
    int threads = 0;
    if (parser.isSet(threadsOption) && !number(threadsOption, 1, 1024, threads))
        return UsageError;
    Parallel::setThreadCount(threads);
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
    if (parser.isSet(trimapOption)) {
        if (parser.isSet(markersOption) || parser.isSet(markerImageOption))
            return fail(QStringLiteral("--trimap replaces --markers and --marker-image"), UsageError);
        QString reason;
        options.trimap = readPicture(parser.value(trimapOption), &reason);
        if (options.trimap.isNull())
            return fail(QStringLiteral("cannot read the trimap %1: %2").arg(parser.value(trimapOption), reason),
                        RunFailed);
    }
    options.cutting = parser.isSet(markersOption) || parser.isSet(markerImageOption) || parser.isSet(trimapOption)
                      || parser.isSet(outputOption);
    if (fromProject) {
        QString error;
        if (!applyProject(parser.value(projectOption), options.picture, options, error))
            return fail(error, RunFailed);
    }
    if (!options.outputPath.isEmpty()) {
        const QString error = checkOutput(options.outputPath);
        if (!error.isEmpty())
            return fail(error, exportFormat(options.outputPath).isEmpty() ? UsageError : RunFailed);
    }

    QString error;
    if (!runCut(options, error))
        return fail(error, RunFailed);
    return Success;
}
