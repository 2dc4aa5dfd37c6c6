#include <QGraphicsEllipseItem>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QImage>
#include <QResizeEvent>
#include <QNativeGestureEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "gui/markercommand.h"
#include "mainwindowprobe.h"
#include "testsupport.h"

namespace {

QRectF dabRect(const QGraphicsItem *item)
{
    if (auto *square = qgraphicsitem_cast<const QGraphicsRectItem *>(item))
        return square->rect();
    if (auto *disc = qgraphicsitem_cast<const QGraphicsEllipseItem *>(item))
        return disc->rect();
    return {};
}

} // namespace

class TestCanvas : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void toolSelection_data();
    void toolSelection();
    void markerStroke_data();
    void markerStroke();
    void dabGeometry();
    void dabCorner_data();
    void dabCorner();
    void undoStroke();
    void undoLimit();
    void eraser();
    void markerOwnership_data();
    void markerOwnership();
    void toolRect_data();
    void toolRect();
    void brushOutline_data();
    void brushOutline();
    void emptyBrush_data();
    void emptyBrush();
    void resizeOutline();
    void resizeScaling_data();
    void resizeScaling();
    void handTool();
    void outlineAndClearedScenes();
    void redoRestoresDabs_data();
    void redoRestoresDabs();
    void fillFastStrokes_data();
    void fillFastStrokes();
    void wheelZoom_data();
    void wheelZoom();

private:
    OvoGraphicsView *view() const { return probe->view(); }
    QWidget *port() const { return probe->view()->viewport(); }
    QPoint at(QPointF scenePos) const { return view()->mapFromScene(scenePos); }
    void press(QPointF s) { QTest::mousePress(port(), Qt::LeftButton, {}, at(s)); held = true; }
    void release(QPointF s) { QTest::mouseRelease(port(), Qt::LeftButton, {}, at(s)); held = false; }
    void moveTo(QPointF s);
    void dab(QPointF s) { press(QPointF(150, 100)); moveTo(s); release(s); }
    void useSize(const char *key, int size);
    void selectBrush(const char *actionName);
    QList<QGraphicsItem *> dabs() const;
    // The dabs as drawn, bottom to top, and as the isolation reads them.
    QStringList drawing() const;
    void undo(int times);
    void stroke(const QList<QPointF> &points);
    void settle() { settleView(view()); }

    bool held = false;
    QTemporaryDir dir;
    QString photoPath;
    MainWindow *window = nullptr;
    MainWindowProbe *probe = nullptr;
};

void TestCanvas::initTestCase()
{
    isolateSettings();
    QVERIFY(dir.isValid());
    QImage photo(300, 200, QImage::Format_ARGB32);
    photo.fill(qRgb(90, 120, 160));
    photoPath = dir.filePath(QStringLiteral("photo.png"));
    QVERIFY(photo.save(photoPath));
}

void TestCanvas::init()
{
    QSettings().clear();
    window = new MainWindow;
    probe = new MainWindowProbe(*window);
    QVERIFY(showWithPicture(*window, *probe, photoPath));
    QCOMPARE(view()->mapToScene(QPoint(20, 30)), QPointF(20, 30));
}

void TestCanvas::cleanup()
{
    delete probe;
    delete window; // ASan: the outline, dabs and commands must all go exactly once
    probe = nullptr;
    window = nullptr;
}

void TestCanvas::moveTo(QPointF s)
{
    // Without a button QTest moves the cursor, and a cursor already there sends nothing.
    const QPoint p = at(s);
    if (!held && QCursor::pos() == port()->mapToGlobal(p))
        QTest::mouseMove(port(), p + QPoint(1, 0));
    QTest::mouseMove(port(), p);
}

void TestCanvas::useSize(const char *key, int size)
{
    probe->settings().setValue(QLatin1String(key), size);
    view()->setToolSettings(ToolSettings::read(probe->settings()));
}

void TestCanvas::selectBrush(const char *actionName)
{
    // The brushes belong to the preview; here they work on the editing scene, away from the
    // brush stream.
    QObject::disconnect(view(), &OvoGraphicsView::AnyBrush, window, nullptr);
    QAction *action = probe->action(actionName);
    action->setEnabled(true);
    action->trigger();
    settle();
}

QList<QGraphicsItem *> TestCanvas::dabs() const
{
    QList<QGraphicsItem *> found;
    for (QGraphicsItem *item : probe->editScene().items(Qt::AscendingOrder)) {
        if (item->type() == QGraphicsRectItem::Type || item->type() == QGraphicsEllipseItem::Type)
            found.append(item);
    }
    return found;
}

