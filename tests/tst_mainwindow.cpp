// Start-up state, the form's actions, settings and Preferences, and opening pictures.
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QGraphicsPixmapItem>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include "gui/markercommand.h"
#include "session/recentfiles.h"
#include "mainwindowprobe.h"
#include "testsupport.h"

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void startUpState();
    void actionTable_data();
    void actionTable();
    void menusAndToolbar();
    void exportShortcutInertWithoutPicture();
    void zoomInThenOutRestoresScale();

    void freshStoreIntensities();
    void stepping_data();
    void stepping();
    void steppingNeedsATool();
    void oversizedStoredSizeClamped();
    void preferencesCancelStillRereads();
    void isolationRoundTrip();
    void unconvertibleValuesReadAsZero();
    void refineEdgesRoundTrip();

    void openCancelled();
    void openNonPicture_data();
    void openNonPicture();
    void openFormats_data();
    void openFormats();
    void failedOpenKeepsPreviousPicture();
    void openFromOutside_data();
    void openFromOutside();
    void strokesFiles();

    void toolKeys();
    void recentFiles();
    void windowStateKept_data();
    void windowStateKept();

private:
    QTemporaryDir dir;
};

namespace {

// Runs `inspect` on the next modal dialog once it is up, then lets it close itself.
void onNextModal(const std::function<void(QWidget *)> &inspect, int delayMs = 0)
{
    QTimer::singleShot(delayMs, [inspect]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            onNextModal(inspect, 20);
            return;
        }
        inspect(modal);
    });
}

QImage testPicture(int width, int height)
{
    QImage picture(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, 100));
    return picture;
}

// Qt reads GIF but cannot write it. This writes a minimal GIF89a with a 128-entry palette
// and 8-bit LZW codes, clearing the code table before it would need 9-bit codes.
QByteArray encodeGif(const QImage &indexed)
{
    QByteArray out("GIF89a");
    const auto word = [&out](int value) { out.append(char(value & 0xFF)).append(char(value >> 8)); };
    word(indexed.width());
    word(indexed.height());
    out.append(char(0xF6)).append('\0').append('\0'); // global table of 128 entries
    for (int i = 0; i < 128; ++i) {
        const QRgb c = i < indexed.colorCount() ? indexed.color(i) : 0;
        out.append(char(qRed(c))).append(char(qGreen(c))).append(char(qBlue(c)));
    }
    out.append(',');
    word(0);
    word(0);
    word(indexed.width());
    word(indexed.height());
    out.append('\0');
    out.append(char(7)); // minimum code size: clear = 128, end = 129, codes 8 bits wide
    QByteArray codes;
    codes.append(char(128));
    int sinceClear = 0;
    for (int y = 0; y < indexed.height(); ++y) {
        for (int x = 0; x < indexed.width(); ++x) {
            if (sinceClear == 120) {
                codes.append(char(128));
                sinceClear = 0;
            }
            codes.append(char(indexed.pixelIndex(x, y)));
            ++sinceClear;
        }
    }
    codes.append(char(129));
    for (qsizetype at = 0; at < codes.size(); at += 255) {
        const QByteArray block = codes.mid(at, 255);
        out.append(char(block.size())).append(block);
    }
    out.append('\0').append(';');
    return out;
}

QImage gifPicture(int width, int height)
{
    QImage indexed(width, height, QImage::Format_Indexed8);
    QList<QRgb> table;
    for (int i = 0; i < 128; ++i)
        table.append(qRgb((i * 37) % 256, (i * 91) % 256, (i * 13) % 256));
    indexed.setColorTable(table);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            indexed.setPixel(x, y, (x / 4 + (y / 4) * 16) % 128);
    return indexed;
}

} // namespace

void TestMainWindow::initTestCase()
{
    isolateSettings();
    QVERIFY(dir.isValid());
}

void TestMainWindow::init()
{
    QSettings().clear();
}

