#include "gui/cutoutdocument.h"

#include <QGraphicsPixmapItem>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QPixmap>

#include "session/cutsession.h"
#include "output/display.h"

#include <algorithm>

// The preview's object item; it forgets itself in its document when a scene deletes it.
class ShownCutoutItem : public QGraphicsPixmapItem
{
public:
    ShownCutoutItem(const QPixmap &pixmap, std::weak_ptr<CutoutDocument> document)
        : QGraphicsPixmapItem(pixmap), document(std::move(document))
    {
    }
    ~ShownCutoutItem() override
    {
        const std::shared_ptr<CutoutDocument> owner = document.lock();
        if (owner && owner->shown == this)
            owner->shown = nullptr;
    }

private:
    std::weak_ptr<CutoutDocument> document;
};

namespace {

bool opaque(const QImage &image, const QRect &area)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = area.left(); x <= area.right(); ++x)
            if (qAlpha(line[x]) != 255)
                return false;
    }
    return true;
}

} // namespace

CutoutDocument::CutoutDocument(CutSession &session)
    : session(session)
{
}

QImage &CutoutDocument::image()
{
    return session.cutout();
}

QGraphicsPixmapItem *CutoutDocument::createItem(const QPixmap &pixmap)
{
    shown = new ShownCutoutItem(pixmap, weak_from_this());
    return shown;
}

void CutoutDocument::showRect(const QRect &rect)
{
    if (!shown)
        return;
    const QImage &picture = image();
    QPixmap pixmap = shown->pixmap();
    const QRect area = rect & picture.rect();
    // A pixmap made from a wholly opaque picture has no alpha channel to take the change.
    if (pixmap.size() != picture.size() || (!pixmap.hasAlphaChannel() && !opaque(picture, area))) {
        shown->setPixmap(QPixmap::fromImage(displayCopy(picture)));
        return;
    }
    if (area.isEmpty())
        return;
    // While the item holds the pixmap too, painting would copy the whole picture first; take
    // it away for the moment so that only the rectangle is converted and written.
    shown->setPixmap(QPixmap());
    {
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(area.topLeft(), picture, area);
    }
    shown->setPixmap(pixmap);
}

CutoutDocument::Edit CutoutDocument::paint(const QList<QRect> &rects, QPoint offset, bool keep, int step)
{
    QImage &picture = image();
    if (!picture.isNull() && picture.format() != QImage::Format_ARGB32)
        picture.convertTo(QImage::Format_ARGB32);
    // A region costs time in proportion to its height. On a view zoomed far out one dab can
    // be thousands of times the picture's size: only its part around the picture is kept.
    const int side = std::max(picture.width(), picture.height());
    const QRectF around = QRectF(picture.rect()).adjusted(-side, -side, side, side);

    QPainterPath path;
    QRegion clipped;
    for (const QRect &dab : rects) {
        // In floating point: far out of the picture a dab and the offset can add past int.
        const QRectF shape = QRectF(dab).translated(-QPointF(offset));
        if (around.contains(shape)) {
            path.addEllipse(shape);
            continue;
        }
        QPainterPath ellipse;
        ellipse.addEllipse(shape);
        QPainterPath window;
        window.addRect(around);
        clipped += QRegion(ellipse.intersected(window).toFillPolygon(QTransform()).toPolygon(), Qt::WindingFill);
    }
    // The winding rule turns the overlapping ellipses into one union, so each pixel under
    // the batch changes once.
    QRegion region(path.toFillPolygon(QTransform()).toPolygon(), Qt::WindingFill);
    region += clipped;
    region &= picture.rect();

    // The rectangle kept for undo must hold every pixel the region may change, and nothing
    // outside the picture changes: on a view zoomed far out one dab covers far more than it.
    Edit edit;
    edit.bounds = (path.boundingRect().toRect() | region.boundingRect()) & picture.rect();
    // copy() of an empty rectangle would copy the whole picture.
    if (!edit.bounds.isEmpty())
        edit.before = picture.copy(edit.bounds);
    noteEdited(edit.bounds);

    for (const QRect &part : region) {
        for (int y = part.top(); y <= part.bottom(); ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
            for (int x = part.left(); x <= part.right(); ++x) {
                const int alpha = qAlpha(line[x]);
                const int changed = keep ? qMin(alpha + step, 255) : qMax(alpha - step, 0);
                line[x] = (line[x] & RGB_MASK) | (QRgb(changed) << 24);
            }
        }
    }
    showRect(region.boundingRect());
    return edit;
}