QStringList TestCanvas::drawing() const
{
    QStringList drawn;
    const auto describe = [](bool keep, const QRectF &r) {
        return QStringLiteral("%1 %2 %3 %4").arg(keep ? "keep" : "remove").arg(r.x()).arg(r.y()).arg(r.width());
    };
    for (QGraphicsItem *item : dabs())
        drawn << describe(item->type() == QGraphicsRectItem::Type, dabRect(item));
    drawn << QStringLiteral("|");
    for (const MarkerDab &dab : probe->session().dabs())
        drawn << describe(dab.keep, dab.rect);
    return drawn;
}

void TestCanvas::stroke(const QList<QPointF> &points)
{
    press(points.first());
    for (const QPointF &point : points.mid(1))
        moveTo(point);
    release(points.last());
}

void TestCanvas::undo(int times)
{
    QAction *undoAction = probe->action("actionUndo");
    for (int i = 0; i < times; ++i)
        undoAction->trigger();
}

void TestCanvas::toolSelection_data()
{
    QTest::addColumn<QByteArray>("actionName");
    QTest::addColumn<int>("tool");
    QTest::addColumn<int>("shape");
    QTest::addColumn<int>("pixmapWidth");
    QTest::addColumn<QPoint>("hotSpot");

    QTest::newRow("keep marker") << QByteArray("actionKeep_arker") << int(ToolKeepMarker)
                                 << int(Qt::BitmapCursor) << 8 << QPoint(4, 21);
    QTest::newRow("remove marker") << QByteArray("action_Remove_Marker") << int(ToolRemoveMarker)
                                   << int(Qt::BitmapCursor) << 8 << QPoint(4, 21);
    QTest::newRow("edge marker") << QByteArray("actionEdgeMarker") << int(ToolEdgeMarker)
                                 << int(Qt::BitmapCursor) << 8 << QPoint(4, 21);
    QTest::newRow("eraser") << QByteArray("actionEraser") << int(ToolEraser)
                            << int(Qt::BitmapCursor) << 25 << QPoint(12, 12);
    QTest::newRow("foreground brush") << QByteArray("actionForeground_Brush") << int(ToolForegroundBrush)
                                      << int(Qt::BlankCursor) << 0 << QPoint();
    QTest::newRow("background brush") << QByteArray("actionBackground_Brush") << int(ToolBackgroundBrush)
                                      << int(Qt::BlankCursor) << 0 << QPoint();
    QTest::newRow("hand") << QByteArray("actionHandTool") << int(ToolHand)
                          << int(Qt::OpenHandCursor) << 0 << QPoint();
}

void TestCanvas::toolSelection()
{
    QFETCH(QByteArray, actionName);
    QFETCH(int, tool);
    QFETCH(int, shape);
    QFETCH(int, pixmapWidth);
    QFETCH(QPoint, hotSpot);

    useSize("ERASERMSIZE", 25);
    QAction *action = probe->action(actionName.constData());
    QVERIFY(action);
    action->setEnabled(true);
    action->trigger();
    QCOMPARE(view()->tool(), tool);

    const QCursor cursor = port()->cursor();
    QCOMPARE(int(cursor.shape()), shape);
    if (pixmapWidth) {
        QCOMPARE(cursor.pixmap().width(), pixmapWidth);
        QCOMPARE(cursor.hotSpot(), hotSpot);
    }

    // Unchecking a tool never selects anything.
    action->setChecked(false);
    QCOMPARE(view()->tool(), tool);
}

void TestCanvas::markerStroke_data()
{
    QTest::addColumn<QByteArray>("actionName");
    QTest::addColumn<int>("itemType");
    QTest::addColumn<QColor>("colour");

    QTest::addColumn<int>("kind");

    QTest::newRow("keep") << QByteArray("actionKeep_arker") << int(QGraphicsRectItem::Type) << QColor(50, 255, 50)
                          << int(MarkerKind::Keep);
    QTest::newRow("remove") << QByteArray("action_Remove_Marker") << int(QGraphicsEllipseItem::Type)
                            << QColor(255, 10, 10) << int(MarkerKind::Remove);
    QTest::newRow("edge") << QByteArray("actionEdgeMarker") << int(QGraphicsRectItem::Type) << QColor(255, 200, 0)
                          << int(MarkerKind::Edge);
}

