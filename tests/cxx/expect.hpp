// The check every C++ test driver uses: a failed expectation prints its line
// and what was expected, and the driver's main returns failures() (0: passed).
#pragma once
#include <cstdio>
#include <source_location>

namespace expect_detail {
inline int count = 0;
}

// `what` says what held; `n`, when given, names the case (a size, a seed).
inline void expect(bool ok, const char* what, long n = -1, std::source_location at = std::source_location::current()) {
    if (ok) return;
    ++expect_detail::count;
    if (n < 0)
        std::printf("FAILED line %u: %s\n", static_cast<unsigned>(at.line()), what);
    else
        std::printf("FAILED line %u: %s, n = %ld\n", static_cast<unsigned>(at.line()), what, n);
}

inline int failures() { return expect_detail::count; }
