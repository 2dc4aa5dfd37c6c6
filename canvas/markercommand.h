#pragma once

#include <QUndoCommand>

#include <memory>

#include "canvas/markerlayer.h"

// One marker dab on the undo stack. The dab is already on the scene when the command is
// pushed, so redo does nothing; undo takes it back through its layer, which owns it.
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
};
