#include "gui/markercommand.h"

CMarkerCommand::CMarkerCommand(std::weak_ptr<MarkerLayer> layer, MarkerLayer::DabId dab)
    : layer(std::move(layer)), dabId(dab)
{
}

void CMarkerCommand::undo()
{
    if (const std::shared_ptr<MarkerLayer> markers = layer.lock())
        markers->takeBack(dabId);
}

void CMarkerCommand::redo()
{
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
