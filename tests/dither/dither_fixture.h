// Every dithering test starts as the first dither of a fresh process would: no lookup files in
// its working directory and no process-wide tables.
#pragma once

#include "dither/DitherDibAccess.h"
#include "support/bmp_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

// FNV-1a over bytes: pins tables and files whose every value matters.
inline std::uint32_t Fnv1a(const void* data, std::size_t size) {
    std::uint32_t h = 0x811C9DC5u;
    for (std::size_t i = 0; i < size; ++i) {
        h = (h ^ static_cast<const BYTE*>(data)[i]) * 0x01000193u;
    }
    return h;
}

class FreshDitherProcess : public ::testing::Test {
protected:
    void SetUp() override { Forget(); }
    void TearDown() override { Forget(); }

    static void Forget() {
        std::remove("256lkup.dat");
        std::remove("16lkup.dat");
        CDitherDibAccess::ForgetProcessTables();
    }
};

// Squared distance between a palette entry and a colour.
inline long Dist(const RGBQUAD& q, int r, int g, int b) {
    return long(r - q.rgbRed) * (r - q.rgbRed) + long(g - q.rgbGreen) * (g - q.rgbGreen) +
           long(b - q.rgbBlue) * (b - q.rgbBlue);
}

// The colour a lookup-table entry stands for: the top value of each 5-bit level.
inline void EntryColour(int e, int& r, int& g, int& b) {
    r = 8 * (e >> 10) + 7;
    g = 8 * ((e >> 5) & 31) + 7;
    b = 8 * (e & 31) + 7;
}
