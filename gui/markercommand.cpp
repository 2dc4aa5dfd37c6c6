#include "gui/markercommand.h"

CMarkerCommand::CMarkerCommand(std::weak_ptr<MarkerLayer> layer, MarkerLayer::DabId dab)
    : layer(std::move(layer)), dabId(dab)
{
    if (const std::shared_ptr<MarkerLayer> markers = this->layer.lock()) {
        if (const MarkerDab *found = markers->dab(dabId))
            placed = *found;
    }
}

void CMarkerCommand::undo()
{
    if (const std::shared_ptr<MarkerLayer> markers = layer.lock())
        takenBack = markers->takeBack(dabId);
}

void CMarkerCommand::redo()
{
    if (!takenBack)
        return;
    takenBack = false;
    if (const std::shared_ptr<MarkerLayer> markers = layer.lock())
        markers->putBack({dabId, placed});
}

CEraseCommand::CEraseCommand(std::weak_ptr<MarkerLayer> layer, QList<CutSession::DabEntry> erased)
    : layer(std::move(layer)), erased(std::move(erased))
{
}

void CEraseCommand::undo()
{
    const std::shared_ptr<MarkerLayer> markers = layer.lock();
    if (!markers)
        return;
    for (const CutSession::DabEntry &entry : std::as_const(erased))
        markers->putBack(entry);
    putBack = true;
}

void CEraseCommand::redo()
{
    // Pushed after the erasure: the first redo finds the dabs gone already.
    if (!putBack)
        return;
    putBack = false;
    if (const std::shared_ptr<MarkerLayer> markers = layer.lock()) {
        for (const CutSession::DabEntry &entry : std::as_const(erased))
            markers->takeBack(entry.id);
    }
}

CStrokesCommand::CStrokesCommand(std::weak_ptr<MarkerLayer> layer, QList<MarkerDab> loaded,
                                 const QString &text)
    : QUndoCommand(text), layer(std::move(layer)), loaded(std::move(loaded))
{
}

void CStrokesCommand::redo()
{
    const std::shared_ptr<MarkerLayer> markers = layer.lock();
    if (!markers)
        return;
    before = markers->entries();
    if (after.isEmpty() && !loaded.isEmpty())
        after = markers->replace(loaded);
    else
        markers->restore(after);
}

void CStrokesCommand::undo()
{
    if (const std::shared_ptr<MarkerLayer> markers = layer.lock())
        markers->restore(before);
}
