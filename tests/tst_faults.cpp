// The program under faults it does not control: a settings store or temporary folder it
// cannot write, exports that cannot be written, a photo that changes on disk after opening, a
// background picture that cannot be read, pictures one pixel wide or high, and pictures over
// the size limit.
#include <QDialogButtonBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "gui/brushcommand.h"
#include "gui/backgrounddialog.h"
#include "mainwindowprobe.h"
#include "modals.h"
#include "gui/exportdialog.h"
#include "output/pictureio.h"
#include "testsupport.h"

namespace {

// Makes a folder and the files in it unwritable for this process. Permission bits do not stop
// root, so as root the file system's immutable flag does it instead, where the file system
// has one. Everything is made writable again when this goes.
class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(const QString &folder)
    {
        const QDir dir(folder);
        for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden))
            paths << dir.filePath(name);
        paths << folder; // the folder last, so that its files can still be opened
        for (const QString &path : paths) {
            if (!setReadOnly(path, true)) {
                unlock();
                return;
            }
            locked << path;
        }
    }
    ~ReadOnlyFolder() { unlock(); }

    bool ok() const { return !locked.isEmpty() && locked.size() == paths.size(); }
    QString why;

private:
    bool setReadOnly(const QString &path, bool readOnly)
    {
        const QByteArray name = QFile::encodeName(path);
        if (geteuid() != 0) {
            const bool folder = QFileInfo(path).isDir();
            const mode_t mode = readOnly ? (folder ? 0555 : 0444) : (folder ? 0755 : 0644);
            if (::chmod(name.constData(), mode) == 0)
                return true;
            why = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
        int flags = 0;
        bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = readOnly ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (!done)
            why = QStringLiteral("running as root, and %1 takes no immutable flag: %2")
                      .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return done;
    }
    void unlock()
    {
        while (!locked.isEmpty())
            setReadOnly(locked.takeLast(), false);
    }

    QStringList paths;
    QStringList locked;
};

QImage stripes(int w, int h)
{
    QImage picture(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            picture.setPixel(x, y, ((x / 4 + y / 3) % 2) ? qRgb(200, 40, 30) : qRgb(30, 150, 60));
    return picture;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}


struct CutRun
{
    int exitCode = -1;
    QString errors;
};

CutRun runCut(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    CutRun run;
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
        run.errors = QString::fromLocal8Bit(process.readAllStandardError());
    }
    return run;
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void settingsFolderReadOnly();
    void brushUndoWithoutTemporaryFolder_data();
    void brushUndoWithoutTemporaryFolder();
    void exportCannotBeWritten_data();
    void exportCannotBeWritten();
    void photoChangedOnDisk_data();
    void photoChangedOnDisk();
    void backgroundPictureFails_data();
    void backgroundPictureFails();
    void thinPictures_data();
    void thinPictures();
    void picturesOverTheLimit_data();
    void picturesOverTheLimit();

private:
    void previewWithDabs(const QString &photo);
    QString exportThroughWindow(const QString &path);

    QTemporaryDir dir;
    QString photoPath;
    MainWindow *window = nullptr;
    MainWindowProbe *probe = nullptr;
};

void TestFaults::initTestCase()
{
    isolateSettings();
    QVERIFY(dir.isValid());
    photoPath = dir.filePath(QStringLiteral("photo.png"));
    QVERIFY(stripes(60, 40).save(photoPath));
}

