// Cut projects and recovery in the window: a damaged project changes nothing, a moved or
// changed photo is found or said, unsaved work is kept instead of dropped, each window writes
// only its own recovery file, and a session killed while painting or writing comes back at
// the next start.
//
// The killed session is this executable run again as `tst_project --paint-until-killed PHOTO`.
#include <QCryptographicHash>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "isolation/markerinput.h"
#include "mainwindowprobe.h"
#include "modals.h"
#include "testsupport.h"

namespace {

// An object in the middle of a noisy ground.
QImage photoOf(int w, int h, quint32 seed)
{
    QImage photo(w, h, QImage::Format_ARGB32);
    QRandomGenerator noise(seed);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int n = int(noise.bounded(30));
            const bool object = std::abs(x - w / 2) < w / 5 && std::abs(y - h / 2) < h / 4;
            photo.setPixel(x, y, object ? qRgb(210 - n, 60 + n, 40) : qRgb(50 + n, 140 - n, 70 + n));
        }
    }
    return photo;
}

// A keep stroke in the object and a remove stroke round it, through the canvas.
void paint(MainWindowProbe &probe)
{
    const QSize size = probe.session().size();
    QWidget *port = probe.view()->viewport();
    const auto stroke = [&](const char *tool, QList<QPoint> corners) {
        probe.action(tool)->trigger();
        QTest::mousePress(port, Qt::LeftButton, {}, corners.first());
        for (const QPoint &corner : corners)
            QTest::mouseMove(port, corner);
        QTest::mouseRelease(port, Qt::LeftButton, {}, corners.last());
    };
    const int w = size.width();
    const int h = size.height();
    stroke("actionKeep_arker", {{w / 2 - 8, h / 2}, {w / 2, h / 2 + 2}, {w / 2 + 8, h / 2}});
    stroke("action_Remove_Marker", {{4, 4}, {w / 2, 5}, {w - 12, 6}, {w - 12, h - 12}, {5, h - 12}});
}

// What must come back: the dabs, the cut-out with its brush edits and the object's place.
QByteArray cutHash(MainWindowProbe &probe)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(markerText(probe.session().dabs()).toUtf8());
    const QImage &cutout = probe.session().cutout();
    hash.addData(QByteArrayView(reinterpret_cast<const char *>(cutout.constBits()), cutout.sizeInBytes()));
    hash.addData(QByteArray::number(probe.session().objectOffset().x()) + ','
                 + QByteArray::number(probe.session().objectOffset().y()));
    return hash.result().toHex();
}

void waitUntilSaved(MainWindowProbe &probe)
{
    while (probe.autosave().pending())
        QTest::qWait(1);
}

// The child: paints, then brushes one batch after another, saying which cut each batch made
// ("pending HASH") and when the autosave has written it ("saved"), until it is killed.
int paintUntilKilled(const QString &photo)
{
    isolateSettings(); // the parent chose XDG_CONFIG_HOME; the data folder lies inside it
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    MainWindow window;
    MainWindowProbe probe(window);
    if (!showWithPicture(window, probe, photo))
        return 2;
    probe.autosave().setInterval(0);
    paint(probe);
    probe.action("actionPreview")->setChecked(true);
    QTextStream out(stdout);
    const QSize size = probe.session().size();
    for (int batch = 0; batch < 2000; ++batch) {
        probe.action(batch % 3 == 2 ? "actionBackground_Brush" : "actionForeground_Brush")->trigger();
        const QRect dab((batch * 53) % (size.width() - 100), (batch * 37) % (size.height() - 100), 100, 100);
        QMetaObject::invokeMethod(probe.view(), "AnyBrush", Q_ARG(QRect, dab), Q_ARG(bool, true));
        while (probe.brushTimer().isActive() || !probe.brushRects().isEmpty())
            QTest::qWait(1);
        out << "pending " << cutHash(probe) << Qt::endl;
        waitUntilSaved(probe);
        out << "saved" << Qt::endl;
    }
    return 3; // never killed
}

