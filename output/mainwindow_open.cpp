// Opening a picture: the Open command, the load and the hand-over to the colour analysis.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsPixmapItem>

#include "canvas/markerlayer.h"

void MainWindow::on_actionOpen_triggered()
{
    const QString chosen = QFileDialog::getOpenFileName(
        this, tr("Open Image"), currentDir(settings),
        tr("Image Files (*.png *.jpg *.bmp *.jpeg *.tiff *.tif *.gif);;All files (*.*)"));
    if (chosen.isEmpty()) {
        setStatus(tr("No file selected"));
        return;
    }
    loadImage(chosen);
    if (ui->actionPreview->isChecked())
        ui->actionPreview->setChecked(false);
    undoStack.clear();
}

bool MainWindow::loadImage(const QString &path)
{
    const QFileInfo info(path);
    setCurrentDir(settings, info.absoluteDir().canonicalPath());

    // Commands describe the old picture's dabs and cut-out: drop them first. Brush dabs still
    // queued belong to the old cut-out.
    undoStack.clear();
    brushTimer.stop();
    brushRects.clear();
    ui->graphicsView->dropOutline();
    markers->clear();
    editScene.clear();
    previewScene.clear();
    photoItem = nullptr;
    maskItem = nullptr;
    backgroundItem = nullptr;

    // The session drops the old dabs, keep pixels and cut-out whether or not the read works.
    QString reason;
    if (!session.open(path, &reason)) {
        setStatus(tr("Failed to read image"));
        return false;
    }

    setWindowTitle(tr("Peltrix Pro") + QStringLiteral(" - ") + info.fileName());
    setStatus(tr("image opened"));

    const QPixmap pixmap = QPixmap::fromImage(session.photo());
    photoItem = editScene.addPixmap(pixmap);
    editScene.setSceneRect(0, 0, pixmap.width(), pixmap.height());

    ui->graphicsView->setScene(&editScene);
    ui->graphicsView->fitInView(editScene.sceneRect(), Qt::KeepAspectRatio);
    ui->graphicsView->setCacheMode(QGraphicsView::CacheBackground);
    ui->graphicsView->show();

    setStatus(tr("Image loaded. Preprocessing image."));
    ui->progressBar->show();
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
    session.analyse(hooks);
    ui->progressBar->setValue(100);
    ui->progressBar->hide();
    setStatus(tr("Ready"));
}
