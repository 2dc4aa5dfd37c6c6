// A seeded random session on the real main window: actions, tools, strokes inside and
// outside the picture, resizes, and every dialog answered at random. After each step the
// window must still be in one consistent state.
//
//   tst_monkey --steps N --seed S    (or PELTRIX_MONKEY_STEPS / PELTRIX_MONKEY_SEED)
// A failure names the seed and the step; the same seed replays the same session.
#include <QCheckBox>
#include <QComboBox>
#include <QClipboard>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QMessageBox>
#include <QMimeData>
#include <QNativeGestureEvent>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QSet>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QUrl>
#include <QWheelEvent>
#include <QtTest>

#include <string>

#include "mainwindowprobe.h"
#include "testsupport.h"

namespace {

int monkeySteps = 1000;
quint32 monkeySeed = 1;

// Pulls "--steps N" and "--seed S" out of the arguments before Qt Test reads them.
void takeMonkeyArguments(int &argc, char **argv)
{
    monkeySteps = qEnvironmentVariableIntValue("PELTRIX_MONKEY_STEPS") ?: monkeySteps;
    monkeySeed = quint32(qEnvironmentVariableIntValue("PELTRIX_MONKEY_SEED") ?: int(monkeySeed));
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if ((argument == "--steps" || argument == "--seed") && i + 1 < argc) {
            const qint64 value = QByteArray(argv[++i]).toLongLong();
            if (argument == "--steps")
                monkeySteps = int(value);
            else
                monkeySeed = quint32(value);
            continue;
        }
        argv[kept++] = argv[i];
    }
    argc = kept;
}

QImage colourfulPicture(int w, int h)
{
    QImage picture(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            picture.setPixel(x, y, qRgb((x * 37) & 0xFF, (y * 53) & 0xFF, ((x - w / 2) * (y - h / 2) > 0) * 200));
    return picture;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestMonkey : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void randomSession();

private:
    void makeFolder();
    QString anyFile(const QStringList &names);
    int below(int n) { return int(random.bounded(n)); }
    bool chance(int percent) { return below(100) < percent; }

    // Dialogs, answered from the event loop of their modal run.
    void watchDialogs();
    void answer(QWidget *dialog);
    void answerFileDialog(QFileDialog *dialog);
    void answerOptions(QDialog *dialog);
    void answerExport(QDialog *dialog);
    void answerBackground(QDialog *dialog);
    void finish(QDialog *dialog);

    // One step; returns its description. `rescales` tells whether the step may change the scale.
    QString step(MainWindow &window, MainWindowProbe &probe, bool &rescales);
    QString stroke(MainWindowProbe &probe, bool withButton);
    QString check(MainWindowProbe &probe, bool rescales, qreal scaleBefore);

    QTemporaryDir pictures;
    QTemporaryDir temporary;
    QStringList goodPictures;
    QStringList brokenPictures;
    QStringList strokesFiles;
    QRandomGenerator random;
    QTimer dialogWatch;
    QSet<QWidget *> answered;
    QMap<QString, int> tally; // what the session did, for its closing line
};

void TestMonkey::initTestCase()
{
    isolateSettings();
    makeFolder();
    // File dialogs start in the picture folder: the stored one, or the working folder.
    QDir::setCurrent(pictures.path());
    QSettings().setValue(QStringLiteral("CurrDir"), pictures.path());
    // Brush undo files go to a folder of the test's own, which must be empty at the end.
    qputenv("TMPDIR", QFile::encodeName(temporary.path()));
    qInfo("monkey: seed %u, %d steps (replay: tst_monkey --steps %d --seed %u)", monkeySeed,
          monkeySteps, monkeySteps, monkeySeed);
}

void TestMonkey::makeFolder()
{
    QVERIFY(pictures.isValid() && temporary.isValid());
    const QDir folder(pictures.path());
    const struct
    {
        const char *name;
        QSize size;
        const char *format;
    } good[] = {{"flower.png", {64, 48}, "PNG"}, {"meadow.jpg", {40, 30}, "JPEG"},
                {"dot.png", {1, 1}, "PNG"},     {"column.bmp", {1, 17}, "BMP"},
                {"row.tif", {23, 1}, "TIFF"}};
    for (const auto &picture : good) {
        const QString path = folder.filePath(QLatin1String(picture.name));
        QVERIFY(colourfulPicture(picture.size.width(), picture.size.height()).save(path, picture.format));
        goodPictures << path;
    }
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        colourfulPicture(30, 20).save(&buffer, "PNG");
    }
    QVERIFY(writeBytes(folder.filePath(QStringLiteral("truncated.png")), png.left(png.size() / 2)));
    QVERIFY(writeBytes(folder.filePath(QStringLiteral("text.jpg")), "not a picture\n"));
    QVERIFY(writeBytes(folder.filePath(QStringLiteral("empty.png")), QByteArray()));
    brokenPictures << folder.filePath(QStringLiteral("truncated.png"))
                   << folder.filePath(QStringLiteral("text.jpg")) << folder.filePath(QStringLiteral("empty.png"));
    QVERIFY(writeBytes(folder.filePath(QStringLiteral("strokes.txt")),
                       "keep 20 15 6\nkeep 30 20 9\nremove 2 2 5\nremove 50 35 7\n"));
    QVERIFY(writeBytes(folder.filePath(QStringLiteral("broken-strokes.txt")), "keep 1 2\n"));
    strokesFiles << folder.filePath(QStringLiteral("strokes.txt"))
                 << folder.filePath(QStringLiteral("broken-strokes.txt"));
}

