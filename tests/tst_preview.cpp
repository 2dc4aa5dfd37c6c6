// Open with its analysis, the isolation run, the mask view and the preview, all through the
// real main window.
#include <QFile>
#include <QGraphicsEllipseItem>
#include <QGraphicsPathItem>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QLoggingCategory>
#include <QPainter>
#include <QProgressBar>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "mainwindowprobe.h"
#include "output/keepmask.h"
#include "testsupport.h"

namespace {

constexpr int W = 120;
constexpr int H = 80;
constexpr QRgb leftColour = 0xFFC82828;  // (200, 40, 40)
constexpr QRgb rightColour = 0xFF2828C8; // (40, 40, 200)

// Two flat halves: a keep stroke on one and a remove stroke on the other make that half the
// object, to the column.
QImage halvesPicture()
{
    QImage picture(W, H, QImage::Format_ARGB32);
    for (int y = 0; y < H; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < W; ++x)
            line[x] = x < W / 2 ? leftColour : rightColour;
    }
    return picture;
}

// The keep pixels of a half: listed column by column without repeats, nothing of the other
// half, and all of this half but its column at the step (where the flood may leave a
// boundary).
bool isHalf(const QList<qint32> &keep, bool left)
{
    QSet<qint32> seen;
    qint64 previous = -1;
    for (const qint32 e : keep) {
        const int x = e % W;
        const int y = e / W;
        const qint64 columnMajor = qint64(x) * H + y;
        if (e < 0 || e >= W * H || columnMajor <= previous || (x < W / 2) != left)
            return false;
        previous = columnMajor;
        seen.insert(e);
    }
    const int from = left ? 0 : W / 2 + 1;
    for (int x = from; x < from + W / 2 - 1; ++x)
        for (int y = 0; y < H; ++y)
            if (!seen.contains(y * W + x))
                return false;
    return true;
}

QImage argb(const QPixmap &pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage chessboard()
{
    return QImage(QStringLiteral(":/icons/chessbackground.png"))
        .scaled(W, H, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void openProgress_data();
    void openProgress();

    void isolationWithoutMarkers();
    void markersByType_data();
    void markersByType();
    void isolationWithoutPhoto();

    void maskOverlay();
    void background_data();
    void background();
    void backgroundZoom_data();
    void backgroundZoom();
    void handTool();
    void liveMask_data();
    void liveMask();
    void handToolZoomedOut_data();
    void handToolZoomedOut();
    void previewOffAndOn();
    void actionStates_data();
    void actionStates();
    void toolsResetOnModeChange();
    void smoothing_data();
    void smoothing();
    void cutoutFromMemory_data();
    void cutoutFromMemory();
    void outlineSurvivesRebuild();
    void zoomStaysThroughCommands_data();
    void zoomStaysThroughCommands();

private:
    OvoGraphicsView *view() const { return probe->view(); }
    QWidget *port() const { return probe->view()->viewport(); }
    QPoint at(QPointF scenePos) const { return view()->mapFromScene(scenePos); }
    void settle() { settleView(view()); }
    void stroke(const char *actionName, QPointF from, QPointF to);
    void keepLeftRemoveRight();
    void setPreview(bool on) { probe->action("actionPreview")->setChecked(on); }

    QTemporaryDir dir;
    QString photoPath;
    MainWindow *window = nullptr;
    MainWindowProbe *probe = nullptr;
};

void TestPreview::initTestCase()
{
    isolateSettings();
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); // the stages' diagnostics
    QVERIFY(dir.isValid());
    // The board the default background is made of: light grey and white squares.
    const QImage board = chessboard();
    QVERIFY(!board.isNull());
    QSet<QRgb> colours;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            colours.insert(board.pixel(x, y));
    QCOMPARE(colours, QSet<QRgb>({qRgb(191, 191, 191), qRgb(255, 255, 255)}));
    photoPath = dir.filePath(QStringLiteral("halves.png"));
    QVERIFY(halvesPicture().save(photoPath));
}

void TestPreview::init()
{
    QSettings().clear();
    window = new MainWindow;
    probe = new MainWindowProbe(*window);
    QVERIFY(showWithPicture(*window, *probe, photoPath));
}

void TestPreview::cleanup()
{
    delete probe;
    delete window;
    probe = nullptr;
    window = nullptr;
}

// A dragged stroke of the tool behind `actionName`, one mouse move per scene pixel.
void TestPreview::stroke(const char *actionName, QPointF from, QPointF to)
{
    probe->action(actionName)->trigger();
    QTest::mousePress(port(), Qt::LeftButton, {}, at(from));
    const int steps = int(QLineF(from, to).length());
    for (int i = 0; i <= steps; ++i)
        QTest::mouseMove(port(), at(from + (to - from) * (steps ? double(i) / steps : 0.0)));
    QTest::mouseRelease(port(), Qt::LeftButton, {}, at(to));
}

void TestPreview::keepLeftRemoveRight()
{
    stroke("actionKeep_arker", QPointF(20, 20), QPointF(30, 50));
    stroke("action_Remove_Marker", QPointF(85, 20), QPointF(95, 50));
    QVERIFY(probe->undoStack().count() > 0);
}

void TestPreview::openProgress_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("small") << QSize(W, H);
    QTest::newRow("scaled for the clustering") << QSize(600, 40);
    QTest::newRow("1100 x 1") << QSize(1100, 1);
    QTest::newRow("1 x 1100") << QSize(1, 1100);
    QTest::newRow("1 x 1") << QSize(1, 1);
}