void TestFaults::init()
{
    window = new MainWindow;
    probe = new MainWindowProbe(*window);
    window->resize(800, 600);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestFaults::cleanup()
{
    delete probe;
    delete window;
    probe = nullptr;
    window = nullptr;
}

// Opens `photo`, places a keep dab in its middle and remove dabs near its corners, and
// switches the preview on.
void TestFaults::previewWithDabs(const QString &photo)
{
    QVERIFY(probe->load(photo));
    const QSize size = probe->session().size();
    probe->markers().add({true, QRectF(size.width() / 2.0, size.height() / 2.0, 4, 4)});
    probe->markers().add({false, QRectF(2, 2, 3, 3)});
    probe->markers().add({false, QRectF(size.width() - 4, size.height() - 4, 3, 3)});
    probe->action("actionPreview")->setChecked(true);
}

// Runs the Export command with `path` at the picture's own size; returns the status text.
QString TestFaults::exportThroughWindow(const QString &path)
{
    MessageBoxAnswerer boxes; // the file dialog asks before replacing a file
    whenModal<ExportDialog>([path](ExportDialog *dialog) {
        answerFileDialog(path);
        dialog->findChild<QPushButton *>(QStringLiteral("pushButton"))->click();
        auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        if (buttons->button(QDialogButtonBox::Ok)->isEnabled())
            buttons->button(QDialogButtonBox::Ok)->click();
        else
            dialog->reject();
    });
    probe->statusBar()->clearMessage();
    probe->action("actionExport")->trigger();
    return probe->status();
}

void TestFaults::settingsFolderReadOnly()
{
    // A store written earlier, then made read-only with the folder that holds it.
    cleanup();
    {
        QSettings store;
        store.clear();
        store.setValue(QLatin1String(SettingKeys::KeepMarkerSize.name), 12);
        store.sync();
        QCOMPARE(store.status(), QSettings::NoError);
    }
    const QString file = QSettings().fileName();
    const QByteArray before = fileBytes(file);
    {
        ReadOnlyFolder readOnly(QFileInfo(file).absolutePath());
        if (!readOnly.ok()) {
            init();
            QSKIP(qPrintable(readOnly.why));
        }
        init();
        QCOMPARE(probe->tools().keepMarkerSize, 12);
        QVERIFY(probe->load(photoPath));
        probe->action("actionKeep_arker")->setChecked(true);
        probe->action("actionIncreaseToolSize")->trigger();
        // The step takes effect for this run although it cannot be kept.
        QCOMPARE(probe->status(), QStringLiteral("Foreground marker size is 13"));
        QCOMPARE(probe->view()->toolSettings().keepMarkerSize, 13);
        whenModal<QDialog>([](QDialog *dialog) {
            dialog->findChild<QSpinBox *>(QStringLiteral("spinBox_2"))->setValue(21);
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        });
        probe->action("actionPreferences")->trigger();
        QCOMPARE(probe->tools().removeMarkerSize, 21);
        cleanup();
        QSettings store;
        store.sync();
        QCOMPARE(store.status(), QSettings::AccessError);
        QCOMPARE(fileBytes(file), before);
    }
    QSettings().clear(); // what could not be written must not reach the next test
    init();
}

void TestFaults::brushUndoWithoutTemporaryFolder_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing") << "missing";
    QTest::newRow("a file") << "file";
    QTest::newRow("read-only") << "read-only";
}

void TestFaults::brushUndoWithoutTemporaryFolder()
{
    QFETCH(QString, kind);
    QTemporaryDir base;
    QString temporary = base.filePath(QStringLiteral("tmp"));
    std::unique_ptr<ReadOnlyFolder> readOnly;
    if (kind == QLatin1String("file")) {
        QVERIFY(QFile(temporary).open(QIODevice::WriteOnly));
    } else if (kind == QLatin1String("read-only")) {
        QVERIFY(QDir().mkpath(temporary));
        readOnly = std::make_unique<ReadOnlyFolder>(temporary);
        if (!readOnly->ok())
            QSKIP(qPrintable(readOnly->why));
    }
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temporary));
    const auto restore = qScopeGuard([&] { qputenv("TMPDIR", saved); });

    previewWithDabs(photoPath);
    const QImage before = probe->session().cutout();
    probe->action("actionForeground_Brush")->setChecked(true);
    probe->brushRects() = {QRect(10, 10, 12, 12), QRect(16, 14, 12, 12)};
    QMetaObject::invokeMethod(window, "on_ProcessBrushMouseEvent");
    QVERIFY(probe->session().cutout() != before);
    const auto *command = dynamic_cast<const CBrushCommand *>(probe->undoStack().command(0));
    QVERIFY(command);
    QCOMPARE(command->storedFileName(), QString()); // kept in memory
    probe->undoStack().undo();
    QCOMPARE(probe->session().cutout(), before);
}

void TestFaults::exportCannotBeWritten_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("written"); // the file that fails: the export or the first dump
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing folder") << "missing" << "cut.png" << "No such file or directory";
    // The earlier export in it is read-only too.
    QTest::newRow("read-only folder") << "read-only" << "cut.png" << "is not writable";
    QTest::newRow("full device") << "full" << "cut.png" << "No space left on device";
    QTest::newRow("full device, dump") << "full" << "labels.png" << "No space left on device";
}

