// The program on a screen with two device pixels to each logical one.
#include <QApplication>
#include <QFile>
#include <QGraphicsScene>
#include <QIcon>
#include <QImage>
#include <QRegularExpression>
#include <QTest>
#include <QUndoStack>

#include "gui/cutdocument.h"
#include "gui/ovographicsview.h"

class TestHiDpi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void iconsAtTwice_data();
    void iconsAtTwice();
    void dabUnderPointer_data();
    void dabUnderPointer();
};

void TestHiDpi::initTestCase()
{
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
}

// Every icon of the window's form: Qt picks the @2x picture when there is one, and without it
// an icon would be scaled up and blurred.
void TestHiDpi::iconsAtTwice_data()
{
    QTest::addColumn<QString>("name");
    QFile form(QStringLiteral(PELTRIX_SOURCE_DIR "/gui/mainwindow.ui"));
    QVERIFY2(form.open(QIODevice::ReadOnly), qPrintable(form.errorString()));
    static const QRegularExpression icon(QStringLiteral(R"(>(:/icons/[^<]+)<)"));
    QStringList names;
    for (auto it = icon.globalMatch(QString::fromUtf8(form.readAll())); it.hasNext();)
        names << it.next().captured(1);
    names.removeDuplicates();
    QVERIFY(names.size() > 10);
    for (const QString &name : std::as_const(names))
        QTest::newRow(qPrintable(name)) << name;
}

void TestHiDpi::iconsAtTwice()
{
    QFETCH(QString, name);
    const QSize logical = QImage(name).size();
    QVERIFY(!logical.isEmpty());
    const QPixmap shown = QIcon(name).pixmap(logical, 2.0);
    QCOMPARE(shown.size(), logical * 2);
    QCOMPARE(shown.devicePixelRatio(), 2.0);
}

void TestHiDpi::dabUnderPointer_data()
{
    QTest::addColumn<qreal>("zoom");
    QTest::addColumn<QPointF>("target"); // in the picture

    QTest::newRow("zoom 1") << 1.0 << QPointF(37, 29);
    QTest::newRow("zoom 2.5") << 2.5 << QPointF(121, 87);
    QTest::newRow("zoom 0.5") << 0.5 << QPointF(63, 51);
}

// A keep dab starts at the picture pixel under the pointer: on the rendered viewport, in
// device pixels, the green square begins where the pointer is.
void TestHiDpi::dabUnderPointer()
{
    QFETCH(qreal, zoom);
    QFETCH(QPointF, target);

    QImage photo(300, 200, QImage::Format_ARGB32);
    photo.fill(QColor(20, 40, 200));
    QGraphicsScene scene;
    scene.addPixmap(QPixmap::fromImage(photo));
    CutDocument document(scene);
    QUndoStack &undo = document.undoStack();
    OvoGraphicsView view;
    view.setScene(&scene);
    view.setDocument(&document);
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.setTransform(QTransform::fromScale(zoom, zoom));
    view.setTool(ToolKeepMarker);
    view.centerOn(target);
    const QPoint pointer = view.mapFromScene(target);

    QWidget *port = view.viewport();
    QTest::mousePress(port, Qt::LeftButton, {}, pointer - QPoint(1, 1));
    QTest::mouseMove(port, pointer);
    QTest::mouseRelease(port, Qt::LeftButton, {}, pointer);
    QCOMPARE(undo.count(), 1);

    const QImage shot = port->grab().toImage();
    QCOMPARE(shot.size(), port->size() * 2);
    const auto isDab = [&shot](QPoint device) {
        const QRgb c = shot.pixel(device);
        return qGreen(c) > 200 && qRed(c) < 100 && qBlue(c) < 100;
    };
    const QPoint device = pointer * 2;
    QVERIFY(isDab(device + QPoint(3, 3)));
    QVERIFY(!isDab(device - QPoint(2, 2)));
    QVERIFY(!isDab(device + QPoint(3, -2)));
    QVERIFY(!isDab(device + QPoint(-2, 3)));
}

int main(int argc, char *argv[])
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    TestHiDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hidpi.moc"
