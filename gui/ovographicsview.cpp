#include "gui/ovographicsview.h"

#include "gui/cutdocument.h"
#include "isolation/markers.h"

#include <QCursor>
#include <QGraphicsEllipseItem>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPixmap>
#include <QResizeEvent>
#include <QScrollBar>
#include <QWheelEvent>

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

// Where the wheel and a pinch stop zooming: a picture pixel 256 view pixels wide, or 256
// picture pixels to a view pixel. The zoom commands themselves have no bound.
constexpr qreal largestWheelZoom = 256;
constexpr qreal smallestWheelZoom = 1.0 / 256;
constexpr int wheelStep = 120; // one notch of a wheel, in eighths of a degree

// The points between `from` and `to` (both left out) that split the segment into equal parts
// at most `spacing` long, keeping only those inside `area` when one is given: a long segment
// costs what its part over the picture does.
QList<QPointF> pointsBetween(QPointF from, QPointF to, qreal spacing, const QRectF &area = QRectF())
{
    QList<QPointF> points;
    const QPointF d = to - from;
    const qreal length = std::hypot(d.x(), d.y());
    if (!(spacing > 0) || !(length > spacing) || !std::isfinite(length))
        return points;
    const qreal parts = std::ceil(length / spacing);
    qreal t0 = 0;
    qreal t1 = 1;
    if (!area.isNull()) {
        const auto clip = [&](qreal start, qreal delta, qreal low, qreal high) {
            if (delta == 0)
                return start >= low && start <= high;
            qreal a = (low - start) / delta;
            qreal b = (high - start) / delta;
            if (a > b)
                std::swap(a, b);
            t0 = std::max(t0, a);
            t1 = std::min(t1, b);
            return t0 <= t1;
        };
        if (!clip(from.x(), d.x(), area.left(), area.right()) || !clip(from.y(), d.y(), area.top(), area.bottom()))
            return points;
    }
    const qreal first = std::max<qreal>(1, std::ceil(t0 * parts));
    const qreal last = std::min<qreal>(parts - 1, std::floor(t1 * parts));
    for (qreal k = first; k <= last; ++k)
        points.append(from + d * (k / parts));
    return points;
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
    case ToolEdgeMarker:
        port->setCursor(pictureCursor(QStringLiteral(":/icons/yellowpencil.png"), 8, QPoint(4, 21), ratio));
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

QRect OvoGraphicsView::toolRectAt(QPointF pos, int size) const
{
    // As toolRect(), for the points that filling puts between two pointer positions.
    const int h = size / 2;
    const QTransform toScene = viewportTransform().inverted();
    const QPointF tl = toScene.map(pos - QPointF(h, h));
    const QPointF br = toScene.map(pos + QPointF(h, h));
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
    strokeHasPosition = true;
    strokeViewPos = pos;
    strokeScenePos = mapToScene(pos);
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
    strokeHasPosition = false;
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
        addDab(event, MarkerKind::Keep);
        break;
    case ToolRemoveMarker:
        addDab(event, MarkerKind::Remove);
        break;
    case ToolEdgeMarker:
        addDab(event, MarkerKind::Edge);
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
            brushDrag(pos, r);
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

void OvoGraphicsView::brushDrag(QPoint pos, const QRect &dab)
{
    if (tools.fillStrokes && strokeHasPosition) {
        const int size = brushSize();
        for (const QPointF &between : pointsBetween(strokeViewPos, pos, size / 2))
            emit AnyBrush(toolRectAt(between, size), false);
    }
    // Dabs reaching past the picture still count while dragging; the brush clips them.
    emit AnyBrush(dab, false);
    strokeViewPos = pos;
    strokeHasPosition = true;
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

void OvoGraphicsView::wheelEvent(QWheelEvent *event)
{
    if (!scene() || !(event->modifiers() & Qt::ControlModifier)) {
        QGraphicsView::wheelEvent(event);
        return;
    }
    event->accept();
    // A fine-grained wheel or touchpad sends parts of a notch: they add up to whole steps.
    wheelAngle += event->angleDelta().y();
    const int steps = wheelAngle / wheelStep;
    wheelAngle -= steps * wheelStep;
    zoomAround(event->position().toPoint(), steps);
}

bool OvoGraphicsView::viewportEvent(QEvent *event)
{
    if (event->type() != QEvent::NativeGesture)
        return QGraphicsView::viewportEvent(event);
    auto *gesture = static_cast<QNativeGestureEvent *>(event);
    if (gesture->gestureType() == Qt::BeginNativeGesture) {
        pinchScale = 1;
    } else if (gesture->gestureType() == Qt::ZoomNativeGesture) {
        // The value is the change of scale since the last event.
        const qreal change = 1 + gesture->value();
        if (!std::isfinite(change) || change <= 0)
            return true;
        pinchScale = std::clamp(pinchScale * change, smallestWheelZoom, largestWheelZoom);
        int steps = 0;
        for (; pinchScale >= zoomInFactor; pinchScale /= zoomInFactor)
            ++steps;
        for (; pinchScale <= zoomOutFactor; pinchScale /= zoomOutFactor)
            --steps;
        zoomAround(gesture->position().toPoint(), steps);
        return true;
    }
    return QGraphicsView::viewportEvent(event);
}

void OvoGraphicsView::zoomAround(QPoint anchor, int steps)
{
    if (!scene() || steps == 0)
        return;
    const QPointF fixed = mapToScene(anchor);
    for (; steps > 0 && transform().m11() * zoomInFactor <= largestWheelZoom; --steps)
        scale(zoomInFactor, zoomInFactor);
    for (; steps < 0 && transform().m11() * zoomOutFactor >= smallestWheelZoom; ++steps)
        scale(zoomOutFactor, zoomOutFactor);
    // Scaling keeps the view's centre; scrolling brings the point back under the pointer.
    const QPointF moved = viewportTransform().map(fixed) - QPointF(anchor);
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + qRound(moved.x()));
    verticalScrollBar()->setValue(verticalScrollBar()->value() + qRound(moved.y()));
    if (outlineItem)
        resizeOutline(brushSize());
}

void OvoGraphicsView::addDab(QMouseEvent *event, MarkerKind kind)
{
    if (!buttonDown || !document)
        return;
    const QPointF p = mapToScene(event->position().toPoint());
    const QRectF picture = scene()->sceneRect();
    const int size = kind == MarkerKind::Keep     ? quint8(tools.keepMarkerSize)
                     : kind == MarkerKind::Remove ? tools.viewRemoveMarkerSize()
                                                  : tools.viewEdgeMarkerSize();
    const auto place = [&](QPointF corner) {
        const QRectF square(corner.x(), corner.y(), size, size);
        if (dabCornerAccepted(corner, picture.size()))
            document->addDab(kind == MarkerKind::Edge ? MarkerDab::edgeDab(square)
                                                      : MarkerDab{kind == MarkerKind::Keep, square});
    };
    // Filling: the dabs of a fast stroke lie no further apart than a slow stroke's.
    if (tools.fillStrokes && strokeHasPosition) {
        for (const QPointF &corner : pointsBetween(strokeScenePos, p, size / 2.0, QRectF(QPointF(0, 0), picture.size())))
            place(corner);
    }
    place(p);
    strokeScenePos = p;
    strokeHasPosition = true;
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
