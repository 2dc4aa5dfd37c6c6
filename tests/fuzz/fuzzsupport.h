#pragma once

#include <cstdio>
#include <cstdlib>

class CutSession;

// A broken promise is a finding like a crash: libFuzzer keeps the input that led here.
inline void require(bool holds, const char *what)
{
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

// One thread (the fuzzers run side by side and the pictures are tiny) and no debug output
// from the algorithms, which would cost more than the work.
void prepareFuzzing();

// The shared reader sets the process-wide allocation limit on its first read; this makes that
// read and lowers the limit afterwards, so that a format whose header says nothing of the size
// cannot take long.
void lowerAllocationLimit(int mebibytes);

// The blob photo in a session of its own, analysed once and kept for the process's life.
CutSession &blobSession();
