// The window and peltrix-cut, given the same strokes, find the same object and export the same
// pixels.
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGraphicsPixmapItem>
#include <QImageReader>
#include <QLoggingCategory>
#include <QProcess>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include "mainwindowprobe.h"
#include "modals.h"
#include "gui/backgrounddialog.h"
#include "gui/exportdialog.h"
#include "gui/optionsdialog.h"
#include "output/pictureio.h"
#include "testsupport.h"

namespace {

constexpr int photoW = 120;
constexpr int photoH = 80;

QImage syntheticPhoto()
{
    QImage photo(photoW, photoH, QImage::Format_ARGB32);
    QRandomGenerator noise(11);
    for (int y = 0; y < photoH; ++y) {
        for (int x = 0; x < photoW; ++x) {
            const int n = int(noise.bounded(30));
            const bool object = (x - 50) * (x - 50) + (y - 40) * (y - 40) < 300;
            photo.setPixel(x, y, object ? qRgb(210 - n, 50 + n, 40) : qRgb(50 + n, 140 - n, 70 + n));
        }
    }
    return photo;
}

struct Stroke
{
    bool keep;
    QList<QPointF> corners; // picture coordinates the pointer passes
};

// Some corners fall on the first column or off the picture: the canvas ignores those dabs.
const QList<Stroke> strokes = {
    {true, {{44, 36}, {47.5, 36.5}, {51, 37}, {54, 38.5}}},
    {true, {{48, 30}, {48.5, 34}, {49, 42}}},
    {false, {{0.5, 3}, {10, 3}, {40, 3.5}, {80, 3}, {115.5, 3}, {125, 4}}},
    {false, {{5, 68}, {40, 69.5}, {75, 69}, {110, 70}}},
    {false, {{88, 10}, {88, 40}, {88.5, 62}}},
    {false, {{3, 20}, {3, 50}}},
};

QImage maskOf(const QList<qint32> &keepPixels)
{
    QImage mask(photoW, photoH, QImage::Format_Grayscale8);
    mask.fill(0);
    for (const qint32 index : keepPixels)
        mask.scanLine(index / photoW)[index % photoW] = 255;
    return mask.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestCutParity : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameStrokesSameResult_data();
    void sameStrokesSameResult();
    void projectGivesTheSameCut_data();
    void projectGivesTheSameCut();

private:
    // Paints the strokes with the marker tools at zoom 2.
    void paintStrokes(MainWindowProbe &probe);
    // Exports the preview through the Export command and its dialog.
    void exportTo(MainWindowProbe &probe, const QString &path);

    QTemporaryDir dir;
    QString photoPath;
    QString picturePath;
};

void TestCutParity::initTestCase()
{
    isolateSettings();
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    QVERIFY(dir.isValid());
    photoPath = dir.filePath(QStringLiteral("photo.png"));
    QVERIFY(syntheticPhoto().save(photoPath));
    QImage picture(50, 70, QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(4 * x, 3 * y, 90));
    picturePath = dir.filePath(QStringLiteral("background.png"));
    QVERIFY(picture.save(picturePath));
}

void TestCutParity::paintStrokes(MainWindowProbe &probe)
{
    probe.settings().setValue(QStringLiteral("KEEPMSIZE"), 6);
    probe.settings().setValue(QStringLiteral("REMOVEMSIZE"), 9);
    OvoGraphicsView *view = probe.view();
    view->setToolSettings(ToolSettings::read(probe.settings()));
    view->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QCoreApplication::processEvents(); // the toolbars' layout rescales the view once
    view->setTransform(QTransform::fromScale(2, 2));
    QWidget *port = view->viewport();
    for (const Stroke &stroke : strokes) {
        probe.action(stroke.keep ? "actionKeep_arker" : "action_Remove_Marker")->trigger();
        const QPoint start = view->mapFromScene(stroke.corners.first());
        QTest::mousePress(port, Qt::LeftButton, {}, start + QPoint(0, 1));
        for (const QPointF &corner : stroke.corners)
            QTest::mouseMove(port, view->mapFromScene(corner));
        QTest::mouseRelease(port, Qt::LeftButton, {}, view->mapFromScene(stroke.corners.last()));
    }
}

void TestCutParity::sameStrokesSameResult_data()
{
    QTest::addColumn<QString>("background"); // empty: the default colour
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("loaded"); // the strokes saved, then loaded into a fresh window
    QTest::addColumn<bool>("refine");
    QTest::addColumn<bool>("precise"); // chosen in Preferences, and --method precise

    QTest::newRow("default colour") << QString() << QPoint() << "a.png" << false << false << false;
    QTest::newRow("opaque colour, moved") << "#FF3060A0" << QPoint(9, -5) << "b.png" << false << false << false;
    QTest::newRow("picture, moved") << "picture" << QPoint(-4, 6) << "c.png" << false << false << false;
    QTest::newRow("loaded strokes, picture") << "picture" << QPoint(3, 2) << "d.png" << true << false << false;
    QTest::newRow("refined edges, colour") << "#FF3060A0" << QPoint(2, 1) << "e.png" << false << true << false;
    // The background dialog's Use Transparent and --background transparent, where a JPEG
    // shows the colour under alpha 0.
    QTest::newRow("transparent to JPEG") << "transparent" << QPoint(4, 3) << "f.jpg" << false << false << false;
    QTest::newRow("precise isolation") << QString() << QPoint(1, 2) << "g.png" << false << false << true;
}

void TestCutParity::sameStrokesSameResult()
{
    QFETCH(QString, background);
    QFETCH(QPoint, offset);
    QFETCH(QString, file);
    QFETCH(bool, loaded);
    QFETCH(bool, refine);
    QFETCH(bool, precise);

    const QString markersPath = dir.filePath(QStringLiteral("strokes-") + file + QStringLiteral(".txt"));
    auto painter = std::make_unique<MainWindow>();
    MainWindowProbe painted(*painter);
    painter->resize(1000, 800);
    painter->show();
    QVERIFY(QTest::qWaitForWindowExposed(painter.get()));
    QVERIFY(painted.load(photoPath));
    paintStrokes(painted);
    int corners = 0;
    for (const Stroke &stroke : strokes)
        corners += int(stroke.corners.size());
    QCOMPARE(painted.session().dabCount(), corners - 2); // two corners lie off the picture
    answerFileDialog(markersPath);
    painted.action("actionSaveStrokes")->trigger();
    QVERIFY(QFile::exists(markersPath));

    std::unique_ptr<MainWindow> fresh;
    std::unique_ptr<MainWindowProbe> freshProbe;
    if (loaded) {
        fresh = std::make_unique<MainWindow>();
        freshProbe = std::make_unique<MainWindowProbe>(*fresh);
        fresh->show();
        QVERIFY(freshProbe->load(photoPath));
        answerFileDialog(markersPath);
        freshProbe->action("actionLoadStrokes")->trigger();
        QCOMPARE(freshProbe->session().dabs(), painted.session().dabs());
    }
    MainWindowProbe &probe = loaded ? *freshProbe : painted;

    QStringList arguments;
    if (background == QLatin1String("picture")) {
        probe.session().setBackgroundPicture(readPicture(picturePath)); // as the background dialog reads it
        arguments << QStringLiteral("--background") << picturePath;
    } else if (background == QLatin1String("transparent")) {
        whenModal<BackgroundDialog>([](BackgroundDialog *dialog) {
            dialog->findChild<QRadioButton *>(QStringLiteral("transparentradioButton"))->click();
            dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();
        });
        probe.action("actionSelect_Background")->setEnabled(true); // as the preview would
        probe.action("actionSelect_Background")->trigger();
        arguments << QStringLiteral("--background") << background;
    } else if (!background.isEmpty()) {
        probe.session().setBackgroundColour(background.mid(1).toUInt(nullptr, 16));
        arguments << QStringLiteral("--background") << background;
    }
    probe.session().setObjectOffset(offset);
    probe.tools().refineEdges = refine;
    if (refine)
        arguments << QStringLiteral("--refine");
    if (precise) {
        whenModal<OptionsDialog>([](OptionsDialog *dialog) {
            dialog->findChild<QComboBox *>(QStringLiteral("comboIsolation"))->setCurrentIndex(1);
            dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();
        });
        probe.action("actionPreferences")->trigger();
        QCOMPARE(probe.session().isolationMethod(), IsolationMethod::Precise);
        arguments << QStringLiteral("--method") << QStringLiteral("precise");
    }
    arguments << QStringLiteral("--offset") << QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y());

