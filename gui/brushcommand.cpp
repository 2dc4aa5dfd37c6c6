#include "gui/brushcommand.h"

#include <QDir>
#include <QImageReader>

void StoredPixels::store(QImage pixels)
{
    stored = true;
    memory = std::move(pixels);
    if (memory.isNull())
        return;
    // An unusable TMPDIR gives an empty path, which would put the file in the root folder.
    const QString folder = QDir::tempPath();
    if (folder.isEmpty())
        return; // keep the pixels in memory
    file.setFileTemplate(folder + QStringLiteral("/peltrix-brush-XXXXXX.png"));
    if (!file.open())
        return;
    if (memory.save(&file, "PNG", 100) && file.flush()) {
        file.seek(0);
        memory = QImage();
        onDisk = true;
    } else {
        file.resize(0);
    }
}

bool StoredPixels::load(QImage &pixels, QSize size)
{
    if (!onDisk) {
        pixels = memory;
        return true;
    }
    if (!file.isOpen() || !file.seek(0))
        return false;
    QImageReader reader(&file, "PNG");
    const QImage read = reader.read();
    if (read.isNull() || read.size() != size)
        return false;
    pixels = read.convertToFormat(QImage::Format_ARGB32);
    return true;
}

CBrushCommand::CBrushCommand(std::weak_ptr<CutoutDocument> document, QRect rect, QImage before)
    : document(std::move(document))
    , rect(rect)
    , pending(std::move(before))
{
    if (const std::shared_ptr<CutoutDocument> cutout = this->document.lock())
        generation = cutout->generation();
}

CBrushCommand::~CBrushCommand() = default;

std::shared_ptr<CutoutDocument> CBrushCommand::currentDocument() const
{
    // A cut-out rebuilt from the markers has dropped this edit already; the old item is gone.
    std::shared_ptr<CutoutDocument> cutout = document.lock();
    if (!cutout || cutout->generation() != generation)
        return nullptr;
    return cutout;
}

void CBrushCommand::redo()
{
    if (!pushed) {
        // The edited picture is on screen already; only the old pixels need a place.
        pushed = true;
        before.store(std::move(pending));
        return;
    }
    const std::shared_ptr<CutoutDocument> cutout = currentDocument();
    if (!cutout || !after.isStored())
        return; // no undo got as far as taking the batch away
    QImage pixels;
    if (!after.load(pixels, rect.size())) {
        if (cutout->redoFailed)
            cutout->redoFailed();
        return;
    }
    show(*cutout, pixels);
}

void CBrushCommand::undo()
{
    const std::shared_ptr<CutoutDocument> cutout = currentDocument();
    if (!cutout)
        return;
    QImage pixels;
    if (!before.load(pixels, rect.size())) {
        if (cutout->undoFailed)
            cutout->undoFailed();
        return;
    }
    if (pixels.isNull())
        return; // the batch lay wholly outside the picture
    // Every later step is undone by now, so the picture is exactly as this batch left it.
    if (!after.isStored())
        after.store(cutout->image().copy(rect).convertToFormat(QImage::Format_ARGB32));
    show(*cutout, pixels);
}

void CBrushCommand::show(CutoutDocument &cutout, const QImage &pixels)
{
    QImage &image = cutout.image();
    const QRect area = rect & image.rect();
    if (area.isEmpty() || pixels.isNull())
        return;
    if (image.format() != QImage::Format_ARGB32)
        image.convertTo(QImage::Format_ARGB32);
    const int dx = area.left() - rect.left();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const QRgb *from = reinterpret_cast<const QRgb *>(pixels.constScanLine(y - rect.top())) + dx;
        QRgb *to = reinterpret_cast<QRgb *>(image.scanLine(y)) + area.left();
        std::copy(from, from + area.width(), to);
    }
    cutout.noteEdited(area);
    cutout.showRect(area);
}

QString CBrushCommand::storedFileName(bool afterBatch) const
{
    return afterBatch ? after.fileName() : before.fileName();
}
