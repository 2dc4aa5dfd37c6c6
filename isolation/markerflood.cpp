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

// The flood loop proper. `restrict` lets the compiler keep the queue's state in registers
// across the byte stores to the state plane.
static qsizetype settleAll(LevelQueue &queue, uchar *__restrict st, const uchar *__restrict grad,
                           qsizetype pitch, qint64 N, const ProgressCallback &progress)
{
    enum : uchar { KeepMark = MarkerFlood::KeepMark, Settled = MarkerFlood::Settled };
    const qsizetype P = pitch;
    qsizetype keeps = 0;
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
        if (s == 3)
            continue;
        keeps += s == KeepMark;
        const auto reach = [&](qsizetype q) {
            const uchar t = st[q];
            if (t & Settled)
                return;
            if (t == 0)
                queue.push(quint32(q), grad[q]);
            st[q] = t | s;
        };
        // Columns x - 1 .. x + 1, rows top to bottom within each.
        reach(p - P - 1);
        reach(p - 1);
        reach(p + P - 1);
        reach(p - P);
        reach(p + P);
        reach(p - P + 1);
        reach(p + 1);
        reach(p + P + 1);
    }
    return keeps;
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

    LevelQueue queue;
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

    keeps += settleAll(queue, st, grad, pitch, qint64(W) * H, progress);

    if (clock)
        qDebug() << "ws: 3" << clock->elapsed();
    gradient.reset();
}
