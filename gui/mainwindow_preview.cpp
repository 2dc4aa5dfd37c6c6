// The isolation run, the mask view, the preview and the matte.
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QGraphicsPixmapItem>

#include "gui/cutoutdocument.h"
#include "output/display.h"
#include "output/keepmask.h"

void MainWindow::dropMask()
{
    if (maskItem) {
        delete maskItem; // leaves the scene on its way
        maskItem = nullptr;
    }
}

void MainWindow::isolateObject()
{
    dropMask();
    // After a failed open there is no photo to cut from.
    if (!photoItem)
        return;
    setStatus(tr("Isolating object"));
    ui->progressBar->show();
    document.isolate();
    ui->progressBar->hide();
}

void MainWindow::on_actionMask_triggered()
{
    if (document.isBusy())
        return;
    isolateObject();
    setStatus(tr("Displaying image"));

    // An opaque picture of its own: the pixmap takes it over without a copy.
    QImage overlay;
    document.runWaiting([&] {
        overlay = keepPixelImage(session().keepPixels(), session().size(), QImage::Format_ARGB32,
                                 qRgb(0, 50, 255), qRgb(150, 150, 150));
    });
    maskItem = editScene.addPixmap(QPixmap::fromImage(std::move(overlay)));
    maskItem->setZValue(7);
    maskItem->setOpacity(float(tools.maskOpacity));
    maskItem->setVisible(true);
    setStatus(tr("Ready"));
}

void MainWindow::on_actionPreview_toggled(bool checked)
{
    const QList<QAction *> editingActions = {ui->actionMask, ui->actionKeep_arker,
                                             ui->action_Remove_Marker, ui->actionEraser};
    const QList<QAction *> previewActions = {ui->actionForeground_Brush, ui->actionBackground_Brush,
                                             ui->actionHandTool, ui->actionSelect_Background,
                                             ui->actionBackgroundZoomMinus, ui->actionBackgroundZoomPlus,
                                             ui->actionExport, ui->actionCopy};
    for (QAction *action : editingActions)
        action->setEnabled(!checked);
    for (QAction *action : previewActions)
        action->setEnabled(checked);

    if (checked) {
        ui->graphicsView->setTool(ToolNone);
        for (QAction *action : {ui->actionBackground_Brush, ui->actionForeground_Brush, ui->actionHandTool})
            action->setChecked(false);
        // Brush edits of an earlier preview are dropped: the cut-out comes from the markers.
        document.dropCutout();
        clearPreview();
        // One run from the markers to the preview's pictures, the bar moving through its stages.
        dropMask();
        PreviewPictures pictures;
        if (photoItem) {
            setStatus(tr("Isolating object"));
            ui->progressBar->show();
            const QString matteStage = tools.refineEdges ? tr("Refining the edge") : tr("Smoothing the edge");
            const QString composeStage = tr("Composing the preview");
            document.runWaiting([&] {
                document.setProgressSpan(0, 50);
                document.isolate();
                document.setStage(matteStage);
                document.setProgressSpan(50, 90);
                buildMatteImage();
                document.setStage(composeStage);
                document.setProgress(90);
                pictures = previewPictures();
                document.setProgress(100);
            });
            ui->progressBar->hide();
        } else {
            buildMatteImage();
        }
        showPreview(std::move(pictures));
        ui->graphicsView->setScene(&previewScene);
        ui->graphicsView->viewport()->setAttribute(Qt::WA_MouseTracking);
    } else {
        ui->graphicsView->setScene(&editScene);
        ui->graphicsView->setTool(ToolNone);
        for (QAction *action : {ui->actionKeep_arker, ui->action_Remove_Marker, ui->actionEraser})
            action->setChecked(false);
    }
}

void MainWindow::buildMatteImage()
{
    document.buildMatte(tools.smoothEdges, tools.gaussSize, tools.refineEdges);
}

MainWindow::PreviewPictures MainWindow::previewPictures()
{
    PreviewPictures pictures;
    if (!photoItem)
        return pictures;
    if (session().cutout().isNull())
        session().buildCutout();
    pictures.object = displayCopy(session().cutout());
    pictures.background = session().previewBackground(session().size());
    return pictures;
}

void MainWindow::clearPreview()
{
    // The old items go before the new pictures are made: on a large photo the two sets
    // together would be the window's peak memory.
    ui->graphicsView->dropOutline();
    previewScene.clear();
    backgroundItem = nullptr;
}

void MainWindow::showPreview()
{
    clearPreview();
    PreviewPictures pictures;
    if (photoItem) {
        const QString stage = tr("Composing the preview");
        document.runWaiting([&] {
            document.setStage(stage);
            pictures = previewPictures();
        });
    }
    showPreview(std::move(pictures));
}

void MainWindow::showPreview(PreviewPictures pictures)
{
    clearPreview();
    session().setBackgroundZoom(1.0); // a new background item starts unzoomed
    backgroundItem = previewScene.addPixmap(QPixmap::fromImage(std::move(pictures.background)));
    backgroundItem->setZValue(0);
    QGraphicsPixmapItem *objectItem = document.cutout().createItem(QPixmap::fromImage(std::move(pictures.object)));
    previewScene.addItem(objectItem);
    objectItem->setZValue(10);
    // A mask-shaped item would recompute its shape over the whole picture after every brush batch.
    objectItem->setShapeMode(QGraphicsPixmapItem::BoundingRectShape);
    objectItem->setPos(session().objectOffset());
    setStatus(tr("Ready"));
}

void MainWindow::on_HandToolPressed(QPoint prevpos, QPoint pos)
{
    session().setObjectOffset(session().objectOffset() + pos - prevpos);
    if (QGraphicsPixmapItem *objectItem = document.cutout().item())
        objectItem->setPos(session().objectOffset());
}

void MainWindow::zoomBackground(double factor)
{
    if (session().backgroundPicture().isNull() || !backgroundItem)
        return;
    session().zoomBackground(factor);
    backgroundItem->setTransform(QTransform::fromScale(session().backgroundZoom(), session().backgroundZoom()));
}

void MainWindow::on_actionBackgroundZoomPlus_triggered()
{
    zoomBackground(1.05);
}

void MainWindow::on_actionBackgroundZoomMinus_triggered()
{
    zoomBackground(0.9523809523809523);
}
