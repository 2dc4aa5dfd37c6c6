#include "gui/ovographicsview.h"

#include "gui/cutdocument.h"
#include "isolation/markers.h"

#include <QCursor>
#include <QGraphicsEllipseItem>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QPixmap>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr qreal outlineZ = 20;

// The brush outline forgets itself in the view when anything destroys it, so a scene that
// is cleared or destroyed under it never leaves the view a dangling pointer.
class OutlineItem : public QGraphicsEllipseItem
{
public:
    OutlineItem(const QRectF &rect, QGraphicsEllipseItem **holder)
        : QGraphicsEllipseItem(rect)
        , holder(holder)
    {
        setPen(QPen(Qt::black, 0));
        setZValue(outlineZ);
    }
    ~OutlineItem() override
    {
        if (*holder == this)
            *holder = nullptr;
    }

private:
    QGraphicsEllipseItem **holder;
};

// Scene positions a view zoomed far out reaches are clamped to this, which no picture
// comes near: a position plus a width, or one position minus another, then stays an int.
constexpr qreal largestScenePosition = 1 << 29;

// Truncates toward zero like an integer cast, but stays defined for values no picture has.
int truncated(qreal v)
{
    if (std::isnan(v))
        return 0;
    return int(std::clamp(v, -largestScenePosition, largestScenePosition));
}

bool reachable(QPointF p)
{
    return std::abs(p.x()) <= largestScenePosition && std::abs(p.y()) <= largestScenePosition;
}

// Rounds a scene position to the nearest integer point (halves away from zero) within the
// clamp above.
QPoint rounded(QPointF p)
{
    const auto round = [](qreal v) {
        return std::isnan(v) ? 0 : qRound(std::clamp(v, -largestScenePosition, largestScenePosition));
    };
    return QPoint(round(p.x()), round(p.y()));
}

// A cursor from a picture `width` logical pixels wide. On a high-density screen it is drawn at
// the device's density, and the platform takes the hot spot in device pixels.
QCursor pictureCursor(const QString &path, int width, QPoint hotSpot, qreal ratio)
{
    QPixmap picture = QPixmap(path).scaledToWidth(qRound(width * ratio), Qt::SmoothTransformation);
    if (picture.isNull())
        return QCursor(Qt::ArrowCursor); // a width of 0: nothing to show
    picture.setDevicePixelRatio(ratio);
    return QCursor(picture, qRound(hotSpot.x() * ratio), qRound(hotSpot.y() * ratio));
}

} // namespace

OvoGraphicsView::OvoGraphicsView(QWidget *parent)
    : QGraphicsView(parent)
{
    // Scroll bars coming and going would resize the viewport, and every resize rescales the
    // picture: zooming in must not shrink it again.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // No item takes drops; files dropped here go on to the window, which opens pictures.
    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);
}

OvoGraphicsView::~OvoGraphicsView()
{
    // The outline nulls this pointer itself when its scene deletes it first.
    dropOutline();
}

void OvoGraphicsView::setTool(int tool)
{
    endStroke(); // a release that never came
    toolMode = tool;
    dropOutline();

    QWidget *port = viewport();
    const qreal ratio = port->devicePixelRatioF();
    switch (tool) {
    case ToolEraser: {
        const int size = tools.viewEraserSize();
        port->setCursor(pictureCursor(QStringLiteral(":/icons/eraser.ico"), size, QPoint(size / 2, size / 2), ratio));
        break;
    }
    case ToolKeepMarker:
        port->setCursor(pictureCursor(QStringLiteral(":/icons/greenpencil.PNG"), 8, QPoint(4, 21), ratio));
        break;
    case ToolRemoveMarker:
        port->setCursor(pictureCursor(QStringLiteral(":/icons/redpencilv.PNG"), 8, QPoint(4, 21), ratio));
        break;
    case ToolForegroundBrush:
    case ToolBackgroundBrush:
        port->setCursor(Qt::BlankCursor);
        break;
    case ToolHand:
        port->setCursor(Qt::OpenHandCursor);
        break;
    default:
        port->setCursor(Qt::ArrowCursor);
        break;
    }
}

int OvoGraphicsView::brushSize() const
{
    return toolMode == ToolForegroundBrush ? tools.viewKeepBrushSize() : tools.viewRemoveBrushSize();
}

void OvoGraphicsView::resizeOutline(int size)
{
    if (!outlineItem || !scene())
        return;
    const QRectF current = outlineItem->rect();
    const QPointF centre(current.left() + current.width() * 0.5, current.top() + current.height() * 0.5);
    const QRect r = toolRect(mapFromScene(centre), size);
    if (scene()->sceneRect().contains(QRectF(r)))
        outlineItem->setRect(r);
}

QRect OvoGraphicsView::toolRect(QPoint pos, int size) const
{
    const int h = size / 2;
    const QPointF tl = mapToScene(QPoint(pos.x() - h, pos.y() - h));
    const QPointF br = mapToScene(QPoint(pos.x() + h, pos.y() + h));
    return QRect(truncated(tl.x()), truncated(tl.y()),
                 truncated(br.x() - tl.x()), truncated(br.y() - tl.y()));
}