void TestPreview::openProgress()
{
    QFETCH(QSize, size);
    QImage picture(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.setPixel(x, y, qRgb((x * 7) & 0xFF, (y * 5) & 0xFF, ((x + y) * 3) & 0xFF));
    const QString path = dir.filePath(QStringLiteral("progress.png"));
    QVERIFY(picture.save(path));

    MainWindow fresh;
    MainWindowProbe p(fresh);
    fresh.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fresh));
    QProgressBar *bar = p.progressBar();
    QSignalSpy values(bar, &QProgressBar::valueChanged);

    // The window keeps handling events while the picture is read and analysed: a posted
    // event runs before the open returns, and every value reaches the bar while it shows.
    bool ranDuringOpen = false;
    bool hiddenAtSomeValue = false;
    QTimer::singleShot(0, [&] { ranDuringOpen = true; });
    connect(bar, &QProgressBar::valueChanged, [&] { hiddenAtSomeValue |= bar->isHidden(); });
    QVERIFY(p.load(path));

    QList<int> seen;
    for (const QList<QVariant> &signal : std::as_const(values))
        seen.append(signal.at(0).toInt());
    QVERIFY2(seen.size() >= 4, qPrintable(QString::number(seen.size())));
    QCOMPARE(seen.mid(0, 3), QList<int>({10, 15, 20}));
    QCOMPARE(seen.last(), 100);
    // The clustering's own values (its last iterations go past 100, which the bar ignores).
    for (int i = 3; i < seen.size(); ++i)
        QVERIFY2(seen.at(i) >= 30 && seen.at(i) >= seen.at(i - 1), qPrintable(QString::number(seen.at(i))));
    QVERIFY(ranDuringOpen);
    QVERIFY(!hiddenAtSomeValue);
    QVERIFY(bar->isHidden());
    QCOMPARE(p.status(), QStringLiteral("Ready"));
    QCOMPARE(p.session().labelMap().size(), size);
    QCOMPARE(p.session().labelMap().format(), QImage::Format_Indexed8);
}

