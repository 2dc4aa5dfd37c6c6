#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "analysis/analysis.h"
#include "blobphoto.h"
#include "isolation/gradient.h"
#include "isolation/isolation.h"
#include "isolation/markerinput.h"
#include "isolation/markers.h"
#include "isolation/precise.h"
#include "isolation/vote.h"
#include "output/exportcompose.h"
#include "output/matte.h"
#include "output/pictureio.h"
#include "session/cutsession.h"

namespace {

struct RunResult
{
    int exitCode = -1;
    QString errors;
};

RunResult runCut(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(PELTRIX_CUT_PATH), arguments);
    RunResult result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

void writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QImage readBack(const QString &path)
{
    return readPicture(path);
}


// Drawing order: keep strokes in the blob, remove strokes around it.
const char syntheticMarkers[] = "# blob\n"
                                "keep 17.5 12.25 5\n"
                                "keep 19 14 4\n"
                                "\n"
                                "remove 2 2 6   # corner\n"
                                "remove 38.7 3 8\n"
                                "remove 3 24 6\n"
                                "remove 40 24 7\n"
                                "remove 0.5 10 5\n"; // on the first column: the canvas skips it

// What the window has in hand when it isolates: the analysis and the harvested points.
struct Harvest
{
    CColorClusters clusters;
    QImage labelMap;
    QList<QPoint> keep;
    QList<QPoint> remove;
};

void harvestInProcess(Harvest &h, const QImage &photo, const QList<MarkerDab> &drawingOrder)
{
    analysePicture(photo, h.clusters, h.labelMap);
    harvestMarkers(placeDabs(drawingOrder, photo.size()), photo.width(), photo.height(), h.keep, h.remove);
}

// The window's way from a photo and dabs to keep pixels.
QList<qint32> keepPixelsInProcess(const QImage &photo, const QList<MarkerDab> &drawingOrder,
                                  const QImage &markerPicture = {})
{
    Harvest h;
    harvestInProcess(h, photo, drawingOrder);
    if (!markerPicture.isNull())
        markerPicturePoints(markerPicture, h.keep, h.remove);
    return isolateKeepPixels(h.labelMap, h.keep, h.remove, h.clusters.centers());
}

QImage maskOf(const QList<qint32> &keepPixels, QSize size)
{
    QImage mask(size, QImage::Format_Grayscale8);
    mask.fill(0);
    for (const qint32 index : keepPixels)
        mask.scanLine(index / size.width())[index % size.width()] = 255;
    return mask;
}

// A PNG that promises a 20000 x 20000 picture and carries a few bytes of it: the shared
// reader refuses it from the header alone.
void writeHugePng(const QString &file)
{
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(QByteArray::fromHex(
        "89504e470d0a1a0a0000000d4948445200004e2000004e2008020000006c12d16e0000000c4944415478"
        "9c6360a00c000000400001b7347cef0000000049454e44ae426082"));
}

QImage grey(const QImage &image)
{
    QImage copy(image.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < image.height(); ++y)
        memcpy(copy.scanLine(y), image.constScanLine(y), size_t(image.width()));
    return copy;
}

} // namespace

class TestCutCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void markerText_data();
    void markerText();
    void placement();
    void markerPicture_data();
    void markerPicture();

    void badInput_data();
    void badInput();
    void dumpMatchesTheCore();
    void preciseMethod();
    void markerPictureRun();
    void trimapRun();
    void exportMatchesTheCore_data();
    void exportMatchesTheCore();
    void jpegWarning_data();
    void jpegWarning();
    void threadCountChangesNothing();

private:
    QString path(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    QImage photo;
    QList<MarkerDab> drawingOrder;
};

void TestCutCli::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); // the flood's trace
    QVERIFY(dir.isValid());
    photo = blobPhoto();
    QVERIFY(photo.save(path(QStringLiteral("photo.png"))));
    writeText(path(QStringLiteral("strokes.txt")), syntheticMarkers);
    QString error;
    QVERIFY2(parseMarkerText(QString::fromLatin1(syntheticMarkers), QStringLiteral("s"), drawingOrder, error),
             qPrintable(error));
    QImage other(20, 20, QImage::Format_ARGB32);
    other.fill(qRgb(10, 20, 200));
    QVERIFY(other.save(path(QStringLiteral("small.png"))));
}

