// Export of the finished picture.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QMessageBox>

#include "output/exportcompose.h"
#include "output/exportdialog.h"

void MainWindow::on_actionExport_triggered()
{
    if (!exportImage())
        setStatus(QStringLiteral("Export failed"));
}

bool MainWindow::exportImage()
{
    const QSize initialSize = !backgroundPicture.isNull() ? backgroundPicture.size()
                                                          : sourceImage.size();
    if (initialSize.isEmpty())
        return false;

    int width = 0;
    int height = 0;
    QString path;
    {
        ExportDialog dialog(initialSize.width(), initialSize.height(), &settings);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        dialog.values(width, height, path);
    }
    if (!backgroundItem || !objectItem)
        return false;

    // The background zoom lives on the item, so the displayed size includes it.
    const QRectF shown = backgroundItem->boundingRect();
    const QTransform zoom = backgroundItem->sceneTransform();
    const QSize displayedSize(int(shown.width() * zoom.m11()), int(shown.height() * zoom.m22()));
    const QSize size(width, height);

    const ExportGeometry g = exportGeometry(displayedSize, cutoutImage.size(), objectOffset, size);
    if (!g.valid)
        return false;
    qDebug() << "x0 y0 x1 y1 x2 y2 " << g.objectOffset.x() << g.objectOffset.y()
             << g.overlap.left() << g.overlap.top() << g.overlap.right() + 1
             << g.overlap.bottom() + 1;

    // Every pixel of the item's picture is painted over by the colour, so only its size counts.
    const QImage result =
        !backgroundPicture.isNull()
            ? composeExport(backgroundPicture, displayedSize, cutoutImage, objectOffset, size)
            : composeExport(backgroundColour, backgroundItem->pixmap().size(), displayedSize,
                            cutoutImage, objectOffset, size);
    QString error;
    if (!writeExportFile(result, path, &error)) {
        qDebug() << "export:" << error;
        return false;
    }

    // The warning is about the chosen colour: a picture background never warns.
    if (backgroundPicture.isNull() && qAlpha(backgroundColour) < 255
        && exportFormat(path) == "jpeg") {
        QMessageBox::warning(nullptr, tr("Transparency was lost"),
                             tr("You've selected a transparent background color but saving as "
                                "jpeg. Transparency of the color was lost. Please choose .png to "
                                "save transparent backgrounds"),
                             QMessageBox::Ok);
    }
    return true;
}