void TestPreview::isolationWithoutMarkers()
{
    QAction *mask = probe->action("actionMask");
    mask->trigger();
    QVERIFY(probe->maskItem());
    QVERIFY(probe->session().keepPixels().isEmpty());
    const QImage grey = argb(probe->maskItem()->pixmap());
    QImage expected(W, H, QImage::Format_ARGB32);
    expected.fill(qRgb(150, 150, 150));
    QCOMPARE(grey, expected);

    probe->isolateObject();
    QVERIFY(!probe->maskItem());
    QVERIFY(probe->session().keepPixels().isEmpty());
    QCOMPARE(probe->editScene().items().size(), 1); // the photo alone
    QCOMPARE(probe->status(), QStringLiteral("Isolating object"));
    QVERIFY(probe->progressBar()->isHidden());
}

void TestPreview::markersByType_data()
{
    QTest::addColumn<bool>("keepOnLeft");
    QTest::newRow("keep on the left") << true;
    QTest::newRow("keep on the right") << false;
}

void TestPreview::markersByType()
{
    QFETCH(bool, keepOnLeft);
    const qreal keepX = keepOnLeft ? 20 : 85;
    const qreal removeX = keepOnLeft ? 85 : 20;
    for (int i = 0; i < 4; ++i) {
        probe->markers().add({true, QRectF(keepX + i, 20 + 8 * i, 10, 10)});
        probe->markers().add({false, QRectF(removeX + i, 20 + 8 * i, 10, 10)});
    }
    // Only dabs are markers: a green path over everything is not.
    QPainterPath path;
    path.addRect(0, 0, W, H);
    probe->editScene().addPath(path, QPen(Qt::green), QBrush(Qt::green))->setZValue(10);

    probe->isolateObject();
    const QList<qint32> first = probe->session().keepPixels();
    QVERIFY(isHalf(first, keepOnLeft));
    probe->isolateObject();
    QCOMPARE(probe->session().keepPixels(), first);
}

void TestPreview::isolationWithoutPhoto()
{
    keepLeftRemoveRight();
    probe->action("actionMask")->trigger();
    QVERIFY(probe->maskItem());

    const QString bad = dir.filePath(QStringLiteral("bad.png"));
    {
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a picture");
    }
    QVERIFY(!probe->load(bad));
    QVERIFY(!probe->maskItem());
    QVERIFY(probe->session().keepPixels().isEmpty());

    // Markers without a photo: nothing happens, not even a message.
    probe->markers().add({true, QRectF(10, 10, 10, 10)});
    probe->isolateObject();
    QVERIFY(probe->session().keepPixels().isEmpty());
    QVERIFY(!probe->session().isIsolationCurrent());
    QCOMPARE(probe->status(), QStringLiteral("Failed to read image"));

    // The preview holds two empty items.
    setPreview(true);
    QCOMPARE(probe->previewScene().items().size(), 2);
    QVERIFY(probe->objectItem()->pixmap().isNull());
    QVERIFY(probe->backgroundItem()->pixmap().isNull());
    setPreview(false);
}

void TestPreview::maskOverlay()
{
    keepLeftRemoveRight();
    probe->tools().maskOpacity = 0.35f;
    probe->action("actionMask")->trigger();

    QVERIFY(isHalf(probe->session().keepPixels(), true));
    QCOMPARE(probe->status(), QStringLiteral("Ready"));
    QCOMPARE(view()->scene(), &probe->editScene());
    QGraphicsPixmapItem *mask = probe->maskItem();
    QVERIFY(mask);
    QCOMPARE(mask->scene(), &probe->editScene());
    QCOMPARE(mask->zValue(), 7.0);
    QCOMPARE(mask->opacity(), qreal(0.35f));
    QVERIFY(mask->isVisible());
    QCOMPARE(mask->pos(), QPointF(0, 0));

    const QImage overlay = argb(mask->pixmap());
    QCOMPARE(overlay.size(), QSize(W, H));
    const QSet<qint32> keep(probe->session().keepPixels().cbegin(), probe->session().keepPixels().cend());
    QVERIFY(keep.contains(2 * W + 3));
    QCOMPARE(overlay.pixel(3, 2), qRgb(0, 50, 255));
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            QCOMPARE(overlay.pixel(x, y), keep.contains(y * W + x) ? qRgb(0, 50, 255) : qRgb(150, 150, 150));

    // The markers stay on top, and a second run replaces the overlay.
    int markers = 0;
    for (QGraphicsItem *item : probe->editScene().items()) {
        if (item->type() == QGraphicsRectItem::Type || item->type() == QGraphicsEllipseItem::Type) {
            QVERIFY(item->zValue() > mask->zValue());
            ++markers;
        }
    }
    QVERIFY(markers > 0);
    probe->action("actionMask")->trigger();
    int overlays = 0;
    for (QGraphicsItem *item : probe->editScene().items())
        overlays += item->type() == QGraphicsPixmapItem::Type;
    QCOMPARE(overlays, 2); // photo and one overlay
}

