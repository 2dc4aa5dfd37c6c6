#include "gui/brushcommand.h"

#include <QDir>
#include <QImageReader>

CBrushCommand::CBrushCommand(std::weak_ptr<CutoutDocument> document, QRect rect, QImage before)
    : document(std::move(document))
    , rect(rect)
    , before(std::move(before))
{
    if (const std::shared_ptr<CutoutDocument> cutout = this->document.lock())
        generation = cutout->generation();
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
    const std::shared_ptr<CutoutDocument> cutout = document.lock();
    if (!cutout || cutout->generation() != generation)
        return;

    QImage pixels = before;
    if (onDisk && !readBack(pixels)) {
        if (cutout->undoFailed)
            cutout->undoFailed();
        return;
    }
    if (pixels.isNull())
        return; // the batch lay wholly outside the picture

    QImage &image = cutout->image();
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
    cutout->noteEdited(area);
    cutout->showRect(area);
}

QString CBrushCommand::storedFileName() const
{
    return onDisk ? tempFile.fileName() : QString();
}
