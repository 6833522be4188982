#pragma once
// The fuzz targets' contract check: a broken promise aborts with the promise's text, which
// libFuzzer reports as a finding and keeps the input that broke it.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                       \
    do {                                                                                            \
        if (!(condition)) {                                                                         \
            std::fprintf(stderr, "contract broken at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                           \
        }                                                                                           \
    } while (false)