void TestPreview::background_data()
{
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QImage>("expected");

    QTest::newRow("default: chessboard") << QRgb(0x00FFFFFF) << QImage() << chessboard();
    QImage red(W, H, QImage::Format_ARGB32);
    red.fill(qRgb(255, 0, 0));
    QTest::newRow("opaque red") << qRgb(255, 0, 0) << QImage() << red;

    QImage layered = chessboard();
    {
        QImage layer(W, H, QImage::Format_ARGB32);
        layer.fill(qRgba(20, 90, 200, 128));
        QPainter painter(&layered);
        painter.drawImage(0, 0, layer);
    }
    QTest::newRow("half-transparent blue") << qRgba(20, 90, 200, 128) << QImage() << layered;

    QImage picture(60, 20, QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x * 4, y * 12, 100));
    QTest::newRow("picture, colour unused") << qRgb(255, 0, 0) << picture
                                            << picture.scaled(W, H, Qt::KeepAspectRatio,
                                                              Qt::SmoothTransformation);
}

void TestPreview::background()
{
    QFETCH(QRgb, colour);
    QFETCH(QImage, picture);
    QFETCH(QImage, expected);
    keepLeftRemoveRight();
    setPreview(true);
    QCOMPARE(argb(probe->backgroundItem()->pixmap()), chessboard());

    probe->session().setBackgroundColour(colour);
    probe->session().setBackgroundPicture(picture);
    probe->showPreview();
    QCOMPARE(probe->status(), QStringLiteral("Ready"));
    QCOMPARE(probe->previewScene().items().size(), 2);
    QCOMPARE(probe->backgroundItem()->zValue(), 0.0);
    QCOMPARE(probe->objectItem()->zValue(), 10.0);
    QCOMPARE(argb(probe->backgroundItem()->pixmap()), expected.convertToFormat(QImage::Format_ARGB32));
}

void TestPreview::backgroundZoom_data()
{
    QTest::addColumn<bool>("withPicture");
    QTest::newRow("background picture") << true;
    QTest::newRow("no background picture") << false;
}

void TestPreview::backgroundZoom()
{
    QFETCH(bool, withPicture);
    setPreview(true);
    if (withPicture) {
        QImage picture(30, 20, QImage::Format_ARGB32);
        picture.fill(Qt::darkCyan);
        probe->session().setBackgroundPicture(picture);
        probe->showPreview();
    }
    QAction *plus = probe->action("actionBackgroundZoomPlus");
    QAction *minus = probe->action("actionBackgroundZoomMinus");
    QVERIFY(plus->isEnabled() && minus->isEnabled());

    plus->trigger();
    QCOMPARE(probe->backgroundItem()->transform().m11(), withPicture ? 1.05 : 1.0);
    QCOMPARE(probe->backgroundItem()->transform().m22(), withPicture ? 1.05 : 1.0);
    plus->trigger();
    minus->trigger();
    minus->trigger();
    const QTransform back = probe->backgroundItem()->transform();
    QVERIFY(qFuzzyCompare(back.m11(), 1.0) && qFuzzyCompare(back.m22(), 1.0));
    if (!withPicture)
        QCOMPARE(back, QTransform());
    QCOMPARE(probe->objectItem()->transform(), QTransform());

    plus->trigger();
    probe->showPreview(); // a rebuilt preview starts again at scale 1
    QCOMPARE(probe->backgroundItem()->transform(), QTransform());
}

