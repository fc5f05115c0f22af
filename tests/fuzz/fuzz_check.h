// The check of the fuzz targets.
#pragma once

#include <cstdio>
#include <cstdlib>

// Aborts with a message, so that libFuzzer records the input as a crash.
#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (false)