// Whether the process has a file open in `folder` other than its lock: a save being written.
bool writingInto(qint64 pid, const QString &folder)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target.startsWith(folder + QLatin1Char('/')) && !target.endsWith(QLatin1String(".lock")))
            return true;
    }
    return false;
}

QStringList projectFiles()
{
    return QDir(Autosave::folder()).entryList({QStringLiteral("*.peltrix")}, QDir::Files);
}

} // namespace

class TestProject : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void damagedProjectChangesNothing_data();
    void damagedProjectChangesNothing();
    void photoMovedOrChanged_data();
    void photoMovedOrChanged();
    void unsavedWorkIsKept_data();
    void unsavedWorkIsKept();
    void eachWindowHasItsOwnRecoveryFile();
    void killedSessionIsRecovered_data();
    void killedSessionIsRecovered();

private:
    QString file(const QString &name) const { return dir.filePath(name); }
    // A window at 1000 x 800 with `photo` open and painted.
    std::unique_ptr<MainWindow> paintedWindow(const QString &photo);

    QTemporaryDir dir;
    QString photoA;
    QString photoB;
};

void TestProject::initTestCase()
{
    isolateSettings();
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    QVERIFY(dir.isValid());
    photoA = file(QStringLiteral("a.png"));
    photoB = file(QStringLiteral("b.png"));
    QVERIFY(photoOf(160, 120, 1).save(photoA));
    QVERIFY(photoOf(120, 90, 2).save(photoB));
}

std::unique_ptr<MainWindow> TestProject::paintedWindow(const QString &photo)
{
    auto window = std::make_unique<MainWindow>();
    MainWindowProbe probe(*window);
    if (!showWithPicture(*window, probe, photo))
        return nullptr;
    paint(probe);
    return window;
}

void TestProject::damagedProjectChangesNothing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");

    CutProject project;
    project.photoPath = photoA;
    project.photoSha256 = fileSha256(photoA);
    project.photoSize = QSize(160, 120);
    project.dabs = {{true, QRectF(60.5, 50, 6, 6)}, {false, QRectF(3, 4, 9, 9)}, MarkerDab::edgeDab(QRectF(20, 30, 12, 12))};
    project.isolation = IsolationMethod::Precise;
    project.preview = true;
    project.edits.area = QRect(3, 4, 5, 6);
    project.edits.alpha = QImage(5, 6, QImage::Format_Grayscale8);
    project.edits.alpha.fill(77);
    const QByteArray valid = projectJson(project);
    QVERIFY(valid.contains("\"version\": 1,") && valid.contains("\"x\": 3, \"y\": 4"));
    CutProject read;
    QString error;
    QVERIFY2(readProject(valid, read, error), qPrintable(error));
    QCOMPARE(read.dabs, project.dabs); // every kind of dab comes back as itself
    QCOMPARE(read.isolation, project.isolation);
    const auto changed = [&](const char *from, const char *to) {
        QByteArray bytes = valid;
        return bytes.replace(from, to);
    };
    const qsizetype png = valid.indexOf("\"alphaPng\": \"") + 13;
    const qsizetype pngEnd = valid.indexOf('"', png); // the pixels lie just before the end chunk

    QTest::newRow("empty") << QByteArray() << "not a project";
    QTest::newRow("truncated") << valid.left(valid.size() / 2) << "not a project";
    QTest::newRow("another file") << QByteArray("{\"format\": \"something else\"}") << "not a project";
    QTest::newRow("newer version") << changed("\"version\": 1,", "\"version\": 2,") << "newer version";
    QTest::newRow("checksum") << changed(project.photoSha256, "12ab") << "photo.sha256";
    QTest::newRow("photo too large") << changed("\"width\": 160", "\"width\": 10000000") << "photo: ";
    QTest::newRow("number as text") << changed("\"gaussSize\": 5", "\"gaussSize\": \"5\"") << "settings.gaussSize";
    QTest::newRow("unknown method") << changed("\"isolation\": \"precise\"", "\"isolation\": \"magic\"") << "settings.isolation";
    QTest::newRow("dab size") << changed("50, 6]", "50, 600]") << "dabs[0] SIZE";
    QTest::newRow("dab kind") << changed("\"remove\"", "\"erase\"") << "dabs[1]";
    QTest::newRow("edits off the photo") << changed("\"x\": 3, \"y\": 4", "\"x\": 158, \"y\": 4") << "brushEdits.width";
    QTest::newRow("edits without preview") << changed("\"view\": \"preview\"", "\"view\": \"markers\"") << "brushEdits";
    QTest::newRow("not base64") << QByteArray(valid).insert(png, "*") << "brushEdits.alphaPng";
    QTest::newRow("damaged picture") << QByteArray(valid).replace(pngEnd - 36, 8, "AAAAAAAA") << "brushEdits.alphaPng";
}

