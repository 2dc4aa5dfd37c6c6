// The cut session without a window: which results it keeps current, and the export it
// composes from its own numbers.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "session/cutsession.h"
#include "session/toolsettings.h"
#include "output/compose.h"
#include "output/display.h"
#include "output/exportcompose.h"

namespace {

QImage solid(int w, int h, QRgb colour)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// Left half one colour, right half another: a keep dab on one side isolates it.
QImage halves(int w, int h)
{
    QImage picture = solid(w, h, qRgb(200, 40, 40));
    for (int y = 0; y < h; ++y)
        for (int x = w / 2; x < w; ++x)
            picture.setPixel(x, y, qRgb(40, 40, 200));
    return picture;
}

// Every kind of object pixel: see-through, opaque and partly covering, in a fixed pattern.
QImage patternCutout(QSize size)
{
    QImage cutout(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(cutout.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const quint32 hash = quint32(x) * 2654435761u ^ quint32(y) * 2246822519u;
            const int alphas[] = {0, 0, 255, int(hash >> 24)};
            line[x] = qRgba(hash & 255, (hash >> 8) & 255, (hash >> 16) & 255, alphas[(hash >> 5) & 3]);
        }
    }
    return cutout;
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void currentResults_data();
    void currentResults();
    void isolationSetting_data();
    void isolationSetting();
    void edgeDabs_data();
    void edgeDabs();
    void exportFromSessionNumbers_data();
    void exportFromSessionNumbers();
    void composedLikeScaledPictures_data();
    void composedLikeScaledPictures();
    void failedWriteKeepsExistingFile();
    void displayPictures_data();
    void displayPictures();

private:
    QTemporaryDir dir;
};

void TestSession::currentResults_data()
{
    // A change after a full run (isolation, matte), and what it leaves stale.
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("isolationStale");
    QTest::addColumn<bool>("matteStale");
    QTest::newRow("nothing") << "" << false << false;
    QTest::newRow("dab added") << "add" << true << true;
    QTest::newRow("dab removed") << "remove" << true << true;
    QTest::newRow("dabs replaced by equal ones") << "set" << true << true;
    QTest::newRow("marker picture") << "picture" << true << true;
    QTest::newRow("smoothing size") << "gauss" << false << true;
    QTest::newRow("smoothing off") << "smooth" << false << true;
    QTest::newRow("background and offset") << "background" << false << false;
    QTest::newRow("isolation method") << "method" << true << true;
    QTest::newRow("the same isolation method") << "same method" << false << false;
}

void TestSession::currentResults()
{
    QFETCH(QString, change);
    QFETCH(bool, isolationStale);
    QFETCH(bool, matteStale);

    CutSession session;
    session.setPhoto(halves(40, 20));
    session.analyse();
    const CutSession::DabId keep = session.addDab({true, QRectF(5, 5, 4, 4)});
    session.addDab({false, QRectF(30, 5, 4, 4)});
    session.setSmoothing(true, 5);
    const QList<qint32> first = session.isolate();
    const QImage matte = session.buildMatte();
    QVERIFY(!first.isEmpty());
    QVERIFY(session.isIsolationCurrent() && session.isMatteCurrent());

    if (change == QLatin1String("add"))
        session.addDab({true, QRectF(10, 10, 2, 2)});
    else if (change == QLatin1String("remove"))
        QVERIFY(session.removeDab(keep));
    else if (change == QLatin1String("set"))
        session.setDabs(session.dabs());
    else if (change == QLatin1String("picture"))
        session.setMarkerPicture(QImage());
    else if (change == QLatin1String("gauss"))
        session.setSmoothing(true, 7);
    else if (change == QLatin1String("smooth"))
        session.setSmoothing(false, 5);
    else if (change == QLatin1String("method"))
        session.setIsolationMethod(IsolationMethod::Precise);
    else if (change == QLatin1String("same method"))
        session.setIsolationMethod(IsolationMethod::ColourClusters);
    else if (change == QLatin1String("background")) {
        session.setBackgroundColour(qRgb(1, 2, 3));
        session.setObjectOffset(QPoint(3, 4));
    }
    QCOMPARE(!session.isIsolationCurrent(), isolationStale);
    QCOMPARE(!session.isMatteCurrent(), matteStale);

    // Asking again recomputes what is stale, and only that gives other results.
    session.isolate();
    session.buildMatte();
    QVERIFY(session.isIsolationCurrent() && session.isMatteCurrent());
    if (change.isEmpty() || change == QLatin1String("background") || change == QLatin1String("set"))
        QCOMPARE(session.buildMatte(), matte);
}

void TestSession::isolationSetting_data()
{
    QTest::addColumn<QVariant>("stored"); // invalid: the key is absent
    QTest::addColumn<int>("method");
    QTest::newRow("absent") << QVariant() << int(IsolationMethod::ColourClusters);
    QTest::newRow("clusters") << QVariant(QStringLiteral("clusters")) << int(IsolationMethod::ColourClusters);
    QTest::newRow("precise") << QVariant(QStringLiteral("precise")) << int(IsolationMethod::Precise);
    QTest::newRow("other case") << QVariant(QStringLiteral("Precise")) << int(IsolationMethod::ColourClusters);
    QTest::newRow("a number") << QVariant(1) << int(IsolationMethod::ColourClusters);
}

void TestSession::isolationSetting()
{
    QFETCH(QVariant, stored);
    QFETCH(int, method);
    QSettings store(dir.filePath(QStringLiteral("isolation.ini")), QSettings::IniFormat);
    store.clear();
    if (stored.isValid())
        store.setValue(QStringLiteral("ISOLATION"), stored);
    ToolSettings settings = ToolSettings::read(store);
    QCOMPARE(int(settings.isolation), method);

    // Written back, the choice reads the same; the other one too.
    for (IsolationMethod chosen : {settings.isolation, IsolationMethod::Precise}) {
        settings.isolation = chosen;
        settings.write(store);
        QCOMPARE(ToolSettings::read(store).isolation, chosen);
    }
    QCOMPARE(store.value(QStringLiteral("ISOLATION")).toString(), QStringLiteral("precise"));
}

void TestSession::edgeDabs_data()
{
    QTest::addColumn<bool>("refine");
    QTest::addColumn<bool>("precise");
    QTest::newRow("refinement off") << false << false;
    QTest::newRow("refinement on") << true << false;
    QTest::newRow("precise isolation") << false << true;
}

// An edge dab is neither keep nor remove; its square is matted with the refinement on or
// off, and off it nothing else changes; taking it back restores every byte.
void TestSession::edgeDabs()
{
    QFETCH(bool, refine);
    QFETCH(bool, precise);
    CutSession session;
    session.setPhoto(halves(60, 30));
    session.analyse();
    session.setIsolationMethod(precise ? IsolationMethod::Precise : IsolationMethod::ColourClusters);
    session.addDab({true, QRectF(5, 5, 6, 6)});
    session.addDab({false, QRectF(50, 5, 6, 6)});
    session.setSmoothing(true, 5);
    session.setRefine(refine);
    const QList<qint32> keep = session.isolate();
    const QImage matte = session.buildMatte();
    const QImage cutout = session.buildCutout();

    // Over the seam between the halves, and over a remove dab: the decision stays.
    const QRect square(26, 8, 8, 8);
    const CutSession::DabId edge = session.addDab(MarkerDab::edgeDab(square));
    session.addDab(MarkerDab::edgeDab(QRectF(48, 3, 3, 3)));
    QCOMPARE(session.isolate(), keep);
    const QImage edged = session.buildMatte();
    QVERIFY(edged != matte || refine);
    for (int y = 0; y < 30 && !refine; ++y) {
        for (int x = 0; x < 60; ++x) {
            if (!square.contains(x, y) && !QRect(48, 3, 3, 3).contains(x, y))
                QCOMPARE(edged.pixel(x, y), matte.pixel(x, y));
        }
    }
    session.buildCutout();

    const QList<MarkerDab> dabs = session.dabs();
    QCOMPARE(dabs[2].kind(), MarkerKind::Edge);
    QVERIFY(session.removeDab(edge));
    QVERIFY(session.removeDab(session.dabEntries().last().id));
    session.isolate();
    QCOMPARE(session.buildMatte(), matte);
    QCOMPARE(session.buildCutout(), cutout);
}

void TestSession::exportFromSessionNumbers_data()
{
    QTest::addColumn<QSize>("pictureSize"); // empty: a colour background
    QTest::addColumn<int>("zoomSteps");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QSize>("size");

    QTest::newRow("colour") << QSize() << 0 << QPoint(3, -2) << QSize(40, 30);
    QTest::newRow("colour, larger export") << QSize() << 0 << QPoint(-5, 4) << QSize(97, 51);
    QTest::newRow("wide picture, fitted") << QSize(90, 30) << 0 << QPoint(2, 2) << QSize(90, 30);
    QTest::newRow("tall picture, zoomed in") << QSize(20, 60) << 2 << QPoint(-4, 1) << QSize(20, 60);
    QTest::newRow("picture, zoomed out") << QSize(80, 60) << -3 << QPoint(7, 0) << QSize(64, 48);
}

void TestSession::exportFromSessionNumbers()
{
    // The export scales everything by the export size over the background's displayed size:
    // a picture fitted into the photo's size, times the zoom, truncated.
    QFETCH(QSize, pictureSize);
    QFETCH(int, zoomSteps);
    QFETCH(QPoint, offset);
    QFETCH(QSize, size);

    const QSize photo(40, 30);
    CutSession session;
    session.setPhoto(solid(photo.width(), photo.height(), qRgb(1, 2, 3)));
    session.cutout() = patternCutout(photo);
    const QImage picture = pictureSize.isEmpty() ? QImage() : solid(pictureSize.width(), pictureSize.height(), qRgb(0, 90, 0));
    if (picture.isNull())
        session.setBackgroundColour(qRgba(255, 0, 0, 128));
    else
        session.setBackgroundPicture(picture);
    for (int i = 0; i < std::abs(zoomSteps); ++i)
        session.zoomBackground(zoomSteps > 0 ? 1.05 : 0.9523809523809523);
    session.setObjectOffset(offset);

    // What the preview shows: the fitted picture (QImage::scaled) zoomed on its item.
    const QImage shown = picture.isNull() ? session.previewBackground(photo)
                                          : picture.scaled(photo, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QCOMPARE(session.backgroundSize(), shown.size());
    const QTransform zoom = QTransform::fromScale(session.backgroundZoom(), session.backgroundZoom());
    const QSize displayed(int(shown.width() * zoom.m11()), int(shown.height() * zoom.m22()));
    const QImage expected = picture.isNull()
        ? composeExport(qRgba(255, 0, 0, 128), shown.size(), displayed, session.cutout(), offset, size)
        : composeExport(picture, displayed, session.cutout(), offset, size);
    QVERIFY(!expected.isNull());
    QVERIFY(session.exportImage(size) == expected);
    QCOMPARE(session.exportStartSize(), picture.isNull() ? photo : pictureSize);
}

void TestSession::composedLikeScaledPictures_data()
{
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<bool>("asPicture"); // the colour given as a picture of its own
    QTest::addColumn<QSize>("backgroundSize");
    QTest::addColumn<QSize>("displayedSize");
    QTest::addColumn<QSize>("cutoutSize");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QSize>("size");

    const QSize small(60, 40);
    const QSize large(2100, 1100); // big enough for the export's own large-page buffer
    for (bool picture : {false, true}) {
        const char *kind = picture ? "picture" : "colour";
        QTest::addRow("%s: default, large", kind) << QRgb(0x00FFFFFF) << picture << large << large
                                                   << large << QPoint(0, 0) << large;
        QTest::addRow("%s: half red, large, moved", kind) << qRgba(255, 0, 0, 128) << picture << large
                                                           << large << large << QPoint(-37, 11) << large;
        QTest::addRow("%s: opaque, moved", kind) << qRgb(0, 0, 255) << picture << small << small
                                                  << small << QPoint(13, -7) << small;
        QTest::addRow("%s: default, larger export", kind) << QRgb(0x00FFFFFF) << picture << small
                                                           << small << small << QPoint(5, 3)
                                                           << QSize(97, 51);
        QTest::addRow("%s: half red, smaller export", kind) << qRgba(255, 0, 0, 128) << picture
                                                             << small << small << small << QPoint(-5, 3)
                                                             << QSize(31, 29);
        QTest::addRow("%s: zoomed background", kind) << qRgba(0, 90, 0, 200) << picture << small
                                                      << QSize(63, 42) << small << QPoint(4, 4) << small;
        QTest::addRow("%s: object outside", kind) << qRgb(9, 8, 7) << picture << small << small
                                                   << small << QPoint(-200, 0) << small;
        QTest::addRow("%s: object shrunk to nothing", kind) << qRgb(9, 8, 7) << picture << small
                                                             << small << QSize(1, 1) << QPoint(0, 0)
                                                             << QSize(30, 20);
    }
}

void TestSession::composedLikeScaledPictures()
{
    // The export must equal the plain recipe: both pictures smoothly scaled, then "over".
    QFETCH(QRgb, colour);
    QFETCH(bool, asPicture);
    QFETCH(QSize, backgroundSize);
    QFETCH(QSize, displayedSize);
    QFETCH(QSize, cutoutSize);
    QFETCH(QPoint, offset);
    QFETCH(QSize, size);

    const QImage background = solid(backgroundSize.width(), backgroundSize.height(), colour);
    const QImage cutout = patternCutout(cutoutSize);
    const QImage composed =
        asPicture ? composeExport(background, displayedSize, cutout, offset, size)
                  : composeExport(colour, backgroundSize, displayedSize, cutout, offset, size);

    const ExportGeometry g = exportGeometry(displayedSize, cutoutSize, offset, size);
    QImage expected = background.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                          .convertToFormat(QImage::Format_ARGB32);
    if (!g.objectSize.isEmpty())
        expected = composeOver(expected,
                               cutout.scaled(g.objectSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                   .convertToFormat(QImage::Format_ARGB32),
                               g.objectOffset);
    QCOMPARE(composed.format(), QImage::Format_ARGB32);
    QCOMPARE(composed.size(), size);
    QVERIFY(composed == expected);
    // The source pictures are left as they were.
    QCOMPARE(background.pixel(0, 0), colour);
    QVERIFY(cutout == patternCutout(cutoutSize));
}

void TestSession::failedWriteKeepsExistingFile()
{
    const QString path = dir.filePath(QStringLiteral("keep.jpg"));
    QVERIFY(solid(6, 4, qRgb(7, 8, 9)).save(path));
    QFile before(path);
    QVERIFY(before.open(QIODevice::ReadOnly));
    const QByteArray bytes = before.readAll();
    before.close();

    // The encoder gives up half-way: JPEG stops at 65500 pixels a side.
    QImage tooWide(70000, 1, QImage::Format_ARGB32);
    tooWide.fill(Qt::white);
    QString error;
    QVERIFY(!writeExportFile(tooWide, path, &error));
    QVERIFY(!error.isEmpty());
    QFile after(path);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), bytes);
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("keep*")}), QStringList({QStringLiteral("keep.jpg")}));

    // A folder in the way is not replaced either.
    const QString folder = dir.filePath(QStringLiteral("taken.png"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(!writeExportFile(tooWide.copy(0, 0, 8, 1), folder));
    QVERIFY(QFileInfo(folder).isDir());
}

void TestSession::displayPictures_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("1 x 1") << QSize(1, 1);
    QTest::newRow("smaller than the board") << QSize(121, 79);
    QTest::newRow("the board's own size") << QSize(800, 600);
    QTest::newRow("odd, larger") << QSize(1603, 1201);
    QTest::newRow("one long row") << QSize(4000, 1);
    QTest::newRow("one long column") << QSize(1, 3000);
}

void TestSession::displayPictures()
{
    // The shortcuts to the screen give Qt's own pixels: the board scaled by nearest neighbour,
    // and pictures as pixmaps show them.
    QFETCH(QSize, size);
    Q_INIT_RESOURCE(chessboard);
    const QImage board(QStringLiteral(":/icons/chessbackground.png"));
    QCOMPARE(board.format(), QImage::Format_Indexed8);
    const QImage expected = board.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                                .convertToFormat(QImage::Format_ARGB32);
    QVERIFY(scaledBoard(board, size) == expected);

    QImage picture = patternCutout(size);
    for (const bool opaque : {false, true}) {
        if (opaque)
            picture = picture.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32);
        const QImage shownByQt = QPixmap::fromImage(picture).toImage();
        QCOMPARE(QPixmap::fromImage(displayCopy(picture)).toImage(), shownByQt);
        QCOMPARE(QPixmap::fromImage(displayView(picture)).toImage(), shownByQt);
    }
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