void TestCutCli::markerText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error"); // empty: parses
    QTest::addColumn<int>("dabs");

    QTest::newRow("keep and remove") << "keep 1.5 2.25 10\nremove 30 40 255\n" << "" << 2;
    QTest::newRow("edge among them") << "edge 7 8.5 20\nkeep 1.5 2.25 10\nedge 0.25 1e1 0\n" << "" << 3;
    QTest::newRow("comments, blanks, CRLF, tabs")
        << "# strokes\r\n\r\n  keep\t1 2 3  # after\r\n#remove 1 2 3\r\n   \n" << "" << 1;
    QTest::newRow("size 0 as the canvas wraps 256") << "keep 1 2 0" << "" << 1;
    QTest::newRow("negative and exponent") << "remove -3.5 1e2 7" << "" << 1;
    QTest::newRow("empty file") << "" << "" << 0;
    QTest::newRow("size 256") << "keep 1 1 3\nkeep 1 2 256\n"
                              << "s.txt:2: SIZE must be an integer from 0 to 255, got \"256\"" << 0;
    QTest::newRow("size -1") << "\n\nremove 1 2 -1" << "s.txt:3: SIZE must be an integer from 0 to 255, got \"-1\""
                             << 0;
    QTest::newRow("fractional size") << "keep 1 2 2.5" << "s.txt:1: SIZE must be an integer from 0 to 255, got \"2.5\""
                                     << 0;
    QTest::newRow("unknown kind") << "# c\nKeep 1 2 3"
                                  << "s.txt:2: expected \"keep\", \"remove\" or \"edge\", got \"Keep\"" << 0;
    QTest::newRow("missing field")
        << "keep 1 2" << "s.txt:1: expected \"keep X Y SIZE\", \"remove X Y SIZE\" or \"edge X Y SIZE\", got 3 field(s)"
        << 0;
    QTest::newRow("extra field")
        << "edge 1 2 3 4"
        << "s.txt:1: expected \"keep X Y SIZE\", \"remove X Y SIZE\" or \"edge X Y SIZE\", got 5 field(s)" << 0;
    QTest::newRow("bad X") << "keep 1,5 2 3" << "s.txt:1: X is not a number: \"1,5\"" << 0;
    QTest::newRow("infinite Y") << "keep 1 inf 3" << "s.txt:1: Y is not a number: \"inf\"" << 0;
    QTest::newRow("nan X") << "keep nan 1 3" << "s.txt:1: X is not a number: \"nan\"" << 0;
}

void TestCutCli::markerText()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    QFETCH(int, dabs);

    QList<MarkerDab> parsed = {MarkerDab()};
    QString reason;
    const bool ok = parseMarkerText(text, QStringLiteral("s.txt"), parsed, reason);
    QCOMPARE(ok, error.isEmpty());
    QCOMPARE(reason, error);
    if (!ok)
        return;
    QCOMPARE(parsed.size(), dabs);
    // What a strokes file holds reads back as the same dabs, of the same kinds.
    QList<MarkerDab> again;
    QVERIFY(parseMarkerText(::markerText(parsed, QStringLiteral("photo.png")), QStringLiteral("again"), again, reason));
    QCOMPARE(again, parsed);
}

void TestCutCli::placement()
{
    QList<MarkerDab> parsed;
    QString error;
    QVERIFY(parseMarkerText(QStringLiteral("keep 1.5 2.25 10\n"
                                           "remove 0.9 5 4\n"   // truncates onto the first column
                                           "remove 10 9.99 4\n" // last row of a 20 x 10 picture
                                           "keep 20 3 4\n"      // off the right edge
                                           "remove 19.5 3 4\n"),
                            QStringLiteral("s"), parsed, error));
    QCOMPARE(parsed.first().rect, QRectF(1.5, 2.25, 10, 10));
    const QList<MarkerDab> placed = placeDabs(parsed, QSize(20, 10));
    QCOMPARE(placed.size(), 3);
    // Newest first, as the scene lists dabs that share a z value.
    QCOMPARE(placed[0].rect.topLeft(), QPointF(19.5, 3));
    QCOMPARE(placed[0].keep, false);
    QCOMPARE(placed[1].rect.topLeft(), QPointF(10, 9.99));
    QCOMPARE(placed[2].rect.topLeft(), QPointF(1.5, 2.25));
    QCOMPARE(placed[2].keep, true);
}