void TestProject::damagedProjectChangesNothing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);

    std::unique_ptr<MainWindow> window = paintedWindow(photoB);
    QVERIFY(window);
    MainWindowProbe probe(*window);
    const QList<MarkerDab> dabs = probe.session().dabs();
    const int steps = probe.undoStack().count();
    const QString title = window->windowTitle();
    QVERIFY(!dabs.isEmpty());

    const QString path = file(QStringLiteral("damaged.peltrix"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
    out.close();
    answerFileDialog(path);
    probe.action("actionOpenProject")->trigger();
    QVERIFY2(probe.status().startsWith(QLatin1String("Could not open the project damaged.peltrix: "))
                 && probe.status().contains(reason),
             qPrintable(probe.status()));
    QCOMPARE(probe.session().photoPath(), photoB);
    QCOMPARE(probe.session().dabs(), dabs);
    QCOMPARE(probe.markers().count(), dabs.size());
    QCOMPARE(probe.undoStack().count(), steps);
    QCOMPARE(window->windowTitle(), title);
}

// A project whose photo moved is found beside the project or asked for; a changed photo is
// said, and its dabs are placed only when the user agrees.
void TestProject::photoMovedOrChanged_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<QString>("status");

    QTest::newRow("moved beside the project") << "beside" << true << "Opened the project";
    QTest::newRow("moved, shown by the user") << "located" << true << "Opened the project";
    QTest::newRow("changed, dabs placed") << "changed-yes" << true << "has changed: its dabs were placed";
    QTest::newRow("changed, declined") << "changed-no" << false << "nothing was changed";
}

void TestProject::photoMovedOrChanged()
{
    QFETCH(QString, situation);
    QFETCH(bool, opened);
    QFETCH(QString, status);

    QTemporaryDir folder(file(QStringLiteral("moved-XXXXXX")));
    const QString photo = folder.filePath(QStringLiteral("photo.png"));
    QVERIFY(QFile::copy(photoA, photo));
    CutProject project;
    project.photoPath = photo;
    project.photoSha256 = fileSha256(photo);
    project.photoSize = QSize(160, 120);
    project.dabs = {{true, QRectF(70, 55, 8, 8)}, {false, QRectF(5, 5, 9, 9)}};
    QString projectPath = folder.filePath(QStringLiteral("cut.peltrix"));
    if (situation == QLatin1String("beside")) {
        QDir(folder.path()).mkdir(QStringLiteral("moved"));
        projectPath = folder.filePath(QStringLiteral("moved/cut.peltrix"));
        QVERIFY(QFile::rename(photo, folder.filePath(QStringLiteral("moved/photo.png"))));
    } else if (situation == QLatin1String("located")) {
        QVERIFY(QFile::rename(photo, folder.filePath(QStringLiteral("elsewhere.png"))));
        answerFileDialog(folder.filePath(QStringLiteral("elsewhere.png")));
    } else {
        QVERIFY(QFile::remove(photo) && QFile::copy(photoB, photo));
        const bool yes = situation == QLatin1String("changed-yes");
        whenModal<QMessageBox>([yes](QMessageBox *box) { box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click(); });
    }
    QVERIFY(writeProjectFile(projectPath, project));

    std::unique_ptr<MainWindow> window = paintedWindow(photoB);
    QVERIFY(window);
    MainWindowProbe probe(*window);
    const QList<MarkerDab> before = probe.session().dabs();
    QCOMPARE(window->openProject(projectPath), opened);
    QVERIFY2(probe.status().contains(status), qPrintable(probe.status()));
    QCOMPARE(probe.session().dabs(), opened ? project.dabs : before);
    if (!opened)
        QCOMPARE(probe.session().photoPath(), photoB);
}

