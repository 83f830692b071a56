#pragma once
// A property that must hold for every input. A broken one aborts, which libFuzzer records as a
// crash with the input that broke it; the corpus replay fails the same way.

#include <cstdio>
#include <cstdlib>

// What a target must undo before it aborts (temporary files), or null.
inline void (*fuzzCleanup)() = nullptr;

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);  \
            if (fuzzCleanup)                                                                       \
                fuzzCleanup();                                                                     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