    probe.action("actionPreview")->setChecked(true);
    QVERIFY(!probe.session().keepPixels().isEmpty());
    const QString windowExport = dir.filePath(QStringLiteral("window-") + file);
    exportTo(probe, windowExport);

    const QString dump = dir.filePath(QStringLiteral("dump"));
    const QString commandExport = dir.filePath(QStringLiteral("command-") + file);
    arguments << QStringLiteral("--markers") << markersPath << QStringLiteral("--dump") << dump
              << QStringLiteral("-o") << commandExport << photoPath;
    QProcess command;
    command.start(QStringLiteral(PELTRIX_CUT_PATH), arguments);
    QVERIFY(command.waitForFinished(60000));
    QCOMPARE(command.exitCode(), 0);

    QCOMPARE(readPicture(QDir(dump).filePath(QStringLiteral("mask.png"))), maskOf(probe.session().keepPixels()));
    QCOMPARE(readPicture(QDir(dump).filePath(QStringLiteral("cutout.png"))), probe.session().cutout());
    const QImage fromWindow = readPicture(windowExport);
    QVERIFY(!fromWindow.isNull());
    QCOMPARE(readPicture(commandExport), fromWindow);
}

void TestCutParity::exportTo(MainWindowProbe &probe, const QString &path)
{
    whenModal<ExportDialog>([path](ExportDialog *dialog) {
        answerFileDialog(path);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("pushButton")), Qt::LeftButton);
        dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();
    });
    MessageBoxAnswerer warnings; // a JPEG over a see-through colour warns
    probe.action("actionExport")->trigger();
    QVERIFY(probe.status() != QLatin1String("Export failed"));
}

