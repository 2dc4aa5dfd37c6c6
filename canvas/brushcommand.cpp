#include "canvas/brushcommand.h"

#include <QDir>
#include <QGraphicsPixmapItem>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>

static bool opaque(const QImage &image, const QRect &area)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = area.left(); x <= area.right(); ++x)
            if (qAlpha(line[x]) != 255)
                return false;
    }
    return true;
}

void showCutoutRect(QGraphicsPixmapItem *item, const QImage &image, const QRect &rect)
{
    if (!item)
        return;
    QPixmap shown = item->pixmap();
    const QRect area = rect & image.rect();
    // A pixmap made from a wholly opaque picture has no alpha channel to take the change.
    if (shown.size() != image.size() || (!shown.hasAlphaChannel() && !opaque(image, area))) {
        item->setPixmap(QPixmap::fromImage(image));
        return;
    }
    if (area.isEmpty())
        return;
    // While the item holds the pixmap too, painting would copy the whole picture first; take
    // it away for the moment so that only the rectangle is converted and written.
    item->setPixmap(QPixmap());
    {
        QPainter painter(&shown);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(area.topLeft(), image, area);
    }
    item->setPixmap(shown);
}

CBrushCommand::CBrushCommand(QSharedPointer<CutoutTarget> target, QRect rect, QImage before)
    : target(std::move(target))
    , rect(rect)
    , before(std::move(before))
{
    generation = this->target ? this->target->generation : 0;
}

CBrushCommand::~CBrushCommand() = default;

void CBrushCommand::redo()
{
    // Runs once, when the batch is pushed: the edited picture is already on screen.
    if (onDisk || before.isNull())
        return;
    // An unusable TMPDIR gives an empty path, which would put the file in the root folder.
    const QString folder = QDir::tempPath();
    if (folder.isEmpty())
        return; // keep the pixels in memory
    tempFile.setFileTemplate(folder + QStringLiteral("/peltrix-brush-XXXXXX.png"));
    if (!tempFile.open())
        return;
    if (before.save(&tempFile, "PNG", 100) && tempFile.flush()) {
        tempFile.seek(0);
        before = QImage();
        onDisk = true;
    } else {
        tempFile.resize(0);
    }
}

bool CBrushCommand::readBack(QImage &pixels)
{
    if (!tempFile.isOpen() || !tempFile.seek(0))
        return false;
    QImageReader reader(&tempFile, "PNG");
    const QImage read = reader.read();
    if (read.isNull() || read.size() != rect.size())
        return false;
    pixels = read.convertToFormat(QImage::Format_ARGB32);
    return true;
}

void CBrushCommand::undo()
{
    // A cut-out rebuilt from the markers has dropped this edit already; the old item is gone.
    if (!target || !target->image || target->generation != generation)
        return;

    QImage pixels = before;
    if (onDisk && !readBack(pixels)) {
        if (target->undoFailed)
            target->undoFailed();
        return;
    }
    if (pixels.isNull())
        return; // the batch lay wholly outside the picture

    QImage &image = *target->image;
    const QRect area = rect & image.rect();
    if (area.isEmpty())
        return;
    if (image.format() != QImage::Format_ARGB32)
        image.convertTo(QImage::Format_ARGB32);
    const int dx = area.left() - rect.left();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const QRgb *from = reinterpret_cast<const QRgb *>(pixels.constScanLine(y - rect.top())) + dx;
        QRgb *to = reinterpret_cast<QRgb *>(image.scanLine(y)) + area.left();
        std::copy(from, from + area.width(), to);
    }
    showCutoutRect(target->item ? *target->item : nullptr, image, area);
}

QString CBrushCommand::storedFileName() const
{
    return onDisk ? tempFile.fileName() : QString();
}
