// A broken promise of a decoder stops the fuzzer like a crash does.
#pragma once

#include <cstdio>
#include <cstdlib>

#define DV_FUZZ_CHECK(condition)                                                         \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)
