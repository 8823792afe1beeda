// Every dithering test starts as the first dither of a fresh process would: no lookup files in
// its working directory and no process-wide tables.
#pragma once

#include "dither/DitherDibAccess.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

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

    static std::vector<BYTE> ReadFile(const char* name) {
        std::ifstream in(name, std::ios::binary);
        return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
    }
    static void WriteFile(const char* name, const std::vector<BYTE>& bytes) {
        std::ofstream out(name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
};