// Opening another photo, quitting or closing keeps the unsaved cut in a project of its own
// without a question, and the status bar says where.
void TestProject::unsavedWorkIsKept_data()
{
    QTest::addColumn<QString>("how");

    QTest::newRow("open another photo") << "open";
    QTest::newRow("quit") << "quit";
    QTest::newRow("close the window") << "close";
}

void TestProject::unsavedWorkIsKept()
{
    QFETCH(QString, how);

    std::unique_ptr<MainWindow> window = paintedWindow(photoA);
    QVERIFY(window);
    MainWindowProbe probe(*window);
    const QList<MarkerDab> painted = probe.session().dabs();
    if (how == QLatin1String("open")) {
        answerFileDialog(photoB);
        probe.action("actionOpen")->trigger();
        QCOMPARE(probe.session().photoPath(), photoB);
    } else if (how == QLatin1String("quit")) {
        probe.action("actionQuit")->trigger();
    } else {
        QVERIFY(window->close());
    }
    const QString prefix = QStringLiteral("The cut of a.png was kept in ");
    QVERIFY2(probe.status().startsWith(prefix), qPrintable(probe.status()));
    const QString kept = probe.status().mid(prefix.size());
    QVERIFY(kept.startsWith(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)));

    // Open Recent brings it back.
    MainWindow fresh;
    MainWindowProbe reopened(fresh);
    QMenu *recent = reopened.menu("menuRecent");
    emit reopened.menu("menuFile")->aboutToShow();
    QAction *entry = nullptr;
    for (QAction *action : recent->actions())
        if (action->toolTip() == QDir::toNativeSeparators(kept))
            entry = action;
    QVERIFY(entry && entry->isEnabled());
    entry->trigger();
    QVERIFY2(reopened.status().startsWith(QLatin1String("Opened the project")), qPrintable(reopened.status()));
    QCOMPARE(reopened.session().photoPath(), photoA);
    QCOMPARE(reopened.session().dabs(), painted);
}

// Two windows write two files; a live window's file is never offered, one left behind is, and
// declining removes it.
void TestProject::eachWindowHasItsOwnRecoveryFile()
{
    std::unique_ptr<MainWindow> first = paintedWindow(photoA);
    std::unique_ptr<MainWindow> second = paintedWindow(photoB);
    QVERIFY(first && second);
    MainWindowProbe firstProbe(*first);
    MainWindowProbe secondProbe(*second);
    firstProbe.autosave().flush();
    secondProbe.autosave().flush();
    QStringList written;
    for (const QString &name : projectFiles()) {
        CutProject project;
        QString error;
        QVERIFY2(readProjectFile(QDir(Autosave::folder()).filePath(name), project, error), qPrintable(error));
        written << project.photoPath;
    }
    written.sort();
    QCOMPARE(written, QStringList({photoA, photoB}));

    MainWindow starting;
    {
        MessageBoxAnswerer none;
        starting.offerRecovery();
        QCOMPARE(none.texts, QStringList());
    }
    const QString left = QFileInfo(firstProbe.autosave().fileName()).fileName();
    firstProbe.autosave().keepFileOnExit();
    first.reset();
    whenModal<QMessageBox>([](QMessageBox *box) {
        QVERIFY(box->text().startsWith(QLatin1String("Restore the cut of a.png from ")));
        box->button(QMessageBox::No)->click();
    });
    starting.offerRecovery();
    QVERIFY(!projectFiles().contains(left));
    QCOMPARE(projectFiles(), QStringList{QFileInfo(secondProbe.autosave().fileName()).fileName()});
    second.reset();
    QCOMPARE(projectFiles(), QStringList());
}

