#include "app/mainwindow.h"
#include "ui_mainwindow.h"
MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindowUi) { ui->setupUi(this); }
MainWindow::~MainWindow() { delete ui; }
