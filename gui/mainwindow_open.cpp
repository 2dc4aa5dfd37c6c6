// Opening a picture: the Open command, the load and the hand-over to the colour analysis.
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QImageReader>
#include <QMenu>
#include <QMimeData>

#include "gui/picturefilters.h"
#include "output/display.h"
#include "session/recentfiles.h"

void MainWindow::on_actionOpen_triggered()
{
    if (document.isBusy())
        return;
    const QString chosen = QFileDialog::getOpenFileName(this, tr("Open Image"), currentDir(settings),
                                                        pictureFileFilter());
    if (chosen.isEmpty()) {
        setStatus(tr("No file selected"));
        return;
    }
    openFile(chosen);
}

void MainWindow::openFile(const QString &path)
{
    // The cut of the photo open so far is kept, never asked about.
    QString kept;
    if (!keepUnsavedWork(kept))
        return;
    const bool loaded = openPhoto(path);
    // The menu shows the new list the next time it opens: it may be running this very open.
    if (loaded)
        RecentFiles(settings).add(path);
    if (!kept.isEmpty())
        setStatus(loaded ? kept : tr("Failed to read image. %1").arg(kept));
}

bool MainWindow::openPhoto(const QString &path)
{
    const bool loaded = loadImage(path);
    afterOpen();
    return loaded;
}

void MainWindow::afterOpen()
{
    if (ui->actionPreview->isChecked())
        ui->actionPreview->setChecked(false);
    document.undoStack().clear();
    projectPath.clear();
}

void MainWindow::updateRecentMenu()
{
    QMenu *menu = ui->menuRecent;
    menu->clear();
    const QStringList paths = RecentFiles(settings).paths();
    int number = 0;
    for (const QString &path : paths) {
        ++number;
        const QString shown = menu->fontMetrics().elidedText(QDir::toNativeSeparators(path), Qt::ElideMiddle,
                                                              menu->fontMetrics().averageCharWidth() * 60);
        QAction *entry = menu->addAction(QStringLiteral("&%1 %2").arg(number).arg(shown));
        entry->setObjectName(QStringLiteral("actionRecentFile%1").arg(number));
        entry->setToolTip(QDir::toNativeSeparators(path));
        entry->setStatusTip(QDir::toNativeSeparators(path));
        // A file moved or deleted since stays listed, but cannot be chosen.
        entry->setEnabled(QFileInfo(path).isFile());
        connect(entry, &QAction::triggered, this, [this, path] {
            if (!document.isBusy())
                openFiles({path});
        });
    }
    menu->setEnabled(!paths.isEmpty());
}

void MainWindow::openFiles(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    if (QFileInfo(paths.first()).suffix().compare(projectSuffix(), Qt::CaseInsensitive) == 0)
        openProject(paths.first());
    else
        openFile(paths.first());
}

QString MainWindow::droppedPicture(const QMimeData *data, QString &why) const
{
    if (document.isBusy()) {
        why = analysing ? tr("Wait until the picture has been analysed") : tr("Wait until the current command is done");
        return QString();
    }
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    if (urls.size() != 1 || !urls.first().isLocalFile()) {
        why = urls.size() > 1 ? tr("Drop one picture at a time") : tr("Only picture files can be dropped here");
        return QString();
    }
    const QString path = urls.first().toLocalFile();
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead()) {
        why = tr("Not a picture: %1").arg(QFileInfo(path).fileName());
        return QString();
    }
    return path;
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    // Files are looked at only on the drop, so a drag passing by costs nothing.
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    QString why;
    const QString path = droppedPicture(event->mimeData(), why);
    if (path.isEmpty()) {
        setStatus(why);
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    openFile(path);
}

bool MainWindow::loadImage(const QString &path)
{
    const QFileInfo info(path);
    setCurrentDir(settings, info.absoluteDir().canonicalPath());
    return showOpened(info.fileName(), [&] { return document.open(path); });
}

bool MainWindow::showOpened(const QString &name, const std::function<bool()> &open)
{
    // Brush dabs still queued belong to the old cut-out.
    brushTimer.stop();
    brushRects.clear();
    ui->graphicsView->dropOutline();
    setStatus(tr("Opening %1").arg(name));
    const bool opened = open();
    editScene.clear();
    previewScene.clear();
    photoItem = nullptr;
    maskItem = nullptr;
    backgroundItem = nullptr;
    if (!opened) {
        setStatus(tr("Failed to read image"));
        return false;
    }

    setWindowTitle(tr("Peltrix Pro") + QStringLiteral(" - ") + name);
    setStatus(tr("image opened"));

    QImage shown;
    document.runWaiting([&] { shown = displayView(session().photo()); });
    const QPixmap pixmap = QPixmap::fromImage(std::move(shown));
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
    analysing = true;
    document.analyse();
    analysing = false;
    ui->progressBar->setValue(100);
    ui->progressBar->hide();
    setStatus(tr("Ready"));
}
