#pragma once

#include <QtGlobal>

#include <array>
#include <memory>

// Priority queue of pixel indices with 256 first-in first-out levels; pop() takes the
// oldest entry of the lowest non-empty level.
//
// The flood queues every pixel at most once (further arrivals only add their mark, see
// MarkerFlood), and a pixel's level is its own gradient value, so the levels are sized up
// front from the gradient histogram and share one buffer of one index per pixel: no
// growth, no per-level allocation. `lowest` is never above the lowest non-empty level
// (push lowers it), so the scan from it equals a scan from level 0.
class LevelQueue
{
public:
    static constexpr int Levels = 256;

    explicit LevelQueue(const std::array<qsizetype, Levels> &capacity)
    {
        qsizetype total = 0;
        for (int level = 0; level < Levels; ++level) {
            head[level] = tail[level] = total;
            total += capacity[level];
        }
        entries.reset(new quint32[size_t(qMax<qsizetype>(total, 1))]);
    }

    void push(quint32 index, int level)
    {
        entries[tail[level]++] = index;
        if (level < lowest)
            lowest = level;
    }

    // -1 when every level is empty.
    qint64 pop()
    {
        for (; lowest < Levels; ++lowest) {
            if (head[lowest] != tail[lowest])
                return entries[head[lowest]++];
        }
        return -1;
    }

private:
    std::unique_ptr<quint32[]> entries;
    std::array<qsizetype, Levels> head{};
    std::array<qsizetype, Levels> tail{};
    int lowest = Levels;
};
