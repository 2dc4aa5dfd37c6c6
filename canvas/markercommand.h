#pragma once

#include <QUndoCommand>

class QGraphicsItem;
class QGraphicsScene;

// One marker dab on the undo stack. The dab is already in the scene when the command is
// pushed, so redo does nothing; undo takes the dab away for good.
class CMarkerCommand : public QUndoCommand
{
public:
    CMarkerCommand(QGraphicsScene *scene, QGraphicsItem *item);
    ~CMarkerCommand() override;

    void undo() override;
    void redo() override;

    // Set on a dab that lies in a scene with no command left to answer for it: whoever takes
    // it out of the scene must destroy it.
    static void markUnowned(QGraphicsItem *item);
    static bool isUnowned(const QGraphicsItem *item);

private:
    QGraphicsScene *scene;
    QGraphicsItem *item;
};
