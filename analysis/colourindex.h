#pragma once

#include <QtGlobal>

#include <vector>

// A small open-addressing map from 32-bit keys (any value but 0xFFFFFFFF) to int, for the
// per-colour caches of the analysis, where QHash's node allocations would dominate. It
// starts small and doubles, so that a picture with few colours costs little.
class ColourIndex
{
public:
    ColourIndex() { entries.resize(size_t(1) << bits); }

    // The value stored for `key`; a new key gets the value -1 and sets `inserted`.
    int &find(quint32 key, bool &inserted)
    {
        const quint32 stored = key + 1;
        for (size_t i = slotOf(stored);; i = (i + 1) & (entries.size() - 1)) {
            Entry &entry = entries[i];
            if (entry.key == stored) {
                inserted = false;
                return entry.value;
            }
            if (entry.key == 0) {
                inserted = true;
                if (2 * (used + 1) > entries.size()) {
                    grow();
                    return place(stored);
                }
                ++used;
                entry.key = stored;
                return entry.value;
            }
        }
    }

private:
    struct Entry
    {
        quint32 key = 0;
        int value = -1;
    };

    size_t slotOf(quint32 stored) const { return (stored * 2654435761u) >> (32 - bits); }

    int &place(quint32 stored)
    {
        size_t i = slotOf(stored);
        while (entries[i].key != 0)
            i = (i + 1) & (entries.size() - 1);
        ++used;
        entries[i].key = stored;
        return entries[i].value;
    }

    void grow()
    {
        std::vector<Entry> old(size_t(1) << (bits + 1));
        old.swap(entries);
        ++bits;
        used = 0;
        for (const Entry &entry : old) {
            if (entry.key != 0)
                place(entry.key) = entry.value;
        }
    }

    std::vector<Entry> entries;
    int bits = 12;
    size_t used = 0;
};