void TestCanvas::markerStroke()
{
    QFETCH(QByteArray, actionName);
    QFETCH(int, itemType);
    QFETCH(QColor, colour);
    QFETCH(int, kind);

    probe->action(actionName.constData())->trigger();

    QTest::mouseClick(port(), Qt::LeftButton, {}, at(QPointF(40, 40)));
    moveTo(QPointF(60, 60)); // hovering without a button paints nothing either
    QCOMPARE(dabs().size(), 0);
    QCOMPARE(probe->undoStack().count(), 0);

    press(QPointF(40, 40));
    moveTo(QPointF(41, 42));
    release(QPointF(41, 42));
    const QList<QGraphicsItem *> added = dabs();
    QCOMPARE(added.size(), 1);
    QCOMPARE(probe->undoStack().count(), 1);

    auto *shape = static_cast<QAbstractGraphicsShapeItem *>(added.first());
    QCOMPARE(dabRect(shape), QRectF(41, 42, 10, 10));
    QCOMPARE(shape->type(), itemType);
    QCOMPARE(shape->zValue(), 10.0);
    QCOMPARE(shape->pen().color(), colour);
    QCOMPARE(shape->pen().widthF(), 0.0);
    QCOMPARE(shape->pen().style(), Qt::SolidLine);
    QCOMPARE(shape->brush().color(), colour);
    QCOMPARE(shape->brush().style(), Qt::SolidPattern);
    QCOMPARE(int(probe->session().dabs().constFirst().kind()), kind);

    // Undone and redone as itself, and erased like the others.
    probe->undoStack().undo();
    QCOMPARE(probe->session().dabCount(), 0);
    probe->undoStack().redo();
    QCOMPARE(int(probe->session().dabs().constFirst().kind()), kind);
    probe->action("actionEraser")->trigger();
    press(QPointF(45, 46));
    release(QPointF(45, 46));
    QCOMPARE(probe->session().dabCount(), 0);
}

void TestCanvas::dabGeometry()
{
    probe->action("actionKeep_arker")->trigger();
    view()->setTransform(QTransform::fromScale(5, 5)); // the side stays in picture pixels

    const QPointF target(20.6, 30.2);
    const QPoint viewPos = at(target);
    const QPointF scenePos = view()->mapToScene(viewPos);
    QVERIFY(qAbs(scenePos.x() - target.x()) < 1e-9 && qAbs(scenePos.y() - target.y()) < 1e-9);

    press(target);
    QTest::mouseMove(port(), viewPos);
    release(target);
    QCOMPARE(dabs().size(), 1);
    auto *square = qgraphicsitem_cast<QGraphicsRectItem *>(dabs().first());
    QVERIFY(square);
    QCOMPARE(square->rect(), QRectF(scenePos, QSizeF(10, 10)));
}

void TestCanvas::dabCorner_data()
{
    QTest::addColumn<QPointF>("corner");
    QTest::addColumn<bool>("placed");

    // The picture is 300 x 200; at zoom 2 the pointer reaches half pixels.
    QTest::newRow("column 0") << QPointF(0.5, 50) << false;
    QTest::newRow("row 0") << QPointF(50, 0.5) << false;
    QTest::newRow("first inner pixel") << QPointF(1, 1) << true;
    QTest::newRow("last column") << QPointF(299.5, 100) << true;
    QTest::newRow("right of the picture") << QPointF(300, 100) << false;
    QTest::newRow("last row") << QPointF(100, 199.5) << true;
    QTest::newRow("below the picture") << QPointF(100, 200) << false;
}

void TestCanvas::dabCorner()
{
    QFETCH(QPointF, corner);
    QFETCH(bool, placed);

    probe->action("action_Remove_Marker")->trigger();
    view()->setTransform(QTransform::fromScale(2, 2));
    QCOMPARE(view()->mapToScene(at(corner)), corner);

    dab(corner);
    QCOMPARE(dabs().size(), int(placed));
    QCOMPARE(probe->undoStack().count(), int(placed));
}

void TestCanvas::undoStroke()
{
    probe->action("actionKeep_arker")->trigger();
    press(QPointF(150, 150));
    for (int i = 0; i < 50; ++i)
        moveTo(QPointF(10 + i * 5, 10 + i * 3));
    release(QPointF(10, 10));
    QCOMPARE(dabs().size(), 50);
    QCOMPARE(probe->undoStack().count(), 50);

    undo(1);
    QCOMPARE(dabs().size(), 49);
    for (QGraphicsItem *item : dabs())
        QVERIFY(dabRect(item).x() < 10 + 49 * 5); // the last dab went

    undo(49);
    QCOMPARE(dabs().size(), 0);
    QVERIFY(!probe->undoStack().canUndo());
    QCOMPARE(probe->editScene().items().size(), 1); // the photo
}

