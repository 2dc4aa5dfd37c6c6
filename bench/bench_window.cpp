// The window's commands on a 24-megapixel photo, each against the photo's decode time:
// Open (to "Ready"), Mask, Preview after Mask, Export PNG; and the session's peak memory.
//
//   bench_window [--megapixels N] [--smooth]
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QPushButton>

#include <cstdio>

#include "bench/benchsupport.h"
#include "mainwindowprobe.h"
#include "modals.h"
#include "output/display.h"
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
    const double maskMs = elapsedMs([&] { probe.action("actionMask")->trigger(); });
    const double previewMs = elapsedMs([&] { probe.action("actionPreview")->setChecked(true); });

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

    // Where Preview after Mask goes, step by step on the same state.
    CutSession &session = probe.session();
    std::printf("  Preview after Mask, by step (median of 3):\n");
    const auto step = [&](const char *name, const std::function<void()> &work) {
        std::printf("    %-30s %8.1f ms\n", name, medianMs(3, work));
    };
    step("matte (and blur)", [&] {
        session.setSmoothing(!probe.tools().smoothEdges, probe.tools().gaussSize);
        session.buildMatte();
        session.setSmoothing(probe.tools().smoothEdges, probe.tools().gaussSize);
        session.buildMatte();
    });
    step("  of which the other matte", [&] {
        session.setSmoothing(!probe.tools().smoothEdges, probe.tools().gaussSize);
        session.buildMatte();
        session.setSmoothing(probe.tools().smoothEdges, probe.tools().gaussSize);
    });
    step("cut-out", [&] { session.buildCutout(); });
    step("cut-out pixmap", [&] { (void)QPixmap::fromImage(displayCopy(session.cutout())); });
    step("background and its pixmap", [&] { (void)QPixmap::fromImage(session.previewBackground(session.size())); });
    return 0;
}