void TestMainWindow::startUpState()
{
    MainWindow window;
    MainWindowProbe probe(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QVERIFY(!probe.progressBar()->isVisible());
    QAction *undo = probe.action("actionUndo");
    QVERIFY(undo);
    QVERIFY(!undo->isEnabled());
    QCOMPARE(undo->shortcut(), QKeySequence(QKeySequence::Undo));
    QAction *redo = probe.action("actionRedo");
    QVERIFY(redo);
    QVERIFY(!redo->isEnabled());
    QCOMPARE(redo->shortcuts(), QList<QKeySequence>({QKeySequence(QStringLiteral("Ctrl+Shift+Z")),
                                                      QKeySequence(QStringLiteral("Ctrl+Y"))}));
    QCOMPARE(window.size(), QSize(600, 400)); // nothing stored yet
    QCOMPARE(probe.undoStack().undoLimit(), 200);
    QCOMPARE(window.windowTitle(), QStringLiteral("Peltrix Pro"));
    QVERIFY(!window.windowIcon().isNull());
    QVERIFY(probe.session().photo().isNull());
    QVERIFY(probe.session().labelMap().isNull());
    QVERIFY(probe.session().clusters().centers().isEmpty());
    QCOMPARE(probe.session().backgroundColour(), QRgb(0x00FFFFFF));

    // The groups are exclusive: a marker tool unchecks the others of its group.
    probe.action("actionKeep_arker")->trigger();
    probe.action("actionEraser")->trigger();
    QVERIFY(!probe.action("actionKeep_arker")->isChecked());
    QVERIFY(probe.action("actionEraser")->isChecked());
    probe.action("action_Remove_Marker")->trigger();
    QVERIFY(!probe.action("actionEraser")->isChecked());

    for (const char *name : {"actionForeground_Brush", "actionBackground_Brush", "actionHandTool"})
        probe.action(name)->setEnabled(true);
    probe.action("actionHandTool")->trigger();
    probe.action("actionForeground_Brush")->trigger();
    QVERIFY(!probe.action("actionHandTool")->isChecked());
    QVERIFY(probe.action("action_Remove_Marker")->isChecked()); // the other group is untouched
}

void TestMainWindow::actionTable_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hasIcon");
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("shortcut");
    QTest::addColumn<QString>("toolTipStart");

    const QString rich = QStringLiteral("<html>");
    QTest::newRow("open") << "actionOpen" << "Open" << true << false << true << "Ctrl+O" << "";
    QTest::newRow("quit") << "actionQuit" << "Quit" << true << false << true << "Ctrl+Q" << "";
    QTest::newRow("keep marker") << "actionKeep_arker" << "\"Keep\" Marker" << true << true << true << "K" << rich;
    QTest::newRow("remove marker") << "action_Remove_Marker" << "\"Remove\" Marker" << true << true << true << "R" << rich;
    QTest::newRow("edge marker") << "actionEdgeMarker" << "Edge Marker" << true << true << true << "G" << rich;
    QTest::newRow("index") << "actionIndex" << "Index" << false << false << true << "" << "";
    QTest::newRow("about") << "actionAbout" << "About" << false << false << true << "" << "";
    QTest::newRow("zoom in") << "actionZoom_In" << "Zoom In" << true << false << true << "" << "Zoom In";
    QTest::newRow("zoom out") << "actionZoom_Out" << "Zoom Out" << true << false << true << "" << "Zoom Out";
    QTest::newRow("preview") << "actionPreview" << "Preview" << true << true << true << "P" << rich;
    QTest::newRow("mask") << "actionMask" << "Mask" << true << false << true << "M" << rich;
    QTest::newRow("background") << "actionSelect_Background" << "Select Background" << true << false << false << "" << "Select Background";
    QTest::newRow("hand") << "actionHandTool" << "HandTool" << true << true << false << "H" << "HandTool (H)";
    QTest::newRow("preferences") << "actionPreferences" << "Preferences" << false << false << true << "" << "";
    QTest::newRow("export") << "actionExport" << "Export" << true << false << false << "Ctrl+S" << "";
    QTest::newRow("eraser") << "actionEraser" << "Eraser" << true << true << true << "E" << "Eraser (E)";
    QTest::newRow("background brush") << "actionBackground_Brush" << "Background Brush" << true << true << false << "B" << "Background Brush (B)";
    QTest::newRow("foreground brush") << "actionForeground_Brush" << "Foreground Brush" << true << true << false << "F" << "Foreground Brush (F)";
    QTest::newRow("paste") << "actionPaste" << "Paste" << false << false << true << "Ctrl+V" << "";
    QTest::newRow("copy") << "actionCopy" << "Copy" << false << false << false << "Ctrl+C" << "";
    QTest::newRow("bg zoom plus") << "actionBackgroundZoomPlus" << "backgroundZoomPlus" << true << false << false << "" << "Background Zoom\nScales";
    QTest::newRow("bg zoom minus") << "actionBackgroundZoomMinus" << "backgroundZoomMinus" << true << false << false << "" << "Background Zoom\nScales";
    QTest::newRow("size up") << "actionIncreaseToolSize" << "increaseToolSize" << false << false << true << "Ctrl+Right" << "";
    QTest::newRow("size down") << "actionDecreaseToolSoze" << "decreaseToolSize" << false << false << true << "Ctrl+Left" << "";
    QTest::newRow("intensity up") << "actionIncreaseBrushIntensity" << "increaseBrushIntensity" << false << false << true << "Ctrl+Up" << "";
    QTest::newRow("intensity down") << "actionDecreaseBrushIntensity" << "decreaseBrushIntensity" << false << false << true << "Ctrl+Down" << "";
}

void TestMainWindow::actionTable()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(bool, hasIcon);
    QFETCH(bool, checkable);
    QFETCH(bool, enabled);
    QFETCH(QString, shortcut);
    QFETCH(QString, toolTipStart);

    MainWindow window;
    MainWindowProbe probe(window);
    QAction *action = probe.action(name.toLatin1().constData());
    QVERIFY(action);
    QCOMPARE(action->text(), text);
    QCOMPARE(!action->icon().isNull(), hasIcon);
    if (hasIcon)
        QVERIFY(!action->icon().pixmap(32, 32).isNull());
    QCOMPARE(action->isCheckable(), checkable);
    QCOMPARE(action->isEnabled(), enabled);
    QCOMPARE(action->shortcut(), QKeySequence(shortcut));
    if (!toolTipStart.isEmpty())
        QVERIFY2(action->toolTip().startsWith(toolTipStart), qPrintable(action->toolTip()));
}

