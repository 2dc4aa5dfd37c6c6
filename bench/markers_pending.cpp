// Stand-in for the canvas's corner test while the marker code is not part of the core
// library yet; benchPhoto's object file needs the symbol, this benchmark never calls it.
#include "isolation/markers.h"

bool dabCornerAccepted(QPointF corner, QSizeF sceneSize)
{
    const int x = int(corner.x());
    const int y = int(corner.y());
    return x > 0 && y > 0 && x < sceneSize.width() && y < sceneSize.height();
}