QString TestMonkey::anyFile(const QStringList &names)
{
    return names.at(below(int(names.size())));
}

void TestMonkey::watchDialogs()
{
    dialogWatch.setInterval(5);
    connect(&dialogWatch, &QTimer::timeout, this, [this] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || answered.contains(modal) || !modal->isVisible())
            return;
        answered.insert(modal);
        ++tally[QLatin1String(modal->metaObject()->className())];
        // Answered from a timer of its own, so that the answer may run further dialogs that
        // this watch then answers in turn.
        QPointer<QWidget> dialog(modal);
        QTimer::singleShot(0, this, [this, dialog] {
            if (dialog)
                answer(dialog);
        });
    });
    dialogWatch.start();
}

void TestMonkey::finish(QDialog *dialog)
{
    if (chance(30)) {
        dialog->reject();
        return;
    }
    if (auto *buttons = dialog->findChild<QDialogButtonBox *>()) {
        if (QPushButton *ok = buttons->button(QDialogButtonBox::Ok))
            ok->click(); // does nothing while disabled
    } else {
        dialog->accept();
    }
    if (dialog->isVisible())
        dialog->reject();
}

void TestMonkey::answer(QWidget *widget)
{
    if (auto *box = qobject_cast<QMessageBox *>(widget)) {
        const QList<QAbstractButton *> buttons = box->buttons();
        if (buttons.isEmpty())
            box->reject();
        else
            buttons.at(below(int(buttons.size())))->click();
    } else if (auto *files = qobject_cast<QFileDialog *>(widget)) {
        answerFileDialog(files);
    } else if (auto *colours = qobject_cast<QColorDialog *>(widget)) {
        if (chance(30)) {
            colours->reject();
            return;
        }
        colours->setCurrentColor(QColor::fromRgba(random.generate()));
        colours->accept();
    } else if (auto *dialog = qobject_cast<QDialog *>(widget)) {
        const QByteArray kind = dialog->metaObject()->className();
        if (kind == "OptionsDialog")
            answerOptions(dialog);
        else if (kind == "ExportDialog")
            answerExport(dialog);
        else if (kind == "BackgroundDialog")
            answerBackground(dialog);
        else
            finish(dialog);
    } else {
        widget->close();
    }
}

void TestMonkey::answerFileDialog(QFileDialog *dialog)
{
    // Nothing but the private folder is ever shown.
    if (!dialog->directory().absolutePath().startsWith(pictures.path()))
        dialog->setDirectory(pictures.path());
    const int choice = below(10);
    if (choice < 2) {
        dialog->reject();
        return;
    }
    QString path;
    if (dialog->acceptMode() == QFileDialog::AcceptSave) {
        static const char *const suffixes[] = {".png", ".jpg", ".JPEG", ".bmp", ".txt", ""};
        path = QDir(pictures.path()).filePath(QStringLiteral("out-%1%2").arg(below(3)).arg(
            QLatin1String(suffixes[below(int(std::size(suffixes)))])));
    } else if (choice < 6) {
        path = anyFile(goodPictures);
    } else if (choice < 8) {
        path = anyFile(brokenPictures + strokesFiles);
    } else {
        path = QDir(pictures.path()).filePath(QStringLiteral("missing.png"));
    }
    dialog->selectFile(path);
    // A missing file or an existing save target asks first; the watch answers that too.
    QMetaObject::invokeMethod(dialog, "accept");
    if (dialog->isVisible())
        dialog->reject();
}

void TestMonkey::answerOptions(QDialog *dialog)
{
    for (QSpinBox *box : dialog->findChildren<QSpinBox *>())
        box->setValue(box->minimum() - 3 + below(box->maximum() - box->minimum() + 7));
    for (QDoubleSpinBox *box : dialog->findChildren<QDoubleSpinBox *>())
        box->setValue(random.generateDouble() * 1.4 - 0.2);
    for (QCheckBox *box : dialog->findChildren<QCheckBox *>())
        box->setChecked(chance(50));
    for (QComboBox *box : dialog->findChildren<QComboBox *>())
        box->setCurrentIndex(below(box->count()));
    finish(dialog);
}

