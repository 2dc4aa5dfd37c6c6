// One brush batch on cut-outs of two sizes, and the memory of a full undo history.
#include <QApplication>
#include <QGraphicsPixmapItem>

#include <cstdio>

#include "bench/benchsupport.h"
#include "mainwindowprobe.h"
#include "bench/windowbench.h"

namespace {

QImage benchCutout(double megapixels)
{
    QImage cutout = benchPhoto(megapixels);
    for (int y = 0; y < cutout.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(cutout.scanLine(y));
        for (int x = 0; x < cutout.width(); ++x)
            line[x] = (line[x] & RGB_MASK) | (QRgb((x ^ y) & 0xFF) << 24);
    }
    return cutout;
}

// The preview as switching it on leaves it.
void showCutout(MainWindowProbe &probe, QImage cutout)
{
    probe.undoStack().clear();
    probe.session().cutout() = QImage();
    probe.showCutout(cutout, QPoint(0, 0), QImage());
}

// Ten dabs of a size-30 brush along a short stroke starting at `start`.
void brushBatch(MainWindow &window, MainWindowProbe &probe, QPoint start)
{
    QList<QRect> dabs;
    for (int i = 0; i < 10; ++i)
        dabs.append(QRect(start + QPoint(6 * i, 2 * i), QSize(30, 30)));
    probe.brushRects() = dabs;
    QMetaObject::invokeMethod(&window, "on_ProcessBrushMouseEvent");
}

double batchMs(MainWindow &window, MainWindowProbe &probe)
{
    const QPoint centre = probe.session().cutout().rect().center();
    int run = 0;
    brushBatch(window, probe, centre); // warm-up
    return medianMs(5, [&] { brushBatch(window, probe, centre + QPoint(0, 40 * ++run)); });
}

} // namespace

int main(int argc, char **argv)
{
    WindowBenchApplication app(argc, argv);

    if (benchPhoto(0.01).isNull()) {
        std::fprintf(stderr, "missing %s (Debian package mate-backgrounds)\n", benchPhotoPath());
        return 1;
    }

    MainWindow window;
    MainWindowProbe probe(window);
    QAction *brush = probe.action("actionForeground_Brush");
    brush->setEnabled(true);
    brush->setChecked(true);

    showCutout(probe, benchCutout(1));
    const double small = batchMs(window, probe);
    showCutout(probe, benchCutout(24));
    const QSize large = probe.session().cutout().size();
    const double big = batchMs(window, probe);
    const double rebuild = medianMs(5, [&] { (void)QPixmap::fromImage(probe.session().cutout()); });

    std::printf("one batch of ten size-30 dabs, median of 5:\n");
    std::printf("  1 MP cut-out:  %8.3f ms\n", small);
    std::printf("  24 MP cut-out: %8.3f ms (%dx%d)\n", big, large.width(), large.height());
    std::printf("  ratio 24 MP / 1 MP: %.2f (target <= 2)\n", big / small);
    std::printf("  (for scale: one whole 24 MP pixmap conversion takes %.1f ms)\n", rebuild);

    probe.undoStack().clear();
    resetPeakResident();
    const qint64 before = peakResidentBytes();
    const QPoint origin(200, 200);
    for (int i = 0; i < 200; ++i) {
        const QPoint at = origin + QPoint((i % 20) * 250, (i / 20) * 250);
        brushBatch(window, probe, at);
    }
    const qint64 after = peakResidentBytes();
    std::printf("200 batches on the 24 MP cut-out (%d undo steps):\n", probe.undoStack().count());
    std::printf("  peak resident %.1f MB -> %.1f MB, rise %.3f MB = %.2f %% (target < 5 %%)\n",
                before / 1e6, after / 1e6, (after - before) / 1e6, 100.0 * (after - before) / before);
    return 0;
}
