// The window's commands on a 24-megapixel photo, each against the photo's decode time:
// Open (to "Ready"), Mask, Preview after Mask, Export PNG; and the session's peak memory.
// Then how the window answers meanwhile: the longest time its thread was kept from a timer
// ticking every 5 ms during Mask and Preview, and while three strokes of 200 dabs are
// painted with Live Mask on; and the time from the last stroke's release to its overlay
// against Mask on the same dabs.
//
//   bench_window [--megapixels N] [--smooth]
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <cstdio>

#include "bench/benchsupport.h"
#include "mainwindowprobe.h"
#include "modals.h"
#include "gui/exportdialog.h"
#include "output/pictureio.h"
#include "bench/windowbench.h"

namespace {

double elapsedMs(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e6;
}

// Ticks every 5 ms and keeps the longest gap between two ticks: how long the window's thread
// was kept from its events.
class Ticker
{
public:
    Ticker()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        longest = 0;
        clock.start();
        last = 0;
        timer.start(5);
    }
    double stopMs()
    {
        tick();
        timer.stop();
        return longest / 1e6;
    }

private:
    void tick()
    {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    }

    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
};

} // namespace

int main(int argc, char **argv)
{
    WindowBenchApplication app(argc, argv);

    double megapixels = 24;
    bool smooth = false;
    const QStringList arguments = QCoreApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--megapixels") && i + 1 < arguments.size())
            megapixels = arguments[++i].toDouble();
        else if (arguments[i] == QLatin1String("--smooth"))
            smooth = true;
    }

    const QImage photo = smooth ? benchPhoto(megapixels) : noisyBenchPhoto(megapixels);
    if (photo.isNull()) {
        std::fprintf(stderr, "missing %s (Debian package mate-backgrounds)\n", benchPhotoPath());
        return 1;
    }
    // A camera's photo: a JPEG, decoded by the window's Open like any other.
    const QString path = app.scratchFile(QStringLiteral("photo.jpg"));
    if (!photo.save(path, "JPEG", 95)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    const qint64 pixels = qint64(photo.width()) * photo.height();
    const double decodeMs = medianMs(3, [&] { (void)readPicture(path); });

    resetPeakResident();
    const qint64 baseline = peakResidentBytes();
    MainWindow window;
    MainWindowProbe probe(window);
    window.resize(1200, 800);
    window.show();

    const double openMs = elapsedMs([&] { probe.load(path); });
    const QList<MarkerDab> newestFirst = benchStrokes(photo.size());
    for (auto it = newestFirst.crbegin(); it != newestFirst.crend(); ++it)
        probe.markers().add(*it);
    QList<QPair<QString, double>> maskSteps;
    probe.document().setStageTimer([&](const char *step, qint64 ns) { maskSteps.append({QString::fromLatin1(step), ns / 1e6}); });
    Ticker ticker;
    ticker.start();
    const double maskMs = elapsedMs([&] { probe.action("actionMask")->trigger(); });
    const double maskGapMs = ticker.stopMs();
    probe.document().setStageTimer({});
    QList<QPair<QString, double>> previewSteps;
    probe.document().setStageTimer([&](const char *step, qint64 ns) { previewSteps.append({QString::fromLatin1(step), ns / 1e6}); });
    ticker.start();
    const double previewMs = elapsedMs([&] { probe.action("actionPreview")->setChecked(true); });
    const double previewGapMs = ticker.stopMs();
    probe.document().setStageTimer({});

    const QString exported = app.scratchFile(QStringLiteral("export.png"));
    double dialogMs = 0;
    whenModal<ExportDialog>([&](ExportDialog *dialog) {
        QElapsedTimer shown;
        shown.start();
        answerFileDialog(exported);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("pushButton")), Qt::LeftButton);
        dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();
        dialogMs = shown.nsecsElapsed() / 1e6;
    });
    const double exportMs = elapsedMs([&] { probe.action("actionExport")->trigger(); }) - dialogMs;
    const qint64 peak = peakResidentBytes();

    std::printf("window, %s photo %dx%d (%.1f MP), %lld dabs\n", smooth ? "smooth" : "noisy",
                photo.width(), photo.height(), pixels / 1e6, qint64(newestFirst.size()));
    std::printf("  decode (median of 3):   %8.1f ms\n", decodeMs);
    const auto row = [&](const char *name, double ms, double target) {
        std::printf("  %-22s %8.1f ms  %5.2f x decode", name, ms, ms / decodeMs);
        if (target > 0)
            std::printf("  (target <= %.1f)", target);
        std::printf("\n");
    };
    row("Open to Ready", openMs, 0);
    row("Mask", maskMs, 0);
    row("Preview after Mask", previewMs, 1.0);
    row("Export PNG", exportMs, 0);
    std::printf("  session peak %.2f bytes per pixel above the start (target <= 30)\n",
                double(peak - baseline) / pixels);
    std::printf("  status: %s\n", qPrintable(probe.status()));
    std::printf("  longest wait for the window's thread: during Mask %.1f ms, during Preview %.1f ms "
                "(target <= 100)\n", maskGapMs, previewGapMs);

    // Painting with Live Mask on: three strokes of 200 dabs, a mouse move every 5 ms, each
    // stroke begun while the previous one's isolation may still run.
    probe.action("actionPreview")->setChecked(false);
    QSignalSpy overlays(&probe.document(), &CutDocument::liveMaskReady);
    probe.action("actionLiveMask")->setChecked(true);
    overlays.wait(60000);
    overlays.clear();
    OvoGraphicsView *view = probe.view();
    QWidget *port = view->viewport();
    QElapsedTimer sinceRelease;
    ticker.start();
    for (int s = 0; s < 3; ++s) {
        probe.action(s == 1 ? "action_Remove_Marker" : "actionKeep_arker")->trigger();
        const double y = photo.height() * (s == 1 ? 0.12 : 0.45 + 0.05 * s);
        const auto point = [&](int i) {
            return view->mapFromScene(QPointF(photo.width() * (0.35 + 0.3 * i / 199.0), y));
        };
        QTest::mousePress(port, Qt::LeftButton, {}, point(0));
        for (int i = 0; i < 200; ++i) {
            QTest::mouseMove(port, point(i));
            QTest::qWait(5);
        }
        QTest::mouseRelease(port, Qt::LeftButton, {}, point(199));
        sinceRelease.start();
    }
    const quint64 finalMarks = probe.session().marksGeneration();
    while (!probe.session().isIsolationCurrent() || probe.session().marksGeneration() != finalMarks)
        QTest::qWait(1);
    const double liveMs = sinceRelease.nsecsElapsed() / 1e6;
    QTest::qWait(50);
    const double paintGapMs = ticker.stopMs();
    probe.action("actionLiveMask")->setChecked(false);
    // Mask on the same dabs, their isolation made stale by a dab and its undo.
    probe.action("actionKeep_arker")->trigger();
    QTest::mousePress(port, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(port, QPoint(6, 6));
    QTest::mouseRelease(port, Qt::LeftButton, {}, QPoint(6, 6));
    probe.undoStack().undo();
    const double sameMaskMs = elapsedMs([&] { probe.action("actionMask")->trigger(); });
    std::printf("  Live Mask, 3 strokes of 200 dabs (%lld dabs in all):\n", qint64(probe.session().dabCount()));
    std::printf("    longest wait for the window's thread while painting %8.1f ms (target <= 50)\n", paintGapMs);
    std::printf("    last release to its overlay %8.1f ms, Mask on the same dabs %8.1f ms: %.2f x (target <= 1.2)\n",
                liveMs, sameMaskMs, liveMs / sameMaskMs);

    // Where Mask and Preview after Mask went, step by step as the commands took them.
    const auto steps = [](const char *command, double total, const QList<QPair<QString, double>> &list) {
        std::printf("  %s, by step:\n", command);
        double accounted = 0;
        for (const auto &step : list) {
            std::printf("    %-34s %8.1f ms\n", qPrintable(step.first), step.second);
            accounted += step.second;
        }
        std::printf("    %-34s %8.1f ms\n", "not in a step", total - accounted);
    };
    steps("Mask", maskMs, maskSteps);
    steps("Preview after Mask", previewMs, previewSteps);
    return 0;
}
