// The isolation run, the mask view, the preview and the matte.
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QGraphicsPixmapItem>
#include <QSignalBlocker>

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

    StageClock clock(document.stageTimer());
    QImage overlay;
    document.runWaiting([&] {
        clock.restart();
        overlay = maskOverlay(session().keepPixels(), session().size());
        clock.finish("overlay");
    });
    showMask(std::move(overlay));
    clock.finish("pixmap and scene");
    setStatus(tr("Ready"));
}

void MainWindow::showMask(QImage overlay)
{
    dropMask();
    // A picture of its own in the pixmaps' layout: the pixmap takes it over without a copy.
    maskItem = editScene.addPixmap(QPixmap::fromImage(std::move(overlay)));
    maskItem->setZValue(7);
    maskItem->setOpacity(float(tools.maskOpacity));
    maskItem->setVisible(true);
}

void MainWindow::on_actionLiveMask_toggled(bool checked)
{
    writeSetting(settings, SettingKeys::LiveMask, checked);
    document.setLiveIsolation(checked);
}

void MainWindow::on_actionPreview_toggled(bool checked)
{
    if (document.isBusy()) {
        const QSignalBlocker keep(ui->actionPreview);
        ui->actionPreview->setChecked(!checked);
        return;
    }
    const QList<QAction *> editingActions = {ui->actionMask, ui->actionKeep_arker, ui->action_Remove_Marker,
                                             ui->actionEdgeMarker, ui->actionEraser};
    const QList<QAction *> previewActions = {ui->actionForeground_Brush, ui->actionBackground_Brush,
                                             ui->actionHandTool, ui->actionSelect_Background,
                                             ui->actionBackgroundZoomMinus, ui->actionBackgroundZoomPlus,
                                             ui->actionExport, ui->actionCopy};
    for (QAction *action : editingActions)
        action->setEnabled(!checked);
    for (QAction *action : previewActions)
        action->setEnabled(checked);

    if (checked) {
        StageClock clock(document.stageTimer());
        ui->graphicsView->setTool(ToolNone);
        for (QAction *action : {ui->actionBackground_Brush, ui->actionForeground_Brush, ui->actionHandTool})
            action->setChecked(false);
        // Brush edits of an earlier preview are dropped: the cut-out comes from the markers.
        document.dropCutout();
        clearPreview();
        dropMask();
        clock.finish("previous preview and mask dropped");
        // One run from the markers to the preview's pictures, the bar moving through its stages.
        PreviewPictures pictures;
        if (photoItem) {
            document.settleLiveIsolation();
            clock.finish("live isolation awaited");
            setStatus(tr("Isolating object"));
            ui->progressBar->show();
            const QString matteStage = tools.refineEdges ? tr("Refining the edge") : tr("Smoothing the edge");
            const QString composeStage = tr("Composing the preview");
            document.runWaiting([&] {
                clock.finish("work started");
                document.setProgressSpan(0, 50);
                document.isolate();
                clock.finish("isolation");
                document.setStage(matteStage);
                document.setProgressSpan(50, 90);
                buildMatteImage();
                clock.finish("matte");
                document.setStage(composeStage);
                document.setProgress(90);
                pictures = previewPictures(&clock);
                document.setProgress(100);
            });
            ui->progressBar->hide();
            clock.finish("work ended");
        } else {
            buildMatteImage();
        }
        showPreview(std::move(pictures));
        ui->graphicsView->setScene(&previewScene);
        ui->graphicsView->viewport()->setAttribute(Qt::WA_MouseTracking);
        clock.finish("pixmaps and scene");
    } else {
        ui->graphicsView->setScene(&editScene);
        ui->graphicsView->setTool(ToolNone);
        for (QAction *action : {ui->actionKeep_arker, ui->action_Remove_Marker, ui->actionEdgeMarker, ui->actionEraser})
            action->setChecked(false);
    }
}

void MainWindow::buildMatteImage()
{
    document.buildMatte(tools.smoothEdges, tools.gaussSize, tools.refineEdges);
}

MainWindow::PreviewPictures MainWindow::previewPictures(StageClock *clock)
{
    const auto finish = [clock](const char *step) {
        if (clock)
            clock->finish(step);
    };
    PreviewPictures pictures;
    if (!photoItem)
        return pictures;
    if (session().cutout().isNull())
        session().buildCutout();
    finish("cut-out");
    pictures.object = displayCopy(session().cutout());
    finish("cut-out for the screen");
    pictures.background = session().previewBackground(session().size());
    finish("background");
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
    session().moveObject(qint64(pos.x()) - prevpos.x(), qint64(pos.y()) - prevpos.y());
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