void TestPreview::handTool()
{
    keepLeftRemoveRight();
    setPreview(true);
    settle();
    QCOMPARE(probe->objectItem()->pos(), QPointF(0, 0));

    // The view's signal, as the Part gives it.
    emit view()->HandTool(QPoint(0, 0), QPoint(5, 3));
    emit view()->HandTool(QPoint(5, 3), QPoint(7, 3));
    QCOMPARE(probe->objectItem()->pos(), QPointF(7, 3));
    QCOMPARE(probe->session().objectOffset(), QPoint(7, 3));
    QCOMPARE(probe->backgroundItem()->pos(), QPointF(0, 0));

    // A drag with the hand tool moves it on; a rebuilt preview keeps the place.
    probe->action("actionHandTool")->trigger();
    QTest::mousePress(port(), Qt::LeftButton, {}, at(QPointF(40, 40)));
    QTest::mouseMove(port(), at(QPointF(44, 38)));
    QTest::mouseMove(port(), at(QPointF(50, 37)));
    QTest::mouseRelease(port(), Qt::LeftButton, {}, at(QPointF(50, 37)));
    QCOMPARE(probe->session().objectOffset(), QPoint(17, 0));
    QCOMPARE(probe->objectItem()->pos(), QPointF(17, 0));
    probe->showPreview();
    QCOMPARE(probe->objectItem()->pos(), QPointF(17, 0));
    QCOMPARE(probe->backgroundItem()->pos(), QPointF(0, 0));
}

void TestPreview::liveMask_data()
{
    // k: keep stroke on the left, r: remove stroke on the right, K: keep stroke on the right,
    // u: undo, e: eraser click on the right stroke.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<bool>("waitBetween"); // for each live result, or all in one go
    QTest::addColumn<bool>("precise");
    QTest::newRow("strokes, undos and an erasure") << "kruKue" << true << false;
    QTest::newRow("changes while a run is under way") << "kruK" << false << false;
    QTest::newRow("precise, changes while a run is under way") << "kruK" << false << true;
}

void TestPreview::liveMask()
{
    QFETCH(QString, steps);
    QFETCH(bool, waitBetween);
    QFETCH(bool, precise);
    if (precise)
        probe->document().setIsolationMethod(IsolationMethod::Precise);
    QSignalSpy shown(&probe->document(), &CutDocument::liveMaskReady);
    probe->action("actionLiveMask")->setChecked(true);
    QCOMPARE(probe->settings().value("LIVEMASK").toBool(), true);
    QTRY_COMPARE(shown.size(), 1); // at once, for the marks there are
    for (const QChar step : steps) {
        const qsizetype before = shown.size();
        switch (step.toLatin1()) {
        case 'k': stroke("actionKeep_arker", QPointF(20, 20), QPointF(30, 50)); break;
        case 'r': stroke("action_Remove_Marker", QPointF(85, 20), QPointF(95, 50)); break;
        case 'K': stroke("actionKeep_arker", QPointF(70, 30), QPointF(75, 40)); break;
        case 'u': probe->undoStack().undo(); break;
        case 'e':
            probe->action("actionEraser")->trigger();
            QTest::mouseClick(port(), Qt::LeftButton, {}, at(QPointF(90, 35)));
            break;
        }
        if (waitBetween)
            QTRY_COMPARE(shown.size(), before + 1);
    }
    // The newest marks' result is what shows, and Mask takes it over instead of isolating again.
    QTRY_VERIFY(probe->session().isIsolationCurrent());
    QTRY_VERIFY(probe->maskItem());
    const QImage live = argb(probe->maskItem()->pixmap());
    probe->action("actionMask")->trigger();
    QCOMPARE(argb(probe->maskItem()->pixmap()), live);
    QCOMPARE(live, argb(QPixmap::fromImage(::maskOverlay(probe->session().keepPixels(), QSize(W, H)))));

    // The setting comes back with the next window.
    MainWindow next;
    QVERIFY(MainWindowProbe(next).action("actionLiveMask")->isChecked());
    probe->action("actionLiveMask")->setChecked(false);
    QCOMPARE(probe->settings().value("LIVEMASK").toBool(), false);
}