void TestMainWindow::menusAndToolbar()
{
    MainWindow window;
    MainWindowProbe probe(window);
    const auto names = [](const QList<QAction *> &actions) {
        QStringList result;
        for (const QAction *action : actions)
            result << (action->menu() ? action->menu()->objectName() : action->objectName());
        return result;
    };

    const QList<QAction *> menus = probe.widget<QMenuBar>("menuBar")->actions();
    QStringList titles;
    for (const QAction *menu : menus)
        titles << menu->text();
    QCOMPARE(titles, QStringList({"File", "Options", "Actions", "Help"}));

    QCOMPARE(names(probe.menu("menuFile")->actions()),
             QStringList({"actionOpen", "actionOpenProject", "menuRecent", "actionPaste", "actionSaveProject",
                          "actionLoadStrokes", "actionSaveStrokes", "actionExport", "actionCopy", "actionQuit"}));
    QCOMPARE(names(probe.menu("menuOptions")->actions()), QStringList({"actionPreferences"}));
    QCOMPARE(names(probe.menu("menuActions")->actions()),
             QStringList({"actionKeep_arker", "action_Remove_Marker", "actionEdgeMarker", "actionEraser", "actionPreview",
                          "actionMask", "actionLiveMask", "actionIncreaseToolSize", "actionDecreaseToolSoze",
                          "actionIncreaseBrushIntensity", "actionDecreaseBrushIntensity",
                          "actionSelect_Background", "actionHandTool", "actionForeground_Brush",
                          "actionBackground_Brush", "actionUndo", "actionRedo"}));
    QCOMPARE(names(probe.menu("menuHelp")->actions()), QStringList({"actionIndex", "actionAbout"}));
    QCOMPARE(names(probe.widget<QToolBar>("mainToolBar")->actions()),
             QStringList({"actionOpen", "actionZoom_In", "actionZoom_Out", "actionKeep_arker",
                          "action_Remove_Marker", "actionEdgeMarker", "actionEraser", "actionMask", "actionLiveMask", "actionPreview",
                          "actionSelect_Background", "actionHandTool", "actionBackground_Brush",
                          "actionForeground_Brush", "actionBackgroundZoomPlus",
                          "actionBackgroundZoomMinus", "actionExport"}));
}

void TestMainWindow::exportShortcutInertWithoutPicture()
{
    MainWindow window;
    MainWindowProbe probe(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy triggered(probe.action("actionExport"), &QAction::triggered);
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(triggered.count(), 0);
    QVERIFY(!QApplication::activeModalWidget());
}

void TestMainWindow::zoomInThenOutRestoresScale()
{
    MainWindow window;
    MainWindowProbe probe(window);
    const QTransform before = probe.view()->transform();
    probe.action("actionZoom_In")->trigger();
    QCOMPARE(probe.view()->transform().m11(), before.m11() * 1.2);
    probe.action("actionZoom_Out")->trigger();
    QVERIFY(qFuzzyCompare(probe.view()->transform().m11(), before.m11()));
    QVERIFY(qFuzzyCompare(probe.view()->transform().m22(), before.m22()));
}

void TestMainWindow::freshStoreIntensities()
{
    MainWindow window;
    MainWindowProbe probe(window);
    QCOMPARE(int(probe.tools().keepBrushIntensity), 150);
    QCOMPARE(int(probe.tools().removeBrushIntensity), 100);

    int shownKeep = -1;
    int shownRemove = -1;
    onNextModal([&](QWidget *dialog) {
        shownKeep = dialog->findChild<QSpinBox *>("spinBox_6")->value();
        shownRemove = dialog->findChild<QSpinBox *>("spinBox_7")->value();
        dialog->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok)->click();
    });
    probe.action("actionPreferences")->trigger();
    QCOMPARE(shownKeep, 50);
    QCOMPARE(shownRemove, 20);
    QCOMPARE(probe.settings().value("KEEPBINTEN").toInt(), 50);
    QCOMPARE(probe.settings().value("REMOVEBINTEN").toInt(), 20);
    QCOMPARE(int(probe.tools().keepBrushIntensity), 50);
    QCOMPARE(int(probe.tools().removeBrushIntensity), 20);
}

