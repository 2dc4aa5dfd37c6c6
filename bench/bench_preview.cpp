// Switching the preview on for the 24-megapixel photo: everything after the isolation run
// (matte, blur, cut-out, the two pixmaps, the scene) against fresh copies of the picture.
#include <QApplication>
#include <QElapsedTimer>
#include <QGraphicsEllipseItem>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "bench/benchsupport.h"
#include "mainwindowprobe.h"
#include "output/matte.h"
#include "bench/windowbench.h"

namespace {

volatile uchar sink = 0;

// Allocates W x H x 4 bytes and copies the picture into them, page faults included.
double freshCopyMs(const QImage &photo)
{
    const size_t bytes = size_t(photo.sizeInBytes());
    return medianMs(5, [&] {
        std::unique_ptr<uchar[]> copy(new uchar[bytes]);
        std::memcpy(copy.get(), photo.constBits(), bytes);
        sink = sink + copy[bytes / 2];
    });
}

// The state the preview command finds after its isolation run: no cut-out, no preview items,
// no matte.
void freshPreviewState(MainWindowProbe &probe)
{
    probe.previewScene().clear();
    probe.backgroundItem() = nullptr;
    probe.session().dropCutout();
    probe.session().setSmoothing(!probe.tools().smoothEdges, probe.tools().gaussSize); // makes the matte stale
}

} // namespace

int main(int argc, char **argv)
{
    WindowBenchApplication app(argc, argv);

    const QImage photo = benchPhoto(24);
    if (photo.isNull()) {
        std::fprintf(stderr, "missing %s (Debian package mate-backgrounds)\n", benchPhotoPath());
        return 1;
    }
    // BMP: lossless and quick to write and read back.
    const QString path = app.scratchFile(QStringLiteral("photo.bmp"));
    if (!photo.save(path, "BMP")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }

    MainWindow window;
    MainWindowProbe probe(window);
    window.resize(1000, 700);
    window.show();
    if (!probe.load(path)) {
        std::fprintf(stderr, "the window could not open %s\n", qPrintable(path));
        return 1;
    }
    const int W = probe.session().photo().width();
    const int H = probe.session().photo().height();

    // The benchmark strokes as the canvas leaves them, oldest first.
    const QList<MarkerDab> newestFirst = benchStrokes(QSize(W, H));
    for (auto it = newestFirst.crbegin(); it != newestFirst.crend(); ++it)
        probe.markers().add(*it);
    QElapsedTimer isolation;
    isolation.start();
    probe.isolateObject();
    const double isolationMs = isolation.nsecsElapsed() / 1e6;
    const QList<qint32> keep = probe.session().keepPixels();

    const double copyMs = freshCopyMs(probe.session().photo());
    // Each run starts from a fresh state; only the two calls are timed.
    QList<double> times;
    for (int run = 0; run < 5; ++run) {
        freshPreviewState(probe);
        QElapsedTimer timer;
        timer.start();
        probe.buildMatteImage();
        probe.showPreview();
        times.append(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    const double previewMs = times.at(2);
    const double matteOnlyMs = medianMs(5, [&] {
        freshPreviewState(probe);
        probe.buildMatteImage();
    });
    const double showOnlyMs = medianMs(5, [&] {
        probe.session().cutout() = QImage();
        probe.showPreview();
    });

    // Where showPreview's time goes: the same steps on the same data, one by one.
    const QImage matte = probe.session().matte();
    QImage cutout;
    const double cutoutMs = medianMs(5, [&] { cutout = buildCutout(probe.session().photo(), matte); });
    const double objectPixmapMs = medianMs(5, [&] { (void)QPixmap::fromImage(cutout); });
    QImage board;
    const double boardMs = medianMs(5, [&] {
        board = QImage(QStringLiteral(":/icons/chessbackground.png"))
                    .scaled(W, H, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                    .convertToFormat(QImage::Format_ARGB32);
    });
    const double boardPixmapMs = medianMs(5, [&] { (void)QPixmap::fromImage(board); });

    std::printf("preview on, %dx%d (%.1f MP), %lld keep pixels from %lld dabs\n", W, H,
                W * double(H) / 1e6, qint64(keep.size()), qint64(newestFirst.size()));
    std::printf("  isolation run (not counted):             %9.1f ms\n", isolationMs);
    std::printf("  fresh copy, median of 5:                 %9.1f ms\n", copyMs);
    std::printf("  buildMatteImage + showPreview, median 5: %9.1f ms\n", previewMs);
    std::printf("    buildMatteImage alone:                 %9.1f ms\n", matteOnlyMs);
    std::printf("    showPreview alone:                     %9.1f ms\n", showOnlyMs);
    std::printf("      cut-out %.1f, object pixmap %.1f, chessboard %.1f, background pixmap %.1f ms\n",
                cutoutMs, objectPixmapMs, boardMs, boardPixmapMs);
    std::printf("  ratio to a fresh copy: %.2f (target <= 15)\n", previewMs / copyMs);
    return 0;
}
