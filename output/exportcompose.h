#pragma once

#include <QImage>
#include <QList>
#include <QRgb>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include "analysis/progress.h"

// The largest width or height an export can have (the export dialog's limit).
constexpr int largestExportSide = 9999;

// Where the cut-out lands in an exported picture. The background is shown at `displayedSize`
// (its item's size times the background zoom) and the export is `size`; the object and its
// offset are scaled by the same factors sx = W / itemW, sy = H / itemH, truncated.
struct ExportGeometry
{
    bool valid = false;  // false when a displayed size or the export size is empty
    double sx = 0.0;
    double sy = 0.0;
    QSize objectSize;    // the scaled cut-out
    QPoint objectOffset; // ox, oy
    QRect overlap;       // x0, y0 to x1 - 1, y1 - 1 (empty when the object lies outside)
};

ExportGeometry exportGeometry(QSize displayedSize, QSize cutoutSize, QPoint offset, QSize size);

// The exported picture: `background` scaled to `size`, `cutout` scaled by the geometry's
// factors (both smooth, aspect ratio ignored) and composed over it at the scaled offset.
// Null when the geometry is not valid or an input is null. `stageTimer` hears of the stages
// "scale" (both pictures) and "compose".
QImage composeExport(const QImage &background, QSize displayedSize, const QImage &cutout,
                     QPoint offset, QSize size, const StageTimer &stageTimer = {});

// The same over a background of one colour that is `backgroundSize` pixels large (the
// background item's picture) and shown at `displayedSize`; without building a picture for
// the background when the export keeps its size.
QImage composeExport(QRgb colour, QSize backgroundSize, QSize displayedSize, const QImage &cutout,
                     QPoint offset, QSize size, const StageTimer &stageTimer = {});

// The formats an export can be written in, in the order the export dialog offers them: the
// writer's format, its name for people, and the file suffixes that choose it, usual one first.
struct ExportFormat
{
    QByteArray format;
    QString name;
    QStringList suffixes;
};
const QList<ExportFormat> &exportFormats();

// The file format the path's suffix asks for ("jpeg" or "png", any letter case), or empty.
QByteArray exportFormat(const QString &path);

// Writes `image` to `path` in the format of its suffix: JPEG at quality 100, PNG through
// libpng with fast settings. A file at the target is replaced only by a complete one; on
// failure it is left as it was and no temporary file stays behind. A device or pipe at the
// target is written into, never replaced. Returns false, with a reason in `error` when
// given, on any failure: for a failed write the system's reason.
bool writeExportFile(const QImage &image, const QString &path, QString *error = nullptr);