void TestCutCli::markerPicture_data()
{
    QTest::addColumn<QRgb>("pixel");
    QTest::addColumn<int>("kind"); // 1 keep, 2 remove, 0 neither

    QTest::newRow("the canvas's green") << qRgb(50, 255, 50) << 1;
    QTest::newRow("the canvas's red") << qRgb(255, 10, 10) << 2;
    QTest::newRow("green at the limits") << qRgba(64, 128, 64, 128) << 1;
    QTest::newRow("red at the limits") << qRgba(128, 64, 0, 128) << 2;
    QTest::newRow("too dark") << qRgb(0, 127, 0) << 0;
    QTest::newRow("lead 63") << qRgb(65, 128, 0) << 0;
    QTest::newRow("yellow") << qRgb(255, 255, 0) << 0;
    QTest::newRow("amber") << qRgb(255, 200, 0) << 0;
    QTest::newRow("orange is red enough") << qRgb(255, 160, 0) << 2;
    QTest::newRow("blue") << qRgb(0, 0, 255) << 0;
    QTest::newRow("see-through green") << qRgba(0, 255, 0, 127) << 0;
    QTest::newRow("white") << qRgb(255, 255, 255) << 0;
}

void TestCutCli::markerPicture()
{
    QFETCH(QRgb, pixel);
    QFETCH(int, kind);

    // 3 x 2, the pixel at (1, 0) and (0, 1): column order puts (0, 1) first.
    QImage picture(3, 2, QImage::Format_ARGB32);
    picture.fill(qRgb(128, 128, 128));
    picture.setPixel(1, 0, pixel);
    picture.setPixel(0, 1, pixel);
    QList<QPoint> keep = {QPoint(9, 9)};
    QList<QPoint> remove;
    markerPicturePoints(picture, keep, remove);
    const QList<QPoint> expected = {QPoint(0, 1), QPoint(1, 0)};
    QCOMPARE(keep, kind == 1 ? QList<QPoint>{QPoint(9, 9)} + expected : QList<QPoint>{QPoint(9, 9)});
    QCOMPARE(remove, kind == 2 ? expected : QList<QPoint>());
}

