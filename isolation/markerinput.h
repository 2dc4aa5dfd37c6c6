#pragma once

#include <QList>
#include <QPoint>
#include <QString>

#include "isolation/markers.h"

class QImage;

// Marker dabs written as text, one per line in drawing order:
//   keep X Y SIZE      a keep square
//   remove X Y SIZE    a remove disc
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

bool isClearlyKeep(QRgb pixel);
bool isClearlyRemove(QRgb pixel);

// Appends the clearly green pixels of `markerPicture` to `keepPoints` and the clearly red
// ones to `removePoints`, column by column like the harvest of a dab.
void markerPicturePoints(const QImage &markerPicture, QList<QPoint> &keepPoints,
                         QList<QPoint> &removePoints);