// A saved project opened in a fresh window gives back the same cut-out, brush edits included,
// and the same export; peltrix-cut --project writes the same bytes.
void TestCutParity::projectGivesTheSameCut_data()
{
    QTest::addColumn<bool>("picture");
    QTest::addColumn<bool>("refine");

    QTest::newRow("background picture, zoomed, moved") << true << false;
    QTest::newRow("colour, refined edges") << false << true;
}

void TestCutParity::projectGivesTheSameCut()
{
    QFETCH(bool, picture);
    QFETCH(bool, refine);

    MainWindow window;
    MainWindowProbe made(window);
    window.resize(1000, 800);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(made.load(photoPath));
    paintStrokes(made);
    made.tools().refineEdges = refine;
    if (picture)
        made.document().setBackgroundPicture(picturePath);
    else
        made.document().setBackgroundColour(0xFF3060A0);
    made.action("actionPreview")->setChecked(true);
    if (picture) {
        made.action("actionBackgroundZoomPlus")->trigger();
        made.action("actionBackgroundZoomPlus")->trigger();
    }
    QVERIFY(QMetaObject::invokeMethod(made.view(), "HandTool", Q_ARG(QPoint, QPoint(10, 10)), Q_ARG(QPoint, QPoint(17, 6))));
    const auto brush = [&](const char *tool, QRect dab) {
        made.action(tool)->trigger();
        const int steps = made.undoStack().count();
        QVERIFY(QMetaObject::invokeMethod(made.view(), "AnyBrush", Q_ARG(QRect, dab), Q_ARG(bool, true)));
        QTRY_COMPARE(made.undoStack().count(), steps + 1);
    };
    brush("actionForeground_Brush", QRect(70, 20, 24, 24));
    brush("actionBackground_Brush", QRect(40, 40, 16, 12));

    const QString project = dir.filePath(QStringLiteral("cut-%1.peltrix").arg(QTest::currentDataTag()));
    answerFileDialog(project);
    made.action("actionSaveProject")->trigger();
    QVERIFY2(made.status().startsWith(QLatin1String("Saved the project")), qPrintable(made.status()));
    const QString windowExport = dir.filePath(QStringLiteral("project-window-%1.png").arg(QTest::currentDataTag()));
    exportTo(made, windowExport);

    MainWindow fresh;
    MainWindowProbe opened(fresh);
    fresh.show();
    answerFileDialog(project);
    opened.action("actionOpenProject")->trigger();
    QVERIFY2(opened.status().startsWith(QLatin1String("Opened the project")), qPrintable(opened.status()));
    QCOMPARE(opened.session().dabs(), made.session().dabs());
    QCOMPARE(opened.session().objectOffset(), made.session().objectOffset());
    QCOMPARE(opened.session().backgroundZoom(), made.session().backgroundZoom());
    QCOMPARE(opened.session().cutout(), made.session().cutout());
    const QString reopenedExport = dir.filePath(QStringLiteral("project-reopened-%1.png").arg(QTest::currentDataTag()));
    exportTo(opened, reopenedExport);

    const QString commandExport = dir.filePath(QStringLiteral("project-command-%1.png").arg(QTest::currentDataTag()));
    QProcess command;
    command.start(QStringLiteral(PELTRIX_CUT_PATH), {QStringLiteral("--project"), project, QStringLiteral("-o"), commandExport});
    QVERIFY(command.waitForFinished(60000));
    QCOMPARE(command.readAllStandardError(), QByteArray());
    QCOMPARE(command.exitCode(), 0);

    const auto bytes = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QVERIFY(!bytes(windowExport).isEmpty());
    QCOMPARE(bytes(reopenedExport), bytes(windowExport));
    QCOMPARE(bytes(commandExport), bytes(windowExport));
}

QTEST_MAIN(TestCutParity)
#include "tst_cutparity.moc"
