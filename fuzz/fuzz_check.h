#pragma once
// The one way a fuzz target reports a broken property: a message on
// standard error, then a trap the fuzzer records as a crash.

#include <cstdio>

#define KB_FUZZ_FAIL(what)                                                        \
    do {                                                                          \
        std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, what); \
        __builtin_trap();                                                         \
    } while (false)

#define KB_FUZZ_CHECK(condition)                   \
    do {                                           \
        if (!(condition)) KB_FUZZ_FAIL(#condition); \
    } while (false)
