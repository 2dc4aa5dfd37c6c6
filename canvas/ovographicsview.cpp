#include "canvas/ovographicsview.h"

#include <QGraphicsEllipseItem>
#include <QMouseEvent>
#include <QSettings>

OvoGraphicsView::OvoGraphicsView(QWidget *parent)
    : QGraphicsView(parent)
{
}

OvoGraphicsView::~OvoGraphicsView() = default;

void OvoGraphicsView::setTool(int tool)
{
    toolMode = tool;
}

void OvoGraphicsView::readToolSettings()
{
    if (!settings)
        return;
    const auto size = [this](const char *key) {
        return quint8(settings->value(QLatin1String(key), QStringLiteral("10")).toInt());
    };
    const bool sameSize = settings->value(QStringLiteral("SAMESIZECHECKED"), QStringLiteral("false")).toBool();
    keepMarkerSize = size("KEEPMSIZE");
    if (sameSize) {
        removeMarkerSize = keepBrushSize = removeBrushSize = eraserSize = keepMarkerSize;
        return;
    }
    removeMarkerSize = size("REMOVEMSIZE");
    keepBrushSize = size("KEEPBSIZE");
    removeBrushSize = size("REMOVEBSIZE");
    eraserSize = size("ERASERMSIZE");
    blueMarkerSize = size("BLUEMSIZE");
    markerOpacity = settings->value(QStringLiteral("MOPACITY"), QStringLiteral("0.6")).toDouble();
}

void OvoGraphicsView::resizeOutline(int)
{
}

QRect OvoGraphicsView::toolRect(QPoint, int) const
{
    return {};
}

void OvoGraphicsView::mousePressEvent(QMouseEvent *event)
{
    QGraphicsView::mousePressEvent(event);
}

void OvoGraphicsView::mouseReleaseEvent(QMouseEvent *event)
{
    QGraphicsView::mouseReleaseEvent(event);
}

void OvoGraphicsView::mouseMoveEvent(QMouseEvent *event)
{
    QGraphicsView::mouseMoveEvent(event);
}

void OvoGraphicsView::leaveEvent(QEvent *event)
{
    QGraphicsView::leaveEvent(event);
}

void OvoGraphicsView::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
}

void OvoGraphicsView::addKeepDab(QMouseEvent *) {}
void OvoGraphicsView::addRemoveDab(QMouseEvent *) {}
void OvoGraphicsView::eraseAt(QMouseEvent *) {}
void OvoGraphicsView::dropOutline() {}
