#include "canvas/ovographicsview.h"

OvoGraphicsView::OvoGraphicsView(QWidget *parent)
    : QGraphicsView(parent)
{
}

void OvoGraphicsView::readToolSettings()
{
}