void TestMainWindow::stepping_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("expected");

    QTest::newRow("keep marker up") << "actionKeep_arker" << "actionIncreaseToolSize" << "KEEPMSIZE" << -1
                                    << "Foreground marker size is 11" << 11;
    QTest::newRow("edge marker up") << "actionEdgeMarker" << "actionIncreaseToolSize" << "EDGEMSIZE" << -1
                                    << "Edge marker size is 11" << 11;
    QTest::newRow("remove marker down") << "action_Remove_Marker" << "actionDecreaseToolSoze" << "REMOVEMSIZE" << -1
                                        << "Background marker size is 9" << 9;
    QTest::newRow("background brush up") << "actionBackground_Brush" << "actionIncreaseToolSize" << "REMOVEBSIZE" << -1
                                         << "Background brush size is 11" << 11;
    QTest::newRow("foreground brush down") << "actionForeground_Brush" << "actionDecreaseToolSoze" << "KEEPBSIZE" << -1
                                           << "Foreground brush size is 9" << 9;
    QTest::newRow("size stops at 99") << "actionKeep_arker" << "actionIncreaseToolSize" << "KEEPMSIZE" << 99
                                      << "Foreground marker size is 99" << 99;
    QTest::newRow("size stops at 0") << "action_Remove_Marker" << "actionDecreaseToolSoze" << "REMOVEMSIZE" << 0
                                     << "Background marker size is 0" << 0;
    QTest::newRow("background intensity up") << "actionBackground_Brush" << "actionIncreaseBrushIntensity" << "REMOVEBINTEN" << -1
                                             << "Background brush intensity is 101" << 101;
    QTest::newRow("foreground intensity down") << "actionForeground_Brush" << "actionDecreaseBrushIntensity" << "KEEPBINTEN" << -1
                                               << "Foreground brush intensity is 149" << 149;
    QTest::newRow("intensity stops at 254") << "actionForeground_Brush" << "actionIncreaseBrushIntensity" << "KEEPBINTEN" << 254
                                            << "Foreground brush intensity is 254" << 254;
    QTest::newRow("intensity stops at 0") << "actionBackground_Brush" << "actionDecreaseBrushIntensity" << "REMOVEBINTEN" << 0
                                          << "Background brush intensity is 0" << 0;
}

void TestMainWindow::stepping()
{
    QFETCH(QString, tool);
    QFETCH(QString, command);
    QFETCH(QString, key);
    QFETCH(int, stored);
    QFETCH(QString, message);
    QFETCH(int, expected);

    if (stored >= 0)
        QSettings().setValue(key, stored);
    MainWindow window;
    MainWindowProbe probe(window);
    QAction *toolAction = probe.action(tool.toLatin1().constData());
    toolAction->setEnabled(true);
    toolAction->setChecked(true);
    probe.action(command.toLatin1().constData())->trigger();
    QCOMPARE(probe.status(), message);
    QCOMPARE(probe.settings().value(key).toInt(), expected);
}

void TestMainWindow::steppingNeedsATool()
{
    MainWindow window;
    MainWindowProbe probe(window);
    probe.action("actionIncreaseBrushIntensity")->trigger();
    probe.action("actionEraser")->trigger();
    probe.action("actionIncreaseToolSize")->trigger();
    QCOMPARE(probe.status(), QString());
    QVERIFY(!probe.settings().contains("KEEPBINTEN"));
    QVERIFY(!probe.settings().contains("ERASERMSIZE"));
    QCOMPARE(int(probe.tools().keepBrushIntensity), 150);
}

void TestMainWindow::oversizedStoredSizeClamped()
{
    QSettings().setValue("KEEPMSIZE", 150);
    MainWindow window;
    MainWindowProbe probe(window);
    int shown = -1;
    onNextModal([&](QWidget *dialog) {
        shown = dialog->findChild<QSpinBox *>("spinBox")->value();
        dialog->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok)->click();
    });
    probe.action("actionPreferences")->trigger();
    QCOMPARE(shown, 99);
    QCOMPARE(probe.settings().value("KEEPMSIZE").toInt(), 99);
    QCOMPARE(int(probe.tools().keepMarkerSize), 99);
}

void TestMainWindow::preferencesCancelStillRereads()
{
    MainWindow window;
    MainWindowProbe probe(window);
    QCOMPARE(int(probe.tools().eraserSize), 10);
    QCOMPARE(probe.tools().gaussSize, 5);

    // Another writer changed the store while the window was open; Cancel writes nothing
    // but the window still picks the store's values up.
    QSettings().setValue("ERASERMSIZE", 33);
    QSettings().setValue("GOUSSIZE", 9);
    onNextModal([](QWidget *dialog) {
        dialog->findChild<QSpinBox *>("spinBox_3")->setValue(77);
        dialog->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Cancel)->click();
    });
    probe.action("actionPreferences")->trigger();
    QCOMPARE(int(probe.tools().eraserSize), 33);
    QCOMPARE(probe.tools().gaussSize, 9);
    QCOMPARE(probe.settings().value("ERASERMSIZE").toInt(), 33);
}

void TestMainWindow::refineEdgesRoundTrip()
{
    // Off on a fresh store; OK stores what the box shows, Cancel keeps what was stored.
    MainWindow window;
    MainWindowProbe probe(window);
    QVERIFY(!probe.tools().refineEdges);
    for (const bool ok : {true, false}) {
        bool shown = !ok;
        onNextModal([&](QWidget *dialog) {
            auto *refine = dialog->findChild<QCheckBox *>("checkBoxRefine");
            shown = refine->isChecked();
            refine->setChecked(!shown);
            dialog->findChild<QDialogButtonBox *>("buttonBox")
                ->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
        });
        probe.action("actionPreferences")->trigger();
        QCOMPARE(shown, !ok); // unchecked at first, checked the second time
        QVERIFY(probe.tools().refineEdges);
        QCOMPARE(probe.settings().value("REFINEEDGES").toBool(), true);
    }
}

