#include "gui/cutoutdocument.h"

#include <QGraphicsPixmapItem>
#include <QPainter>
#include <QPixmap>

#include "session/cutsession.h"
#include "output/display.h"

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
