// Export of the finished picture.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_actionExport_triggered() {}
bool MainWindow::exportImage() { return false; }