void TestCutCli::badInput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString photoPath = path(QStringLiteral("photo.png"));
    const QString strokes = path(QStringLiteral("strokes.txt"));
    const QString out = path(QStringLiteral("out.png"));
    writeText(path(QStringLiteral("bad.txt")), "keep 1 1 4\n\n# x\nremove 3 3 300\n");

    QTest::newRow("no picture") << QStringList() << 2 << "no picture given";
    QTest::newRow("two pictures") << QStringList{photoPath, photoPath} << 2 << "one picture at a time";
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--fast"), photoPath} << 2 << "fast";
    QTest::newRow("missing picture") << QStringList{path(QStringLiteral("none.png"))} << 1 << "cannot read";
    QTest::newRow("missing markers")
        << QStringList{QStringLiteral("--markers"), path(QStringLiteral("none.txt")), photoPath} << 1
        << "none.txt: ";
    QTest::newRow("malformed markers")
        << QStringList{QStringLiteral("--markers"), path(QStringLiteral("bad.txt")), photoPath} << 1
        << "bad.txt:4: SIZE must be an integer from 0 to 255, got \"300\"";
    QTest::newRow("marker picture of another size")
        << QStringList{QStringLiteral("--marker-image"), path(QStringLiteral("small.png")), photoPath} << 1
        << "the marker picture is 20x20 but";
    QTest::newRow("unreadable marker picture")
        << QStringList{QStringLiteral("--marker-image"), strokes, photoPath} << 1 << "cannot read the marker picture";
    QTest::newRow("trimap of another size")
        << QStringList{QStringLiteral("--trimap"), path(QStringLiteral("small.png")), QStringLiteral("-o"), out, photoPath}
        << 1 << "the trimap is 20x20 but";
    QTest::newRow("unreadable trimap")
        << QStringList{QStringLiteral("--trimap"), strokes, QStringLiteral("-o"), out, photoPath} << 1
        << "cannot read the trimap";
    QTest::newRow("missing trimap")
        << QStringList{QStringLiteral("--trimap"), path(QStringLiteral("none.png")), photoPath} << 1
        << "cannot read the trimap";
    QTest::newRow("trimap and markers")
        << QStringList{QStringLiteral("--trimap"), photoPath, QStringLiteral("--markers"), strokes, photoPath} << 2
        << "--trimap replaces --markers and --marker-image";
    for (const char *size : {"0x10", "10x", "10000x5", "12x-3", "ax4"}) {
        QTest::addRow("size %s", size) << QStringList{QStringLiteral("--size"), QLatin1String(size),
                                                      QStringLiteral("-o"), out, photoPath}
                                       << 2 << "--size: ";
    }
    for (const char *offset : {"1;2", "3", "1,2,3", "x,1", "99999999999,0"}) {
        QTest::addRow("offset %s", offset) << QStringList{QStringLiteral("--offset"), QLatin1String(offset),
                                                          QStringLiteral("-o"), out, photoPath}
                                           << 2 << "--offset: ";
    }
    for (const char *gauss : {"0", "-5", "abc", "100"}) {
        QTest::addRow("gauss %s", gauss) << QStringList{QStringLiteral("--gauss"), QLatin1String(gauss), photoPath}
                                         << 2 << "--gauss: ";
    }
    QTest::newRow("unknown method") << QStringList{QStringLiteral("--method"), QStringLiteral("watershed"), photoPath}
                                    << 2 << "--method: \"watershed\" is neither clusters nor precise";
    QTest::newRow("background colour") << QStringList{QStringLiteral("--background"), QStringLiteral("#12345"),
                                                      QStringLiteral("-o"), out, photoPath}
                                       << 2 << "--background: ";
    QTest::newRow("background picture missing")
        << QStringList{QStringLiteral("--background"), path(QStringLiteral("none.png")), QStringLiteral("-o"),
                       out, photoPath}
        << 1 << "cannot read the background picture";
    writeHugePng(path(QStringLiteral("huge.png")));
    // Read like every picture: the same limit and the same reason as for a photo.
    QTest::newRow("background picture over the limit")
        << QStringList{QStringLiteral("--background"), path(QStringLiteral("huge.png")), QStringLiteral("-o"),
                       out, photoPath}
        << 1 << "The picture is too large (20000 x 20000)";
    QTest::newRow("photo over the limit") << QStringList{path(QStringLiteral("huge.png"))} << 1
                                          << "The picture is too large (20000 x 20000)";
    QTest::newRow("background without -o") << QStringList{QStringLiteral("--background"), QStringLiteral("white"),
                                                          photoPath}
                                           << 2 << "--background needs -o";
    QTest::newRow("unknown output format") << QStringList{QStringLiteral("-o"), path(QStringLiteral("a.bmp")), photoPath}
                                           << 2 << "neither .jpg/.jpeg nor .png";
    const QString project = path(QStringLiteral("cut.peltrix"));
    writeText(project, "{\"format\": \"peltrix-project\", \"version\": 1, \"view\": \"markers\", \"photo\": "
                       "{\"path\": \"gone.png\", \"sha256\": \"" + QByteArray(64, 'a') + "\", \"width\": 48, "
                       "\"height\": 32}, \"settings\": {\"smoothEdges\": true, \"gaussSize\": 5, "
                       "\"refineEdges\": false}, \"background\": {\"colour\": \"#00FFFFFF\", \"zoom\": 1}, "
                       "\"objectOffset\": [0, 0], \"dabs\": []}\n");
    QTest::newRow("project and markers")
        << QStringList{QStringLiteral("--project"), project, QStringLiteral("--markers"), strokes} << 2
        << "--markers: the project holds it";
    QTest::newRow("project, missing") << QStringList{QStringLiteral("--project"), path(QStringLiteral("none.peltrix"))}
                                      << 1 << "cannot read the project";
    QTest::newRow("project, not one") << QStringList{QStringLiteral("--project"), strokes} << 1 << "not a project";
    QTest::newRow("project, photo gone") << QStringList{QStringLiteral("--project"), project} << 1
                                         << "gone.png is missing";
    QTest::newRow("unwritable output")
        << QStringList{QStringLiteral("-o"), path(QStringLiteral("no/such/folder/a.png")), photoPath} << 1
        << "cannot write";
}

