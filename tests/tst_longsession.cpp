// A long session leaves memory where a short one does: dabs placed and erased, brush batches
// and preview switches, beyond what the undo limit keeps, cost nothing once they are gone,
// and no undo file outlives the window.
//
// ctest runs 1 000 dabs, 400 erasures, 100 brush batches and 50 preview switches against
// 50 of each; PELTRIX_LONG_SESSION=full runs 5 000, 2 000, 500 and 50.
#include <QTemporaryDir>
#include <QtTest>

#include <malloc.h>

#include "mainwindowprobe.h"
#include "testsupport.h"

#if defined(__SANITIZE_ADDRESS__)
#define PELTRIX_HEAP_COUNTED 0 // the sanitizer's allocator keeps its own books
#else
#define PELTRIX_HEAP_COUNTED 1
#endif

namespace {

// Each cycle places its dabs in one cluster, erases them, and switches the preview on and
// off with brush batches in between: every cycle ends where it started.
struct Workload
{
    int cycles;
    int dabsPerCycle;
    int erasuresPerCycle;
    int batchesPerCycle;
    int dabs() const { return cycles * dabsPerCycle; }
    int erasures() const { return cycles * erasuresPerCycle; }
    int batches() const { return cycles * batchesPerCycle; }
    int switches() const { return cycles * 2; }
};

qint64 heapInUse()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return qint64(mallinfo2().uordblks);
}

int filesIn(const QString &folder)
{
    return int(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).size());
}

} // namespace

class TestLongSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void memoryStaysFlat();

private:
    void run(const Workload &work);

    QTemporaryDir folder;
    QTemporaryDir temporary;
    MainWindow *window = nullptr;
    MainWindowProbe *probe = nullptr;
};

void TestLongSession::initTestCase()
{
    isolateSettings();
    QVERIFY(folder.isValid() && temporary.isValid());
    qputenv("TMPDIR", QFile::encodeName(temporary.path()));
}

void TestLongSession::run(const Workload &work)
{
    QWidget *port = probe->view()->viewport();
    const auto at = [&](QPointF scene) { return probe->view()->mapFromScene(scene); };
    const QPoint cluster = at(QPointF(160, 100));
    for (int cycle = 0; cycle < work.cycles; ++cycle) {
        probe->action(cycle % 2 ? "action_Remove_Marker" : "actionKeep_arker")->setChecked(true);
        QTest::mousePress(port, Qt::LeftButton, Qt::NoModifier, cluster);
        for (int i = 0; i < work.dabsPerCycle; ++i)
            QTest::mouseMove(port, cluster + QPoint(i % 2, 0));
        QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, cluster);
        QCOMPARE(probe->session().dabCount(), work.dabsPerCycle);
        probe->action("actionEraser")->setChecked(true);
        for (int i = 0; i < work.erasuresPerCycle; ++i)
            QTest::mouseClick(port, Qt::LeftButton, Qt::NoModifier, cluster);
        QCOMPARE(probe->session().dabCount(), 0);

        // Something to cut: one keep dab and one remove dab, placed and taken back by undo.
        probe->markers().add({true, QRectF(150, 90, 20, 20)});
        probe->markers().add({false, QRectF(10, 10, 20, 20)});
        probe->action("actionPreview")->setChecked(true);
        probe->action(cycle % 2 ? "actionBackground_Brush" : "actionForeground_Brush")->setChecked(true);
        for (int i = 0; i < work.batchesPerCycle; ++i) {
            QTest::mouseClick(port, Qt::LeftButton, Qt::NoModifier, at(QPointF(40 + (i * 37) % 240, 30 + (i * 23) % 140)));
            QTRY_VERIFY(!probe->brushTimer().isActive());
        }
        probe->action("actionPreview")->setChecked(false);
        probe->markers().clear();
        // Each dab and each batch was an undo step (every run starts with an empty history).
        if (cycle == 0)
            QCOMPARE(probe->undoStack().count(), qMin(200, work.dabsPerCycle + work.batchesPerCycle));
    }
    QVERIFY(probe->undoStack().count() <= 200);
    QVERIFY(filesIn(temporary.path()) <= 200);
}

void TestLongSession::memoryStaysFlat()
{
    const bool full = qEnvironmentVariable("PELTRIX_LONG_SESSION") == QLatin1String("full");
    const Workload shortRun{25, 2, 2, 2};
    const Workload longRun = full ? Workload{25, 200, 80, 20} : Workload{25, 40, 16, 4};

    const QString photo = folder.filePath(QStringLiteral("photo.png"));
    QImage picture(320, 200, QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb((x * 7) & 0xFF, (y * 11) & 0xFF, (x * y) & 0xFF));
    QVERIFY(picture.save(photo));

    window = new MainWindow;
    probe = new MainWindowProbe(*window);
    window->resize(900, 700);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(probe->load(photo));

    run({2, 2, 2, 2}); // the toolkit's caches and the first undo files
    probe->undoStack().clear();
    const qint64 start = heapInUse();
    run(shortRun);
    const qint64 afterShortKept = heapInUse();
    probe->undoStack().clear();
    const qint64 afterShort = heapInUse();

    QElapsedTimer clock;
    clock.start();
    run(longRun);
    const double seconds = clock.elapsed() / 1000.0;
    const qint64 afterLongKept = heapInUse();
    probe->undoStack().clear();
    const qint64 afterLong = heapInUse();

    qInfo("long session: %d dabs, %d erasures, %d brush batches, %d preview switches in %.1f s",
          longRun.dabs(), longRun.erasures(), longRun.batches(), longRun.switches(), seconds);
    qInfo("heap in use after the warm-up: %.2f MB", start / 1e6);
    qInfo("  after 50 of each:   %+.3f MB, %+.3f MB with its undo history",
          (afterShort - start) / 1e6, (afterShortKept - start) / 1e6);
    qInfo("  after the long run: %+.3f MB, %+.3f MB with its undo history (%d steps)",
          (afterLong - start) / 1e6, (afterLongKept - start) / 1e6, 200);

    delete probe;
    delete window;
    probe = nullptr;
    window = nullptr;
    QCOMPARE(filesIn(temporary.path()), 0);
#if PELTRIX_HEAP_COUNTED
    // Allocator slack aside, the long run keeps nothing that the short one did not.
    QVERIFY2(afterLong - afterShort < 256 * 1024,
             qPrintable(QStringLiteral("%1 bytes more after the long run").arg(afterLong - afterShort)));
#endif
}

QTEST_MAIN(TestLongSession)
#include "tst_longsession.moc"
