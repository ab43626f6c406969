// A property every fuzz target asserts about what it fed in: a broken one
// aborts, so libFuzzer keeps the input as a crash like any memory error.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                                   \
    do {                                                                                                   \
        if (!(cond)) {                                                                                     \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                 \
            std::abort();                                                                                  \
        }                                                                                                  \
    } while (0)
