// The isolation run of the main window: harvest the markers, then vote, gradient and flood.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::isolateObject() {}
