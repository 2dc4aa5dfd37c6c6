#pragma once

#include <QGraphicsView>
#include <QPoint>
#include <QPointer>
#include <QRect>

#include "session/toolsettings.h"

class CutDocument;
class QGraphicsEllipseItem;
class QMouseEvent;

enum CanvasTool {
    ToolNone = 0,
    ToolEraser = 2,
    ToolKeepMarker = 3,
    ToolRemoveMarker = 4,
    ToolForegroundBrush = 5,
    ToolBackgroundBrush = 6,
    ToolHand = 7,
    ToolEdgeMarker = 8,
};

// The canvas: shows the editing or the preview scene and turns mouse input into the
// selected tool's action.
class OvoGraphicsView : public QGraphicsView
{
    Q_OBJECT

public:
    // One step of the zoom commands, of Ctrl+wheel and of a pinch.
    static constexpr qreal zoomInFactor = 1.2;
    static constexpr qreal zoomOutFactor = 0.8333333333333334;

    explicit OvoGraphicsView(QWidget *parent = nullptr);
    ~OvoGraphicsView() override;

    // The window's tool settings; the view reads its tool sizes from this copy.
    void setToolSettings(const ToolSettings &settings) { tools = settings; }
    const ToolSettings &toolSettings() const { return tools; }
    // Where marker dabs and erasures go.
    void setDocument(CutDocument *cut) { document = cut; }
    void setTool(int tool);
    int tool() const { return toolMode; }
    void resizeOutline(int size);
    QRect toolRect(QPoint pos, int size) const;
    QGraphicsEllipseItem *outline() const { return outlineItem; }
    // Removes the brush outline from its scene; called before a scene is cleared.
    void dropOutline();
    // Zooms by `steps` zoom steps (negative: out), keeping the picture point under the view
    // point `anchor` where it is as far as the view can scroll.
    void zoomAround(QPoint anchor, int steps);

signals:
    void AnyBrush(QRect rect, bool now);
    void HandTool(QPoint, QPoint);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // Ctrl+wheel zooms; the plain wheel scrolls as ever.
    void wheelEvent(QWheelEvent *event) override;
    // A touchpad pinch zooms.
    bool viewportEvent(QEvent *event) override;

private:
    QRect toolRectAt(QPointF pos, int size) const;
    void brushDrag(QPoint pos, const QRect &dab);
    void addDab(QMouseEvent *event, MarkerKind kind);
    void eraseAt(QMouseEvent *event);
    int brushSize() const;
    void endStroke();

    int toolMode = ToolNone;
    QGraphicsEllipseItem *outlineItem = nullptr;
    ToolSettings tools = ToolSettings::defaults();
    QPoint lastPos;
    QPointer<CutDocument> document;
    bool buttonDown = false;
    bool strokeOpen = false; // the document was told of a press and waits for its release
    // Where the stroke's pointer last was, for filling fast strokes: in the scene for
    // markers, in the view for brushes.
    bool strokeHasPosition = false;
    QPointF strokeScenePos;
    QPointF strokeViewPos;
    int wheelAngle = 0;   // Ctrl+wheel turned short of a whole step
    qreal pinchScale = 1; // a pinch's scale short of a whole step
};
