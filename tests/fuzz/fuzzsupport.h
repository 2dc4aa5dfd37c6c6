#pragma once

#include <cstdio>
#include <cstdlib>

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