void TestCutCli::badInput()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    const RunResult run = runCut(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.errors.startsWith(QLatin1String("peltrix-cut: ")), qPrintable(run.errors));
    QVERIFY2(run.errors.contains(message), qPrintable(run.errors));
    QCOMPARE(run.errors.count(QLatin1Char('\n')), 1); // one line
    QVERIFY(!QFile::exists(path(QStringLiteral("out.png"))));
}

void TestCutCli::dumpMatchesTheCore()
{
    const QString dump = path(QStringLiteral("dump"));
    const QString out = path(QStringLiteral("dumped.png"));
    for (const bool smooth : {true, false}) {
        QStringList arguments = {QStringLiteral("--markers"), path(QStringLiteral("strokes.txt")),
                                 QStringLiteral("--dump"), dump, QStringLiteral("-o"), out,
                                 path(QStringLiteral("photo.png"))};
        if (!smooth)
            arguments.prepend(QStringLiteral("--no-smooth"));
        const RunResult run = runCut(arguments);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.errors, QString());

        const QList<qint32> keepPixels = keepPixelsInProcess(photo, drawingOrder);
        QVERIFY(keepPixels.contains(15 * photo.width() + 20));
        QVERIFY(!keepPixels.contains(0));
        QCOMPARE(readBack(QDir(dump).filePath(QStringLiteral("mask.png"))),
                 maskOf(keepPixels, photo.size()).convertToFormat(QImage::Format_ARGB32));

        const QImage flood = readBack(QDir(dump).filePath(QStringLiteral("flood.png")));
        QCOMPARE(flood.size(), photo.size());
        QSet<QRgb> labels;
        for (int y = 0; y < flood.height(); ++y)
            for (int x = 0; x < flood.width(); ++x)
                labels.insert(flood.pixel(x, y));
        QVERIFY(labels.contains(qRgb(1, 1, 1)) && labels.contains(qRgb(2, 2, 2)));
        QVERIFY(labels.size() <= 4);
        for (const QRgb label : std::as_const(labels))
            QVERIFY(qRed(label) <= 3);

        // The stages one by one give the same pictures as the dump.
        Harvest h;
        harvestInProcess(h, photo, drawingOrder);
        const QImage votes = buildVoteImage(h.labelMap, h.keep, h.remove, h.clusters.centers());
        QCOMPARE(readBack(QDir(dump).filePath(QStringLiteral("vote.png"))),
                 grey(votes).convertToFormat(QImage::Format_ARGB32));
        QCOMPARE(readBack(QDir(dump).filePath(QStringLiteral("gradient.png"))),
                 grey(buildGradientImage(votes)).convertToFormat(QImage::Format_ARGB32));

        const QImage matte = readBack(QDir(dump).filePath(QStringLiteral("matte.png")));
        QCOMPARE(matte, smoothedMatte(keepPixels, photo.width(), photo.height(), smooth, 5));
        QSet<QRgb> matteValues;
        for (int y = 0; y < matte.height(); ++y)
            for (int x = 0; x < matte.width(); ++x)
                matteValues.insert(matte.pixel(x, y));
        QCOMPARE(matteValues.size() == 2, !smooth);
        QCOMPARE(readBack(QDir(dump).filePath(QStringLiteral("cutout.png"))), buildCutout(photo, matte));
        for (const char *name : {"labels.png", "centers.txt"})
            QVERIFY(QFile::exists(QDir(dump).filePath(QLatin1String(name))));

        // The fast path without a dump writes the same export.
        const QString fast = path(QStringLiteral("fast.png"));
        arguments.removeAt(arguments.indexOf(QStringLiteral("--dump")) + 1);
        arguments.removeOne(QStringLiteral("--dump"));
        arguments[arguments.indexOf(out)] = fast;
        QCOMPARE(runCut(arguments).exitCode, 0);
        QCOMPARE(readBack(fast), readBack(out));
    }
}