void TestCanvas::undoLimit()
{
    probe->action("actionKeep_arker")->trigger();
    press(QPointF(150, 150));
    for (int i = 0; i < 3; ++i)
        moveTo(QPointF(5 + i * 20, 5));
    for (int i = 0; i < 200; ++i)
        moveTo(QPointF(5 + i % 100 * 2, 50 + i / 100 * 30));
    release(QPointF(5, 5));
    QCOMPARE(dabs().size(), 203);
    QCOMPARE(probe->undoStack().count(), 200);

    undo(200);
    QVERIFY(!probe->undoStack().canUndo());
    QCOMPARE(dabs().size(), 3);

    // Those dabs now belong to the scene alone; erasing one must not leak it (LSan).
    useSize("ERASERMSIZE", 4);
    probe->action("actionEraser")->trigger();
    press(QPointF(26, 6));
    release(QPointF(26, 6));
    QCOMPARE(dabs().size(), 2);
}

void TestCanvas::eraser()
{
    QImage overlay(300, 200, QImage::Format_ARGB32);
    overlay.fill(qRgba(0, 0, 255, 80));
    probe->maskItem() = probe->editScene().addPixmap(QPixmap::fromImage(overlay));
    probe->maskItem()->setZValue(7);

    probe->action("actionKeep_arker")->trigger();
    dab(QPointF(50, 50)); // square 50..60
    probe->action("action_Remove_Marker")->trigger();
    dab(QPointF(80, 50)); // disc of radius 5 around (85, 55)
    QCOMPARE(dabs().size(), 2);
    const int items = probe->editScene().items().size();

    useSize("ERASERMSIZE", 4);
    probe->action("actionEraser")->trigger();

    // Inside the disc's bounding square but off the disc itself: nothing touched.
    press(QPointF(79, 49));
    release(QPointF(79, 49));
    QCOMPARE(dabs().size(), 2);

    // Dragging over the disc erases only where the button went down.
    press(QPointF(150, 150));
    moveTo(QPointF(120, 80));
    moveTo(QPointF(85, 55));
    release(QPointF(85, 55));
    QCOMPARE(dabs().size(), 2);

    press(QPointF(61, 58)); // square 59..63 x 56..60 overlaps the keep dab's edge
    release(QPointF(61, 58));
    QCOMPARE(dabs().size(), 1);
    QCOMPARE(dabs().first()->type(), int(QGraphicsEllipseItem::Type));

    press(QPointF(80, 55));
    release(QPointF(80, 55));
    QCOMPARE(dabs().size(), 0);
    QCOMPARE(probe->editScene().items().size(), items - 2); // photo and overlay stay
    QVERIFY(probe->maskItem()->scene());
    QCOMPARE(probe->undoStack().count(), 2); // erasing is not a step

    // Undoing an erased dab uses a step and changes nothing.
    undo(1);
    QCOMPARE(probe->undoStack().index(), 1);
    QCOMPARE(probe->editScene().items().size(), items - 2);
    // The other erased dab's command is discarded at close: it must take its dab along (LSan).
}

void TestCanvas::markerOwnership_data()
{
    // What happens to a dab and its command, in order: e erase, u undo, c clear the layer,
    // l drop the layer, s destroy the scene, d discard the command.
    QTest::addColumn<QString>("steps");
    QTest::newRow("undone") << "u";
    QTest::newRow("erased, then undone") << "eu";
    QTest::newRow("erased, then discarded") << "ed";
    QTest::newRow("cleared, then undone") << "cu";
    QTest::newRow("layer first, then undone") << "lu";
    QTest::newRow("scene first, then undone") << "su";
    QTest::newRow("scene first, then layer") << "sld";
    QTest::newRow("discarded, then scene") << "ds";
}

void TestCanvas::markerOwnership()
{
    // Each dab is deleted once, whoever goes first (the sanitizer build catches a second
    // deletion or a dangling item); the session's dabs follow the user's steps.
    QFETCH(QString, steps);
    CutSession session;
    auto scene = std::make_unique<QGraphicsScene>();
    auto layer = std::make_shared<MarkerLayer>(*scene, session);
    auto stack = std::make_unique<QUndoStack>();
    const MarkerLayer::DabId other = layer->add({false, QRectF(40, 40, 5, 5)});
    const MarkerLayer::DabId dab = layer->add({true, QRectF(10, 10, 5, 5)});
    stack->push(new CMarkerCommand(layer, dab));
    QCOMPARE(scene->items().size(), 2); // redo does nothing
    bool gone = false;
    for (const QChar step : steps) {
        switch (step.toLatin1()) {
        case 'e':
            QCOMPARE(layer->eraseIn(QRectF(11, 11, 1, 1)), 1);
            gone = true;
            break;
        case 'u':
            stack->undo();
            gone = true;
            break;
        case 'c':
            layer->clear();
            gone = true;
            break;
        case 'l':
            layer.reset();
            gone = true;
            break;
        case 's':
            scene.reset();
            break;
        case 'd':
            stack.reset();
            break;
        }
        if (layer && scene) {
            QCOMPARE(layer->item(dab) == nullptr, gone);
            QCOMPARE(scene->items().size(), layer->count());
        }
    }
    if (layer && scene && !steps.contains(QLatin1Char('c')))
        QCOMPARE(session.dabs(), QList<MarkerDab>({{false, QRectF(40, 40, 5, 5)}}));
    Q_UNUSED(other);
}

