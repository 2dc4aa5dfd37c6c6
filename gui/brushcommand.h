#pragma once

#include <QImage>
#include <QRect>
#include <QTemporaryFile>
#include <QUndoCommand>

#include <memory>

#include "gui/cutoutdocument.h"

// One brush batch. The edited picture is already shown when the command is pushed; the
// command keeps only the pixels of `rect` as they were before, on disk as PNG.
class CBrushCommand : public QUndoCommand
{
public:
    CBrushCommand(std::weak_ptr<CutoutDocument> document, QRect rect, QImage before);
    ~CBrushCommand() override;

    void undo() override;
    void redo() override;

    // Where the saved pixels are; empty while they are kept in memory.
    QString storedFileName() const;

private:
    bool readBack(QImage &pixels);

    std::weak_ptr<CutoutDocument> document;
    quint64 generation = 0;
    QRect rect;
    QImage before;
    QTemporaryFile tempFile;
    bool onDisk = false;
};