void TestCutCli::preciseMethod()
{
    // The precise isolation's own pictures in the dump instead of the clusters' stages, and
    // the same keep pixels as the core gives.
    const QString dump = path(QStringLiteral("dump-precise"));
    const RunResult run = runCut({QStringLiteral("--method"), QStringLiteral("precise"), QStringLiteral("--markers"),
                                  path(QStringLiteral("strokes.txt")), QStringLiteral("--dump"), dump,
                                  QStringLiteral("-o"), path(QStringLiteral("precise.png")),
                                  path(QStringLiteral("photo.png"))});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.errors, QString());
    const QStringList files = QDir(dump).entryList(QDir::Files, QDir::Name);
    QCOMPARE(files, (QStringList{"centers.txt", "colours.png", "cutout.png", "decision.png", "geodesic.png",
                                 "labels.png", "mask.png", "matte.png"}));

    MarkerSet markers;
    markers.newestFirst = placeDabs(drawingOrder, photo.size());
    const QList<qint32> keepPixels = preciseKeepPixels(photo, markers);
    QVERIFY(keepPixels.contains(15 * photo.width() + 20));
    QVERIFY(!keepPixels.contains(0));
    QCOMPARE(readBack(QDir(dump).filePath(QStringLiteral("mask.png"))),
             maskOf(keepPixels, photo.size()).convertToFormat(QImage::Format_ARGB32));
    QVERIFY(keepPixels != keepPixelsInProcess(photo, drawingOrder));
}

void TestCutCli::markerPictureRun()
{
    // Strokes painted in an editor: a keep blob, remove lines, noise that is not clearly coloured.
    QImage strokes(photo.size(), QImage::Format_ARGB32);
    strokes.fill(Qt::transparent);
    for (int y = 13; y < 18; ++y)
        for (int x = 18; x < 23; ++x)
            strokes.setPixel(x, y, qRgb(20, 230, 40));
    for (int x = 2; x < 46; ++x) {
        strokes.setPixel(x, 2, qRgb(240, 30, 20));
        strokes.setPixel(x, 29, qRgba(200, 0, 0, 200));
        strokes.setPixel(x, 5, qRgb(120, 120, 0)); // not clearly anything
    }
    QVERIFY(strokes.save(path(QStringLiteral("strokes.png"))));
    const QString dump = path(QStringLiteral("dump-picture"));

    // Alone and together with the markers file: the dabs' points come first.
    for (const bool withFile : {false, true}) {
        QStringList arguments = {QStringLiteral("--marker-image"), path(QStringLiteral("strokes.png")),
                                 QStringLiteral("--dump"), dump, path(QStringLiteral("photo.png"))};
        if (withFile)
            arguments << QStringLiteral("--markers") << path(QStringLiteral("strokes.txt"));
        QCOMPARE(runCut(arguments).exitCode, 0);
        const QList<qint32> keepPixels =
            keepPixelsInProcess(photo, withFile ? drawingOrder : QList<MarkerDab>(), strokes);
        QVERIFY(keepPixels.contains(15 * photo.width() + 20));
        QCOMPARE(readBack(QDir(dump).filePath(QStringLiteral("mask.png"))),
                 maskOf(keepPixels, photo.size()).convertToFormat(QImage::Format_ARGB32));
    }
}

