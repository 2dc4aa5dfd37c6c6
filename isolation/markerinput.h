#pragma once

#include <QList>
#include <QPoint>
#include <QRgb>
#include <QString>

#include "isolation/markers.h"

class QImage;

// Marker dabs written as text, one per line in drawing order:
//   keep X Y SIZE      a keep square
//   remove X Y SIZE    a remove disc
//   edge X Y SIZE      an edge dab (unknown: matted, neither kept nor removed)
// X and Y are the floating-point picture coordinates of the dab square's top-left corner,
// SIZE its side, an integer from 0 to 255 (the canvas keeps marker sizes in 8 bits). Blank
// lines and everything from '#' to the end of a line are ignored.
//
// Parses `text`; on a malformed line returns false with "<source>:<line>: <reason>" in `error`.
bool parseMarkerText(const QString &text, const QString &source, QList<MarkerDab> &drawingOrder,
                     QString &error);

// The dabs as text that parseMarkerText reads back exactly (coordinates in their shortest
// exact form), after the comment lines of `header`.
QString markerText(const QList<MarkerDab> &drawingOrder, const QString &header = QString());

// The first word of a dab's line.
QString markerKindName(MarkerKind kind);

// Reads and parses a markers file; an unreadable file gives "<path>: <reason>".
bool readMarkerFile(const QString &path, QList<MarkerDab> &drawingOrder, QString &error);

// Places the dabs as the canvas would on a picture of `pictureSize` (a dab whose corner fails
// the canvas's test is dropped, as the canvas ignores it) and returns them newest first, the
// order in which the program harvests them from its scene.
QList<MarkerDab> placeDabs(const QList<MarkerDab> &drawingOrder, QSize pictureSize);

// What counts as a clearly painted pixel on a marker picture: alpha of at least 128, the
// colour's own channel at least 128 and ahead of both other channels by at least 64.
constexpr int markerPictureMinimum = 128;
constexpr int markerPictureLead = 64;

enum class PaintedMark { None, Keep, Remove };

// The mark of one straight-alpha ARGB pixel of a marker picture.
inline PaintedMark paintedMark(QRgb pixel)
{
    const auto clearly = [](int own, int other1, int other2) {
        return own >= markerPictureMinimum && own - other1 >= markerPictureLead
               && own - other2 >= markerPictureLead;
    };
    if (qAlpha(pixel) < markerPictureMinimum)
        return PaintedMark::None;
    const int r = qRed(pixel);
    const int g = qGreen(pixel);
    const int b = qBlue(pixel);
    if (clearly(g, r, b))
        return PaintedMark::Keep;
    if (clearly(r, g, b))
        return PaintedMark::Remove;
    return PaintedMark::None;
}

// The picture in the format paintedMark() reads (straight alpha, so that a half-transparent
// stroke keeps its full colour).
QImage markerPictureArgb(const QImage &markerPicture);

// Appends the clearly green pixels of `markerPicture` to `keepPoints` and the clearly red
// ones to `removePoints`, column by column like the harvest of a dab.
void markerPicturePoints(const QImage &markerPicture, QList<QPoint> &keepPoints,
                         QList<QPoint> &removePoints);
