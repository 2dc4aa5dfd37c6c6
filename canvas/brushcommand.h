#pragma once

#include <QImage>
#include <QRect>
#include <QSharedPointer>
#include <QTemporaryFile>
#include <QUndoCommand>

#include <functional>

class QGraphicsPixmapItem;

// What a brush command may touch: the window's cut-out and the item showing it, read through
// the window's own members so that an item replaced by a new background is always the
// current one. `generation` changes whenever the cut-out is rebuilt from the markers; a
// command from an older generation must leave the new cut-out alone.
struct CutoutTarget
{
    QImage *image = nullptr;
    QGraphicsPixmapItem *const *item = nullptr;
    quint64 generation = 0;
    std::function<void()> undoFailed; // the saved pixels are lost; tell the user
};

// Makes `item` show `image` (ARGB32) again inside `rect`, touching only that part of its
// pixmap when the pixmap still matches the picture.
void showCutoutRect(QGraphicsPixmapItem *item, const QImage &image, const QRect &rect);

// One brush batch. The edited picture is already shown when the command is pushed; the
// command keeps only the pixels of `rect` as they were before, on disk as PNG.
class CBrushCommand : public QUndoCommand
{
public:
    CBrushCommand(QSharedPointer<CutoutTarget> target, QRect rect, QImage before);
    ~CBrushCommand() override;

    void undo() override;
    void redo() override;

    // Where the saved pixels are; empty while they are kept in memory.
    QString storedFileName() const;

private:
    bool readBack(QImage &pixels);

    QSharedPointer<CutoutTarget> target;
    quint64 generation;
    QRect rect;
    QImage before;
    QTemporaryFile tempFile;
    bool onDisk = false;
};
