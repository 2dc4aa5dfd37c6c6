// The autosave on a 24-megapixel photo, for a cut without brush edits, with a small brush edit
// and with edits over most of the photo: what one save costs on the window's thread (the
// snapshot), what it costs off it (encoding and writing the recovery file), the file's size,
// and the longest the window's event loop went without a turn while the save ran (painting
// the canvas included).
//
//   bench_autosave [--megapixels N] [--saves N]
#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

#include "bench/benchsupport.h"
#include "bench/windowbench.h"
#include "mainwindowprobe.h"

namespace {

struct Save
{
    double snapshotMs = 0;
    double writeMs = 0;
    double bytes = 0;
    double longestTurnMs = 0;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

// Lets the autosave run to the end, turning the event loop every millisecond as the window
// would, and keeps the longest turn.
Save waitForSave(MainWindowProbe &probe)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    while (probe.autosave().pending()) {
        QTest::qWait(1);
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    }
    const Autosave::Cost cost = probe.autosave().lastCost();
    return {cost.captureNs / 1e6, cost.writeNs / 1e6, double(cost.bytes), longest / 1e6};
}

void report(const char *name, const QList<Save> &saves)
{
    QList<double> snapshot, write, bytes, turn;
    for (const Save &save : saves) {
        snapshot << save.snapshotMs;
        write << save.writeMs;
        bytes << save.bytes;
        turn << save.longestTurnMs;
    }
    std::printf("  %-34s %8.2f ms %9.1f ms %10.1f KiB %9.1f ms\n", name, median(snapshot), median(write),
                median(bytes) / 1024, median(turn));
}

} // namespace

int main(int argc, char **argv)
{
    WindowBenchApplication app(argc, argv);

    double megapixels = 24;
    int count = 5;
    const QStringList arguments = QCoreApplication::arguments();
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--megapixels"))
            megapixels = arguments[++i].toDouble();
        else if (arguments[i] == QLatin1String("--saves"))
            count = std::max(1, arguments[++i].toInt());
    }

    const QImage photo = noisyBenchPhoto(megapixels);
    if (photo.isNull()) {
        std::fprintf(stderr, "missing %s (Debian package mate-backgrounds) or ImageMagick\n", benchPhotoPath());
        return 1;
    }
    const QString path = app.scratchFile(QStringLiteral("photo.jpg"));
    if (!photo.save(path, "JPEG", 95)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }

    MainWindow window;
    MainWindowProbe probe(window);
    window.resize(1200, 800);
    window.show();
    probe.load(path);
    QList<MarkerDab> drawingOrder = benchStrokes(photo.size());
    std::reverse(drawingOrder.begin(), drawingOrder.end());
    // One save per change, however close together: each is measured on its own.
    probe.autosave().setInterval(0);

    std::printf("autosave, noisy photo %dx%d (%.1f MP), %lld dabs, median of %d saves\n", photo.width(),
                photo.height(), photo.width() * double(photo.height()) / 1e6, qint64(drawingOrder.size()), count);
    std::printf("  %-34s %11s %12s %14s %12s\n", "", "snapshot", "write", "file", "longest turn");
    std::printf("  %-34s %11s %12s %14s %12s\n", "", "(window)", "(off it)", "", "of the window");

    QList<Save> saves;
    for (int i = 0; i < count; ++i) {
        probe.document().placeDabs(drawingOrder);
        saves << waitForSave(probe);
    }
    report("markers, no brush edits", saves);

    probe.action("actionPreview")->setChecked(true);
    (void)waitForSave(probe);
    probe.action("actionForeground_Brush")->trigger();
    const auto brush = [&](QRect dab) {
        QMetaObject::invokeMethod(probe.view(), "AnyBrush", Q_ARG(QRect, dab), Q_ARG(bool, true));
        while (probe.brushTimer().isActive() || !probe.brushRects().isEmpty())
            QTest::qWait(1);
        return waitForSave(probe);
    };
    const QPoint centre(photo.width() / 2, photo.height() / 2);
    saves.clear();
    for (int i = 0; i < count; ++i)
        saves << brush(QRect(centre + QPoint(i * 8, 0), QSize(120, 120)));
    report("preview, one small brush edit", saves);

    // The first save after one batch that spans most of the photo reads all of that at once.
    const QSize most = photo.size() * 0.9;
    report("first save after a batch over most", {brush(QRect(QPoint(photo.width() / 20, photo.height() / 20), most))});
    saves.clear();
    for (int i = 0; i < count; ++i)
        saves << brush(QRect(centre - QPoint(i * 40, 0), QSize(300, 300)));
    report("preview, edits over most of it", saves);
    return 0;
}