void TestCanvas::toolRect_data()
{
    QTest::addColumn<qreal>("zoom");
    QTest::addColumn<int>("size");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("zoom 1") << 1.0 << 10 << QSize(10, 10);
    QTest::newRow("odd size rounds down") << 1.0 << 11 << QSize(10, 10);
    QTest::newRow("zoom 2") << 2.0 << 10 << QSize(5, 5);
    QTest::newRow("zoom 1/2") << 0.5 << 10 << QSize(20, 20);
    QTest::newRow("zoom 3 truncates") << 3.0 << 10 << QSize(3, 3);
    QTest::newRow("size 1") << 2.0 << 1 << QSize(0, 0);
    QTest::newRow("size 0") << 2.0 << 0 << QSize(0, 0);
}

void TestCanvas::toolRect()
{
    QFETCH(qreal, zoom);
    QFETCH(int, size);
    QFETCH(QSize, expected);

    view()->setTransform(QTransform::fromScale(zoom, zoom));
    const QPoint pos = at(QPointF(100, 60));
    const QRect r = view()->toolRect(pos, size);
    QCOMPARE(r.size(), expected);
    const QPointF tl = view()->mapToScene(pos - QPoint(size / 2, size / 2));
    QCOMPARE(r.topLeft(), QPoint(int(tl.x()), int(tl.y())));
}

void TestCanvas::brushOutline_data()
{
    QTest::addColumn<QByteArray>("actionName");
    QTest::addColumn<QByteArray>("sizeKey");

    QTest::newRow("foreground") << QByteArray("actionForeground_Brush") << QByteArray("KEEPBSIZE");
    QTest::newRow("background") << QByteArray("actionBackground_Brush") << QByteArray("REMOVEBSIZE");
}

void TestCanvas::brushOutline()
{
    QFETCH(QByteArray, actionName);
    QFETCH(QByteArray, sizeKey);

    useSize(sizeKey.constData(), 8);
    selectBrush(actionName.constData());
    QSignalSpy dabsSent(view(), &OvoGraphicsView::AnyBrush);

    moveTo(QPointF(100, 100));
    QGraphicsEllipseItem *outline = view()->outline();
    QVERIFY(outline);
    QCOMPARE(outline->scene(), &probe->editScene());
    QCOMPARE(outline->rect(), QRectF(96, 96, 8, 8));
    QCOMPARE(outline->zValue(), 20.0);
    QCOMPARE(outline->pen().widthF(), 0.0);
    QCOMPARE(outline->brush().style(), Qt::NoBrush);
    QVERIFY(dabsSent.isEmpty()); // no button held

    moveTo(QPointF(4, 100)); // the square would start at x = 0: still inside
    QVERIFY(view()->outline());
    moveTo(QPointF(3, 100)); // x = -1: outside
    QVERIFY(!view()->outline());
    press(QPointF(3, 100));
    QVERIFY(dabsSent.isEmpty());
    release(QPointF(3, 100));
    moveTo(QPointF(296, 196)); // right and bottom edges included
    QVERIFY(view()->outline());
    moveTo(QPointF(297, 100));
    QVERIFY(!view()->outline());

    moveTo(QPointF(100, 100));
    press(QPointF(100, 100));
    QCOMPARE(dabsSent.size(), 1);
    QCOMPARE(dabsSent.at(0).at(0).toRect(), QRect(96, 96, 8, 8));
    QCOMPARE(dabsSent.at(0).at(1).toBool(), true);

    moveTo(QPointF(2, 50)); // outside the picture: no outline, but dragging still reports it
    QVERIFY(!view()->outline());
    QCOMPARE(dabsSent.size(), 2);
    QCOMPARE(dabsSent.at(1).at(0).toRect(), QRect(-2, 46, 8, 8));
    QCOMPARE(dabsSent.at(1).at(1).toBool(), false);
    release(QPointF(2, 50));

    moveTo(QPointF(100, 100));
    QVERIFY(view()->outline());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(view(), &leave);
    QVERIFY(!view()->outline());
    moveTo(QPointF(110, 100));
    QVERIFY(view()->outline());

    probe->action("actionHandTool")->setEnabled(true);
    probe->action("actionHandTool")->trigger(); // another tool drops the outline
    QVERIFY(!view()->outline());
    QCOMPARE(dabsSent.size(), 2);
}

void TestCanvas::emptyBrush_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("0") << 0;
    QTest::newRow("1") << 1;
}

