// A 100-megapixel photo through peltrix-cut and through the window (offscreen): open,
// isolate, preview, 200 brush batches, export. Each runs in a process of its own, so that its
// peak resident memory is its own; one pixel over the limit ends in the refusal.
//
//   bench_bigpicture [folder]   (default: a temporary folder; needs about 1 GB of disk)
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QImageReader>
#include <QPushButton>
#include <QTemporaryDir>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <vector>

#include "bench/benchsupport.h"
#include "gui/markercommand.h"
#include "isolation/markerinput.h"
#include "mainwindowprobe.h"
#include "modals.h"
#include "gui/exportdialog.h"
#include "output/pictureio.h"
#include "bench/windowbench.h"

extern char **environ;

namespace {

constexpr int brushBatches = 200;
constexpr double cutSecondsTarget = 13.6;
constexpr double cutBytesTarget = 19.9;
constexpr double windowBytesTarget = 29.0;

struct Measured
{
    int exitCode = -1;
    double seconds = 0;
    qint64 peakBytes = 0;
};

// Runs a program to its end; its peak resident size comes from the kernel's own accounts.
Measured runMeasured(const QStringList &arguments)
{
    std::vector<QByteArray> storage;
    for (const QString &argument : arguments)
        storage.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    Measured result;
    QElapsedTimer clock;
    clock.start();
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return result;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child)
        return result;
    result.seconds = clock.nsecsElapsed() / 1e9;
    result.peakBytes = qint64(usage.ru_maxrss) * 1024;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The photo and its strokes, written by a process of their own.
int makePhoto(QSize size, const QString &photo, const QString &markers)
{
    const QImage picture = benchPhoto(size);
    if (picture.isNull()) {
        std::fprintf(stderr, "missing %s (Debian package mate-backgrounds)\n", benchPhotoPath());
        return 1;
    }
    QList<MarkerDab> drawingOrder = benchStrokes(picture.size());
    std::reverse(drawingOrder.begin(), drawingOrder.end());
    QFile file(markers);
    if (!file.open(QIODevice::WriteOnly) || file.write(markerText(drawingOrder).toUtf8()) < 0)
        return 1;
    return picture.save(photo, "JPEG", 92) ? 0 : 1;
}

// The window's part: everything through its commands, as a user would.
int windowRun(const QString &photo, const QString &markersPath, const QString &out)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "bench_bigpicture";
    char *argv[] = {name, nullptr};
    WindowBenchApplication app(argc, argv);

    QList<MarkerDab> drawingOrder;
    QString error;
    if (!readMarkerFile(markersPath, drawingOrder, error))
        return 1;

    MainWindow window;
    MainWindowProbe probe(window);
    window.resize(1000, 800);
    window.show();
    QElapsedTimer clock;
    clock.start();
    const auto lap = [&](const char *stage) {
        const double pixels = double(probe.session().size().width()) * probe.session().size().height();
        std::fprintf(stderr, "  window %-8s %7.1f s, peak so far %5.1f bytes per pixel\n", stage,
                     clock.nsecsElapsed() / 1e9, peakResidentBytes() / pixels);
    };
    window.openFiles({photo});
    if (probe.session().size().isEmpty())
        return 1;
    lap("open");
    // Dabs as the canvas places them, each an undo step.
    for (const MarkerDab &dab : drawingOrder)
        probe.undoStack().push(new CMarkerCommand(probe.markers().weak_from_this(), probe.markers().add(dab)));
    probe.action("actionMask")->trigger();
    lap("mask");
    probe.action("actionPreview")->setChecked(true);
    lap("preview");
    probe.action("actionForeground_Brush")->setChecked(true);
    const QPoint centre = probe.session().cutout().rect().center();
    for (int i = 0; i < brushBatches; ++i) {
        QList<QRect> dabs;
        const QPoint start = centre + QPoint((i % 20) * 300 - 3000, (i / 20) * 300 - 1500);
        for (int d = 0; d < 10; ++d)
            dabs.append(QRect(start + QPoint(6 * d, 2 * d), QSize(60, 60)));
        probe.brushRects() = dabs;
        QMetaObject::invokeMethod(&window, "on_ProcessBrushMouseEvent");
    }
    lap("brushes");
    whenModal<ExportDialog>([out](ExportDialog *dialog) {
        answerFileDialog(out);
        dialog->findChild<QPushButton *>(QStringLiteral("pushButton"))->click();
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    });
    QFile::remove(out); // no question about replacing it
    probe.statusBar()->clearMessage();
    probe.action("actionExport")->trigger();
    lap("export");
    return probe.status().isEmpty() && QFileInfo::exists(out) ? 0 : 1;
}


