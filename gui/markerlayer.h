#pragma once

#include <QRectF>

#include <map>
#include <memory>

#include "session/cutsession.h"

class QGraphicsItem;
class QGraphicsScene;

// The keep squares and remove discs on the editing scene, and the one place that creates and
// deletes them. Every dab is a dab of the session as well; the layer keeps the two in step.
//
// Marker commands hold a weak handle to the layer and a dab's id, never an item: undoing a
// dab that the eraser already took, or one whose layer is gone, does nothing. A scene that
// deletes its items first (it is cleared or destroyed) leaves no dangling item behind,
// because each dab item tells its layer when it goes.
//
// A layer lives in a std::shared_ptr: its items and commands hold weak handles to it.
class MarkerLayer : public std::enable_shared_from_this<MarkerLayer>
{
public:
    using DabId = CutSession::DabId;

    MarkerLayer(QGraphicsScene &scene, CutSession &session);
    ~MarkerLayer();
    MarkerLayer(const MarkerLayer &) = delete;
    MarkerLayer &operator=(const MarkerLayer &) = delete;

    // Places a dab on the scene and in the session.
    DabId add(const MarkerDab &dab);
    // Takes a dab back (undo); returns false, doing nothing, when it was erased already.
    bool takeBack(DabId id);
    // Puts a dab that was taken back or erased in place again under its id (redo, or undo of
    // an erasure): it is drawn where it was among the others.
    void putBack(const CutSession::DabEntry &entry);
    // Erases every dab whose shape meets `area` (scene coordinates); the photo and the mask
    // overlay stay. Returns how many went, and what they were in `erased` when given.
    int eraseIn(const QRectF &area, QList<CutSession::DabEntry> *erased = nullptr);
    // Drops every dab, from the scene and the session.
    void clear();
    // Puts other dabs in place of all (a loaded strokes file) and returns them with their ids;
    // restore() puts such a list back, ids included, so that older commands find theirs.
    QList<CutSession::DabEntry> replace(const QList<MarkerDab> &drawingOrder);
    void restore(const QList<CutSession::DabEntry> &entries);
    QList<CutSession::DabEntry> entries() const { return session.dabEntries(); }

    int count() const { return int(items.size()); }
    QGraphicsItem *item(DabId id) const;
    const MarkerDab *dab(DabId id) const { return session.findDab(id); }

private:
    template <class Shape>
    friend class DabItem;
    void forget(DabId id) { items.erase(id); }
    void deleteItem(DabId id);
    void deleteItems();
    void createItem(DabId id, const MarkerDab &dab);

    QGraphicsScene &scene;
    CutSession &session;
    std::map<DabId, QGraphicsItem *> items;
};
