// A program with two extension modules joined to its resource chain, the way a library's entry
// point joins it; and small BMP files that tell by their width where they came from. Native only.
#pragma once

#include <afxwin.h>

#include <platform/host.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace mfc_test {

// A 2x1 24-bit BMP file whose width tells which module it came from.
inline std::vector<BYTE> bmp_file(int width) {
    const int row = (width * 3 + 3) & ~3;
    const int size = 14 + 40 + row;
    std::vector<BYTE> f(static_cast<std::size_t>(size), 0);
    auto put32 = [&](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            f[static_cast<std::size_t>(at + i)] = static_cast<BYTE>(v >> (8 * i));
        }
    };
    f[0] = 'B';
    f[1] = 'M';
    put32(2, static_cast<std::uint32_t>(size));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, 1);
    f[26] = 1;
    f[28] = 24;
    return f;
}

inline void add_bitmap(HMODULE module, UINT id, int width) {
    const std::vector<BYTE> f = bmp_file(width);
    ASSERT_TRUE(host::add_bitmap_resource(module, MAKEINTRESOURCE(id), f.data(), f.size()));
}

// Two extension modules joined to the program's chain the way a library's entry point does.
class ResourceChain : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = ::GetModuleHandleA(NULL);
        first_ = host::register_module("mfc_test_first", nullptr);
        second_ = host::register_module("mfc_test_second", nullptr);
        ASSERT_NE(nullptr, first_);
        ASSERT_NE(nullptr, second_);
        ASSERT_TRUE(AfxInitExtensionModule(first_state_, first_));
        ASSERT_TRUE(AfxInitExtensionModule(second_state_, second_));
        new CDynLinkLibrary(first_state_);
        new CDynLinkLibrary(second_state_);
    }

    void TearDown() override {
        AfxTermExtensionModule(first_state_);
        AfxTermExtensionModule(second_state_);
        for (HMODULE m : {program_, first_, second_}) {
            host::clear_resources(m);
        }
        host::unregister_module(first_);
        host::unregister_module(second_);
        host::set_user_language(1033);
    }

    HMODULE program_ = NULL;
    HMODULE first_ = NULL;
    HMODULE second_ = NULL;
    AFX_EXTENSION_MODULE first_state_ = {};
    AFX_EXTENSION_MODULE second_state_ = {};
};

} // namespace mfc_test