// Both runs on one photo; returns whether both worked.
bool measure(const QString &self, const QDir &dir, QSize size, const char *what)
{
    const QString name = QStringLiteral("big-%1x%2").arg(size.width()).arg(size.height());
    const QString photo = dir.filePath(name + QStringLiteral(".jpg"));
    const QString markers = dir.filePath(name + QStringLiteral(".txt"));
    if (!QFileInfo::exists(photo) || !QFileInfo::exists(markers)) {
        if (runMeasured({self, QStringLiteral("--make"), QString::number(size.width()),
                         QString::number(size.height()), photo, markers}).exitCode != 0)
            return false;
    }
    const double pixels = double(size.width()) * size.height();
    std::printf("\nphoto %d x %d (%.2f megapixels, JPEG), %s\n", size.width(), size.height(),
                pixels / 1e6, what);
    std::fflush(stdout);

    const Measured cut = runMeasured({QStringLiteral(PELTRIX_CUT_PATH), QStringLiteral("--markers"), markers,
                                      QStringLiteral("-o"), dir.filePath(name + QStringLiteral("-cut.png")), photo});
    std::printf("peltrix-cut: exit %d, %.1f s (target <= %.1f), peak %.0f MB = %.1f bytes per pixel "
                "(target <= %.1f)\n",
                cut.exitCode, cut.seconds, cutSecondsTarget, cut.peakBytes / 1e6, cut.peakBytes / pixels,
                cutBytesTarget);
    std::fflush(stdout);
    const Measured shown = runMeasured({self, QStringLiteral("--window"), photo, markers,
                                        dir.filePath(name + QStringLiteral("-window.png"))});
    std::printf("window:      exit %d, %.1f s, peak %.0f MB = %.1f bytes per pixel (target <= %.1f)\n",
                shown.exitCode, shown.seconds, shown.peakBytes / 1e6, shown.peakBytes / pixels,
                windowBytesTarget);
    std::fflush(stdout);
    return cut.exitCode == 0 && shown.exitCode == 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--window") == 0)
        return windowRun(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                         QString::fromLocal8Bit(argv[4]));
    if (argc == 6 && qstrcmp(argv[1], "--make") == 0)
        return makePhoto(QSize(QByteArray(argv[2]).toInt(), QByteArray(argv[3]).toInt()),
                         QString::fromLocal8Bit(argv[4]), QString::fromLocal8Bit(argv[5]));

    QCoreApplication app(argc, argv);
    QTemporaryDir scratch;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : scratch.path();
    QDir().mkpath(folder);
    const QDir dir(folder);
    const QString self = QCoreApplication::applicationFilePath();
    std::printf("%d brush batches in the window; each run is a process of its own, its peak the "
                "kernel's maximum resident size\n", brushBatches);

    // The export dialog offers at most 9 999 pixels a side: this photo exports at its own size.
    bool worked = measure(self, dir, QSize(9999, 9999), "exported at its own size");
    // A camera's shape: the window exports it 9 999 pixels wide, the background scaled with it.
    worked = measure(self, dir, QSize(12649, 7905), "the window exports it at 9999 x 7905") && worked;

    const QString over = dir.filePath(QStringLiteral("over-limit.bmp"));
    QFile file(over);
    if (file.open(QIODevice::WriteOnly))
        file.write(bmpHeader(17, 5882353)); // one pixel over the limit
    file.close();
    const Measured refused = runMeasured({QStringLiteral(PELTRIX_CUT_PATH), over});
    std::printf("\none pixel over the limit (17 x 5882353): exit %d after %.2f s, peak %.0f MB\n",
                refused.exitCode, refused.seconds, refused.peakBytes / 1e6);
    return worked && refused.exitCode == 1 ? 0 : 1;
}