// Through peltrix-cut, which writes with the window's export code, so that the full device
// can be a small file system mounted for the run alone.
void TestFaults::exportCannotBeWritten()
{
    QFETCH(QString, kind);
    QFETCH(QString, written);
    QFETCH(QString, reason);
    QTemporaryDir base;
    const QString folder = base.filePath(kind == QLatin1String("missing") ? QStringLiteral("gone/deeper")
                                                                            : QStringLiteral("out"));
    const QString target = folder + QStringLiteral("/cut.png");
    const QByteArray existing = "an earlier export, to be kept as it is\n";
    const QString markers = base.filePath(QStringLiteral("markers.txt"));
    {
        QFile file(markers);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep 30 20 4\nremove 2 2 3\n");
    }
    QStringList arguments{QStringLiteral("--markers"), markers, QStringLiteral("-o"), target, photoPath};
    if (written != QLatin1String("cut.png"))
        arguments = QStringList{QStringLiteral("--dump"), folder, QStringLiteral("--markers"), markers,
                                QStringLiteral("-o"), base.filePath(QStringLiteral("elsewhere.png")), photoPath};

    CutRun run;
    if (kind == QLatin1String("full")) {
        // The earlier export goes in first, then a filler takes every block that is left.
        QVERIFY(QDir().mkpath(folder));
        const QString script = QStringLiteral(
            "mount -t tmpfs -o size=256k none \"$1\" || exit 97\n"
            "printf '%s' \"$2\" > \"$1/cut.png\"\n"
            "head -c 1048576 /dev/zero > \"$1/filler\" 2>/dev/null\n"
            "folder=$1; shift 2; \"$@\"; code=$?\n"
            "ls -A \"$folder\" >&2; cat \"$folder/cut.png\" >&2; exit $code\n");
        QStringList wrapped{geteuid() == 0 ? QStringLiteral("-m") : QStringLiteral("-rm"),
                            QStringLiteral("sh"), QStringLiteral("-c"), script, QStringLiteral("sh"),
                            folder, QString::fromLatin1(existing), QStringLiteral(PELTRIX_CUT_PATH)};
        run = runCut(QStringLiteral("unshare"), wrapped + arguments);
        if (run.exitCode == 97 || run.exitCode == -1)
            QSKIP(qPrintable(QStringLiteral("no private mount of a small file system here: ") + run.errors));
        // What the folder held afterwards, then the earlier export's bytes.
        QVERIFY2(run.errors.endsWith(QStringLiteral("cut.png\nfiller\n") + QString::fromLatin1(existing)),
                 qPrintable(run.errors));
    } else {
        std::unique_ptr<ReadOnlyFolder> readOnly;
        if (kind == QLatin1String("read-only")) {
            QVERIFY(QDir().mkpath(folder));
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(existing);
            file.close();
            readOnly = std::make_unique<ReadOnlyFolder>(folder);
            if (!readOnly->ok())
                QSKIP(qPrintable(readOnly->why));
        }
        run = runCut(QStringLiteral(PELTRIX_CUT_PATH), arguments);
        if (kind == QLatin1String("read-only")) {
            QCOMPARE(fileBytes(target), existing);
            QCOMPARE(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
                     QStringList{QStringLiteral("cut.png")});
        } else {
            QVERIFY(!QFileInfo::exists(folder));
        }
    }
    QCOMPARE(run.exitCode, 1);
    const QString failed = QStringLiteral("cannot write %1/%2: ").arg(folder, written);
    QVERIFY2(run.errors.contains(QRegularExpression(QRegularExpression::escape(failed) + QStringLiteral(".*")
                                                    + QRegularExpression::escape(reason))),
             qPrintable(run.errors));
}

void TestFaults::photoChangedOnDisk_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("deleted") << "delete";
    QTest::newRow("replaced by another picture") << "picture";
    QTest::newRow("replaced by garbage") << "garbage";
}

void TestFaults::photoChangedOnDisk()
{
    QFETCH(QString, change);
    const QString photo = dir.filePath(QStringLiteral("changing.png"));
    QFile::remove(photo);
    QVERIFY(QFile::copy(photoPath, photo));
    const QString reference = dir.filePath(QStringLiteral("reference.png"));
    const QString changed = dir.filePath(QStringLiteral("changed.png"));
    QFile::remove(reference);
    QFile::remove(changed);

    previewWithDabs(photo);
    QCOMPARE(exportThroughWindow(reference), QStringLiteral("Exported ") + QFileInfo(reference).fileName());

    previewWithDabs(photo);
    if (change == QLatin1String("delete"))
        QVERIFY(QFile::remove(photo));
    else if (change == QLatin1String("picture"))
        QVERIFY(stripes(17, 90).save(photo));
    else
        QVERIFY(QFile(photo).open(QIODevice::WriteOnly | QIODevice::Truncate));
    // The photo lives in memory from the open on: the mask, a fresh preview and the export
    // all see the picture that was opened.
    probe->action("actionPreview")->setChecked(false);
    probe->action("actionMask")->trigger();
    probe->action("actionPreview")->setChecked(true);
    QCOMPARE(probe->session().cutout().size(), QSize(60, 40));
    QCOMPARE(exportThroughWindow(changed), QStringLiteral("Exported ") + QFileInfo(changed).fileName());
    QCOMPARE(readPicture(changed), readPicture(reference));
}

