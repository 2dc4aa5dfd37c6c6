#include <QClipboard>
#include <QDialogButtonBox>
#include <QFile>
#include <QGraphicsPixmapItem>
#include <QImageReader>
#include <QMimeData>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "mainwindowprobe.h"
#include "modals.h"
#include "output/exportcompose.h"
#include "gui/exportdialog.h"
#include "testsupport.h"

namespace {

constexpr int photoW = 40;
constexpr int photoH = 30;
constexpr QRgb objectPixel = qRgba(200, 100, 50, 128);
const QRect objectBlock(10, 10, 10, 10);

// A cut-out that is see-through except for one half-opaque block.
QImage blockCutout()
{
    QImage cutout(photoW, photoH, QImage::Format_ARGB32);
    cutout.fill(qRgba(90, 90, 90, 0));
    for (int y = objectBlock.top(); y <= objectBlock.bottom(); ++y)
        for (int x = objectBlock.left(); x <= objectBlock.right(); ++x)
            cutout.setPixel(x, y, objectPixel);
    return cutout;
}

QImage solid(int w, int h, QRgb colour)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void colourBackground_data();
    void colourBackground();
    void offsetIsClipped_data();
    void offsetIsClipped();
    void pictureBackgroundWithZoom();
    void pictureBackgroundNeverWarns();
    void overwriteAfterConfirmation();
    void failures_data();
    void failures();
    void nothingOpenFailsWithoutDialog();
    void copyEqualsExport_data();
    void copyEqualsExport();

private:
    // Opens the photo and shows the preview with `cutout` as the object.
    void preparePreview(const QImage &cutout);
    // Triggers Export and answers its dialog: `path` through the file dialog (empty: cancel
    // it), then OK where it is enabled, else Cancel.
    void runExport(const QString &path, bool accept = true, int width = -1);

    QTemporaryDir dir;
    QString photoPath;
    MainWindow *window = nullptr;
    MainWindowProbe *probe = nullptr;
};

void TestExport::initTestCase()
{
    isolateSettings();
    QVERIFY(dir.isValid());
    photoPath = dir.filePath(QStringLiteral("photo.png"));
    QVERIFY(solid(photoW, photoH, qRgb(30, 160, 40)).save(photoPath));
}

void TestExport::init()
{
    window = new MainWindow;
    probe = new MainWindowProbe(*window);
    window->show();
}

void TestExport::cleanup()
{
    delete probe;
    delete window;
}

void TestExport::preparePreview(const QImage &cutout)
{
    QVERIFY(probe->load(photoPath));
    probe->session().cutout() = cutout; // shown as it is: the preview builds none while one exists
    probe->showPreview();
    for (const char *name : {"actionExport", "actionBackgroundZoomPlus"})
        probe->action(name)->setEnabled(true); // the preview would enable them
}

void TestExport::runExport(const QString &path, bool accept, int width)
{
    whenModal<ExportDialog>([path, accept, width](ExportDialog *dialog) {
        answerFileDialog(path); // an empty path cancels the file dialog
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("pushButton")),
                          Qt::LeftButton);
        if (width >= 0)
            dialog->findChild<QSpinBox *>(QStringLiteral("spinBox"))->setValue(width);
        auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        if (accept && buttons->button(QDialogButtonBox::Ok)->isEnabled())
            buttons->button(QDialogButtonBox::Ok)->click();
        else
            dialog->reject();
    });
    probe->action("actionExport")->trigger();
}

void TestExport::colourBackground_data()
{
    QTest::addColumn<QRgb>("backgroundColour");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("warns");
    QTest::addColumn<QRgb>("inside");  // expected at the block (PNG only)
    QTest::addColumn<QRgb>("outside"); // expected elsewhere (PNG only)

    // Over a see-through background the object keeps its own pixel.
    QTest::newRow("default to png") << QRgb(0x00FFFFFF) << "a.png" << false << objectPixel
                                    << QRgb(0x00FFFFFF);
    QTest::newRow("default to jpg") << QRgb(0x00FFFFFF) << "a.jpg" << true << 0u << 0u;
    QTest::newRow("default to JPEG") << QRgb(0x00FFFFFF) << "a.JPEG" << true << 0u << 0u;
    QTest::newRow("default to JpEg") << QRgb(0x00FFFFFF) << "a.JpEg" << true << 0u << 0u;
    // Opaque: (o * 128 + b * 127) / 255 per channel, alpha 255.
    QTest::newRow("opaque blue to png") << qRgba(0, 0, 255, 255) << "b.png" << false
                                        << qRgba(100, 50, 152, 255) << qRgba(0, 0, 255, 255);
    QTest::newRow("opaque blue to jpg") << qRgba(0, 0, 255, 255) << "b.jpg" << false << 0u << 0u;
    QTest::newRow("transparent black to png") << QRgb(0) << "c.png" << false << objectPixel
                                              << QRgb(0);
    // outA = (128*255 + 128*127) / 255 = 191; red = (200*128*255 + 255*128*127) / (191*255).
    QTest::newRow("half red to png") << qRgba(255, 0, 0, 128) << "d.png" << false
                                     << qRgba(219, 67, 33, 191) << qRgba(255, 0, 0, 128);
    QTest::newRow("half red to jpg") << qRgba(255, 0, 0, 128) << "d.jpg" << true << 0u << 0u;
}

