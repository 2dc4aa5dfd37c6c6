// The background dialog, help and about commands of the main window.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QImageReader>
#include <QMessageBox>

#include "dialogs/backgrounddialog.h"
#include "dialogs/helpdialog.h"

void MainWindow::on_actionSelect_Background_triggered()
{
    BackgroundDialog dialog;
    dialog.exec();
    if (!dialog.isChanged())
        return;
    if (dialog.isColourChosen()) {
        backgroundColour = dialog.chosenColour();
        backgroundPicture = QImage();
        objectOffset = QPoint(0, 0);
    } else {
        // Read like a photo, so a camera picture stands the right way up.
        QImageReader reader(dialog.chosenPicture());
        reader.setAutoTransform(true);
        backgroundPicture = reader.read().convertToFormat(QImage::Format_ARGB32);
    }
    showPreview();
}

void MainWindow::on_actionIndex_triggered()
{
    auto *help = new HelpDialog(this);
    help->show();
}

void MainWindow::on_actionAbout_triggered()
{
    QMessageBox::about(this, tr("Peltrix Pro 3.0"),
                       tr("Peltrix Pro 3.0 cuts objects out of photographs.\n"
                          "Copyright (C) Trevalon software. All rights reserved."));
}
