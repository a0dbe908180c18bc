// What the randomized tests share: a generator from a fixed seed, counts
// scaled by KEL_RANDOM_TEST_SCALE (a positive number, default 1) for a
// quicker run or a longer soak, and a tally of disagreements that shows
// the first few in full.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

inline long scaled(long count) {
    const char* text = std::getenv("KEL_RANDOM_TEST_SCALE");
    double scale = text != nullptr ? std::strtod(text, nullptr) : 1.0;
    if (!(scale > 0)) {
        scale = 1.0;
    }
    return std::max(1L, static_cast<long>(static_cast<double>(count) * scale));
}

struct Mismatches {
    long checked = 0;
    long count = 0;

    void add(const std::string& what) {
        if (++count <= 10) {
            ADD_FAILURE() << what;
        }
    }
};

struct Source {
    std::mt19937_64 bits{20261208};

    std::uint64_t next() { return bits(); }
    // A whole number in [0, bound).
    std::uint64_t below(std::uint64_t bound) { return next() % bound; }
    bool coin() { return (next() & 1) != 0; }
};