void TestMonkey::answerExport(QDialog *dialog)
{
    if (chance(80))
        dialog->findChild<QPushButton *>(QStringLiteral("pushButton"))->click();
    if (chance(40))
        dialog->findChild<QCheckBox *>(QStringLiteral("checkBox"))->toggle();
    // Small sizes keep the run quick; the dialog's own limits are tested elsewhere.
    for (const char *name : {"spinBox", "spinBox_2"}) {
        auto *side = dialog->findChild<QSpinBox *>(QLatin1String(name));
        if (side->isEnabled())
            side->setValue(below(300));
    }
    finish(dialog);
}

void TestMonkey::answerBackground(QDialog *dialog)
{
    const QList<QRadioButton *> choices = dialog->findChildren<QRadioButton *>();
    QRadioButton *choice = choices.at(below(int(choices.size())));
    choice->click();
    for (const char *name : {"pushButton", "pushButton_2"}) {
        auto *button = dialog->findChild<QPushButton *>(QLatin1String(name));
        if (button->isEnabled() && chance(70))
            button->click();
    }
    finish(dialog);
}

QString TestMonkey::stroke(MainWindowProbe &probe, bool withButton)
{
    QWidget *port = probe.view()->viewport();
    const auto anywhere = [&] {
        return QPoint(below(port->width() + 60) - 30, below(port->height() + 60) - 30);
    };
    QPoint at = anywhere();
    const int moves = 1 + below(8);
    const QString what = QStringLiteral("%1 from (%2, %3), %4 moves")
                             .arg(withButton ? QStringLiteral("drag") : QStringLiteral("hover"))
                             .arg(at.x()).arg(at.y()).arg(moves);
    if (withButton)
        QTest::mousePress(port, Qt::LeftButton, Qt::NoModifier, at);
    for (int i = 0; i < moves; ++i) {
        at += QPoint(below(41) - 20, below(41) - 20);
        QTest::mouseMove(port, at);
    }
    if (withButton)
        QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, at);
    return what;
}

QString TestMonkey::step(MainWindow &window, MainWindowProbe &probe, bool &rescales)
{
    rescales = false;
    const int kind = below(100);
    if (kind < 35) {
        QList<QAction *> enabled;
        for (QAction *action : window.findChildren<QAction *>()) {
            if (action->isEnabled() && !action->objectName().isEmpty())
                enabled << action;
        }
        QAction *action = enabled.at(below(int(enabled.size())));
        const QString name = action->objectName();
        rescales = name == QLatin1String("actionOpen") || name == QLatin1String("actionPaste")
                   || name.startsWith(QLatin1String("actionRecentFile")) || name.startsWith(QLatin1String("actionZoom"));
        action->trigger();
        return QStringLiteral("trigger %1").arg(name);
    }
    if (kind < 75)
        return stroke(probe, true);
    if (kind < 82)
        return stroke(probe, false);
    if (kind < 86) {
        rescales = true;
        const QSize size(300 + below(900), 200 + below(700));
        window.resize(size);
        return QStringLiteral("resize to %1 x %2").arg(size.width()).arg(size.height());
    }
    if (kind < 88) {
        // Wheel notches and pinches, whole and partial, with and without Ctrl.
        rescales = true;
        QWidget *port = probe.view()->viewport();
        const QPoint at(below(port->width() + 1), below(port->height() + 1));
        const QPointF global = port->mapToGlobal(QPointF(at));
        if (chance(25)) {
            const qreal value = random.generateDouble() * 1.2 - 0.6;
            QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2, at, at,
                                      global, value, {});
            QCoreApplication::sendEvent(port, &pinch);
            return QStringLiteral("pinch %1 at (%2, %3)").arg(value).arg(at.x()).arg(at.y());
        }
        const int angle = (below(2) ? 1 : -1) * (chance(50) ? 120 : 1 + below(240));
        const Qt::KeyboardModifiers modifiers = chance(70) ? Qt::ControlModifier : Qt::NoModifier;
        QWheelEvent wheel(at, global, QPoint(), QPoint(0, angle), Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(port, &wheel);
        return QStringLiteral("wheel %1%2 at (%3, %4)").arg(modifiers ? "Ctrl " : "").arg(angle).arg(at.x()).arg(at.y());
    }
    if (kind < 90) {
        // Something for Paste: a picture's bytes, a damaged picture, a file, or no picture.
        auto *data = new QMimeData;
        QString what;
        switch (below(5)) {
        case 0: {
            QFile file(anyFile(goodPictures));
            file.open(QIODevice::ReadOnly);
            data->setData(QStringLiteral("image/png"), file.readAll());
            what = QStringLiteral("picture bytes");
            break;
        }
        case 1:
            data->setData(QStringLiteral("image/png"), QByteArray::fromStdString(std::to_string(random.generate())));
            what = QStringLiteral("garbage bytes");
            break;
        case 2:
            data->setImageData(colourfulPicture(1 + below(60), 1 + below(40)));
            what = QStringLiteral("an image");
            break;
        case 3:
            data->setUrls({QUrl::fromLocalFile(anyFile(goodPictures + brokenPictures + strokesFiles))});
            what = QStringLiteral("a file");
            break;
        default:
            data->setText(QStringLiteral("keep 1 1 4"));
            what = QStringLiteral("text");
            break;
        }
        QGuiApplication::clipboard()->setMimeData(data);
        return QStringLiteral("clipboard gets %1").arg(what);
    }
    if (kind < 92) {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (top != &window && top->isVisible()) {
                top->close();
                return QStringLiteral("close %1").arg(QLatin1String(top->metaObject()->className()));
            }
        }
        return QStringLiteral("nothing to close");
    }
    const int ms = chance(90) ? below(40) : 1000 + below(100);
    QTest::qWait(ms);
    return QStringLiteral("wait %1 ms").arg(ms);
}