void TestFaults::backgroundPictureFails_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // written to the file; empty: no file
    QTest::newRow("missing") << "missing.png" << QByteArray();
    QTest::newRow("not a picture") << "text.jpg" << QByteArray("no picture in here\n");
    QTest::newRow("truncated") << "truncated.bmp" << bmpHeader(40, 30);
    QTest::newRow("over the limit") << "huge.bmp" << bmpHeader(20000, 20000);
}

void TestFaults::backgroundPictureFails()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    const QString path = dir.filePath(name);
    if (!bytes.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    previewWithDabs(photoPath);
    const QImage shown = probe->backgroundItem()->pixmap().toImage();

    whenModal<BackgroundDialog>([path](BackgroundDialog *dialog) {
        dialog->findChild<QRadioButton *>(QStringLiteral("pictureradioButton"))->click();
        // As if the file had been chosen and then went bad before OK.
        dialog->findChild<QLabel *>(QStringLiteral("picturelabel"))->setText(path);
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    });
    probe->action("actionSelect_Background")->trigger();

    // The colour over the chessboard stays, and the export still works.
    QVERIFY(probe->session().backgroundPicture().isNull());
    QCOMPARE(probe->backgroundItem()->pixmap().toImage(), shown);
    const QString out = dir.filePath(QStringLiteral("over-failed-background.png"));
    QFile::remove(out);
    QCOMPARE(exportThroughWindow(out), QStringLiteral("Exported ") + QFileInfo(out).fileName());
    QCOMPARE(readPicture(out).size(), QSize(60, 40));
}

void TestFaults::thinPictures_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("1 x 1") << QSize(1, 1);
    QTest::newRow("1 x 37") << QSize(1, 37);
    QTest::newRow("37 x 1") << QSize(37, 1);
    QTest::newRow("2 x 2") << QSize(2, 2);
}

// Open, dabs, mask, preview, brushes, undo and export with the real mouse and commands.
void TestFaults::thinPictures()
{
    QFETCH(QSize, size);
    const QString photo = dir.filePath(QStringLiteral("thin.png"));
    QVERIFY(stripes(size.width(), size.height()).save(photo));
    QVERIFY(probe->load(photo));
    QCOMPARE(probe->session().size(), size);

    QWidget *port = probe->view()->viewport();
    const QPoint centre = probe->view()->mapFromScene(QPointF(size.width() / 2.0, size.height() / 2.0));
    const auto drag = [&] {
        QTest::mousePress(port, Qt::LeftButton, Qt::NoModifier, centre);
        for (const QPoint step : {QPoint(3, 1), QPoint(-6, 4), QPoint(40, -30), QPoint(-400, 300)})
            QTest::mouseMove(port, centre + step);
        QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, centre);
    };
    probe->action("actionKeep_arker")->setChecked(true);
    drag();
    probe->action("actionMask")->trigger();
    QCOMPARE(probe->maskItem()->pixmap().size(), size);
    probe->action("actionPreview")->setChecked(true);
    QCOMPARE(probe->session().cutout().size(), size);

    probe->action("actionForeground_Brush")->setChecked(true);
    drag();
    QTRY_VERIFY(!probe->brushTimer().isActive());
    probe->action("actionBackground_Brush")->setChecked(true);
    drag();
    QTRY_VERIFY(!probe->brushTimer().isActive());
    while (probe->undoStack().canUndo())
        probe->undoStack().undo();

    const QString out = dir.filePath(QStringLiteral("thin-out.png"));
    QFile::remove(out);
    QCOMPARE(exportThroughWindow(out), QStringLiteral("Exported ") + QFileInfo(out).fileName());
    QCOMPARE(readPicture(out).size(), size);
}

void TestFaults::picturesOverTheLimit_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("refused"); // for its size; the header alone fails to read anyway
    QTest::newRow("100 megapixels") << QSize(10000, 10000) << false;
    QTest::newRow("one pixel more") << QSize(17, 5882353) << true;
    QTest::newRow("one row more") << QSize(10000, 10001) << true;
}

// Only the header is written: the refusal must come before any pixel is decoded.
void TestFaults::picturesOverTheLimit()
{
    QFETCH(QSize, size);
    QFETCH(bool, refused);
    const QString path = dir.filePath(QStringLiteral("limit.bmp"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bmpHeader(size.width(), size.height()));
    }
    const QString tooLarge = QStringLiteral("The picture is too large (%1 x %2)").arg(size.width()).arg(size.height());
    QString reason;
    QVERIFY(readPicture(path, &reason).isNull());
    QCOMPARE(reason == tooLarge, refused);

    const CutRun run = runCut(QStringLiteral(PELTRIX_CUT_PATH), {path});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.errors.contains(tooLarge), refused);

    QVERIFY(!probe->load(path));
    QCOMPARE(probe->status(), QStringLiteral("Failed to read image"));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
