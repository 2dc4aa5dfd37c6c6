#pragma once

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QRegion>

#include <functional>
#include <memory>
#include <utility>

class CutSession;
class QGraphicsPixmapItem;
class QPixmap;

// The cut-out as the brushes see it: the session's cut-out picture, the preview item that
// shows it, and a generation that changes whenever the cut-out is rebuilt from the markers.
// Brush commands hold a weak handle to it; a command of an older generation leaves the new
// cut-out alone.
//
// A document lives in a std::shared_ptr: its item and commands hold weak handles to it.
class CutoutDocument : public std::enable_shared_from_this<CutoutDocument>
{
public:
    explicit CutoutDocument(CutSession &session);
    CutoutDocument(const CutoutDocument &) = delete;
    CutoutDocument &operator=(const CutoutDocument &) = delete;

    QImage &image();

    // The item that shows the cut-out from now on (the scene that it is added to owns it);
    // it tells the document when it is destroyed.
    QGraphicsPixmapItem *createItem(const QPixmap &pixmap);
    QGraphicsPixmapItem *item() const { return shown; }

    // The cut-out was rebuilt from the markers; edits of earlier ones no longer apply.
    void rebuilt()
    {
        ++currentGeneration;
        edited = QRect();
        untaken = QRegion();
    }
    // Where the brushes may have changed the cut-out since it was built, and the part of it
    // changed since takeChanges() last took it. The area is saved as one rectangle, so what it
    // takes in beside an edit counts as changed too.
    QRect editedArea() const { return edited; }
    void noteEdited(const QRect &area)
    {
        const QRect grown = edited | area;
        untaken += QRegion(grown).subtracted(QRegion(edited)) + QRegion(area);
        edited = grown;
    }
    QRegion takeChanges() { return std::exchange(untaken, QRegion()); }
    quint64 generation() const { return currentGeneration; }

    // Shows the picture again inside `rect`, touching only that part of the item's pixmap
    // while it still matches the picture.
    void showRect(const QRect &rect);

    // Raises (keep) or lowers the alpha under the ellipses inscribed in `rects` (scene
    // rectangles of an object placed at `offset`) by `step`, each pixel once however many
    // ellipses cover it, and shows the change. Returns what undo needs: the rectangle that may
    // have changed, within the picture, and its pixels as they were.
    struct Edit
    {
        QRect bounds;
        QImage before; // null when `bounds` is empty
    };
    Edit paint(const QList<QRect> &rects, QPoint offset, bool keep, int step);

    // Tell the user that an undo or a redo could not read its saved pixels back.
    std::function<void()> undoFailed;
    std::function<void()> redoFailed;

private:
    friend class ShownCutoutItem;

    CutSession &session;
    QGraphicsPixmapItem *shown = nullptr;
    quint64 currentGeneration = 0;
    QRect edited;
    QRegion untaken;
};
