// Opening a picture: the Open command, the load and the hand-over to the colour analysis.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsPixmapItem>

#include "analysis/analysis.h"
#include "output/pictureio.h"

void MainWindow::on_actionOpen_triggered()
{
    const QString startDir = settings.value(QStringLiteral("CurrDir"), QString()).toString();
    const QString chosen = QFileDialog::getOpenFileName(
        this, tr("Open Image"), startDir,
        tr("Image Files (*.png *.jpg *.bmp *.jpeg *.tiff *.tif *.gif);;All files (*.*)"));
    if (chosen.isEmpty()) {
        setStatus(tr("No file selected"));
        return;
    }
    fileName = chosen;
    loadImage();

    objectOffset = QPoint(0, 0);
    cutoutImage = QImage();
    if (ui->actionPreview->isChecked())
        ui->actionPreview->setChecked(false);
    undoStack.clear();
}

bool MainWindow::loadImage()
{
    const QFileInfo info(fileName);
    settings.setValue(QStringLiteral("CurrDir"), info.absoluteDir().canonicalPath());

    // Commands point at items of the scenes: drop them before the items go. Brush dabs still
    // queued belong to the old cut-out.
    undoStack.clear();
    brushTimer.stop();
    brushRects.clear();
    ui->graphicsView->dropOutline();
    editScene.clear();
    previewScene.clear();
    maskItem = nullptr;
    objectItem = nullptr;
    backgroundItem = nullptr;
    keepPixels.clear();

    const QImage image = readPicture(fileName);
    if (image.isNull()) {
        setStatus(tr("Failed to read image"));
        return false;
    }

    setWindowTitle(tr("Peltrix Pro") + QStringLiteral(" - ") + info.fileName());
    setStatus(tr("image opened"));

    const QPixmap pixmap = QPixmap::fromImage(image);
    editScene.addPixmap(pixmap);
    editScene.setSceneRect(0, 0, pixmap.width(), pixmap.height());

    ui->graphicsView->setScene(&editScene);
    ui->graphicsView->fitInView(editScene.sceneRect(), Qt::KeepAspectRatio);
    ui->graphicsView->setCacheMode(QGraphicsView::CacheBackground);
    ui->graphicsView->show();

    setStatus(tr("Image loaded. Preprocessing image."));
    ui->progressBar->show();

    sourceImage = image;
    analyseImage();
    return true;
}

void MainWindow::analyseImage()
{
    AnalysisHooks hooks;
    hooks.progress = [this](int value) { ui->progressBar->setValue(value); };
    // Repaint and let timers run, but keep clicks and keys queued until the picture and its
    // colour model belong together again: a second Open here would swap the picture under
    // the running analysis.
    hooks.processEvents = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
    analysePicture(sourceImage, colorClusters, labelMap, hooks);
    ui->progressBar->setValue(100);
    ui->progressBar->hide();
    setStatus(tr("Ready"));
}