void TestCutCli::trimapRun()
{
    // The blob's core white, a ring around its edge grey, the rest black; written in colour to
    // show that only exact white and black are sure.
    QImage trimap(photo.size(), QImage::Format_RGB32);
    for (int y = 0; y < trimap.height(); ++y) {
        for (int x = 0; x < trimap.width(); ++x) {
            const int d2 = (x - 20) * (x - 20) + (y - 15) * (y - 15);
            trimap.setPixel(x, y, d2 < 40 ? qRgb(255, 255, 255) : d2 < 130 ? qRgb(255, 250, 255) : qRgb(0, 0, 0));
        }
    }
    QVERIFY(trimap.save(path(QStringLiteral("trimap.png"))));
    const QString dump = path(QStringLiteral("dump-trimap"));
    const QString out = path(QStringLiteral("trimap-cut.png"));
    const RunResult run = runCut({QStringLiteral("--trimap"), path(QStringLiteral("trimap.png")), QStringLiteral("--dump"),
                                  dump, QStringLiteral("-o"), out, path(QStringLiteral("photo.png"))});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.errors, QString());
    QCOMPARE(QDir(dump).entryList(QDir::Files, QDir::Name),
             QStringList({"cutout.png", "mask.png", "refined-matte.png"}));

    // The same as the session gives, sure pixels exactly as the trimap says.
    CutSession session;
    session.setPhoto(photo);
    QVERIFY(session.setTrimap(trimap));
    session.isolate();
    const QImage matte = session.buildMatte();
    QCOMPARE(readBack(QDir(dump).filePath(QStringLiteral("refined-matte.png"))), matte);
    // The grey ring is solved from the photo: the blob's hard edge comes out where it is.
    for (int y = 0; y < photo.height(); ++y) {
        for (int x = 0; x < photo.width(); ++x) {
            const int a = 255 - qBlue(matte.pixel(x, y));
            const QRgb t = trimap.pixel(x, y) & 0xFFFFFFu;
            if (t == 0xFFFFFFu || t == 0)
                QCOMPARE(a, t ? 255 : 0);
            else
                QCOMPARE(a >= 128, (x - 20) * (x - 20) + (y - 15) * (y - 15) < 70);
        }
    }
    QCOMPARE(readBack(out).size(), photo.size());
    QCOMPARE(qAlpha(readBack(out).pixel(20, 15)), 255);
}

void TestCutCli::exportMatchesTheCore_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<bool>("picture");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QSize>("size");

    QTest::newRow("default") << QStringList() << QRgb(0x00FFFFFF) << false << QPoint() << QSize(48, 32);
    QTest::newRow("white, offset, larger")
        << QStringList{QStringLiteral("--background"), QStringLiteral("white"), QStringLiteral("--offset"),
                       QStringLiteral("-7,3"), QStringLiteral("--size"), QStringLiteral("100x50")}
        << QRgb(0xFFFFFFFF) << false << QPoint(-7, 3) << QSize(100, 50);
    QTest::newRow("half red, smaller")
        << QStringList{QStringLiteral("--background"), QStringLiteral("#80FF0000"), QStringLiteral("--size"),
                       QStringLiteral("30x31")}
        << QRgb(0x80FF0000) << false << QPoint() << QSize(30, 31);
    QTest::newRow("opaque #RRGGBB")
        << QStringList{QStringLiteral("--background"), QStringLiteral("#102030")} << QRgb(0xFF102030) << false
        << QPoint() << QSize(48, 32);
    QTest::newRow("picture, its own size") << QStringList{QStringLiteral("--offset"), QStringLiteral("4,-2")}
                                           << QRgb(0) << true << QPoint(4, -2) << QSize(20, 20);
    QTest::newRow("picture, given size") << QStringList{QStringLiteral("--size"), QStringLiteral("64x40")}
                                         << QRgb(0) << true << QPoint() << QSize(64, 40);
}

void TestCutCli::exportMatchesTheCore()
{
    QFETCH(QStringList, options);
    QFETCH(QRgb, colour);
    QFETCH(bool, picture);
    QFETCH(QPoint, offset);
    QFETCH(QSize, size);

    const QString out = path(QStringLiteral("export.png"));
    QStringList arguments = options;
    if (picture)
        arguments << QStringLiteral("--background") << path(QStringLiteral("small.png"));
    arguments << QStringLiteral("--markers") << path(QStringLiteral("strokes.txt")) << QStringLiteral("-o") << out
              << path(QStringLiteral("photo.png"));
    const RunResult run = runCut(arguments);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.errors, QString());

    const QImage cutout = buildCutout(
        photo, smoothedMatte(keepPixelsInProcess(photo, drawingOrder), photo.width(), photo.height(), true, 5));
    QImage background;
    QSize displayed;
    if (picture) {
        background = readPicture(path(QStringLiteral("small.png")));
        displayed = QSize(32, 32); // 20 x 20 fitted into 48 x 32
    } else {
        background = QImage(photo.size(), QImage::Format_ARGB32);
        background.fill(colour);
        displayed = photo.size();
    }
    const QImage expected = composeExport(background, displayed, cutout, offset, size);
    const QImage written = readBack(out);
    QCOMPARE(written.size(), size);
    QCOMPARE(written, expected);
    if (!picture && qAlpha(colour) == 0)
        QCOMPARE(written.pixel(0, 0), QRgb(0x00FFFFFF)); // the default stays see-through
}