void TestCanvas::emptyBrush()
{
    QFETCH(int, size);

    useSize("KEEPBSIZE", size);
    selectBrush("actionForeground_Brush");
    QSignalSpy dabsSent(view(), &OvoGraphicsView::AnyBrush);

    moveTo(QPointF(100, 100));
    QVERIFY(!view()->outline());
    press(QPointF(100, 100));
    QVERIFY(dabsSent.isEmpty());
    moveTo(QPointF(120, 100));
    moveTo(QPointF(140, 100));
    release(QPointF(140, 100));
    QCOMPARE(dabsSent.size(), 2);
    for (const QList<QVariant> &sent : dabsSent) {
        QVERIFY(sent.at(0).toRect().isEmpty());
        QCOMPARE(sent.at(1).toBool(), false);
    }
}

void TestCanvas::resizeOutline()
{
    useSize("KEEPBSIZE", 10);
    selectBrush("actionForeground_Brush");
    view()->resizeOutline(20); // no outline yet: nothing to do
    QVERIFY(!view()->outline());

    moveTo(QPointF(100, 100));
    QVERIFY(view()->outline());
    view()->resizeOutline(20);
    QCOMPARE(view()->outline()->rect(), QRectF(90, 90, 20, 20));
    view()->resizeOutline(220); // would reach past the picture: kept as it was
    QCOMPARE(view()->outline()->rect(), QRectF(90, 90, 20, 20));

    view()->setTransform(QTransform::fromScale(2, 2));
    view()->resizeOutline(10); // stays centred, now in half the picture pixels
    QCOMPARE(view()->outline()->rect(), QRectF(97, 97, 5, 5));
}

void TestCanvas::resizeScaling_data()
{
    QTest::addColumn<QSizeF>("picture");
    QTest::addColumn<QSize>("before");
    QTest::addColumn<QSize>("after");
    QTest::addColumn<qreal>("factor");

    QTest::newRow("grow, picture smaller") << QSizeF(700, 500) << QSize(800, 600) << QSize(1000, 600) << 1.25;
    QTest::newRow("shrink") << QSizeF(2000, 2000) << QSize(1000, 800) << QSize(900, 600) << 0.75;
    QTest::newRow("grow, picture larger") << QSizeF(2000, 2000) << QSize(800, 600) << QSize(1000, 700) << 1.0;
    QTest::newRow("tie goes vertical") << QSizeF(100, 100) << QSize(400, 400) << QSize(800, 200) << 0.5;
    QTest::newRow("first resize") << QSizeF(700, 500) << QSize(-1, -1) << QSize(800, 600) << 1.0;
    QTest::newRow("from collapsed") << QSizeF(700, 500) << QSize(0, 600) << QSize(800, 600) << 1.0;
    QTest::newRow("to collapsed") << QSizeF(700, 500) << QSize(800, 600) << QSize(800, 0) << 1.0;
    QTest::newRow("to nothing") << QSizeF(700, 500) << QSize(800, 600) << QSize(0, 0) << 1.0;
}

void TestCanvas::resizeScaling()
{
    QFETCH(QSizeF, picture);
    QFETCH(QSize, before);
    QFETCH(QSize, after);
    QFETCH(qreal, factor);

    QGraphicsScene scene(QRectF(QPointF(0, 0), picture));
    view()->setScene(&scene);
    settle();

    // The view hears of its viewport's resizes.
    QResizeEvent resize(after, before);
    QCoreApplication::sendEvent(port(), &resize);
    QCOMPARE(view()->transform().m11(), factor);
    QCOMPARE(view()->transform().m22(), factor);
    view()->setScene(&probe->editScene());
}

void TestCanvas::handTool()
{
    QObject::disconnect(view(), &OvoGraphicsView::HandTool, window, nullptr);
    probe->action("actionHandTool")->setEnabled(true);
    probe->action("actionHandTool")->trigger();
    settle();
    view()->setTransform(QTransform::fromScale(2, 2));
    QSignalSpy steps(view(), &OvoGraphicsView::HandTool);

    moveTo(QPointF(40, 40));
    QVERIFY(steps.isEmpty());
    press(QPointF(10, 20));
    QCOMPARE(port()->cursor().shape(), Qt::ClosedHandCursor);
    moveTo(QPointF(15.5, 20.5));
    moveTo(QPointF(14.5, 19.5));
    release(QPointF(14.5, 19.5));
    QCOMPARE(port()->cursor().shape(), Qt::OpenHandCursor);

    QCOMPARE(steps.size(), 2);
    QCOMPARE(steps.at(0).at(0).toPoint(), QPoint(10, 20));
    QCOMPARE(steps.at(0).at(1).toPoint(), QPoint(16, 21)); // halves round away from zero
    QCOMPARE(steps.at(1).at(0).toPoint(), QPoint(16, 21));
    QCOMPARE(steps.at(1).at(1).toPoint(), QPoint(15, 20));
}

