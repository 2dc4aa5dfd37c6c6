// Export of the finished picture.
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QFileInfo>
#include <QMessageBox>

#include "gui/cutoutdocument.h"
#include "output/exportcompose.h"
#include "gui/exportdialog.h"

void MainWindow::on_actionExport_triggered()
{
    if (document.isBusy())
        return;
    if (!exportImage())
        setStatus(QStringLiteral("Export failed"));
}

bool MainWindow::exportImage()
{
    const QSize startSize = session().exportStartSize();
    if (startSize.isEmpty())
        return false;

    int width = 0;
    int height = 0;
    QString path;
    {
        ExportDialog dialog(startSize.width(), startSize.height(), &settings);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        dialog.values(width, height, path);
    }
    // Only a preview that shows the photo has anything to export.
    if (!backgroundItem || !document.cutout().item() || !photoItem)
        return false;

    // The stages show while they run; the status the export found is back afterwards.
    const QString before = ui->statusBar->currentMessage();
    const QString composing = tr("Composing the export");
    const QString writing = tr("Writing %1").arg(QFileInfo(path).fileName());
    bool composed = false;
    bool written = false;
    QString error;
    document.runWaiting([&] {
        document.setStage(composing);
        const QImage result = session().exportImage(QSize(width, height));
        composed = !result.isNull();
        if (!composed)
            return;
        document.setStage(writing);
        written = writeExportFile(result, path, &error);
    });
    setStatus(before);
    if (!composed)
        return false;
    if (!written) {
        qDebug() << "export:" << error;
        return false;
    }
    setStatus(tr("Exported %1").arg(QFileInfo(path).fileName()));

    // The warning is about the chosen colour: a picture background never warns.
    if (session().backgroundPicture().isNull() && qAlpha(session().backgroundColour()) < 255
        && exportFormat(path) == "jpeg") {
        QMessageBox::warning(nullptr, tr("Transparency was lost"),
                             tr("You've selected a transparent background color but saving as "
                                "jpeg. Transparency of the color was lost. Please choose .png to "
                                "save transparent backgrounds"),
                             QMessageBox::Ok);
    }
    return true;
}
