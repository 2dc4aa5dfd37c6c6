// The mask view, the preview and the matte.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_actionMask_triggered() {}
void MainWindow::on_actionPreview_toggled(bool) {}
void MainWindow::on_HandToolPressed(QPoint, QPoint) {}
void MainWindow::on_actionBackgroundZoomPlus_triggered() {}
void MainWindow::on_actionBackgroundZoomMinus_triggered() {}
void MainWindow::buildMatteImage() {}
void MainWindow::composePreview(QPixmap &, QPixmap &) {}
void MainWindow::showPreview() {}