void TestCanvas::outlineAndClearedScenes()
{
    selectBrush("actionForeground_Brush");
    moveTo(QPointF(100, 100));
    QVERIFY(view()->outline());
    view()->dropOutline();
    QVERIFY(!view()->outline());
    QCOMPARE(probe->editScene().items().size(), 1);
    probe->editScene().clear();

    // Clearing a scene under a live outline, or opening a picture, leaves no dangling pointer.
    QVERIFY(probe->load(photoPath));
    settle();
    moveTo(QPointF(100, 100));
    QVERIFY(view()->outline());
    probe->editScene().clear();
    QVERIFY(!view()->outline());

    QVERIFY(probe->load(photoPath));
    settle();
    moveTo(QPointF(100, 100));
    QVERIFY(view()->outline());
    QVERIFY(probe->load(photoPath));
    QVERIFY(!view()->outline());

    // The window's scenes go before its view: closing with an outline up must be clean (ASan).
    settle();
    moveTo(QPointF(100, 100));
    QVERIFY(view()->outline());
}

void TestCanvas::redoRestoresDabs_data()
{
    QTest::addColumn<bool>("wholeStrokes");
    QTest::addColumn<int>("steps");
    // Erasing is no step of its own; undoing a dab the eraser took does nothing, and redoing
    // it must not bring it back.
    QTest::newRow("a step per dab") << false << 10;
    QTest::newRow("a step per stroke") << true << 4;
}

void TestCanvas::redoRestoresDabs()
{
    QFETCH(bool, wholeStrokes);
    QFETCH(int, steps);

    probe->settings().setValue(QStringLiteral("UNDOSTROKES"), wholeStrokes);
    probe->readToolParameters();
    useSize("ERASERMSIZE", 4);
    QList<QStringList> states{drawing()};
    probe->action("actionKeep_arker")->trigger();
    stroke({{150, 150}, {20, 40}, {28, 40}, {36, 40}, {44, 40}, {52, 40}});
    states << drawing();
    probe->action("action_Remove_Marker")->trigger();
    stroke({{150, 150}, {40, 20}, {40, 30}, {40, 40}, {40, 50}, {40, 60}});
    states << drawing();
    probe->action("actionEraser")->trigger();
    for (QPointF spot : {QPointF(23, 45), QPointF(45, 65)}) { // the first keep dab, the last disc
        press(spot);
        release(spot);
        states << drawing();
    }
    QCOMPARE(dabs().size(), 8);
    QCOMPARE(probe->undoStack().count(), steps);

    QAction *redoAction = probe->action("actionRedo");
    const auto redo = [&](int times) {
        for (int i = 0; i < times; ++i)
            redoAction->trigger();
    };
    if (wholeStrokes) {
        // Each step goes back to the drawing before it, erased dabs in their old places.
        for (int i = steps - 1; i >= 0; --i) {
            undo(1);
            QCOMPARE(drawing(), states.at(i));
        }
        redo(steps);
        QCOMPARE(drawing(), states.last());
    }
    for (int back : {1, steps, steps}) { // and again: redo does not work just once
        undo(back);
        if (back == steps)
            QCOMPARE(dabs().size(), 0);
        redo(back);
        QCOMPARE(drawing(), states.last());
    }
    QVERIFY(!probe->undoStack().canRedo());
}

void TestCanvas::fillFastStrokes_data()
{
    QTest::addColumn<QByteArray>("tool");
    QTest::addColumn<bool>("fill");
    QTest::addColumn<qreal>("zoom");

    QTest::newRow("keep marker, dab per move") << QByteArray("actionKeep_arker") << false << 1.0;
    QTest::newRow("keep marker, filled") << QByteArray("actionKeep_arker") << true << 1.0;
    QTest::newRow("remove marker, filled, zoomed in") << QByteArray("action_Remove_Marker") << true << 2.5;
    QTest::newRow("foreground brush, filled") << QByteArray("actionForeground_Brush") << true << 1.0;
    QTest::newRow("background brush, filled, zoomed out") << QByteArray("actionBackground_Brush") << true << 0.5;
}

