#include "isolation/vote.h"

#include "isolation/kernels.h"
#include "isolation/marksquares.h"

#include <QDebug>
#include <QMap>
#include <QMutex>

#include <memory>

#include "analysis/diagnostics.h"
#include "analysis/parallel.h"

const QList<QRgb> &greyColourTable()
{
    static const QList<QRgb> table = [] {
        QList<QRgb> grey;
        grey.reserve(256);
        for (int i = 0; i < 256; ++i)
            grey.append(qRgba(i, i, i, 255));
        return grey;
    }();
    return table;
}

static qint64 squaredDistance(const QList<qint16> &a, const QList<qint16> &b)
{
    // Wider than the 32 bits the centres need, so that no pair of 16-bit triples can wrap.
    qint64 sum = 0;
    for (int i = 0; i < 3; ++i) {
        const qint64 d = qint64(a.value(i)) - b.value(i);
        sum += d * d;
    }
    return sum;
}

namespace {

// Four interleaved tallies, so that runs of one label do not wait on their own increments.
struct Tally
{
    qint64 counts[4][256] = {};

    void addSquare(const uchar *labels, qsizetype stride, const PixelSquare &square)
    {
        const int n = square.x1 - square.x0;
        for (int y = square.y0; y < square.y1; ++y) {
            const uchar *row = labels + y * stride + square.x0;
            int x = 0;
            for (; x + 4 <= n; x += 4) {
                ++counts[0][row[x]];
                ++counts[1][row[x + 1]];
                ++counts[2][row[x + 2]];
                ++counts[3][row[x + 3]];
            }
            for (; x < n; ++x)
                ++counts[0][row[x]];
        }
    }

    void addTo(VoteCounts &total) const
    {
        for (int c = 0; c < 256; ++c)
            total[size_t(c)] += counts[0][c] + counts[1][c] + counts[2][c] + counts[3][c];
    }
};

} // namespace

void countVotes(const uchar *labels, qsizetype stride, const MarkSquares &marks,
                VoteCounts &keepVotes, VoteCounts &removeVotes)
{
    keepVotes.fill(0);
    removeVotes.fill(0);
    QMutex merging;
    // Sums of integers: the same totals in any split.
    Parallel::forRange(marks.unitCount(), 256, [&](qint64 begin, qint64 end) {
        auto keep = std::make_unique<Tally>();
        auto remove = std::make_unique<Tally>();
        marks.forUnits(begin, end, [&](bool isKeep, const PixelSquare &square) {
            (isKeep ? *keep : *remove).addSquare(labels, stride, square);
        });
        const QMutexLocker lock(&merging);
        keep->addTo(keepVotes);
        remove->addTo(removeVotes);
    });
}

std::array<uchar, 256> voteTable(const VoteCounts &keepVotes, const VoteCounts &removeVotes,
                                 const QList<QList<qint16>> &centers)
{
    const int K = int(centers.size());
    QList<int> marked;
    QList<int> unmarked;
    for (int i = 0; i < K; ++i) {
        if (i < 256 && (keepVotes[size_t(i)] > 0 || removeVotes[size_t(i)] > 0))
            marked.append(i);
        else
            unmarked.append(i);
    }
    qCDebug(lcIsolation).nospace() << "mapped lenth " << marked.size() << ": " << marked;
    qCDebug(lcIsolation).nospace() << "unmapped lenth " << unmarked.size() << ": " << unmarked;

    QMap<int, int> substitution;
    if (!marked.isEmpty()) {
        for (int u : std::as_const(unmarked)) {
            qsizetype best = 0;
            qint64 bestDistance = 924075;
            for (qsizetype j = 0; j < marked.size(); ++j) {
                const qint64 d = squaredDistance(centers.at(u), centers.at(marked.at(j)));
                if (d < bestDistance) {
                    bestDistance = d;
                    best = j;
                }
            }
            substitution.insert(u, marked.at(best));
        }
    }
    qCDebug(lcIsolation) << "umcentersmap" << substitution;

    std::array<uchar, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const int cluster = substitution.value(c, c);
        const qint64 t = keepVotes[size_t(cluster)];
        const qint64 v = removeVotes[size_t(cluster)];
        // 64 bits: 255 * t leaves 32 bits beyond 8 421 504 keep votes in one cluster.
        table[size_t(c)] = uchar(t >= 1 ? 255 * t / (t + v) : v >= 1 ? 0 : 127);
    }
    return table;
}

void applyVoteTable(const std::array<uchar, 256> &table, const uchar *labels,
                    qsizetype labelStride, int W, int H, uchar *votes, qsizetype voteStride)
{
    Parallel::forRange(H, 64, [&](qint64 begin, qint64 end) {
        for (qint64 y = begin; y < end; ++y) {
            const uchar *in = labels + y * labelStride;
            uchar *out = votes + y * voteStride;
            for (int x = 0; x < W; ++x)
                out[x] = table[in[x]];
        }
    });
}

QImage buildVoteImage(QImage labelMap, const QList<QPoint> &keepPoints,
                      const QList<QPoint> &removePoints, const QList<QList<qint16>> &centers)
{
    // Labels are read as raw bytes; a map of another depth is read through its grey value.
    if (!labelMap.isNull() && labelMap.depth() != 8)
        labelMap = labelMap.convertToFormat(QImage::Format_Grayscale8);
    // Points outside the picture carry no cluster and are not counted.
    VoteCounts keepVotes, removeVotes;
    countVotes(labelMap.constBits(), labelMap.bytesPerLine(),
               MarkSquares(keepPoints, removePoints, labelMap.width(), labelMap.height()), keepVotes,
               removeVotes);
    const std::array<uchar, 256> table = voteTable(keepVotes, removeVotes, centers);
    if (labelMap.isNull())
        return {};
    QImage voteImage(labelMap.size(), QImage::Format_Indexed8);
    voteImage.setColorTable(greyColourTable());
    applyVoteTable(table, labelMap.constBits(), labelMap.bytesPerLine(), labelMap.width(),
                   labelMap.height(), voteImage.bits(), voteImage.bytesPerLine());
    return voteImage;
}
