#pragma once

#include <QImage>
#include <QList>
#include <QPoint>

#include <array>

// Building blocks shared by the public stages and the memory-lean whole run.

// The 256-entry opaque grey ramp of the isolation images.
const QList<QRgb> &greyColourTable();

// The vote value of every label index 0..255 (substitution already applied), writing the
// stage's debug lines. `labelMap` must be 8 bits deep.
std::array<uchar, 256> voteTable(const QImage &labelMap, const QList<QPoint> &keepPoints,
                                 const QList<QPoint> &removePoints,
                                 const QList<QList<qint16>> &centers);

// Replaces every label byte by its vote; both planes W x H with their own strides.
void applyVoteTable(const std::array<uchar, 256> &table, const uchar *labels,
                    qsizetype labelStride, int W, int H, uchar *votes, qsizetype voteStride);

// The gradient of a W x H vote plane, every output byte written (corners and pixels whose
// formula would read outside the picture get 0).
void computeGradient(const uchar *votes, qsizetype voteStride, int W, int H, uchar *gradient,
                     qsizetype gradientStride);