void OvoGraphicsView::dropOutline()
{
    if (!outlineItem)
        return;
    // Deleting takes the item out of its scene; its destructor nulls outlineItem.
    delete outlineItem;
    outlineItem = nullptr;
}

void OvoGraphicsView::mousePressEvent(QMouseEvent *event)
{
    buttonDown = true;
    if (!scene())
        return;
    if (document && !strokeOpen) {
        strokeOpen = true;
        document->beginStroke();
    }

    const QPoint pos = event->position().toPoint();
    switch (toolMode) {
    case ToolEraser:
        eraseAt(event);
        break;
    case ToolForegroundBrush:
    case ToolBackgroundBrush: {
        const QRect r = toolRect(pos, brushSize());
        if (scene()->sceneRect().contains(QRectF(r)))
            emit AnyBrush(r, true);
        break;
    }
    case ToolHand:
        lastPos = pos;
        viewport()->setCursor(Qt::ClosedHandCursor);
        break;
    default:
        break;
    }
    QGraphicsView::mousePressEvent(event);
}

void OvoGraphicsView::endStroke()
{
    if (!strokeOpen)
        return;
    strokeOpen = false;
    if (document)
        document->endStroke();
}

void OvoGraphicsView::mouseReleaseEvent(QMouseEvent *event)
{
    buttonDown = false;
    endStroke();
    if (!scene())
        return;
    if (toolMode == ToolHand)
        viewport()->setCursor(Qt::OpenHandCursor);
    QGraphicsView::mouseReleaseEvent(event);
}

void OvoGraphicsView::mouseMoveEvent(QMouseEvent *event)
{
    if (!scene())
        return;

    const QPoint pos = event->position().toPoint();
    switch (toolMode) {
    case ToolKeepMarker:
    case ToolRemoveMarker:
        addDab(event, toolMode == ToolKeepMarker);
        break;
    case ToolForegroundBrush:
    case ToolBackgroundBrush: {
        const QRect r = toolRect(pos, brushSize());
        if (scene()->sceneRect().contains(QRectF(r))) {
            if (!outlineItem) {
                outlineItem = new OutlineItem(r, &outlineItem);
                scene()->addItem(outlineItem);
            }
            outlineItem->setRect(r);
        } else {
            dropOutline();
        }
        if (buttonDown) {
            // Dabs reaching past the picture still count while dragging; the brush clips them.
            emit AnyBrush(r, false);
            lastPos = pos;
        }
        break;
    }
    case ToolHand:
        if (buttonDown) {
            const QPointF from = mapToScene(lastPos);
            const QPointF to = mapToScene(pos);
            if (reachable(from) && reachable(to)) {
                emit HandTool(rounded(from), rounded(to));
            } else {
                // Zoomed far out: the step itself, in floating point, stays meaningful.
                const QPoint start = rounded(from);
                emit HandTool(start, start + rounded(to - from));
            }
            lastPos = pos;
        }
        break;
    default:
        break;
    }
    QGraphicsView::mouseMoveEvent(event);
}

void OvoGraphicsView::leaveEvent(QEvent *event)
{
    dropOutline();
    QGraphicsView::leaveEvent(event);
}

void OvoGraphicsView::resizeEvent(QResizeEvent *event)
{
    if (!scene())
        return;

    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    const QSize now = event->size();
    const QSize before = event->oldSize();
    // The first resize reports -1 x -1 and a collapsed view 0: no factor can come of those.
    if (now.width() > 0 && now.height() > 0 && before.width() > 0 && before.height() > 0) {
        const QRectF shown = transform().mapRect(sceneRect());
        const qreal a = (shown.width() < now.width() || now.width() < before.width())
            ? qreal(now.width()) / before.width() : 1.0;
        const qreal b = (shown.height() < now.height() || now.height() < before.height())
            ? qreal(now.height()) / before.height() : 1.0;
        const qreal farA = a > 1 ? a : 1 / a;
        const qreal farB = b > 1 ? b : 1 / b;
        const qreal s = farA > farB ? a : b;
        scale(s, s);
    }
    QGraphicsView::resizeEvent(event);
}

void OvoGraphicsView::addDab(QMouseEvent *event, bool keep)
{
    if (!buttonDown || !document)
        return;
    const QPointF p = mapToScene(event->position().toPoint());
    if (!dabCornerAccepted(p, scene()->sceneRect().size()))
        return;
    const int size = keep ? quint8(tools.keepMarkerSize) : tools.viewRemoveMarkerSize();
    document->addDab({keep, QRectF(p.x(), p.y(), size, size)});
}

void OvoGraphicsView::eraseAt(QMouseEvent *event)
{
    if (!document)
        return;
    const QPoint pos = event->position().toPoint();
    const int h = tools.viewEraserSize() / 2;
    const QPointF tl = mapToScene(QPoint(pos.x() - h, pos.y() - h));
    const QPointF br = mapToScene(QPoint(pos.x() + h, pos.y() + h));
    document->eraseIn(QRectF(tl.x(), tl.y(), br.x() - tl.x(), br.y() - tl.y()));
}
