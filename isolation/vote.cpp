#include "isolation/vote.h"

#include "isolation/kernels.h"

#include <QDebug>
#include <QMap>

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

std::array<uchar, 256> voteTable(const QImage &labelMap, const QList<QPoint> &keepPoints,
                                 const QList<QPoint> &removePoints,
                                 const QList<QList<qint16>> &centers)
{
    // Points outside the picture carry no cluster and are not counted.
    const int W = labelMap.width();
    const int H = labelMap.height();
    const auto count = [&](const QList<QPoint> &points, std::array<qint64, 256> &votes) {
        for (const QPoint &p : points) {
            if (uint(p.x()) < uint(W) && uint(p.y()) < uint(H))
                ++votes[labelMap.constScanLine(p.y())[p.x()]];
        }
    };
    std::array<qint64, 256> keepVotes{};
    std::array<qint64, 256> removeVotes{};
    count(keepPoints, keepVotes);
    count(removePoints, removeVotes);

    const int K = int(centers.size());
    QList<int> marked;
    QList<int> unmarked;
    for (int i = 0; i < K; ++i) {
        if (i < 256 && (keepVotes[i] > 0 || removeVotes[i] > 0))
            marked.append(i);
        else
            unmarked.append(i);
    }
    qDebug().nospace() << "mapped lenth " << marked.size() << ": " << marked;
    qDebug().nospace() << "unmapped lenth " << unmarked.size() << ": " << unmarked;

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
    qDebug() << "umcentersmap" << substitution;

    std::array<uchar, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const int cluster = substitution.value(c, c);
        const qint64 t = keepVotes[cluster];
        const qint64 v = removeVotes[cluster];
        // 64 bits: 255 * t leaves 32 bits beyond 8 421 504 keep votes in one cluster.
        table[c] = uchar(t >= 1 ? 255 * t / (t + v) : v >= 1 ? 0 : 127);
    }
    return table;
}

void applyVoteTable(const std::array<uchar, 256> &table, const uchar *labels,
                    qsizetype labelStride, int W, int H, uchar *votes, qsizetype voteStride)
{
    for (int y = 0; y < H; ++y) {
        const uchar *in = labels + y * labelStride;
        uchar *out = votes + y * voteStride;
        for (int x = 0; x < W; ++x)
            out[x] = table[in[x]];
    }
}

QImage buildVoteImage(QImage labelMap, const QList<QPoint> &keepPoints,
                      const QList<QPoint> &removePoints, const QList<QList<qint16>> &centers)
{
    // Labels are read as raw bytes; a map of another depth is read through its grey value.
    if (!labelMap.isNull() && labelMap.depth() != 8)
        labelMap = labelMap.convertToFormat(QImage::Format_Grayscale8);
    const std::array<uchar, 256> table = voteTable(labelMap, keepPoints, removePoints, centers);
    if (labelMap.isNull())
        return {};
    QImage voteImage(labelMap.size(), QImage::Format_Indexed8);
    voteImage.setColorTable(greyColourTable());
    applyVoteTable(table, labelMap.constBits(), labelMap.bytesPerLine(), labelMap.width(),
                   labelMap.height(), voteImage.bits(), voteImage.bytesPerLine());
    return voteImage;
}
