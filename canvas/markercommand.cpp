#include "canvas/markercommand.h"

#include <QGraphicsItem>
#include <QGraphicsScene>

namespace {
// Item data slot for the "no command holds this dab" flag; nothing else uses item data.
constexpr int unownedKey = 0x6D6B; // "mk"
}

CMarkerCommand::CMarkerCommand(QGraphicsScene *scene, QGraphicsItem *item)
    : scene(scene)
    , item(item)
{
}

CMarkerCommand::~CMarkerCommand()
{
    if (!item)
        return; // undone: the dab is gone already
    // A dab still in a scene belongs to the scene. One the eraser took out belongs to
    // nothing but this command, so it goes with it.
    if (item->scene())
        markUnowned(item);
    else
        delete item;
}

void CMarkerCommand::undo()
{
    if (!item)
        return;
    if (scene && item->scene() == scene)
        scene->removeItem(item);
    delete item;
    item = nullptr;
}

void CMarkerCommand::redo()
{
}

void CMarkerCommand::markUnowned(QGraphicsItem *item)
{
    item->setData(unownedKey, true);
}

bool CMarkerCommand::isUnowned(const QGraphicsItem *item)
{
    return item->data(unownedKey).toBool();
}
