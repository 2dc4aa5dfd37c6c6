#pragma once

#include <QImage>
#include <QList>

#include <array>

class MarkSquares;

// Building blocks shared by the public stages and the memory-lean whole run.

// The 256-entry opaque grey ramp of the isolation images.
const QList<QRgb> &greyColourTable();

// Votes per label index.
using VoteCounts = std::array<qint64, 256>;

// The labels under every square of the marks, counted per label, a pixel once per square it
// lies in. `labels` is the W x H label plane the marks were clipped to.
void countVotes(const uchar *labels, qsizetype stride, const MarkSquares &marks,
                VoteCounts &keepVotes, VoteCounts &removeVotes);

// The vote value of every label index 0..255 (substitution already applied), writing the
// stage's debug lines.
std::array<uchar, 256> voteTable(const VoteCounts &keepVotes, const VoteCounts &removeVotes,
                                 const QList<QList<qint16>> &centers);

// Replaces every label byte by its vote; both planes W x H with their own strides.
void applyVoteTable(const std::array<uchar, 256> &table, const uchar *labels,
                    qsizetype labelStride, int W, int H, uchar *votes, qsizetype voteStride);

// One row of the gradient of a vote plane W pixels wide: `above` and `below` are the vote
// rows next to `row`, null where the picture ends. Every byte of `out` is written.
void gradientRow(int W, const uchar *above, const uchar *row, const uchar *below, uchar *out);