void TestCutCli::jpegWarning_data()
{
    QTest::addColumn<QString>("background");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("warns");

    QTest::newRow("default to jpg") << QString() << "a.jpg" << true;
    QTest::newRow("half white to JPEG") << "#80FFFFFF" << "a.JPEG" << true;
    QTest::newRow("white to jpg") << "white" << "b.jpg" << false;
    QTest::newRow("picture to jpg") << path(QStringLiteral("small.png")) << "c.jpg" << false;
    QTest::newRow("default to png") << QString() << "d.png" << false;
}

void TestCutCli::jpegWarning()
{
    QFETCH(QString, background);
    QFETCH(QString, file);
    QFETCH(bool, warns);

    QStringList arguments = {QStringLiteral("--markers"), path(QStringLiteral("strokes.txt")),
                             QStringLiteral("-o"), path(file), path(QStringLiteral("photo.png"))};
    if (!background.isEmpty())
        arguments << QStringLiteral("--background") << background;
    const RunResult run = runCut(arguments);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.errors.contains(QLatin1String("warning: the background colour is transparent")), warns);
    QVERIFY(!readBack(path(file)).isNull());
}

void TestCutCli::threadCountChangesNothing()
{
    // Every stage's file and the export come out byte for byte the same on one thread and on
    // four. The picture is large enough to be split.
    const int scale = 16;
    const QImage large = photo.scaled(photo.size() * scale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QVERIFY(large.save(path(QStringLiteral("large.png"))));
    QByteArray strokes;
    for (const MarkerDab &dab : std::as_const(drawingOrder)) {
        strokes += QStringLiteral("%1 %2 %3 %4\n")
                       .arg(dab.keep ? QStringLiteral("keep") : QStringLiteral("remove"))
                       .arg(dab.rect.x() * scale)
                       .arg(dab.rect.y() * scale)
                       .arg(qMin(int(dab.rect.width()) * scale, 255))
                       .toLatin1();
    }
    writeText(path(QStringLiteral("large.txt")), strokes);
    QImage background(300, 200, QImage::Format_ARGB32);
    background.fill(qRgb(30, 60, 90));
    QVERIFY(background.save(path(QStringLiteral("large-background.png"))));

    QStringList files;
    for (const char *threads : {"1", "4"}) {
        const QString dump = path(QStringLiteral("threads-") + QLatin1String(threads));
        const RunResult run = runCut({QStringLiteral("--threads"), QLatin1String(threads),
                                      QStringLiteral("--markers"), path(QStringLiteral("large.txt")),
                                      QStringLiteral("--background"), path(QStringLiteral("large-background.png")),
                                      QStringLiteral("--offset"), QStringLiteral("13,-7"),
                                      QStringLiteral("--dump"), dump,
                                      QStringLiteral("-o"), dump + QStringLiteral(".png"),
                                      path(QStringLiteral("large.png"))});
        QCOMPARE(run.exitCode, 0);
        files = QDir(dump).entryList(QDir::Files, QDir::Name);
    }
    QCOMPARE(files.size(), 8); // labels, centres, votes, gradient, flood, mask, matte, cut-out
    const auto bytes = [](const QString &file) {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    };
    for (const QString &file : std::as_const(files)) {
        QVERIFY2(bytes(QDir(path(QStringLiteral("threads-1"))).filePath(file))
                     == bytes(QDir(path(QStringLiteral("threads-4"))).filePath(file)),
                 qPrintable(file));
    }
    QVERIFY(!bytes(path(QStringLiteral("threads-1.png"))).isEmpty());
    QVERIFY(bytes(path(QStringLiteral("threads-1.png"))) == bytes(path(QStringLiteral("threads-4.png"))));
}

QTEST_GUILESS_MAIN(TestCutCli)
#include "tst_cutcli.moc"