void TestCanvas::fillFastStrokes()
{
    QFETCH(QByteArray, tool);
    QFETCH(bool, fill);
    QFETCH(qreal, zoom);

    probe->settings().setValue(QStringLiteral("FILLSTROKES"), fill);
    for (const char *key : {"KEEPMSIZE", "REMOVEMSIZE", "KEEPBSIZE", "REMOVEBSIZE"})
        probe->settings().setValue(QLatin1String(key), 10);
    probe->readToolParameters();
    const bool brush = tool.endsWith("Brush");
    if (brush)
        selectBrush(tool.constData());
    else
        probe->action(tool.constData())->trigger();
    view()->setTransform(QTransform::fromScale(zoom, zoom));
    QSignalSpy brushDabs(view(), &OvoGraphicsView::AnyBrush);

    // Far jumps, one leaving the picture's left edge and coming back.
    const QList<QPointF> path{{20, 30}, {110, 30}, {110, 75}, {-40, 60}, {60, 10}};
    stroke(path);

    QList<QPointF> corners; // the dabs' corners, in picture pixels
    for (const QList<QVariant> &sent : std::as_const(brushDabs))
        corners << sent.at(0).toRect().topLeft();
    for (QGraphicsItem *item : dabs())
        corners << dabRect(item).topLeft();
    const qreal side = brush ? 10 / zoom : 10;
    if (!fill) {
        QCOMPARE(corners.size(), 3); // one per move, none off the picture
        return;
    }
    // No two dabs in a row further apart than half a side, except where the stroke was off
    // the picture (no marker dab lands there); a brush's corner is truncated to a pixel.
    const qreal slack = brush ? 1.5 : 1e-9;
    int jumps = 0;
    for (qsizetype i = 1; i < corners.size(); ++i) {
        const QPointF d = corners[i] - corners[i - 1];
        if (std::hypot(d.x(), d.y()) > side / 2 + slack)
            ++jumps;
    }
    QCOMPARE(jumps, brush ? 0 : 1);
    if (brush) {
        QVERIFY(brushDabs.first().at(1).toBool()); // the press
        QCOMPARE(corners.first(), view()->toolRect(at(path.first()), 10).topLeft());
    } else {
        QCOMPARE(corners.last(), path.last());
        for (const QPointF &corner : std::as_const(corners))
            QVERIFY(corner.x() > 0 && corner.y() > 0);
    }
}

void TestCanvas::wheelZoom_data()
{
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QList<int>>("notches"); // eighths of a degree; 0 for a pinch by 25 %
    QTest::addColumn<qreal>("factor");

    QTest::newRow("in") << Qt::KeyboardModifiers(Qt::ControlModifier) << QList<int>{120} << 1.2;
    QTest::newRow("out") << Qt::KeyboardModifiers(Qt::ControlModifier) << QList<int>{-120} << 1 / 1.2;
    QTest::newRow("two half notches") << Qt::KeyboardModifiers(Qt::ControlModifier) << QList<int>{60, 60} << 1.2;
    QTest::newRow("half a notch") << Qt::KeyboardModifiers(Qt::ControlModifier) << QList<int>{60} << 1.0;
    QTest::newRow("pinch") << Qt::KeyboardModifiers() << QList<int>{0} << 1.2;
    QTest::newRow("plain wheel scrolls") << Qt::KeyboardModifiers() << QList<int>{-120} << 1.0;
}

void TestCanvas::wheelZoom()
{
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QList<int>, notches);
    QFETCH(qreal, factor);

    view()->setTransform(QTransform::fromScale(6, 6)); // the picture is larger than the view
    view()->centerOn(150, 100);
    const QPoint pointer(300, 240);
    const QPointF underPointer = view()->mapToScene(pointer);
    const int scrolled = view()->verticalScrollBar()->value();
    for (int angle : notches) {
        if (angle == 0) {
            const QPointF global = port()->mapToGlobal(QPointF(pointer));
            QNativeGestureEvent begin(Qt::BeginNativeGesture, QPointingDevice::primaryPointingDevice(), 2,
                                      pointer, pointer, global, 0, {});
            QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2,
                                      pointer, pointer, global, 0.25, {});
            QCoreApplication::sendEvent(port(), &begin);
            QCoreApplication::sendEvent(port(), &pinch);
            continue;
        }
        QWheelEvent wheel(pointer, port()->mapToGlobal(QPointF(pointer)), QPoint(), QPoint(0, angle),
                          Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(port(), &wheel);
    }
    QCOMPARE(view()->transform().m11(), 6 * factor);
    QCOMPARE(view()->transform().m22(), 6 * factor);
    if (factor == 1.0 && !modifiers) {
        QVERIFY(view()->verticalScrollBar()->value() > scrolled);
        return;
    }
    // Within a view pixel of where it was.
    const QPointF now = view()->mapFromScene(underPointer);
    QVERIFY2(qAbs(now.x() - pointer.x()) <= 1 && qAbs(now.y() - pointer.y()) <= 1,
             qPrintable(QStringLiteral("%1, %2").arg(now.x()).arg(now.y())));
}

QTEST_MAIN(TestCanvas)
#include "tst_canvas.moc"
