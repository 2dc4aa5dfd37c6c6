// Matte, smoothing, cut-out and composition against a fresh copy of the picture, and
// composition against encoding.

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QCoreApplication>
#include <QImageWriter>
#include <QMap>

#include <cmath>
#include <cstdio>

#include "bench/benchsupport.h"
#include "output/compose.h"
#include "output/matte.h"

namespace {

volatile quint32 sink = 0;

// An ellipse over about 17 % of the picture with a wavy, ragged outline, listed column by
// column like the isolation result.
QList<qint32> ellipseObject(int W, int H)
{
    QList<qint32> keep;
    const double cx = W * 0.55, cy = H * 0.5, a = W * 0.25, b = H * 0.22;
    for (int x = 0; x < W; ++x) {
        const double dx = (x - cx) / a;
        for (int y = 0; y < H; ++y) {
            const double dy = (y - cy) / b;
            double q = dx * dx + dy * dy;
            if (q > 1.2)
                continue;
            if (q > 0.8) {
                const double wave = 0.06 * std::sin(37 * std::atan2(dy, dx));
                const quint32 hash = quint32(x) * 2654435761u ^ quint32(y) * 2246822519u;
                q -= wave + ((hash >> 13) % 1000) * 0.00004;
            }
            if (q < 1.0)
                keep.append(y * W + x);
        }
    }
    return keep;
}

double freshCopyMs(const QImage &photo)
{
    return medianMs(5, [&] {
        const QImage copy = photo.copy();
        sink = sink + copy.constBits()[copy.sizeInBytes() / 2];
    });
}

QMap<QString, double> medians(const QList<QMap<QString, double>> &runs)
{
    QMap<QString, double> result;
    for (const QString &key : runs.first().keys()) {
        QList<double> values;
        for (const auto &run : runs)
            values.append(run.value(key));
        std::sort(values.begin(), values.end());
        result[key] = values.at(values.size() / 2);
    }
    return result;
}

void previewChain(double megapixels)
{
    const QImage photo = benchPhoto(megapixels);
    if (photo.isNull()) {
        std::printf("no benchmark photo\n");
        return;
    }
    const int W = photo.width(), H = photo.height();
    const QList<qint32> keep = ellipseObject(W, H);
    const double copyMs = freshCopyMs(photo);

    QList<QMap<QString, double>> runs;
    for (int run = 0; run < 5; ++run) {
        QMap<QString, double> times;
        QElapsedTimer total;
        total.start();
        const QImage matte = smoothedMatte(keep, W, H, true, 5, {}, [&](const char *stage, qint64 ns) {
            times[QString::fromLatin1(stage)] = ns / 1e6;
        });
        QElapsedTimer stage;
        stage.start();
        const QImage cutout = buildCutout(photo, matte);
        times["cutout"] = stage.nsecsElapsed() / 1e6;
        stage.restart();
        // Stand-ins for the object and background pixmaps.
        const QImage objectPixmap = cutout.copy();
        const QImage backgroundPixmap = photo.copy();
        times["2 pixmaps"] = stage.nsecsElapsed() / 1e6;
        times["total"] = total.nsecsElapsed() / 1e6;
        sink = sink + objectPixmap.constBits()[0] + backgroundPixmap.constBits()[0];
        runs.append(times);
    }
    const QMap<QString, double> m = medians(runs);
    std::printf("%5.1f MP (%d x %d), object %.1f %%: fresh copy %.1f ms\n", W * double(H) / 1e6, W, H,
                100.0 * keep.size() / (double(W) * H), copyMs);
    for (const char *key : {"matte", "blur", "cutout", "2 pixmaps", "total"})
        std::printf("  %-10s %8.1f ms  %5.2f copies\n", key, m.value(key), m.value(key) / copyMs);
    std::printf("  total / fresh copy = %.2f (target <= 15)\n", m.value("total") / copyMs);

    for (int size : {9, 13}) {
        const QImage matte = buildMatte(keep, W, H);
        const double ms = medianMs(5, [&] {
            QImage smoothed = matte.copy();
            gaussianBlur(matte, smoothed, size, size / 5.0);
        });
        std::printf("  blur size %d: %.1f ms (%.2f copies)\n", size, ms, ms / copyMs);
    }
}

qint64 fileSize(const QString &path) { return QFileInfo(path).size(); }

void exportFigures()
{
    const QImage photo = benchPhoto(24);
    const int W = photo.width(), H = photo.height();
    const QImage cutout = buildCutout(photo, smoothedMatte(ellipseObject(W, H), W, H, true, 5));
    const double copyMs = freshCopyMs(photo);
    std::printf("\n24 MP export (%d x %d), fresh copy %.1f ms\n", W, H, copyMs);

    QImage transparent(W, H, QImage::Format_ARGB32);
    transparent.fill(0x00FFFFFFu);
    QImage opaque(W, H, QImage::Format_ARGB32);
    opaque.fill(0xFF3070C0u);
    QImage composed;
    for (const auto &[name, background] : {std::pair<const char *, const QImage &>{"transparent white", transparent},
                                           {"opaque colour", opaque},
                                           {"the photo", photo}}) {
        const double ms = medianMs(5, [&] { composed = composeOver(background, cutout, QPoint(40, -25)); });
        QList<QImage> canvases;
        for (int run = 0; run < 5; ++run)
            canvases.append(background.copy());
        int next = 0;
        const double inPlaceMs = medianMs(5, [&] {
            composeOverInPlace(canvases[next++], cutout, QPoint(40, -25));
        });
        std::printf("  compose over %-18s %7.1f ms, in place %6.1f ms\n", name, ms, inPlaceMs);
    }

    const QString jpeg = QDir::temp().filePath(QStringLiteral("bench_matte.jpg"));
    const double jpegMs = medianMs(5, [&] { composed.save(jpeg, "JPG", 100); });
    std::printf("  save JPEG quality 100     %7.1f ms  %6.1f MB\n", jpegMs, fileSize(jpeg) / 1e6);
    QFile::remove(jpeg);

    // Qt maps PNG "quality" q to zlib level ((100 - q) * 9) / 91.
    const QString png = QDir::temp().filePath(QStringLiteral("bench_matte.png"));
    for (const auto &[level, quality] : {std::pair{0, 100}, {1, 89}, {2, 79}, {3, 69}, {6, 39}}) {
        const int runs = level == 6 ? 1 : 3; // level 6 takes tens of seconds here
        const double ms = medianMs(runs, [&] { composed.save(png, "PNG", quality); });
        std::printf("  save PNG zlib level %d (quality %3d) %7.1f ms  %6.1f MB\n", level, quality, ms,
                    fileSize(png) / 1e6);
    }
    QFile::remove(png);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    for (double mp : {1.0, 12.0, 24.0})
        previewChain(mp);
    exportFigures();
    return int(sink & 0);
}