void TestPreview::handToolZoomedOut_data()
{
    QTest::addColumn<int>("zoomOuts"); // 0: until the scale stops changing
    QTest::addColumn<bool>("reachesBound");
    QTest::newRow("a drag spans more than int") << 90 << true;
    QTest::newRow("smallest zoom the buttons reach") << 0 << false; // a scale the view cannot invert
}

void TestPreview::handToolZoomedOut()
{
    // Far enough to leave any picture, and adding a picture's size to it stays an int.
    const int bound = 1 << 30;
    QFETCH(int, zoomOuts);
    QFETCH(bool, reachesBound);
    keepLeftRemoveRight();
    setPreview(true);
    settle();
    QAction *zoomOut = probe->action("actionZoom_Out");
    for (int i = 0; zoomOuts ? i < zoomOuts : i < 5000; ++i) {
        const qreal before = view()->transform().m11();
        zoomOut->trigger();
        if (!zoomOuts && view()->transform().m11() == before)
            break;
    }
    probe->action("actionHandTool")->trigger();
    const auto drag = [&](QPoint from, QPoint to) {
        QTest::mousePress(port(), Qt::LeftButton, {}, from);
        QTest::mouseMove(port(), to);
        QTest::mouseRelease(port(), Qt::LeftButton, {}, to);
    };
    for (int i = 0; i < 6; ++i)
        drag(QPoint(400, 300), QPoint(100, 300));
    const QPoint far = probe->session().objectOffset();
    QVERIFY2(far.x() < 0 && far.x() >= -bound && far.y() == 0, qPrintable(QStringLiteral("%1, %2").arg(far.x()).arg(far.y())));
    if (reachesBound)
        QCOMPARE(far.x(), -bound);
    QCOMPARE(probe->objectItem()->pos(), QPointF(far));

    // Back at the usual zoom the object comes back step by step.
    view()->resetTransform();
    drag(QPoint(100, 100), QPoint(130, 90));
    QCOMPARE(probe->session().objectOffset(), far + QPoint(30, -10));
    QCOMPARE(probe->objectItem()->pos(), QPointF(far + QPoint(30, -10)));
}

void TestPreview::previewOffAndOn()
{
    keepLeftRemoveRight();
    setPreview(true);
    settle();
    QCOMPARE(view()->scene(), &probe->previewScene());
    const QImage matte = probe->session().matte();
    const QImage cutout = probe->session().cutout().copy();
    QVERIFY(!cutout.isNull());

    // A stroke of the background brush across the object lowers its alpha.
    probe->tools().removeBrushIntensity = 200;
    stroke("actionBackground_Brush", QPointF(10, 40), QPointF(50, 40));
    QTRY_VERIFY(probe->session().cutout() != cutout);
    const QImage edited = probe->session().cutout().copy();

    setPreview(false);
    QCOMPARE(view()->scene(), &probe->editScene());
    QCOMPARE(probe->session().cutout(), edited);
    QCOMPARE(probe->previewScene().items().size(), 2);

    setPreview(true);
    QCOMPARE(probe->session().matte(), matte);
    QCOMPARE(probe->session().cutout(), cutout);
    // (A pixmap keeps premultiplied pixels: compare like with like.)
    QCOMPARE(probe->objectItem()->pixmap().toImage(), QPixmap::fromImage(cutout).toImage());
}

