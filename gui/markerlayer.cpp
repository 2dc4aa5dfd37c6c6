#include "gui/markerlayer.h"

#include <QBrush>
#include <QGraphicsEllipseItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QPen>

// A keep square or remove disc that tells its layer when it is destroyed, by whomever.
template <class Shape>
class DabItem : public Shape
{
public:
    DabItem(const QRectF &rect, std::weak_ptr<MarkerLayer> layer, CutSession::DabId id)
        : Shape(rect), layer(std::move(layer)), id(id)
    {
    }
    ~DabItem() override
    {
        if (const std::shared_ptr<MarkerLayer> owner = layer.lock())
            owner->forget(id);
    }

private:
    std::weak_ptr<MarkerLayer> layer;
    CutSession::DabId id;
};

namespace {

constexpr qreal markerZ = 10;
// Item data holding a dab's id, so that the eraser's hits lead back to their dabs.
constexpr int idKey = 0x6461;

} // namespace

MarkerLayer::MarkerLayer(QGraphicsScene &scene, CutSession &session)
    : scene(scene), session(session)
{
}

MarkerLayer::~MarkerLayer()
{
    // The session may be gone already: only the items go here.
    while (!items.empty()) {
        QGraphicsItem *dab = items.begin()->second;
        items.erase(items.begin());
        delete dab;
    }
}

MarkerLayer::DabId MarkerLayer::add(const MarkerDab &dab)
{
    const DabId id = session.addDab(dab);
    createItem(id, dab);
    return id;
}

void MarkerLayer::createItem(DabId id, const MarkerDab &dab)
{
    QAbstractGraphicsShapeItem *item = nullptr;
    if (dab.edge) {
        item = new DabItem<QGraphicsRectItem>(dab.rect, weak_from_this(), id);
        const QColor yellow(255, 200, 0);
        item->setPen(QPen(yellow, 0));
        item->setBrush(yellow);
    } else if (dab.keep) {
        item = new DabItem<QGraphicsRectItem>(dab.rect, weak_from_this(), id);
        const QColor green(50, 255, 50);
        item->setPen(QPen(green, 0));
        item->setBrush(green);
    } else {
        item = new DabItem<QGraphicsEllipseItem>(dab.rect, weak_from_this(), id);
        const QColor red(255, 10, 10);
        item->setPen(QPen(red, 0));
        item->setBrush(red);
    }
    item->setZValue(markerZ);
    item->setData(idKey, QVariant::fromValue(id));
    scene.addItem(item);
    // Dabs of one height stack in the order they join the scene; one that comes back goes
    // below the dabs drawn after it.
    const auto later = items.upper_bound(id);
    if (later != items.end())
        item->stackBefore(later->second);
    items.emplace(id, item);
}

void MarkerLayer::deleteItem(DabId id)
{
    const auto found = items.find(id);
    if (found == items.end())
        return;
    QGraphicsItem *dab = found->second;
    items.erase(found);
    delete dab; // leaves the scene on its way
}

bool MarkerLayer::takeBack(DabId id)
{
    if (items.find(id) == items.end())
        return false;
    deleteItem(id);
    session.removeDab(id);
    return true;
}

void MarkerLayer::putBack(const CutSession::DabEntry &entry)
{
    if (items.find(entry.id) != items.end() || !session.putBackDab(entry.id, entry.dab))
        return;
    createItem(entry.id, entry.dab);
}

int MarkerLayer::eraseIn(const QRectF &area, QList<CutSession::DabEntry> *erased)
{
    int count = 0;
    for (QGraphicsItem *hit : scene.items(area, Qt::IntersectsItemShape)) {
        const QVariant id = hit->data(idKey);
        if (!id.isValid())
            continue; // the photo and the mask overlay stay
        const DabId dab = id.value<DabId>();
        if (items.find(dab) == items.end() || items.at(dab) != hit)
            continue;
        const MarkerDab *gone = session.findDab(dab);
        if (erased && gone)
            erased->append({dab, *gone});
        deleteItem(dab);
        session.removeDab(dab);
        ++count;
    }
    return count;
}

void MarkerLayer::deleteItems()
{
    while (!items.empty())
        deleteItem(items.begin()->first);
}

void MarkerLayer::clear()
{
    deleteItems();
    session.clearDabs();
}

QList<CutSession::DabEntry> MarkerLayer::replace(const QList<MarkerDab> &drawingOrder)
{
    deleteItems();
    session.setDabs(drawingOrder);
    const QList<CutSession::DabEntry> placed = session.dabEntries();
    for (const CutSession::DabEntry &entry : placed)
        createItem(entry.id, entry.dab);
    return placed;
}

void MarkerLayer::restore(const QList<CutSession::DabEntry> &entries)
{
    deleteItems();
    session.restoreDabs(entries);
    for (const CutSession::DabEntry &entry : entries)
        createItem(entry.id, entry.dab);
}

QGraphicsItem *MarkerLayer::item(DabId id) const
{
    const auto found = items.find(id);
    return found == items.end() ? nullptr : found->second;
}