void TestMainWindow::isolationRoundTrip()
{
    // The colour clusters on a fresh store; OK stores the choice and the session takes it.
    MainWindow window;
    MainWindowProbe probe(window);
    QCOMPARE(probe.session().isolationMethod(), IsolationMethod::ColourClusters);
    const auto choose = [&](int index, QDialogButtonBox::StandardButton button) {
        int shown = -1;
        onNextModal([&](QWidget *dialog) {
            auto *combo = dialog->findChild<QComboBox *>("comboIsolation");
            shown = combo->currentIndex();
            combo->setCurrentIndex(index);
            dialog->findChild<QDialogButtonBox *>("buttonBox")->button(button)->click();
        });
        probe.action("actionPreferences")->trigger();
        return shown;
    };
    QCOMPARE(choose(1, QDialogButtonBox::Ok), 0);
    QCOMPARE(probe.settings().value("ISOLATION").toString(), QStringLiteral("precise"));
    QCOMPARE(probe.session().isolationMethod(), IsolationMethod::Precise);
    QCOMPARE(choose(0, QDialogButtonBox::Cancel), 1);
    QCOMPARE(probe.session().isolationMethod(), IsolationMethod::Precise);
    QCOMPARE(choose(0, QDialogButtonBox::Ok), 1);
    QCOMPARE(probe.settings().value("ISOLATION").toString(), QStringLiteral("clusters"));
    QCOMPARE(probe.session().isolationMethod(), IsolationMethod::ColourClusters);
}

void TestMainWindow::unconvertibleValuesReadAsZero()
{
    QSettings().setValue("KEEPMSIZE", "lots");
    QSettings().setValue("MOPACITY", "cloudy");
    QSettings().setValue("GOUSSIZE", QStringList({"a", "b"}));
    QSettings().setValue("KEEPBINTEN", 300); // keeps its low 8 bits
    MainWindow window;
    MainWindowProbe probe(window);
    QCOMPARE(int(probe.tools().keepMarkerSize), 0);
    QCOMPARE(probe.tools().maskOpacity, 0.0f);
    QCOMPARE(probe.tools().gaussSize, 0);
    QCOMPARE(int(probe.tools().keepBrushIntensity), 300 & 0xFF);
}

void TestMainWindow::openCancelled()
{
    MainWindow window;
    MainWindowProbe probe(window);
    answerFileDialog(QString());
    probe.action("actionOpen")->trigger();
    QCOMPARE(probe.status(), QStringLiteral("No file selected"));
    QVERIFY(probe.session().photoPath().isEmpty());
}

void TestMainWindow::openNonPicture_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("text") << QByteArray("this is not a picture\n");
    QTest::newRow("empty") << QByteArray();
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        testPicture(40, 30).save(&buffer, "PNG");
    }
    QTest::newRow("truncated png") << png.left(png.size() / 2);
    // A PNG header claiming 200000 x 200000 pixels must fail without allocating 160 GB.
    QByteArray huge = png.left(33);
    const quint32 side = 200000;
    for (int i = 0; i < 4; ++i) {
        huge[16 + i] = char((side >> (24 - 8 * i)) & 0xFF);
        huge[20 + i] = char((side >> (24 - 8 * i)) & 0xFF);
    }
    QTest::newRow("absurd dimensions") << huge + png.mid(33);
}

void TestMainWindow::openNonPicture()
{
    QFETCH(QByteArray, content);
    const QString path = dir.filePath(QStringLiteral("not-a-picture.png"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    MainWindow window;
    MainWindowProbe probe(window);
    probe.action("actionPreview")->setChecked(true);
    answerFileDialog(path);
    probe.action("actionOpen")->trigger();
    QCOMPARE(probe.status(), QStringLiteral("Failed to read image"));
    QCOMPARE(probe.editScene().items().size(), 0);
    QVERIFY(!probe.action("actionPreview")->isChecked());
    QCOMPARE(probe.undoStack().count(), 0);
    QCOMPARE(probe.settings().value("CurrDir").toString(), QDir(dir.path()).canonicalPath());
    QCOMPARE(window.windowTitle(), QStringLiteral("Peltrix Pro"));
}

void TestMainWindow::openFormats_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("lossless");
    QTest::newRow("png") << "png" << true;
    QTest::newRow("jpeg") << "jpg" << false;
    QTest::newRow("bmp") << "bmp" << true;
    QTest::newRow("tiff") << "tiff" << true;
    QTest::newRow("gif") << "gif" << true;
}

void TestMainWindow::openFormats()
{
    QFETCH(QString, format);
    QFETCH(bool, lossless);
    const QString path = dir.filePath(QStringLiteral("flower.") + format);
    QImage picture;
    if (format == QLatin1String("gif")) {
        const QImage indexed = gifPicture(64, 48);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(encodeGif(indexed));
        picture = indexed.convertToFormat(QImage::Format_ARGB32);
    } else {
        picture = testPicture(64, 48);
        QVERIFY2(picture.save(path), qPrintable(format));
    }

    MainWindow window;
    MainWindowProbe probe(window);
    window.resize(800, 600);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    answerFileDialog(path);
    probe.action("actionOpen")->trigger();

    QCOMPARE(probe.session().photoPath(), path);
    QCOMPARE(window.windowTitle(), QStringLiteral("Peltrix Pro - flower.") + format);
    QCOMPARE(probe.status(), QStringLiteral("Ready"));
    QVERIFY(!probe.progressBar()->isVisible());
    QCOMPARE(probe.session().photo().format(), QImage::Format_ARGB32);
    QCOMPARE(probe.session().photo().size(), picture.size());
    if (lossless)
        QCOMPARE(probe.session().photo(), picture);
    QCOMPARE(probe.view()->scene(), &probe.editScene());
    QCOMPARE(probe.editScene().sceneRect(), QRectF(0, 0, 64, 48));
    const QList<QGraphicsItem *> items = probe.editScene().items();
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first()->type(), int(QGraphicsPixmapItem::Type));
    QCOMPARE(probe.settings().value("CurrDir").toString(), QDir(dir.path()).canonicalPath());

    // Fitted: the whole picture is visible and fills the view in one direction.
    QTest::qWait(50);
    const QRectF shown = probe.view()->mapFromScene(probe.editScene().sceneRect()).boundingRect();
    const QRect viewport = probe.view()->viewport()->rect();
    QVERIFY2(shown.width() <= viewport.width() + 1 && shown.height() <= viewport.height() + 1,
             qPrintable(QStringLiteral("%1x%2 in %3x%4").arg(shown.width()).arg(shown.height())
                            .arg(viewport.width()).arg(viewport.height())));
    QVERIFY(shown.width() >= viewport.width() - 3 || shown.height() >= viewport.height() - 3);
}