void TestPreview::actionStates_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("inPreview");
    for (const char *name : {"actionMask", "actionKeep_arker", "action_Remove_Marker", "actionEraser"})
        QTest::newRow(name) << QString::fromLatin1(name) << false;
    for (const char *name : {"actionForeground_Brush", "actionBackground_Brush", "actionHandTool",
                             "actionSelect_Background", "actionBackgroundZoomMinus",
                             "actionBackgroundZoomPlus", "actionExport"})
        QTest::newRow(name) << QString::fromLatin1(name) << true;
}

void TestPreview::actionStates()
{
    QFETCH(QString, name);
    QFETCH(bool, inPreview);
    QAction *action = probe->action(name.toLatin1().constData());
    QVERIFY(action);
    for (const bool on : {true, false, true, false}) {
        setPreview(on);
        QCOMPARE(action->isEnabled(), on == inPreview);
        QVERIFY(probe->action("actionPreview")->isEnabled());
        QVERIFY(probe->action("actionOpen")->isEnabled());
    }
}

void TestPreview::toolsResetOnModeChange()
{
    QWidget *viewport = port();
    probe->action("actionKeep_arker")->trigger();
    QCOMPARE(view()->tool(), int(ToolKeepMarker));

    setPreview(true);
    QCOMPARE(view()->tool(), int(ToolNone));
    QCOMPARE(viewport->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(viewport->testAttribute(Qt::WA_MouseTracking));

    probe->action("actionHandTool")->trigger();
    QCOMPARE(view()->tool(), int(ToolHand));
    setPreview(false);
    QCOMPARE(view()->tool(), int(ToolNone));
    QCOMPARE(viewport->cursor().shape(), Qt::ArrowCursor);
    for (const char *name : {"actionKeep_arker", "action_Remove_Marker", "actionEraser"})
        QVERIFY2(!probe->action(name)->isChecked(), name);

    setPreview(true);
    for (const char *name : {"actionForeground_Brush", "actionBackground_Brush", "actionHandTool"})
        QVERIFY2(!probe->action(name)->isChecked(), name);
    QCOMPARE(view()->tool(), int(ToolNone));
}

void TestPreview::smoothing_data()
{
    QTest::addColumn<bool>("smooth");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("twoValued");
    QTest::newRow("off") << false << 5 << true;
    QTest::newRow("on, size 5") << true << 5 << false;
    QTest::newRow("on, size 0") << true << 0 << true;
    QTest::newRow("on, size -3") << true << -3 << true;
}

void TestPreview::smoothing()
{
    QFETCH(bool, smooth);
    QFETCH(int, size);
    QFETCH(bool, twoValued);
    keepLeftRemoveRight();
    probe->tools().smoothEdges = smooth;
    probe->tools().gaussSize = size;
    setPreview(true);

    const QImage matte = probe->session().matte();
    QCOMPARE(matte.size(), QSize(W, H));
    QCOMPARE(matte.format(), QImage::Format_ARGB32);
    const QSet<qint32> keep(probe->session().keepPixels().cbegin(), probe->session().keepPixels().cend());
    QVERIFY(!keep.isEmpty());
    bool greys = false;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const QRgb m = matte.pixel(x, y);
            if (twoValued)
                QCOMPARE(m, keep.contains(y * W + x) ? 0xFF000000u : 0xFFFFFFFFu);
            greys = greys || (m != 0xFF000000u && m != 0xFFFFFFFFu);
        }
    }
    QCOMPARE(greys, !twoValued);

    // The cut-out: the photo's colours, alpha 255 - blue byte of the matte.
    const QImage cutout = probe->session().cutout();
    QCOMPARE(cutout.format(), QImage::Format_ARGB32);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const QRgb c = cutout.pixel(x, y);
            QCOMPARE(c & RGB_MASK, probe->session().photo().pixel(x, y) & RGB_MASK);
            QCOMPARE(qAlpha(c), 255 - qBlue(matte.pixel(x, y)));
        }
    }
}

