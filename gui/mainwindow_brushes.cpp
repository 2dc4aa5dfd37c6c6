// The brush event stream and its application to the cut-out.
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include "gui/brushcommand.h"
#include "gui/cutoutdocument.h"

#include <QPainterPath>
#include <QRegion>

#include <algorithm>

void MainWindow::on_BrushMouseEvent(QRect rect, bool now)
{
    brushRects.append(rect);
    // A press is shown at once; a drag is applied every tenth dab or after a short pause.
    brushTimer.start(!now && brushRects.size() < 10 ? 30 : 0);
}

void MainWindow::on_ProcessBrushMouseEvent()
{
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
    QImage &image = cutout->image();
    if (!image.isNull() && image.format() != QImage::Format_ARGB32)
        image.convertTo(QImage::Format_ARGB32);
    // A region costs time in proportion to its height. On a view zoomed far out one dab can
    // be thousands of times the picture's size: only its part around the picture is kept.
    const int side = std::max(image.width(), image.height());
    const QRectF around = QRectF(image.rect()).adjusted(-side, -side, side, side);

    const QPoint offset = session.objectOffset();
    QPainterPath path;
    QRegion clipped;
    for (const QRect &dab : rects) {
        const QRectF shape(dab.translated(-offset));
        if (around.contains(shape)) {
            path.addEllipse(shape);
            continue;
        }
        QPainterPath ellipse;
        ellipse.addEllipse(shape);
        QPainterPath window;
        window.addRect(around);
        clipped += QRegion(ellipse.intersected(window).toFillPolygon(QTransform()).toPolygon(), Qt::WindingFill);
    }
    // The winding rule turns the overlapping ellipses into one union, so each pixel under
    // the batch changes once.
    QRegion region(path.toFillPolygon(QTransform()).toPolygon(), Qt::WindingFill);
    region += clipped;
    if (!skipLastRect)
        region -= lastBrushRect;
    region &= image.rect();

    // The rectangle kept for undo must hold every pixel the region may change, and nothing
    // outside the picture changes: on a view zoomed far out one dab covers far more than it.
    const QRect bounds = (path.boundingRect().toRect() | region.boundingRect()) & image.rect();
    // copy() of an empty rectangle would copy the whole picture.
    const QImage before = bounds.isEmpty() ? QImage() : image.copy(bounds);

    const int step = keep ? tools.keepBrushIntensity : tools.removeBrushIntensity;
    for (const QRect &part : region) {
        for (int y = part.top(); y <= part.bottom(); ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = part.left(); x <= part.right(); ++x) {
                const int alpha = qAlpha(line[x]);
                const int changed = keep ? qMin(alpha + step, 255) : qMax(alpha - step, 0);
                line[x] = (line[x] & RGB_MASK) | (QRgb(changed) << 24);
            }
        }
    }

    cutout->showRect(region.boundingRect());
    undoStack.push(new CBrushCommand(cutout, bounds, before));
}
