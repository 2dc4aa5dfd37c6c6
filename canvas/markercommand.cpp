#include "canvas/markercommand.h"

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