void TestExport::colourBackground()
{
    QFETCH(QRgb, backgroundColour);
    QFETCH(QString, fileName);
    QFETCH(bool, warns);
    QFETCH(QRgb, inside);
    QFETCH(QRgb, outside);

    preparePreview(blockCutout());
    probe->session().setBackgroundColour(backgroundColour);
    const QString path = dir.filePath(fileName);
    QFile::remove(path);

    MessageBoxAnswerer boxes;
    runExport(path);

    QCOMPARE(probe->status(), QStringLiteral("Exported %1").arg(fileName));
    QCOMPARE(boxes.titles.contains(QLatin1String("Transparency was lost")), warns);
    if (warns) {
        QCOMPARE(boxes.texts.first(),
                 QStringLiteral("You've selected a transparent background color but saving as "
                                "jpeg. Transparency of the color was lost. Please choose .png to "
                                "save transparent backgrounds"));
    }
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    const QImage written = reader.read().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(written.size(), QSize(photoW, photoH));
    if (!fileName.endsWith(QLatin1String(".png")))
        return;
    QCOMPARE(written.pixel(objectBlock.topLeft()), inside);
    QCOMPARE(written.pixel(objectBlock.bottomRight()), inside);
    QCOMPARE(written.pixel(0, 0), outside);
    QCOMPARE(written.pixel(objectBlock.right() + 1, objectBlock.bottom()), outside);
}

void TestExport::offsetIsClipped_data()
{
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QRect>("red"); // where the opaque object lands

    QTest::newRow("up and left") << QPoint(-15, -5) << QRect(0, 0, 25, 25);
    QTest::newRow("down and right") << QPoint(30, 20) << QRect(30, 20, 10, 10);
    QTest::newRow("outside") << QPoint(-50, 0) << QRect();
}

void TestExport::offsetIsClipped()
{
    QFETCH(QPoint, offset);
    QFETCH(QRect, red);

    preparePreview(solid(photoW, photoH, qRgb(255, 0, 0)));
    probe->session().setObjectOffset(offset);
    probe->session().setBackgroundColour(qRgb(0, 0, 255));
    const QString path = dir.filePath(QStringLiteral("offset.png"));
    QFile::remove(path);
    runExport(path);

    const QImage written = QImage(path).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(written.size(), QSize(photoW, photoH));
    for (int y = 0; y < photoH; ++y)
        for (int x = 0; x < photoW; ++x)
            QCOMPARE(written.pixel(x, y), red.contains(x, y) ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
}

void TestExport::pictureBackgroundWithZoom()
{
    // The picture (80 x 60) is fitted into the 40 x 30 preview and zoomed once: 42 x 31 on
    // screen, so everything grows by 80/42 and 60/31 on export at the picture's size.
    preparePreview(solid(photoW, photoH, qRgb(255, 0, 0)));
    probe->session().setBackgroundPicture(solid(80, 60, qRgb(0, 200, 0)));
    probe->showPreview();
    probe->action("actionBackgroundZoomPlus")->trigger();
    QCOMPARE(probe->backgroundItem()->transform().m11(), 1.05);
    probe->session().setObjectOffset(QPoint(-20, -10));
    const QString path = dir.filePath(QStringLiteral("zoom.png"));
    runExport(path);

    const QImage written = QImage(path).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(written.size(), QSize(80, 60));
    // object 40 x 30 -> 76 x 58 at (-38, -19)
    const QRect red(0, 0, 38, 39);
    for (const QPoint &p : {red.topLeft(), red.bottomRight(), QPoint(20, 20)})
        QCOMPARE(written.pixel(p), qRgb(255, 0, 0));
    for (const QPoint &p : {red.bottomRight() + QPoint(1, 0), red.bottomRight() + QPoint(0, 1),
                            QPoint(79, 59)})
        QCOMPARE(written.pixel(p), qRgb(0, 200, 0));
}

void TestExport::pictureBackgroundNeverWarns()
{
    preparePreview(blockCutout());
    probe->session().setBackgroundPicture(solid(photoW, photoH, qRgb(0, 200, 0))); // default colour stays
    MessageBoxAnswerer boxes;
    runExport(dir.filePath(QStringLiteral("picture.jpg")));
    QVERIFY(probe->status() != QLatin1String("Export failed"));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("picture.jpg"))));
    QVERIFY(boxes.titles.isEmpty());
}

