// The background dialog, help and about commands of the main window.
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QMessageBox>

#include "gui/backgrounddialog.h"
#include "gui/helpdialog.h"

void MainWindow::on_actionSelect_Background_triggered()
{
    if (document.isBusy())
        return;
    BackgroundDialog dialog;
    dialog.exec();
    if (!dialog.isChanged())
        return;
    if (dialog.isColourChosen()) {
        document.setBackgroundColour(dialog.chosenColour());
        session().setObjectOffset(QPoint(0, 0));
    } else {
        // A picture that cannot be read leaves the colour over the chessboard.
        document.setBackgroundPicture(dialog.chosenPicture());
    }
    showPreview();
}

void MainWindow::on_actionIndex_triggered()
{
    auto *help = new HelpDialog(this);
    // A closed help window cannot come back, and each holds a few megabytes of pictures.
    help->setAttribute(Qt::WA_DeleteOnClose);
    help->show();
}

void MainWindow::on_actionAbout_triggered()
{
    QMessageBox::about(this, tr("Peltrix Pro 3.0"),
                       tr("Peltrix Pro 3.0 cuts objects out of photographs.\n"
                          "Copyright (C) Trevalon software. All rights reserved."));
}
