#pragma once

// The fuzz targets' one way to fail: a broken promise stops the run with a
// message naming it, so libFuzzer keeps the input that broke it.

#include <cstdio>
#include <cstdlib>

inline void require(bool holds, const char* promise) {
    if (holds) return;
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}
