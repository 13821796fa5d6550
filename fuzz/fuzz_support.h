#pragma once
// How a fuzz target reports a finding: loudly, so that libFuzzer and the
// replay driver both stop on it.
#include <cstdio>
#include <cstdlib>
#include <string>

[[noreturn]] inline void Finding(const std::string& what) {
    std::fprintf(stderr, "FUZZ FINDING: %s\n", what.c_str());
    std::abort();
}

#define FUZZ_CHECK(condition, what)      \
    do {                                 \
        if (!(condition)) Finding(what); \
    } while (false)
