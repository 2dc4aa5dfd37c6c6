// The brush event stream and its application to the cut-out.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_BrushMouseEvent(QRect, bool) {}
void MainWindow::on_ProcessBrushMouseEvent() {}
void MainWindow::on_TimeToSkipLastRect() { skipLastRect = true; }
void MainWindow::on_KeepBrushPressed(QList<QRect>) {}
void MainWindow::on_RemoveBrushPressed(QList<QRect>) {}
