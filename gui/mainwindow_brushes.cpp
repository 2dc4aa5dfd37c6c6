// The brush event stream and its application to the cut-out.
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_BrushMouseEvent(QRect rect, bool now)
{
    brushRects.append(rect);
    // A press is shown at once; a drag is applied every tenth dab or after a short pause.
    brushTimer.start(!now && brushRects.size() < 10 ? 30 : 0);
}

void MainWindow::on_ProcessBrushMouseEvent()
{
    // The cut-out may be in the making: the batch waits for it.
    if (document.isBusy()) {
        brushTimer.start(30);
        return;
    }
    if (ui->actionForeground_Brush->isChecked())
        on_KeepBrushPressed(brushRects);
    else if (ui->actionBackground_Brush->isChecked())
        on_RemoveBrushPressed(brushRects);
    if (!brushRects.isEmpty())
        lastBrushRect = brushRects.last();
    skipLastRect = true;
    brushRects.clear();
    skipTimer.start(1000);
}

void MainWindow::on_TimeToSkipLastRect()
{
    skipLastRect = true;
}

void MainWindow::on_KeepBrushPressed(QList<QRect> rects)
{
    applyBrush(rects, true);
}

void MainWindow::on_RemoveBrushPressed(QList<QRect> rects)
{
    applyBrush(rects, false);
}

void MainWindow::applyBrush(const QList<QRect> &rects, bool keep)
{
    document.applyBrush(rects, keep, keep ? tools.keepBrushIntensity : tools.removeBrushIntensity);
}

void MainWindow::finishBrushStroke()
{
    // A press's dabs are applied by a timer that may fire after the release; with whole-stroke
    // undo they are applied now, inside the stroke's step.
    if (document.wholeStrokeUndo() && brushTimer.isActive()) {
        brushTimer.stop();
        on_ProcessBrushMouseEvent();
    }
}
