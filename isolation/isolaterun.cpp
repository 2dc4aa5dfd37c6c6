// The isolation run of the main window: harvest the markers, then vote, gradient and flood.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>

#include "isolation/isolation.h"
#include "isolation/markers.h"

bool MainWindow::editSceneHasPhoto() const
{
    const QList<QGraphicsItem *> items = editScene.items();
    return std::any_of(items.cbegin(), items.cend(), [](const QGraphicsItem *item) {
        return item->type() == QGraphicsPixmapItem::Type;
    });
}

void MainWindow::isolateObject()
{
    if (maskItem) {
        editScene.removeItem(maskItem);
        delete maskItem;
        maskItem = nullptr;
    }

    // Descending stacking order: among the markers, which share one z value, newest first.
    const QList<QGraphicsItem *> items = editScene.items();
    if (!editSceneHasPhoto())
        return;

    setStatus(tr("Isolating object"));

    // The item type, not the colour, tells keep squares from remove discs.
    MarkerSet markers;
    for (const QGraphicsItem *item : items) {
        if (item->type() == QGraphicsEllipseItem::Type)
            markers.newestFirst.append({false, static_cast<const QGraphicsEllipseItem *>(item)->rect()});
        else if (item->type() == QGraphicsRectItem::Type)
            markers.newestFirst.append({true, static_cast<const QGraphicsRectItem *>(item)->rect()});
    }

    ui->progressBar->show();
    keepPixels.clear();
    IsolationHooks hooks;
    hooks.progress = [this](int value) { ui->progressBar->setValue(value); };
    keepPixels = isolateKeepPixels(labelMap, markers, colorClusters.centers(), hooks);
    ui->progressBar->hide();
}
