#pragma once

#include <QGraphicsView>
#include <QPoint>
#include <QRect>

class QGraphicsEllipseItem;
class QGraphicsItem;
class QMouseEvent;
class QSettings;
class QUndoStack;

enum CanvasTool {
    ToolNone = 0,
    ToolEraser = 2,
    ToolKeepMarker = 3,
    ToolRemoveMarker = 4,
    ToolForegroundBrush = 5,
    ToolBackgroundBrush = 6,
    ToolHand = 7,
};

// The canvas: shows the editing or the preview scene and turns mouse input into the
// selected tool's action.
class OvoGraphicsView : public QGraphicsView
{
    Q_OBJECT

public:
    explicit OvoGraphicsView(QWidget *parent = nullptr);
    ~OvoGraphicsView() override;

    void setSettings(QSettings *store) { settings = store; }
    void setUndoStack(QUndoStack *stack) { undoStack = stack; }
    void setTool(int tool);
    int tool() const { return toolMode; }
    void readToolSettings();
    void resizeOutline(int size);
    QRect toolRect(QPoint pos, int size) const;
    QGraphicsEllipseItem *outline() const { return outlineItem; }
    // Removes the brush outline from its scene; called before a scene is cleared.
    void dropOutline();

signals:
    void AnyBrush(QRect rect, bool now);
    void HandTool(QPoint, QPoint);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void addKeepDab(QMouseEvent *event);
    void addRemoveDab(QMouseEvent *event);
    void eraseAt(QMouseEvent *event);
    void pushDab(QGraphicsItem *dab);

    int toolMode = ToolNone;
    QGraphicsEllipseItem *outlineItem = nullptr;
    QSettings *settings = nullptr;
    QPoint lastPos;
    QUndoStack *undoStack = nullptr;
    quint8 keepMarkerSize = 10;
    quint8 removeMarkerSize = 10;
    quint8 keepBrushSize = 10;
    quint8 removeBrushSize = 10;
    quint8 eraserSize = 10;
    quint8 blueMarkerSize = 10;
    double markerOpacity = 0.6;
    bool buttonDown = false;
};
