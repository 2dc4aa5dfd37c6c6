#pragma once

#include <QImage>
#include <QRect>
#include <QTemporaryFile>
#include <QUndoCommand>

#include <memory>

#include "gui/cutoutdocument.h"

// Pixels of one rectangle kept in a temporary PNG file, or in memory when no file can be
// written there.
class StoredPixels
{
public:
    void store(QImage pixels);
    bool isStored() const { return stored; }
    // False when the file no longer reads back as a picture of `size`; the pixels are lost.
    bool load(QImage &pixels, QSize size);
    QString fileName() const { return onDisk ? file.fileName() : QString(); }

private:
    QImage memory;
    QTemporaryFile file;
    bool stored = false;
    bool onDisk = false;
};

// One brush batch. The edited picture is already shown when the command is pushed; the
// command keeps the pixels of `rect` as they were before, and from its first undo on as the
// batch left them, both on disk as PNG.
class CBrushCommand : public QUndoCommand
{
public:
    CBrushCommand(std::weak_ptr<CutoutDocument> document, QRect rect, QImage before);
    ~CBrushCommand() override;

    void undo() override;
    void redo() override;

    // Where the pixels from before the batch, or those it left, are; empty while they are
    // kept in memory or not taken yet.
    QString storedFileName(bool afterBatch = false) const;

private:
    // The document while it still shows the cut-out this batch was painted on.
    std::shared_ptr<CutoutDocument> currentDocument() const;
    void show(CutoutDocument &cutout, const QImage &pixels);

    std::weak_ptr<CutoutDocument> document;
    quint64 generation = 0;
    QRect rect;
    QImage pending; // the pixels from before, until the first redo stores them
    StoredPixels before;
    StoredPixels after;
    bool pushed = false;
};
