#pragma once

#include <QUndoCommand>

#include <memory>

#include "gui/markerlayer.h"

// One marker dab on the undo stack. The dab is already on the scene when the command is
// pushed, so the first redo does nothing; undo takes it back through its layer, which owns
// it, and a later redo puts the same dab back under the same id.
class CMarkerCommand : public QUndoCommand
{
public:
    CMarkerCommand(std::weak_ptr<MarkerLayer> layer, MarkerLayer::DabId dab);

    void undo() override;
    void redo() override;

    MarkerLayer::DabId dab() const { return dabId; }

private:
    std::weak_ptr<MarkerLayer> layer;
    MarkerLayer::DabId dabId;
    MarkerDab placed;
    // Only a dab that undo took away comes back: one the eraser took stays gone.
    bool takenBack = false;
};

// The dabs that one eraser press took, as one step (with whole-stroke undo): undo puts them
// back where they were in the drawing order, redo erases them again.
class CEraseCommand : public QUndoCommand
{
public:
    CEraseCommand(std::weak_ptr<MarkerLayer> layer, QList<CutSession::DabEntry> erased);

    void undo() override;
    void redo() override;

private:
    std::weak_ptr<MarkerLayer> layer;
    QList<CutSession::DabEntry> erased;
    bool putBack = false;
};

// Loading a strokes file: all dabs replaced by the file's in one step; undo puts the earlier
// dabs back with their ids, so that their own commands still take them back one by one.
class CStrokesCommand : public QUndoCommand
{
public:
    CStrokesCommand(std::weak_ptr<MarkerLayer> layer, QList<MarkerDab> loaded, const QString &text);

    void undo() override;
    void redo() override;

private:
    std::weak_ptr<MarkerLayer> layer;
    QList<MarkerDab> loaded;
    QList<CutSession::DabEntry> before;
    QList<CutSession::DabEntry> after; // the loaded dabs with their ids, once placed
};
