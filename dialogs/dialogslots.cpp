// The background dialog, help and about commands of the main window.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_actionSelect_Background_triggered() {}
void MainWindow::on_actionIndex_triggered() {}
void MainWindow::on_actionAbout_triggered() {}