void TestMainWindow::failedOpenKeepsPreviousPicture()
{
    const QString good = dir.filePath(QStringLiteral("good.png"));
    QVERIFY(testPicture(20, 10).save(good));
    const QString bad = dir.filePath(QStringLiteral("bad.png"));
    {
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("garbage");
    }

    MainWindow window;
    MainWindowProbe probe(window);
    QVERIFY(probe.load(good));
    const QImage labels = probe.session().labelMap();
    const auto centers = probe.session().clusters().centers();
    QVERIFY(!probe.load(bad));
    QCOMPARE(probe.session().photo().size(), QSize(20, 10));
    QCOMPARE(probe.session().labelMap(), labels);
    QCOMPARE(probe.session().clusters().centers(), centers);
    QCOMPARE(window.windowTitle(), QStringLiteral("Peltrix Pro - good.png"));
    QCOMPARE(probe.editScene().items().size(), 0);
}

void TestMainWindow::openFromOutside_data()
{
    // How the file arrives, which file(s), and the status that follows.
    QTest::addColumn<QString>("how"); // "arguments" or "drop"
    QTest::addColumn<QStringList>("files");
    // How the status starts; "The cut of": the first file was opened and the dab on the photo
    // open before was kept.
    QTest::addColumn<QString>("status");
    const QString kept = QStringLiteral("The cut of first.png was kept in ");
    QTest::newRow("command line") << "arguments" << QStringList{"second.png", "notes.txt"} << kept;
    QTest::newRow("dropped picture") << "drop" << QStringList{"second.png"} << kept;
    QTest::newRow("dropped text file") << "drop" << QStringList{"notes.txt"} << "Not a picture: notes.txt";
    QTest::newRow("two dropped files") << "drop" << QStringList{"second.png", "second.png"}
                                       << "Drop one picture at a time";
    QTest::newRow("dropped web address") << "drop" << QStringList{"https://peltrix.example/a.png"}
                                         << "Only picture files can be dropped here";
    // Pasted: a picture file, a picture's bytes, a picture as an image (with the web address a
    // browser adds), or no picture at all.
    QTest::newRow("pasted file") << "paste" << QStringList{"second.png"} << kept;
    QTest::newRow("pasted PNG") << "paste png" << QStringList{} << kept;
    QTest::newRow("pasted image from a web page") << "paste image" << QStringList{"https://peltrix.example/a.png"} << kept;
    QTest::newRow("pasted text") << "paste text" << QStringList{} << "The clipboard holds no picture";
    QTest::newRow("pasted broken PNG") << "paste broken" << QStringList{}
                                       << "The clipboard's picture cannot be opened: Unable to read image data";
}

