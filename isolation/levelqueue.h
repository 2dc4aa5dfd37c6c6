#pragma once

#include <QtGlobal>

#include <memory>
#include <vector>

// Priority queue of pixel indices with 256 first-in first-out levels; pop() takes the
// oldest entry of the lowest non-empty level.
//
// Each level is a chain of fixed-size blocks; a block that its level has read to the end
// goes back to a shared free list, and a level that runs empty rewinds into its last
// block. The flood's queue holds only its fronts at any moment, a small fraction of the
// picture, so a few blocks get reused over and over instead of a buffer per pixel.
// `lowest` is never above the lowest non-empty level (push lowers it), so scanning from it
// equals scanning from level 0.
class LevelQueue
{
public:
    static constexpr int Levels = 256;

    void push(quint32 index, int level)
    {
        Level &l = levels[level];
        if (!l.tail || l.tailPos == BlockEntries) {
            Block *block = freshBlock();
            if (l.tail)
                l.tail->next = block;
            else
                l.head = block;
            l.tail = block;
            l.tailPos = 0;
        }
        l.tail->entries[l.tailPos++] = index;
        if (level < lowest)
            lowest = level;
    }

    // -1 when every level is empty.
    qint64 pop()
    {
        for (; lowest < Levels; ++lowest) {
            Level &l = levels[lowest];
            if (l.head == l.tail && l.headPos == l.tailPos)
                continue;
            if (l.headPos == BlockEntries) {
                Block *used = l.head;
                l.head = used->next;
                l.headPos = 0;
                used->next = freeBlocks;
                freeBlocks = used;
            }
            const quint32 index = l.head->entries[l.headPos++];
            if (l.head == l.tail && l.headPos == l.tailPos)
                l.headPos = l.tailPos = 0;
            return index;
        }
        return -1;
    }

private:
    // One 4 KiB page per block.
    static constexpr int BlockEntries = 1022;
    static constexpr int SlabBlocks = 32;

    struct Block
    {
        Block *next;
        quint32 entries[BlockEntries];
    };

    struct Level
    {
        Block *head = nullptr;
        Block *tail = nullptr;
        int headPos = 0;
        int tailPos = 0;
    };

    Block *freshBlock()
    {
        if (!freeBlocks) {
            slabs.emplace_back(new Block[SlabBlocks]);
            Block *slab = slabs.back().get();
            for (int i = 0; i < SlabBlocks; ++i) {
                slab[i].next = freeBlocks;
                freeBlocks = &slab[i];
            }
        }
        Block *block = freeBlocks;
        freeBlocks = block->next;
        block->next = nullptr;
        return block;
    }

    Level levels[Levels];
    int lowest = Levels;
    Block *freeBlocks = nullptr;
    std::vector<std::unique_ptr<Block[]>> slabs;
};
