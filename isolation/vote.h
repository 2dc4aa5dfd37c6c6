#pragma once

#include <QImage>
#include <QList>
#include <QPoint>

// Per-pixel keep likelihood from the markers' votes per colour cluster (255 keep, 0 remove,
// 127 unvoted), as an 8-bit indexed image with a grey colour table.
QImage buildVoteImage(QImage labelMap, const QList<QPoint> &keepPoints,
                      const QList<QPoint> &removePoints, const QList<QList<qint16>> &centers);
