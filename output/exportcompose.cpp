#include "output/exportcompose.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

#include <algorithm>
#include <cstring>

#include "analysis/largebuffer.h"
#include "output/compose.h"
#include "output/filesink.h"
#include "output/pngwriter.h"
#include "output/savefile.h"

namespace {

// Truncation toward zero, kept clear of int overflow for absurd offsets or zooms.
int truncated(double value)
{
    return int(std::clamp(value, -1.0e9, 1.0e9));
}

// The background at the export size, as a picture of its own that can be written into. The
// smooth scaling hands back premultiplied pixels; the composition reads straight alpha.
QImage exportBackground(const QImage &background, QSize size)
{
    const QImage straight = background.convertToFormat(QImage::Format_ARGB32);
    if (straight.size() != size)
        return straight.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_ARGB32);
    QImage canvas = LargeBuffer::image(size, QImage::Format_ARGB32);
    if (canvas.isNull())
        return canvas;
    const size_t rowBytes = size_t(size.width()) * 4;
    for (int y = 0; y < size.height(); ++y)
        std::memcpy(canvas.scanLine(y), straight.constScanLine(y), rowBytes);
    return canvas;
}

// The encoded picture written to `file` (opened unbuffered); the reason of a failure is the
// system's where a write failed, the encoder's otherwise.
bool encodeInto(const QImage &image, const QByteArray &format, QFileDevice &file, QString &reason)
{
    FileSink sink(file);
    bool encoded = false;
    if (format == "png") {
        encoded = writePng(image, sink, &reason);
    } else {
        QImageWriter writer(&sink, format);
        writer.setQuality(100);
        encoded = writer.write(image);
        if (!encoded)
            reason = writer.errorString();
    }
    if (encoded && sink.finish())
        return true;
    if (sink.writeFailed())
        reason = sink.errorString();
    return false;
}

QImage scaledCutout(const QImage &cutout, const ExportGeometry &g)
{
    if (g.objectSize.isEmpty())
        return QImage();
    return cutout.scaled(g.objectSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

} // namespace

ExportGeometry exportGeometry(QSize displayedSize, QSize cutoutSize, QPoint offset, QSize size)
{
    ExportGeometry g;
    if (displayedSize.width() <= 0 || displayedSize.height() <= 0 || size.width() <= 0
        || size.height() <= 0)
        return g;
    g.valid = true;
    g.sx = double(size.width()) / displayedSize.width();
    g.sy = double(size.height()) / displayedSize.height();
    g.objectSize = QSize(truncated(cutoutSize.width() * g.sx), truncated(cutoutSize.height() * g.sy));
    g.objectOffset = QPoint(truncated(offset.x() * g.sx), truncated(offset.y() * g.sy));
    const int x0 = std::max(g.objectOffset.x(), 0);
    const int y0 = std::max(g.objectOffset.y(), 0);
    const int x1 = std::min(g.objectOffset.x() + g.objectSize.width(), size.width());
    const int y1 = std::min(g.objectOffset.y() + g.objectSize.height(), size.height());
    g.overlap = QRect(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1));
    return g;
}

static void reportStage(const StageTimer &stageTimer, const char *stage, QElapsedTimer &clock)
{
    if (stageTimer)
        stageTimer(stage, clock.nsecsElapsed());
    clock.restart();
}

QImage composeExport(const QImage &background, QSize displayedSize, const QImage &cutout,
                     QPoint offset, QSize size, const StageTimer &stageTimer)
{
    const ExportGeometry g = exportGeometry(displayedSize, cutout.size(), offset, size);
    if (!g.valid || background.isNull() || cutout.isNull())
        return QImage();
    QElapsedTimer clock;
    clock.start();
    QImage canvas = exportBackground(background, size);
    if (canvas.isNull())
        return canvas;
    const QImage object = scaledCutout(cutout, g);
    reportStage(stageTimer, "scale", clock);
    composeOverInPlace(canvas, object, g.objectOffset);
    reportStage(stageTimer, "compose", clock);
    return canvas;
}

QImage composeExport(QRgb colour, QSize backgroundSize, QSize displayedSize, const QImage &cutout,
                     QPoint offset, QSize size, const StageTimer &stageTimer)
{
    const ExportGeometry g = exportGeometry(displayedSize, cutout.size(), offset, size);
    if (!g.valid || backgroundSize.isEmpty() || cutout.isNull())
        return QImage();
    if (backgroundSize != size) {
        // Scaling changes the colour where it is see-through (premultiplied on the way).
        QImage background(backgroundSize, QImage::Format_ARGB32);
        if (background.isNull())
            return QImage();
        background.fill(colour);
        return composeExport(background, displayedSize, cutout, offset, size, stageTimer);
    }
    QElapsedTimer clock;
    clock.start();
    QImage canvas = LargeBuffer::image(size, QImage::Format_ARGB32);
    if (canvas.isNull())
        return canvas;
    const QImage object = scaledCutout(cutout, g);
    reportStage(stageTimer, "scale", clock);
    fillAndComposeOver(canvas, colour, object, g.objectOffset);
    reportStage(stageTimer, "compose", clock);
    return canvas;
}

const QList<ExportFormat> &exportFormats()
{
    static const QList<ExportFormat> formats{
        {QByteArrayLiteral("jpeg"), QStringLiteral("JPEG"), {QStringLiteral("jpg"), QStringLiteral("jpeg")}},
        {QByteArrayLiteral("png"), QStringLiteral("PNG"), {QStringLiteral("png")}},
    };
    return formats;
}

QByteArray exportFormat(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (const ExportFormat &format : exportFormats()) {
        if (format.suffixes.contains(suffix))
            return format.format;
    }
    return QByteArray();
}

bool writeExportFile(const QImage &image, const QString &path, QString *error)
{
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    const QByteArray format = exportFormat(path);
    if (format.isEmpty())
        return fail(QStringLiteral("unsupported file suffix"));
    if (image.isNull())
        return fail(QStringLiteral("empty picture"));

    QString reason;
    const QFileInfo target(path);
    if (target.exists() && !target.isFile() && !target.isDir()) {
        // A device or a pipe is written into: replacing it would remove it, not fill it.
        QFile device(path);
        if (!device.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return fail(device.errorString());
        if (!encodeInto(image, format, device, reason))
            return fail(reason);
        return true;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    if (!encodeInto(image, format, file, reason)) {
        file.cancelWriting();
        return fail(reason);
    }
    if (!commitComplete(file, &reason))
        return fail(reason);
    return true;
}