void TestPreview::cutoutFromMemory_data()
{
    QTest::addColumn<bool>("replace");
    QTest::newRow("file deleted") << false;
    QTest::newRow("file replaced") << true;
}

void TestPreview::cutoutFromMemory()
{
    QFETCH(bool, replace);
    const QString path = dir.filePath(QStringLiteral("fleeting.png"));
    QFile::remove(path);
    QVERIFY(QFile::copy(photoPath, path));
    QVERIFY(probe->load(path));
    settle();
    keepLeftRemoveRight();
    QVERIFY(QFile::remove(path));
    if (replace) {
        QImage other(W, H, QImage::Format_ARGB32);
        other.fill(qRgb(1, 2, 3));
        QVERIFY(other.save(path));
    }

    setPreview(true);
    const QImage cutout = probe->session().cutout();
    QCOMPARE(cutout.size(), QSize(W, H));
    QCOMPARE(argb(probe->objectItem()->pixmap()).size(), QSize(W, H));
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            QCOMPARE(cutout.pixel(x, y) & RGB_MASK, (x < W / 2 ? leftColour : rightColour) & RGB_MASK);
            QCOMPARE(qAlpha(cutout.pixel(x, y)), 255 - qBlue(probe->session().matte().pixel(x, y)));
        }
    }
}

void TestPreview::outlineSurvivesRebuild()
{
    setPreview(true);
    settle();
    probe->action("actionForeground_Brush")->trigger();
    QTest::mouseMove(port(), at(QPointF(60, 40)));
    QTest::mouseMove(port(), at(QPointF(61, 40)));
    QVERIFY(view()->outline());
    QCOMPARE(view()->outline()->scene(), &probe->previewScene());

    // The background dialog's path: the scene is rebuilt under a live outline.
    probe->showPreview();
    QVERIFY(!view()->outline() || view()->outline()->scene() == &probe->previewScene());
    QTest::mouseMove(port(), at(QPointF(62, 41)));
    QTest::mouseMove(port(), at(QPointF(63, 41)));
    QVERIFY(view()->outline());
    QCOMPARE(view()->outline()->scene(), &probe->previewScene());
    probe->showPreview();
    QVERIFY(!view()->outline() || view()->outline()->scene() == &probe->previewScene());
    // The window closes with whatever outline is left (ASan: no double delete).
}

void TestPreview::zoomStaysThroughCommands_data()
{
    QTest::addColumn<int>("zoomSteps");
    QTest::newRow("fitted") << 0;
    QTest::newRow("zoomed in") << 12;
}

void TestPreview::zoomStaysThroughCommands()
{
    // Only the zoom commands, an open and a real resize may rescale the picture: the progress
    // bar coming and going must not, nor must the canvas even change size for it.
    QFETCH(int, zoomSteps);
    MainWindow fresh;
    MainWindowProbe p(fresh);
    fresh.resize(900, 700);
    fresh.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fresh));
    QVERIFY(p.load(photoPath));
    QCoreApplication::processEvents();
    for (int i = 0; i < zoomSteps; ++i)
        p.action("actionZoom_In")->trigger();
    p.markers().add({true, QRectF(20, 20, 10, 10)});
    p.markers().add({false, QRectF(90, 20, 10, 10)});
    const QTransform before = p.view()->transform();
    const QSize viewport = p.view()->viewport()->size();

    for (int i = 0; i < 4; ++i) {
        p.action("actionMask")->trigger();
        QCoreApplication::processEvents();
    }
    for (int i = 0; i < 2; ++i) {
        p.action("actionPreview")->setChecked(true);
        QCoreApplication::processEvents();
        p.action("actionPreview")->setChecked(false);
        QCoreApplication::processEvents();
    }
    QCOMPARE(p.view()->viewport()->size(), viewport);
    QCOMPARE(p.view()->transform(), before);
}

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
