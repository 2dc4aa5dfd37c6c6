#pragma once

#include <QtGlobal>

#include <array>

#include "analysis/largebuffer.h"

// Priority queue of pixel indices with 256 first-in first-out levels; pop() takes the
// oldest entry of the lowest non-empty level.
//
// Each level is a flat segment of one shared buffer, as long as the most entries the level
// will ever receive (the flood queues each pixel at most once, at its own gradient value, so
// the gradient's histogram gives these). Entries are never moved or reused, so push and pop
// are a store and a load, and the entries a level will hand out next lie in order ahead of
// its read position, where the flood can prefetch their pixels. A 256-bit map of the levels
// that may hold entries replaces the scan for the lowest one.
class LevelQueue
{
public:
    static constexpr int Levels = 256;

    // `capacity[l]`: how many entries level l receives at most over the queue's life.
    explicit LevelQueue(const std::array<qint64, Levels> &capacity)
    {
        qint64 total = 0;
        for (qint64 c : capacity)
            total += c;
        buffer = LargeBuffer(size_t(total) * sizeof(quint32), true);
        if (total > 0)
            Q_CHECK_PTR(buffer.data());
        quint32 *next = reinterpret_cast<quint32 *>(buffer.data());
        for (int l = 0; l < Levels; ++l) {
            levels[size_t(l)] = {next, next};
            ends[size_t(l)] = next + capacity[size_t(l)];
            next += capacity[size_t(l)];
        }
    }

    void push(quint32 index, int level)
    {
        Level &l = levels[size_t(level)];
        Q_ASSERT(l.tail < ends[size_t(level)]);
        *l.tail++ = index;
        occupied[size_t(level) >> 6] |= quint64(1) << (level & 63);
        if (level < current)
            current = level;
    }

    // -1 when every level is empty.
    qint64 pop()
    {
        for (;;) {
            Level &l = levels[size_t(current)];
            if (l.head != l.tail)
                return *l.head++;
            occupied[size_t(current) >> 6] &= ~(quint64(1) << (current & 63));
            // Levels below `current` are empty: push lowers it.
            qsizetype word = current >> 6;
            while (word < 4 && occupied[size_t(word)] == 0)
                ++word;
            if (word == 4) {
                current = Levels - 1;
                return -1;
            }
            current = word * 64 + __builtin_ctzll(occupied[size_t(word)]);
        }
    }

    // The entry `distance` places after the one pop() returned last, in the same level, or
    // null; for prefetching.
    const quint32 *ahead(int distance) const
    {
        const Level &l = levels[size_t(current)];
        const quint32 *entry = l.head + distance - 1;
        return entry < l.tail ? entry : nullptr;
    }

private:
    struct Level
    {
        quint32 *head;
        quint32 *tail;
    };

    LargeBuffer buffer;
    std::array<Level, Levels> levels;
    std::array<quint32 *, Levels> ends; // for checking only
    quint64 occupied[4] = {};
    qsizetype current = Levels - 1; // wider than the entries, which then cannot alias it
};
