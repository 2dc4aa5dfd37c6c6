// Tool selection on the canvas, and the tools' keys.
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QTextDocument>

void MainWindow::showToolKeys()
{
    ui->actionIncreaseToolSize->setShortcuts({ui->actionIncreaseToolSize->shortcut(), QKeySequence(Qt::Key_BracketRight)});
    ui->actionDecreaseToolSoze->setShortcuts({ui->actionDecreaseToolSoze->shortcut(), QKeySequence(Qt::Key_BracketLeft)});
    // Menus show an action's key by themselves, tool tips do not.
    for (QAction *tool : {ui->actionKeep_arker, ui->action_Remove_Marker, ui->actionEdgeMarker, ui->actionEraser,
                          ui->actionForeground_Brush, ui->actionBackground_Brush, ui->actionHandTool,
                          ui->actionMask, ui->actionPreview}) {
        const QString key = QStringLiteral(" (%1)").arg(tool->shortcut().toString(QKeySequence::NativeText));
        QString tip = tool->toolTip();
        const qsizetype titleEnd = tip.indexOf(QLatin1String("</p>"));
        if (Qt::mightBeRichText(tip) && titleEnd >= 0)
            tip.insert(titleEnd, key.toHtmlEscaped());
        else
            tip += key;
        tool->setToolTip(tip);
    }
}

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

void MainWindow::on_actionEdgeMarker_toggled(bool checked)
{
    if (checked)
        ui->graphicsView->setTool(ToolEdgeMarker);
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
