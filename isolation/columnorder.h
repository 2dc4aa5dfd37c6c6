#pragma once

#include <QList>
#include <QMutex>

#include <algorithm>
#include <vector>

#include "analysis/parallel.h"

// The indices y * W + x of the pixels a test picks on a W x H picture, column by column as
// the isolation lists keep pixels. Each column's run is located by counting row by row in
// memory order, then filled in strips of columns walked down row by row: each row of a strip
// is a cache line or two, and every column of the strip appends to its own run.
//
//   countRow(y, counts): adds 1 to counts[x] for each picked pixel x of row y.
//   fillRow(y, x0, n, index, cursor, out): for each picked pixel x0 + i (i < n) of row y,
//       writes index + i to out[cursor[i]++] (index is y * W + x0), left to right.
template <typename CountRow, typename FillRow>
QList<qint32> pickedInColumnOrder(int W, int H, CountRow countRow, FillRow fillRow)
{
    if (W <= 0 || H <= 0)
        return {};
    std::vector<qint64> starts(size_t(W) + 1, 0);
    QMutex merging;
    Parallel::forRange(H, 64, [&](qint64 begin, qint64 end) {
        std::vector<quint32> counts(size_t(W), 0);
        for (qint64 y = begin; y < end; ++y)
            countRow(int(y), counts.data());
        const QMutexLocker lock(&merging);
        for (int x = 0; x < W; ++x)
            starts[size_t(x) + 1] += counts[size_t(x)];
    });
    for (int x = 0; x < W; ++x)
        starts[size_t(x) + 1] += starts[size_t(x)];

    constexpr int strip = 64;
    QList<qint32> picked(starts[size_t(W)]);
    qint32 *const out = picked.data();
    Parallel::forRange((W + strip - 1) / strip, 1, [&](qint64 begin, qint64 end) {
        qint64 cursor[strip];
        for (qint64 s = begin; s < end; ++s) {
            const int x0 = int(s) * strip;
            const int n = std::min(strip, W - x0);
            for (int i = 0; i < n; ++i)
                cursor[i] = starts[size_t(x0 + i)];
            for (int y = 0; y < H; ++y)
                fillRow(y, x0, n, y * W + x0, cursor, out);
        }
    });
    return picked;
}
