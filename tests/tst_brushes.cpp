#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <random>

#include "gui/brushcommand.h"
#include "mainwindowprobe.h"
#include "testsupport.h"

namespace {

QImage photoWithAlpha(int width, int height, int alpha)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x % 256, y % 256, (x * y) % 256, alpha));
    return image;
}

// Every byte random, fully transparent pixels included: undo must bring back colours that
// nothing shows.
QImage noiseImage(int width, int height, unsigned seed)
{
    std::mt19937 random(seed);
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = random();
    }
    return image;
}

// What the item shows, in one format: a pixmap of an opaque picture carries no alpha.
QImage shownImage(QGraphicsPixmapItem *item)
{
    return item->pixmap().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage displayed(const QImage &cutout)
{
    return QPixmap::fromImage(cutout).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

class TestBrushes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void repeatedClicks_data();
    void repeatedClicks();
    void dragBatches();
    void movedObject();
    void undoRestoresRectangle_data();
    void undoRestoresRectangle();
    void batchOutsidePicture();
    void droppedWithoutBrush_data();
    void droppedWithoutBrush();
    void unreadableTempFile_data();
    void unreadableTempFile();
    void undoAfterPreviewChange_data();
    void undoAfterPreviewChange();
    void redoReappliesBatches_data();
    void redoReappliesBatches();

private:
    void showCutout(const QImage &cutout, QPoint offset = QPoint(0, 0));
    void selectTool(const char *action);
    void dab(QRect sceneRect, bool now);
    void click(QRect sceneRect);
    const CBrushCommand *command(int index);

    QTemporaryDir folder;
    QString photoPath;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;
};

void TestBrushes::initTestCase()
{
    isolateSettings();
    QVERIFY(folder.isValid());
    photoPath = folder.filePath(QStringLiteral("photo.png"));
    QVERIFY(photoWithAlpha(160, 140, 255).save(photoPath));
}

void TestBrushes::init()
{
    QSettings().clear();
    window = std::make_unique<MainWindow>();
    probe = std::make_unique<MainWindowProbe>(*window);
    QVERIFY(probe->load(photoPath));
    probe->tools().keepBrushIntensity = 150;
    probe->tools().removeBrushIntensity = 100;
}

void TestBrushes::cleanup()
{
    probe.reset();
    window.reset();
}

// The preview as it stands after being switched on: the cut-out and its item at the offset.
void TestBrushes::showCutout(const QImage &cutout, QPoint offset)
{
    probe->showCutout(cutout, offset, photoWithAlpha(160, 140, 255));
}

void TestBrushes::selectTool(const char *action)
{
    QAction *tool = probe->action(action);
    QVERIFY(tool);
    tool->setEnabled(true);
    tool->setChecked(true);
}

void TestBrushes::dab(QRect sceneRect, bool now)
{
    QVERIFY(QMetaObject::invokeMethod(probe->view(), "AnyBrush", Q_ARG(QRect, sceneRect),
                                      Q_ARG(bool, now)));
}

void TestBrushes::click(QRect sceneRect)
{
    const int steps = probe->undoStack().count();
    dab(sceneRect, true);
    QTRY_COMPARE(probe->undoStack().count(), steps + 1);
}

const CBrushCommand *TestBrushes::command(int index)
{
    return dynamic_cast<const CBrushCommand *>(probe->undoStack().command(index));
}

void TestBrushes::repeatedClicks_data()
{
    QTest::addColumn<QByteArray>("brush");
    QTest::addColumn<int>("startAlpha");
    QTest::addColumn<QList<int>>("alphas");

    QTest::newRow("foreground") << QByteArray("actionForeground_Brush") << 0 << QList<int>{150, 255};
    QTest::newRow("background") << QByteArray("actionBackground_Brush") << 255
                                << QList<int>{155, 55, 0};
}

void TestBrushes::repeatedClicks()
{
    QFETCH(QByteArray, brush);
    QFETCH(int, startAlpha);
    QFETCH(QList<int>, alphas);

    const QImage original = photoWithAlpha(160, 140, startAlpha);
    showCutout(original);
    selectTool(brush.constData());
    const QRect spot(40, 30, 10, 10);
    for (int alpha : alphas) {
        click(spot);
        const QRgb centre = probe->session().cutout().pixel(45, 35);
        QCOMPARE(qAlpha(centre), alpha);
        QCOMPARE(centre & RGB_MASK, original.pixel(45, 35) & RGB_MASK);
        // The square's corner lies outside the inscribed ellipse.
        QCOMPARE(probe->session().cutout().pixel(40, 30), original.pixel(40, 30));
    }
    QCOMPARE(probe->undoStack().count(), alphas.size());
    QCOMPARE(shownImage(probe->objectItem()), displayed(probe->session().cutout()));
}

void TestBrushes::dragBatches()
{
    showCutout(photoWithAlpha(160, 140, 0));
    selectTool("actionForeground_Brush");
    probe->tools().keepBrushIntensity = 10;

    click(QRect(20, 20, 10, 10));
    QCOMPARE(probe->brushTimer().interval(), 0);
    QVERIFY(probe->skipTimer().isActive());

    // Dabs 2 pixels apart, each arriving well within 30 ms of the last.
    for (int i = 1; i <= 25; ++i) {
        dab(QRect(20 + 2 * i, 20, 10, 10), false);
        if (i % 10 == 0) {
            QCOMPARE(probe->brushTimer().interval(), 0);
            QTRY_COMPARE(probe->undoStack().count(), 1 + i / 10);
            QVERIFY(probe->brushRects().isEmpty());
        } else {
            QCOMPARE(probe->brushTimer().interval(), 30);
            QCoreApplication::processEvents();
            QCOMPARE(probe->brushRects().size(), i % 10);
        }
    }
    QTRY_COMPARE(probe->undoStack().count(), 4);
    QCOMPARE(probe->lastBrushRect(), QRect(70, 20, 10, 10));

    // Under the dabs 9, 10 (second batch) and 11 (third batch): raised once per batch.
    QCOMPARE(qAlpha(probe->session().cutout().pixel(46, 25)), 20);
    // Under the press only.
    QCOMPARE(qAlpha(probe->session().cutout().pixel(21, 25)), 10);
}

void TestBrushes::movedObject()
{
    const QImage original = photoWithAlpha(160, 140, 0);
    showCutout(original, QPoint(30, -20));
    selectTool("actionForeground_Brush");
    click(QRect(100, 100, 10, 10));

    const QImage &edited = probe->session().cutout();
    QCOMPARE(qAlpha(edited.pixel(75, 125)), 150);
    QCOMPARE(qAlpha(edited.pixel(105, 105)), 0);
    for (int y = 0; y < edited.height(); ++y)
        for (int x = 0; x < edited.width(); ++x)
            if (edited.pixel(x, y) != original.pixel(x, y))
                QVERIFY2(QRect(70, 120, 10, 10).contains(x, y),
                         qPrintable(QStringLiteral("changed at %1, %2").arg(x).arg(y)));
}

void TestBrushes::undoRestoresRectangle_data()
{
    QTest::addColumn<QByteArray>("brush");
    QTest::addColumn<QList<QRect>>("dabs");
    QTest::addColumn<QString>("tempFolder"); // empty: the usual one
    QTest::addColumn<bool>("onDisk");

    const QByteArray keep("actionForeground_Brush");
    const QByteArray remove("actionBackground_Brush");
    const QList<QRect> stroke{QRect(10, 10, 30, 30), QRect(25, 18, 30, 30), QRect(60, 40, 8, 8)};
    // Dabs reaching over the top-left and bottom-right edges of the 160 x 140 picture.
    const QList<QRect> edges{QRect(-12, -7, 30, 30), QRect(145, 120, 30, 30)};
    const QString missing = folder.filePath(QStringLiteral("missing/deeper"));
    QTest::newRow("foreground") << keep << stroke << QString() << true;
    QTest::newRow("background") << remove << stroke << QString() << true;
    QTest::newRow("over the edges") << remove << edges << QString() << true;
    // What a brush gives on a view zoomed far out: dabs much larger than the picture.
    const QList<QRect> large{QRect(-1500, -1400, 3000, 3000)};
    QTest::newRow("far past the edges") << keep << large << QString() << true;
    const QList<QRect> huge{QRect(-60000, -50000, 100000, 100000), QRect(20, 20, 9, 9)};
    QTest::newRow("thousands of times the picture") << remove << huge << QString() << true;
    QTest::newRow("temp folder missing") << remove << stroke << missing << false;
    // Refuses new files even to root.
    QTest::newRow("temp folder refusing files") << keep << stroke << QStringLiteral("/proc/self") << false;
}

void TestBrushes::undoRestoresRectangle()
{
    QFETCH(QByteArray, brush);
    QFETCH(QList<QRect>, dabs);
    QFETCH(QString, tempFolder);
    QFETCH(bool, onDisk);

    const QImage original = noiseImage(160, 140, 7);
    showCutout(original);
    selectTool(brush.constData());
    const QByteArray usualTemp = qgetenv("TMPDIR");
    if (!tempFolder.isEmpty())
        qputenv("TMPDIR", QFile::encodeName(tempFolder));
    for (const QRect &d : dabs)
        dab(d, false);
    QTRY_COMPARE(probe->undoStack().count(), 1);
    if (usualTemp.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", usualTemp);
    QVERIFY(probe->session().cutout() != original);
    QCOMPARE(shownImage(probe->objectItem()), displayed(probe->session().cutout()));

    const QString stored = command(0)->storedFileName();
    QCOMPARE(!stored.isEmpty(), onDisk);
    QCOMPARE(QFileInfo::exists(stored), onDisk);
    // What undo keeps never reaches past the picture.
    if (onDisk)
        QVERIFY(original.rect().contains(QRect(QPoint(0, 0), QImageReader(stored).size())));

    probe->undoStack().undo();
    QCOMPARE(probe->session().cutout(), original);
    QCOMPARE(shownImage(probe->objectItem()), displayed(original));

    probe->undoStack().clear();
    QVERIFY(stored.isEmpty() || !QFileInfo::exists(stored));
}

void TestBrushes::batchOutsidePicture()
{
    const QImage original = photoWithAlpha(160, 140, 0);
    showCutout(original, QPoint(400, 400));
    selectTool("actionForeground_Brush");
    click(QRect(10, 10, 20, 20));
    QCOMPARE(probe->session().cutout(), original);
    probe->statusBar()->showMessage(QStringLiteral("before"));
    probe->undoStack().undo();
    QCOMPARE(probe->undoStack().index(), 0);
    QCOMPARE(probe->session().cutout(), original);
    QCOMPARE(probe->status(), QStringLiteral("before"));
}

void TestBrushes::droppedWithoutBrush_data()
{
    QTest::addColumn<QByteArray>("tool");
    QTest::newRow("hand tool") << QByteArray("actionHandTool");
    QTest::newRow("nothing") << QByteArray();
}

void TestBrushes::droppedWithoutBrush()
{
    QFETCH(QByteArray, tool);

    const QImage original = photoWithAlpha(160, 140, 100);
    showCutout(original);
    if (!tool.isEmpty())
        selectTool(tool.constData());
    dab(QRect(30, 30, 10, 10), true);
    QTRY_VERIFY(probe->brushRects().isEmpty());
    QCOMPARE(probe->undoStack().count(), 0);
    QCOMPARE(probe->session().cutout(), original);
    QCOMPARE(probe->lastBrushRect(), QRect(30, 30, 10, 10));
}

void TestBrushes::unreadableTempFile_data()
{
    QTest::addColumn<QByteArray>("replacement");
    QTest::addColumn<bool>("onRedo"); // the pixels the batch left, read back by redo
    QByteArray otherPicture;
    {
        QBuffer buffer(&otherPicture);
        buffer.open(QIODevice::WriteOnly);
        noiseImage(7, 5, 3).save(&buffer, "PNG");
    }
    for (bool onRedo : {false, true}) {
        const char *step = onRedo ? "redo" : "undo";
        QTest::addRow("%s, emptied", step) << QByteArray() << onRedo;
        QTest::addRow("%s, garbage", step) << QByteArray(4096, '\x5a') << onRedo;
        QTest::addRow("%s, picture of another size", step) << otherPicture << onRedo;
    }
}

void TestBrushes::unreadableTempFile()
{
    QFETCH(QByteArray, replacement);
    QFETCH(bool, onRedo);

    const QImage original = noiseImage(160, 140, 5);
    showCutout(original);
    selectTool("actionForeground_Brush");
    click(QRect(50, 50, 20, 20));
    if (onRedo)
        probe->undoStack().undo();
    const QImage kept = probe->session().cutout();
    QCOMPARE(kept == original, onRedo);
    const QImage shown = shownImage(probe->objectItem());

    QFile stored(command(0)->storedFileName(onRedo));
    QVERIFY(stored.open(QIODevice::WriteOnly | QIODevice::Truncate));
    stored.write(replacement);
    stored.close();

    if (onRedo)
        probe->undoStack().redo();
    else
        probe->undoStack().undo();
    QCOMPARE(probe->undoStack().index(), onRedo ? 1 : 0);
    QCOMPARE(probe->session().cutout(), kept);
    QCOMPARE(shownImage(probe->objectItem()), shown);
    QCOMPARE(probe->status(), onRedo ? QStringLiteral("Redo failed: the saved pixels could not be read")
                                     : QStringLiteral("Undo failed: the saved pixels could not be read"));
}

void TestBrushes::undoAfterPreviewChange_data()
{
    QTest::addColumn<bool>("rebuilt");
    // Preview off and on: the cut-out is rebuilt from the markers, the old item deleted;
    // the brush edit is gone and its undo must leave the new cut-out alone.
    QTest::newRow("preview rebuilt") << true;
    // A new background: both items replaced, the cut-out kept with its brush edits.
    QTest::newRow("new background") << false;
}

void TestBrushes::undoAfterPreviewChange()
{
    QFETCH(bool, rebuilt);

    const QImage original = noiseImage(160, 140, 13);
    showCutout(original, QPoint(5, 5));
    selectTool("actionBackground_Brush");
    click(QRect(50, 50, 20, 20));
    click(QRect(60, 55, 20, 20));

    QImage expected = original;
    if (rebuilt) {
        probe->session().dropCutout();
        probe->cutout().rebuilt();
        expected = photoWithAlpha(160, 140, 40);
        showCutout(expected);
    } else {
        showCutout(probe->session().cutout());
    }

    probe->undoStack().undo();
    probe->undoStack().undo();
    QCOMPARE(probe->undoStack().index(), 0);
    QCOMPARE(probe->session().cutout(), expected);
    QCOMPARE(shownImage(probe->objectItem()), displayed(expected));
}

void TestBrushes::redoReappliesBatches_data()
{
    QTest::addColumn<bool>("wholeStrokes");
    QTest::addColumn<QString>("tempFolder"); // empty: the usual one
    QTest::newRow("a step per batch") << false << QString();
    QTest::newRow("a step per stroke") << true << QString();
    QTest::newRow("no temporary files") << false << QStringLiteral("/proc/self");
}

void TestBrushes::redoReappliesBatches()
{
    QFETCH(bool, wholeStrokes);
    QFETCH(QString, tempFolder);

    probe->settings().setValue(QStringLiteral("UNDOSTROKES"), wholeStrokes);
    probe->readToolParameters();
    window->resize(800, 600);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QImage original = noiseImage(160, 140, 21);
    showCutout(original);
    OvoGraphicsView *view = probe->view();
    view->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    settleView(view);
    const QByteArray usualTemp = qgetenv("TMPDIR");
    if (!tempFolder.isEmpty())
        qputenv("TMPDIR", QFile::encodeName(tempFolder));

    // Two strokes, each its press and 25 dabs, batched as a drag batches them.
    QWidget *port = view->viewport();
    for (const char *brush : {"actionForeground_Brush", "actionBackground_Brush"}) {
        selectTool(brush);
        const int before = probe->undoStack().count();
        const int y = brush[6] == 'F' ? 40 : 50;
        QTest::mousePress(port, Qt::LeftButton, {}, view->mapFromScene(QPointF(30, y)));
        QCoreApplication::processEvents();
        for (int i = 1; i <= 25; ++i) {
            QTest::mouseMove(port, view->mapFromScene(QPointF(30 + 3 * i, y)));
            QCoreApplication::processEvents();
        }
        QTest::mouseRelease(port, Qt::LeftButton, {}, view->mapFromScene(QPointF(105, y)));
        if (wholeStrokes)
            QCOMPARE(probe->undoStack().count(), before + 1); // the last batch is in the step
        QTRY_VERIFY(!probe->brushTimer().isActive());
    }
    const int steps = probe->undoStack().count();
    QVERIFY(wholeStrokes ? steps == 2 : steps > 2);
    const QImage edited = probe->session().cutout();

    for (int back : {1, steps, steps}) { // and again: redo does not work just once
        for (int i = 0; i < back; ++i)
            probe->action("actionUndo")->trigger();
        if (back == steps)
            QCOMPARE(probe->session().cutout(), original);
        for (int i = 0; i < back; ++i)
            probe->action("actionRedo")->trigger();
        QCOMPARE(probe->session().cutout(), edited);
        QCOMPARE(shownImage(probe->objectItem()), displayed(edited));
    }
    if (usualTemp.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", usualTemp);
    // What redo reapplies is on disk like what undo restores, when the disk takes it.
    const QUndoCommand *first = probe->undoStack().command(0);
    const auto *batch = dynamic_cast<const CBrushCommand *>(first->childCount() ? first->child(0) : first);
    QVERIFY(batch);
    QCOMPARE(batch->storedFileName(true).isEmpty(), !tempFolder.isEmpty());
}

QTEST_MAIN(TestBrushes)
#include "tst_brushes.moc"