void TestExport::overwriteAfterConfirmation()
{
    preparePreview(blockCutout());
    const QString path = dir.filePath(QStringLiteral("existing.png"));
    QVERIFY(solid(5, 5, qRgb(1, 2, 3)).save(path));
    MessageBoxAnswerer boxes; // the file dialog asks before replacing
    runExport(path);
    QCOMPARE(boxes.titles.size(), 1);
    QCOMPARE(QImage(path).size(), QSize(photoW, photoH));
}

void TestExport::failures_data()
{
    QTest::addColumn<QString>("fileName"); // empty: no file chosen
    QTest::addColumn<bool>("accept");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("withItems");

    QTest::newRow("cancel") << "cancel.png" << false << -1 << true;
    QTest::newRow("no file chosen") << "" << true << -1 << true;
    QTest::newRow("no preview items") << "items.png" << true << -1 << false;
    QTest::newRow("unsupported suffix") << "picture.bmp" << true << -1 << true;
    QTest::newRow("no suffix") << "picture" << true << -1 << true;
    QTest::newRow("folder missing") << "missing/picture.png" << true << -1 << true;
    QTest::newRow("zero size") << "zero.png" << true << 0 << true;
}

void TestExport::failures()
{
    QFETCH(QString, fileName);
    QFETCH(bool, accept);
    QFETCH(int, width);
    QFETCH(bool, withItems);

    preparePreview(blockCutout());
    if (!withItems) {
        probe->previewScene().clear();
        probe->backgroundItem() = nullptr;
    }
    const QString path = fileName.isEmpty() ? QString() : dir.filePath(fileName);
    MessageBoxAnswerer boxes;
    runExport(path, accept, width);

    QCOMPARE(probe->status(), QStringLiteral("Export failed"));
    if (!path.isEmpty())
        QVERIFY(!QFile::exists(path));
    QVERIFY(boxes.titles.isEmpty());
}

void TestExport::nothingOpenFailsWithoutDialog()
{
    probe->action("actionExport")->setEnabled(true);
    // A dialog that should not come up is closed (and noted) instead of hanging the test.
    auto shown = std::make_shared<bool>(false);
    QTimer::singleShot(200, [shown]() {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            *shown = true;
            dialog->reject();
        }
    });
    probe->action("actionExport")->trigger();
    QCOMPARE(probe->status(), QStringLiteral("Export failed"));
    QTest::qWait(300);
    QVERIFY(!*shown);
}

void TestExport::copyEqualsExport_data()
{
    QTest::addColumn<bool>("picture");
    QTest::addColumn<QSize>("size");
    QTest::newRow("colour background") << false << QSize(photoW, photoH);
    QTest::newRow("zoomed picture background") << true << QSize(80, 60); // as big as the picture
}

void TestExport::copyEqualsExport()
{
    QFETCH(bool, picture);
    QFETCH(QSize, size);

    // Without a preview there is nothing to copy, and the clipboard keeps what it had.
    QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
    probe->action("actionCopy")->setEnabled(true);
    probe->action("actionCopy")->trigger();
    QCOMPARE(probe->status(), QStringLiteral("Switch the preview on to copy its picture"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));

    preparePreview(blockCutout());
    if (picture) {
        QImage backdrop(80, 60, QImage::Format_ARGB32);
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 80; ++x)
                backdrop.setPixel(x, y, qRgba(3 * x, 4 * y, 90, 200));
        probe->session().setBackgroundPicture(backdrop);
        probe->showPreview();
        probe->action("actionBackgroundZoomPlus")->trigger();
        probe->session().setObjectOffset(QPoint(7, -3));
    }
    const QString path = dir.filePath(QStringLiteral("copied.png"));
    QFile::remove(path);
    runExport(path);
    QFile exported(path);
    QVERIFY(exported.open(QIODevice::ReadOnly));

    probe->action("actionCopy")->trigger();
    QCOMPARE(probe->status(), QStringLiteral("Copied the picture (%1 x %2) to the clipboard")
                                  .arg(size.width()).arg(size.height()));
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    QCOMPARE(data->data(QStringLiteral("image/png")), exported.readAll());
    const QImage image = qvariant_cast<QImage>(data->imageData());
    QCOMPARE(image.convertToFormat(QImage::Format_ARGB32), QImage(path).convertToFormat(QImage::Format_ARGB32));
    QVERIFY(image.hasAlphaChannel());
}

QTEST_MAIN(TestExport)
#include "tst_export.moc"