void TestProject::killedSessionIsRecovered_data()
{
    QTest::addColumn<bool>("duringWrite");

    QTest::newRow("killed while painting") << false;
    QTest::newRow("killed while writing") << true;
}

void TestProject::killedSessionIsRecovered()
{
    QFETCH(bool, duringWrite);

    QTemporaryDir home(file(QStringLiteral("killed-XXXXXX")));
    const QString photo = home.filePath(QStringLiteral("photo.png"));
    QVERIFY(photoOf(640, 480, 3).save(photo));
    const QByteArray ownData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    const auto restoreData = qScopeGuard([ownData] { qputenv("XDG_DATA_HOME", ownData); });
    const QString folder = Autosave::folder();

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--paint-until-killed"), photo});
    QVERIFY(child.waitForStarted());

    QByteArray lastPending;
    QByteArray lastSaved;
    int saves = 0;
    bool killed = false;
    const auto readLines = [&] {
        bool pendingNow = false;
        while (child.canReadLine()) {
            const QByteArray line = child.readLine().trimmed();
            pendingNow = line.startsWith("pending ");
            if (pendingNow) {
                lastPending = line.mid(8);
            } else if (line == "saved") {
                lastSaved = lastPending;
                ++saves;
            }
        }
        return pendingNow;
    };
    QDeadlineTimer deadline(std::chrono::minutes(5));
    while (!killed && !deadline.hasExpired() && child.state() == QProcess::Running) {
        child.waitForReadyRead(1);
        const bool justPainted = readLines();
        if (saves >= 3 && (duringWrite ? writingInto(child.processId(), folder) : justPainted)) {
            ::kill(pid_t(child.processId()), SIGKILL);
            killed = true;
        }
    }
    QVERIFY2(killed, "the painting session was not killed in time");
    QVERIFY(child.waitForFinished());
    readLines();
    QVERIFY(!lastSaved.isEmpty());

    MainWindow window;
    MainWindowProbe probe(window);
    window.resize(1000, 800);
    window.show();
    MessageBoxAnswerer yes;
    window.offerRecovery();
    QCOMPARE(yes.texts.size(), 1);
    QVERIFY2(yes.texts.first().startsWith(QLatin1String("Restore the cut of photo.png from ")), qPrintable(yes.texts.first()));
    QVERIFY(probe.action("actionPreview")->isChecked());
    const QByteArray restored = cutHash(probe);
    QVERIFY2(restored == lastSaved || restored == lastPending, "the restored cut is not one that was saved");
    // Nothing half-written lies about: the file taken over and its lock.
    const QString id = QFileInfo(probe.autosave().fileName()).completeBaseName();
    QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    left.sort();
    QVERIFY2(left == QStringList({id + QStringLiteral(".lock"), id + QStringLiteral(".peltrix")}),
             qPrintable(left.join(QLatin1Char(' '))));
}

int main(int argc, char *argv[])
{
    if (argc == 3 && QByteArray(argv[1]) == "--paint-until-killed") {
        QApplication app(argc, argv);
        return paintUntilKilled(QString::fromLocal8Bit(argv[2]));
    }
    QApplication app(argc, argv);
    TestProject test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_project.moc"