QString TestMonkey::check(MainWindowProbe &probe, bool rescales, qreal scaleBefore)
{
    OvoGraphicsView *view = probe.view();
    const bool preview = probe.action("actionPreview")->isChecked();
    QGraphicsScene *shown = view->scene();
    if (shown != (preview ? &probe.previewScene() : &probe.editScene()))
        return QStringLiteral("the view shows the wrong scene (preview %1)").arg(preview);
    if (view->outline() && view->outline()->scene() != shown)
        return QStringLiteral("the brush outline lies outside the shown scene");
    for (const char *name : {"actionForeground_Brush", "actionBackground_Brush", "actionHandTool",
                             "actionSelect_Background", "actionBackgroundZoomMinus",
                             "actionBackgroundZoomPlus", "actionExport", "actionCopy"}) {
        if (probe.action(name)->isEnabled() != preview)
            return QStringLiteral("%1 is %2 with the preview %3")
                .arg(QLatin1String(name), probe.action(name)->isEnabled() ? "enabled" : "disabled",
                     preview ? "on" : "off");
    }
    if (probe.undoStack().count() > 200)
        return QStringLiteral("%1 undo steps").arg(probe.undoStack().count());
    if (!rescales && view->transform().m11() != scaleBefore)
        return QStringLiteral("the scale went from %1 to %2").arg(scaleBefore).arg(view->transform().m11());
    if (probe.markers().count() != probe.session().dabCount())
        return QStringLiteral("%1 dab items but %2 dabs").arg(probe.markers().count()).arg(probe.session().dabCount());
    return QString();
}

void TestMonkey::randomSession()
{
    random.seed(monkeySeed);
    auto window = std::make_unique<MainWindow>();
    MainWindowProbe probe(*window);
    window->resize(800, 600);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    watchDialogs();
    QVERIFY(probe.load(goodPictures.first()));

    QStringList recent;
    for (int i = 1; i <= monkeySteps; ++i) {
        const qreal scaleBefore = probe.view()->transform().m11();
        bool rescales = false;
        const QString what = step(*window, probe, rescales);
        recent << QStringLiteral("%1: %2").arg(i).arg(what);
        ++tally[what.section(QLatin1Char(' '), 0, what.startsWith(QLatin1String("trigger")) ? 1 : 0)];
        if (recent.size() > 8)
            recent.removeFirst();
        const QString broken = check(probe, rescales, scaleBefore);
        if (!broken.isEmpty()) {
            QFAIL(qPrintable(QStringLiteral("seed %1, step %2 (%3): %4\nlast steps:\n  %5\nreplay: "
                                            "tst_monkey --steps %2 --seed %1")
                                 .arg(monkeySeed).arg(i).arg(what, broken, recent.join(QStringLiteral("\n  ")))));
        }
        answered.clear();
    }
    dialogWatch.stop();
    QStringList counts;
    for (auto it = tally.cbegin(); it != tally.cend(); ++it)
        counts << QStringLiteral("%1 %2").arg(it.value()).arg(it.key());
    qInfo("monkey: %d steps done, %d dabs and %d undo steps at the end; %s", monkeySteps,
          int(probe.session().dabCount()), int(probe.undoStack().count()), qPrintable(counts.join(QStringLiteral(", "))));
    window.reset();
    // The brush commands' undo files go with the window.
    QCOMPARE(QDir(temporary.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
             QStringList());
}

int main(int argc, char *argv[])
{
    takeMonkeyArguments(argc, argv);
    // Qt Test stops a test function after five minutes; a long session may take longer.
    if (qEnvironmentVariableIsEmpty("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number(std::max(300'000, monkeySteps * 500)));
    QApplication app(argc, argv);
    TestMonkey test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monkey.moc"