void TestMainWindow::openFromOutside()
{
    // A picture from the command line or dropped on the window opens as Open does; anything
    // else dropped leaves the open picture, its dabs and its preview as they were.
    QFETCH(QString, how);
    QFETCH(QStringList, files);
    QFETCH(QString, status);
    const QString first = dir.filePath(QStringLiteral("first.png"));
    QVERIFY(testPicture(30, 20).save(first));
    QVERIFY(testPicture(24, 16).save(dir.filePath(QStringLiteral("second.png"))));
    {
        QFile notes(dir.filePath(QStringLiteral("notes.txt")));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("keep 1 1 4\n");
    }
    QList<QUrl> urls;
    for (const QString &file : std::as_const(files))
        urls << (file.contains(QLatin1Char(':')) ? QUrl(file) : QUrl::fromLocalFile(dir.filePath(file)));

    MainWindow window;
    MainWindowProbe probe(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(probe.load(first));
    probe.markers().add({true, QRectF(3, 3, 4, 4)});
    QSettings().setValue(QStringLiteral("CurrDir"), QStringLiteral("/"));
    if (how == QLatin1String("arguments")) {
        QStringList paths;
        for (const QUrl &url : std::as_const(urls))
            paths << url.toLocalFile();
        window.openFiles(paths);
    } else if (how.startsWith(QLatin1String("paste"))) {
        auto *data = new QMimeData;
        data->setUrls(urls);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(testPicture(24, 16).save(&buffer, "PNG"));
        if (how.endsWith(QLatin1String("png")))
            data->setData(QStringLiteral("image/png"), png);
        else if (how.endsWith(QLatin1String("broken")))
            data->setData(QStringLiteral("image/png"), png.left(60));
        else if (how.endsWith(QLatin1String("image")))
            data->setImageData(testPicture(24, 16));
        else if (how.endsWith(QLatin1String("text")))
            data->setText(QStringLiteral("keep 1 1 4"));
        QGuiApplication::clipboard()->setMimeData(data);
        QTest::keyClick(&window, Qt::Key_V, Qt::ControlModifier);
    } else {
        // Dropped on the canvas: as the toolkit does, the drop goes to the first widget from
        // the one under the pointer outwards that takes drops.
        QMimeData data;
        data.setUrls(urls);
        QWidget *target = probe.view()->viewport();
        while (target && !target->acceptDrops())
            target = target->parentWidget();
        QCOMPARE(target, &window);
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(target, &drop);
    }
    QVERIFY2(probe.status().startsWith(status), qPrintable(probe.status()));
    const bool opened = status.startsWith(QLatin1String("The cut of"));
    const bool fromFile = opened && !files.isEmpty() && !files.first().contains(QLatin1Char(':'));
    QCOMPARE(probe.session().photo().size(), opened ? QSize(24, 16) : QSize(30, 20));
    if (opened)
        QCOMPARE(probe.session().photo(), testPicture(24, 16));
    QCOMPARE(probe.session().dabCount(), opened ? 0 : 1);
    QCOMPARE(!probe.session().labelMap().isNull(), true);
    QCOMPARE(window.windowTitle(), QStringLiteral("Peltrix Pro - %1")
                                       .arg(fromFile ? QStringLiteral("second.png")
                                                     : opened ? QStringLiteral("Pasted picture") : QStringLiteral("first.png")));
    QCOMPARE(QSettings().value(QStringLiteral("CurrDir")).toString(),
             fromFile ? QDir(dir.path()).canonicalPath() : QStringLiteral("/"));
}

void TestMainWindow::strokesFiles()
{
    // Saved strokes load back as the same dabs in one undo step; undoing it brings back the
    // dabs before, each still undoable on its own; a malformed file changes nothing.
    const QString photo = dir.filePath(QStringLiteral("strokes-photo.png"));
    QVERIFY(testPicture(60, 40).save(photo));
    MainWindow window;
    MainWindowProbe probe(window);
    QVERIFY(probe.load(photo));
    const QList<MarkerDab> saved = {{true, QRectF(10.25, 7.1, 6, 6)},
                                    {false, QRectF(45.000001, 30.5, 9, 9)},
                                    {true, QRectF(-4, 80, 3, 3)}}; // off the picture: kept as read
    probe.session().setDabs(saved);
    const QString file = dir.filePath(QStringLiteral("strokes.txt"));
    answerFileDialog(file);
    probe.action("actionSaveStrokes")->trigger();
    QCOMPARE(probe.status(), QStringLiteral("Saved 3 dabs to strokes.txt"));

    probe.markers().clear();
    const QList<MarkerDab> drawn = {{false, QRectF(2, 2, 5, 5)}, {true, QRectF(20, 20, 5, 5)}};
    for (const MarkerDab &dab : drawn)
        probe.undoStack().push(new CMarkerCommand(probe.markers().weak_from_this(), probe.markers().add(dab)));
    answerFileDialog(file);
    probe.action("actionLoadStrokes")->trigger();
    QCOMPARE(probe.status(), QStringLiteral("Loaded 3 dabs from strokes.txt"));
    QCOMPARE(probe.session().dabs(), saved);
    QCOMPARE(probe.markers().count(), 3);
    QCOMPARE(probe.undoStack().count(), 3);
    probe.undoStack().undo();
    QCOMPARE(probe.session().dabs(), drawn);
    probe.undoStack().undo();
    QCOMPARE(probe.session().dabs(), drawn.mid(0, 1));

    const QString bad = dir.filePath(QStringLiteral("bad-strokes.txt"));
    {
        QFile out(bad);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("keep 1 1 4\n# fine so far\nremove 2 2 big\n");
    }
    answerFileDialog(bad);
    probe.action("actionLoadStrokes")->trigger();
    QVERIFY2(probe.status().contains(QLatin1String("bad-strokes.txt:3:")), qPrintable(probe.status()));
    QCOMPARE(probe.session().dabs(), drawn.mid(0, 1));
    QCOMPARE(probe.undoStack().index(), 1);
}

void TestMainWindow::toolKeys()
{
    MainWindow window;
    MainWindowProbe probe(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const QString photo = dir.filePath(QStringLiteral("keys.png"));
    QVERIFY(testPicture(20, 10).save(photo));
    QVERIFY(probe.load(photo));

    // No key does two things.
    QMap<QString, QString> owner;
    for (const QAction *action : window.findChildren<QAction *>()) {
        for (const QKeySequence &key : action->shortcuts()) {
            const QString name = key.toString();
            QVERIFY2(!owner.contains(name), qPrintable(name + QStringLiteral(": ") + owner.value(name)
                                                       + QStringLiteral(" and ") + action->objectName()));
            owner.insert(name, action->objectName());
        }
    }

    const struct
    {
        Qt::Key key;
        const char *action;
    } keys[] = {{Qt::Key_K, "actionKeep_arker"}, {Qt::Key_R, "action_Remove_Marker"}, {Qt::Key_G, "actionEdgeMarker"}, {Qt::Key_E, "actionEraser"},
                {Qt::Key_M, "actionMask"},       {Qt::Key_P, "actionPreview"},        {Qt::Key_F, "actionForeground_Brush"},
                {Qt::Key_B, "actionBackground_Brush"}, {Qt::Key_H, "actionHandTool"}};
    for (const auto &k : keys) {
        QAction *action = probe.action(k.action);
        QSignalSpy triggered(action, &QAction::triggered);
        QTest::keyClick(&window, k.key);
        QVERIFY2(triggered.count() == 1, k.action);
        // The tool tip names the key; the menu shows it by itself.
        QVERIFY2(action->toolTip().contains(QStringLiteral("(%1)").arg(action->shortcut().toString())),
                 qPrintable(action->toolTip()));
    }
    QVERIFY(probe.action("actionPreview")->isChecked());
    QVERIFY(probe.action("actionHandTool")->isChecked());

    // [ and ] step the current tool's size as the size commands do.
    QTest::keyClick(&window, Qt::Key_P);
    QTest::keyClick(&window, Qt::Key_K);
    QTest::keyClick(&window, Qt::Key_BracketRight);
    QCOMPARE(probe.status(), QStringLiteral("Foreground marker size is 11"));
    QTest::keyClick(&window, Qt::Key_BracketLeft);
    QTest::keyClick(&window, Qt::Key_BracketLeft);
    QCOMPARE(probe.status(), QStringLiteral("Foreground marker size is 9"));
}

void TestMainWindow::recentFiles()
{
    QStringList pictures;
    for (int i = 0; i < 10; ++i) {
        pictures << dir.filePath(QStringLiteral("recent-%1.png").arg(i));
        QVERIFY(testPicture(8 + i, 6).save(pictures.last()));
    }
    const QString broken = dir.filePath(QStringLiteral("recent-broken.png"));
    {
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a picture");
    }
    {
        MainWindow window;
        MainWindowProbe probe(window);
        QVERIFY(!probe.menu("menuRecent")->isEnabled()); // nothing yet
        for (const QString &picture : std::as_const(pictures))
            window.openFiles({picture});
        window.openFiles({broken}); // a failed open is not remembered
        window.openFiles({pictures.at(4)}); // opened again: first, and listed once
    }
    QVERIFY(QFile::remove(pictures.at(8)));

    MainWindow window;
    MainWindowProbe probe(window);
    QMenu *recent = probe.menu("menuRecent");
    emit probe.menu("menuFile")->aboutToShow();
    QVERIFY(recent->isEnabled());
    const QList<QAction *> entries = recent->actions();
    const QList<int> expected{4, 9, 8, 7, 6, 5, 3, 2};
    QCOMPARE(entries.size(), expected.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        QCOMPARE(entries[i]->toolTip(), QDir::toNativeSeparators(pictures.at(expected[i])));
        QCOMPARE(entries[i]->isEnabled(), expected[i] != 8); // the deleted one stays, disabled
    }
    entries[3]->trigger();
    QCOMPARE(window.windowTitle(), QStringLiteral("Peltrix Pro - recent-7.png"));
    QCOMPARE(RecentFiles(probe.settings()).paths().first(), pictures.at(7));

    // Whatever a damaged store holds under the key, only file names are listed.
    probe.settings().setValue(QStringLiteral("RECENTFILES"), QVariantList{42, QString(), pictures.at(1), QSize(3, 4)});
    QCOMPARE(RecentFiles(probe.settings()).paths(), QStringList{pictures.at(1)});
    probe.settings().setValue(QStringLiteral("RECENTFILES"), QRect(1, 2, 3, 4));
    emit probe.menu("menuFile")->aboutToShow();
    QVERIFY(recent->actions().isEmpty());
    QVERIFY(!recent->isEnabled());
}

void TestMainWindow::windowStateKept_data()
{
    QTest::addColumn<bool>("maximized");
    QTest::addColumn<bool>("quit"); // closed by Quit rather than by the window manager
    QTest::newRow("closed") << false << false;
    QTest::newRow("quit") << false << true;
    QTest::newRow("maximized") << true << false;
}

void TestMainWindow::windowStateKept()
{
    QFETCH(bool, maximized);
    QFETCH(bool, quit);

    QRect normal;
    {
        MainWindow window;
        MainWindowProbe probe(window);
        window.resize(700, 520);
        window.move(40, 50);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (maximized)
            window.showMaximized();
        QCoreApplication::processEvents();
        normal = window.normalGeometry();
        if (quit)
            probe.action("actionQuit")->trigger();
        else
            window.close();
    }
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.isMaximized(), maximized);
    QCOMPARE(window.normalGeometry().size(), normal.size());
    QCOMPARE(window.normalGeometry().topLeft(), normal.topLeft());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
