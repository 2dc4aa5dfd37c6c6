// Tool selection on the canvas.
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_actionKeep_arker_toggled(bool checked)
{
    if (checked)
        ui->graphicsView->setTool(ToolKeepMarker);
}

void MainWindow::on_action_Remove_Marker_toggled(bool checked)
{
    if (checked)
        ui->graphicsView->setTool(ToolRemoveMarker);
}

void MainWindow::on_actionEraser_toggled(bool checked)
{
    if (checked)
        ui->graphicsView->setTool(ToolEraser);
}

void MainWindow::on_actionForeground_Brush_toggled(bool checked)
{
    if (checked)
        ui->graphicsView->setTool(ToolForegroundBrush);
}

void MainWindow::on_actionBackground_Brush_toggled(bool checked)
{
    if (checked)
        ui->graphicsView->setTool(ToolBackgroundBrush);
}

void MainWindow::on_actionHandTool_toggled(bool checked)
{
    if (checked)
        ui->graphicsView->setTool(ToolHand);
}
