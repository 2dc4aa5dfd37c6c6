// The mask view, the preview and the matte.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QGraphicsPixmapItem>
#include <QPainter>

#include "output/matte.h"

void MainWindow::on_actionMask_triggered()
{
    isolateObject();
    setStatus(tr("Displaying image"));

    const int W = sourceImage.width();
    const int H = sourceImage.height();
    QImage overlay(W, H, QImage::Format_ARGB32);
    overlay.fill(qRgb(150, 150, 150));
    const QRgb keepColour = qRgb(0, 50, 255);
    for (const qint32 index : std::as_const(keepPixels)) {
        if (index >= 0 && qint64(index) < qint64(W) * H)
            reinterpret_cast<QRgb *>(overlay.scanLine(index / W))[index % W] = keepColour;
    }

    maskItem = editScene.addPixmap(QPixmap::fromImage(overlay));
    maskItem->setZValue(7);
    maskItem->setOpacity(maskOpacity);
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
                                             ui->actionExport};
    for (QAction *action : editingActions)
        action->setEnabled(!checked);
    for (QAction *action : previewActions)
        action->setEnabled(checked);

    if (checked) {
        ui->graphicsView->setTool(ToolNone);
        for (QAction *action : {ui->actionBackground_Brush, ui->actionForeground_Brush, ui->actionHandTool})
            action->setChecked(false);
        cutoutImage = QImage();
        cutoutRebuilt();
        isolateObject();
        buildMatteImage();
        showPreview();
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
    ProgressCallback progress = [this](int value) { ui->progressBar->setValue(value); };
    matteImage = smoothedMatte(keepPixels, sourceImage.width(), sourceImage.height(), smoothEdges,
                               gaussSize, progress);
}

void MainWindow::composePreview(QPixmap &background, QPixmap &object)
{
    if (cutoutImage.isNull()) {
        if (!editSceneHasPhoto())
            return;
        // The picture in memory, not the file: it may have changed or gone since it was opened.
        cutoutImage = buildCutout(sourceImage, matteImage);
    }
    object = QPixmap::fromImage(cutoutImage);

    const int W = sourceImage.width();
    const int H = sourceImage.height();
    if (backgroundPicture.isNull()) {
        QImage board = QImage(QStringLiteral(":/icons/chessbackground.png"))
                           .scaled(W, H, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                           .convertToFormat(QImage::Format_ARGB32);
        const int alpha = qAlpha(backgroundColour);
        if (alpha == 255) {
            board.fill(backgroundColour); // an opaque layer hides the board completely
        } else if (alpha > 0) {
            QImage layer(W, H, QImage::Format_ARGB32);
            layer.fill(backgroundColour);
            QPainter painter(&board);
            painter.drawImage(0, 0, layer);
        }
        background = QPixmap::fromImage(std::move(board));
    } else {
        background = QPixmap::fromImage(
            backgroundPicture.scaled(W, H, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
}

void MainWindow::showPreview()
{
    QPixmap background;
    QPixmap object;
    composePreview(background, object);

    ui->graphicsView->dropOutline();
    previewScene.clear();
    backgroundItem = previewScene.addPixmap(background);
    backgroundItem->setZValue(0);
    objectItem = previewScene.addPixmap(object);
    objectItem->setZValue(10);
    // A mask-shaped item would recompute its shape over the whole picture after every brush batch.
    objectItem->setShapeMode(QGraphicsPixmapItem::BoundingRectShape);
    objectItem->setPos(objectOffset);
    setStatus(tr("Ready"));
}

void MainWindow::on_HandToolPressed(QPoint prevpos, QPoint pos)
{
    objectOffset += pos - prevpos;
    if (objectItem)
        objectItem->setPos(objectOffset);
}

void MainWindow::on_actionBackgroundZoomPlus_triggered()
{
    if (!backgroundPicture.isNull() && backgroundItem)
        backgroundItem->setTransform(QTransform::fromScale(1.05, 1.05), true);
}

void MainWindow::on_actionBackgroundZoomMinus_triggered()
{
    if (!backgroundPicture.isNull() && backgroundItem)
        backgroundItem->setTransform(QTransform::fromScale(0.9523809523809523, 0.9523809523809523), true);
}
