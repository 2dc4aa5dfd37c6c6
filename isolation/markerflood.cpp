#include "isolation/markerflood.h"

#include "isolation/levelqueue.h"

#include <QDebug>

#include <cstring>

MarkerFlood::MarkerFlood(int width, int height)
    : W(qMax(width, 0)), H(qMax(height, 0)), pitch(qsizetype(W) + 2),
      gradient(new uchar[size_t(pitch * (H + 2))]), state(new uchar[size_t(pitch * (H + 2))])
{
    // Indices are 32 bits wide in the queue.
    Q_ASSERT(pitch * (H + 2) <= qsizetype(0xFFFFFFFFu));
}

void MarkerFlood::run(const QList<QPoint> &keepPoints, const QList<QPoint> &removePoints,
                      const ProgressCallback &progress, const QElapsedTimer *clock)
{
    const qsizetype planeSize = pitch * (H + 2);
    uchar *const st = state.get();
    std::memset(st, Settled, size_t(pitch));
    std::memset(st + planeSize - pitch, Settled, size_t(pitch));
    for (int y = 1; y <= H; ++y) {
        uchar *line = st + y * pitch;
        line[0] = Settled;
        std::memset(line + 1, 0, size_t(W));
        line[W + 1] = Settled;
    }

    std::array<qsizetype, LevelQueue::Levels> histogram{};
    for (int y = 0; y < H; ++y) {
        const uchar *line = gradientLine(y);
        for (int x = 0; x < W; ++x)
            ++histogram[line[x]];
    }
    LevelQueue queue(histogram);
    const uchar *const grad = gradient.get();

    if (clock)
        qDebug() << "ws: 1" << clock->elapsed();

    // The neighbours in the order the fronts visit them: columns x - 1 .. x + 1, rows
    // within each column top to bottom.
    const qsizetype P = pitch;
    const qsizetype around[8] = {-P - 1, -1, P - 1, -P, P, -P + 1, 1, P + 1};
    const auto reach = [&](qsizetype q, uchar mark) {
        const uchar s = st[q];
        if (s & Settled)
            return;
        if (s == 0)
            queue.push(quint32(q), grad[q]);
        st[q] = s | mark;
    };
    const auto indexOf = [&](const QPoint &p) -> qsizetype {
        if (uint(p.x()) >= uint(W) || uint(p.y()) >= uint(H))
            return -1;
        return (p.y() + 1) * P + p.x() + 1;
    };
    const auto startFront = [&](const QList<QPoint> &points, uchar mark) {
        for (const QPoint &point : points) {
            const qsizetype p = indexOf(point);
            if (p >= 0) {
                for (qsizetype d : around)
                    reach(p + d, mark);
            }
        }
    };

    keeps = 0;
    for (const QPoint &point : keepPoints) {
        const qsizetype p = indexOf(point);
        if (p >= 0 && st[p] != SettledKeep) {
            st[p] = SettledKeep;
            ++keeps;
        }
    }
    startFront(keepPoints, KeepMark);
    for (const QPoint &point : removePoints) {
        const qsizetype p = indexOf(point);
        if (p >= 0) {
            keeps -= st[p] == SettledKeep;
            st[p] = Settled | RemoveMark;
        }
    }
    startFront(removePoints, RemoveMark);

    if (clock)
        qDebug() << "ws: 2" << clock->elapsed();

    const qint64 N = qint64(W) * H;
    qint64 settled = 0;
    int untilProgress = 10000;
    for (;;) {
        const qint64 p = queue.pop();
        if (p < 0)
            break;
        const uchar s = st[p];
        if (s & Settled)
            continue;
        ++settled;
        if (--untilProgress == 0) {
            untilProgress = 10000;
            // 64 bits: 100 per settled pixel passes 2^31 on a 24-megapixel picture.
            if (progress)
                progress(int(settled * 100 / N));
        }
        st[p] = s | Settled;
        if (s == (KeepMark | RemoveMark))
            continue;
        keeps += s == KeepMark;
        for (qsizetype d : around)
            reach(p + d, s);
    }

    if (clock)
        qDebug() << "ws: 3" << clock->elapsed();
    gradient.reset();
}
