// String and bitmap resources of the program's own module: LoadStringA, FindResourceA and
// friends, LoadBitmapA and LoadImageA from a resource. In the Windows build they come from
// data/kernel_resources.rc; natively the test adds the same ones through the host API.
#include "platform/win32/gdi_support.h"
#include "support/bmp_builder.h"
#ifndef _WIN32
#include <platform/host.h>
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

using namespace gdi_test;

namespace {

HMODULE program() {
#ifndef _WIN32
    static const bool added = [] {
        const char* source = std::getenv("TALVO_SOURCE_DIR");
        const std::string bmp = std::string(source != nullptr ? source : ".") +
                                "/tests/platform/win32/data/pattern8x8.bmp";
        return host::add_string_resource(nullptr, 11001, 1033, "Resolution") &&
               host::add_string_resource(nullptr, 11002, 1033, "Screen too small") &&
               host::add_string_resource(nullptr, 11001, 1031, "Aufloesung") &&
               host::add_bitmap_resource_from_file(nullptr, MAKEINTRESOURCEA(11101), bmp.c_str());
    }();
    EXPECT_TRUE(added);
#endif
    return GetModuleHandleA(nullptr);
}

// The pattern, top row first: a red and blue checkerboard, red at the top-left, with one green
// pixel at the bottom-left.
void expect_pattern(HBITMAP bitmap) {
    std::vector<COLORREF> want;
    for (int i = 0; i < 64; ++i) {
        want.push_back(i == 56 ? kGreen : (i % 8 + i / 8) % 2 == 0 ? kRed : kBlue);
    }
    EXPECT_EQ(bmpfile::colours_of(bitmap), want);
}

} // namespace

TEST(LoadResources, StringsInTheUsersLanguage) {
    HMODULE module = program();
    char buf[64];
    EXPECT_EQ(LoadStringA(module, 11001, buf, sizeof buf), 10);
    EXPECT_STREQ(buf, "Resolution");
    EXPECT_EQ(LoadStringA(module, 11002, buf, sizeof buf), 16);
    EXPECT_STREQ(buf, "Screen too small");
    // Cut to the buffer, terminated.
    EXPECT_EQ(LoadStringA(module, 11001, buf, 5), 4);
    EXPECT_STREQ(buf, "Reso");
    // Missing strings give 0 and an empty buffer.
    std::strcpy(buf, "x");
    EXPECT_EQ(LoadStringA(module, 11003, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(LoadStringA(module, 1, buf, sizeof buf), 0);
}

TEST(LoadResources, StringBlocksAndBitmapsAreFound) {
    HMODULE module = program();
    // Strings live in blocks of sixteen: 11001 is in block 688.
    EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(688), RT_STRING), nullptr);
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(687), RT_STRING), nullptr);
    HRSRC german = FindResourceExA(module, RT_STRING, MAKEINTRESOURCEA(688),
                                   MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    ASSERT_NE(german, nullptr);
    // Entry 9 of the German block: "Aufloesung" as a counted UTF-16 string.
    const auto* block = static_cast<const WORD*>(LockResource(LoadResource(module, german)));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::vector<WORD>(block, block + 11),
              (std::vector<WORD>{0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 'A'}));
    EXPECT_FAILS_WITH(FindResourceExA(module, RT_STRING, MAKEINTRESOURCEA(688),
                                      MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH)),
                      nullptr, ERROR_RESOURCE_LANG_NOT_FOUND);

    // A bitmap is stored without its file header.
    HRSRC bitmap = FindResourceA(module, MAKEINTRESOURCEA(11101), RT_BITMAP);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(SizeofResource(module, bitmap), 150u - 14u);
    const auto* dib = static_cast<const BYTE*>(LockResource(LoadResource(module, bitmap)));
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib[0], 40);
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(11102), RT_BITMAP), nullptr);
}

TEST(LoadResources, LoadBitmapMakesADeviceBitmap) {
    HMODULE module = program();
    HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(11101));
    ASSERT_NE(bitmap, nullptr);
    DIBSECTION ds = {};
    EXPECT_EQ(GetObjectA(bitmap, sizeof ds, &ds), static_cast<int>(sizeof(BITMAP)));
    EXPECT_EQ(shape_of(bitmap), (Shape{8, 8, expected_bpp()}));
    if (expected_bpp() >= 16) {
        // Pure red, green and blue survive every true-colour format.
        expect_pattern(bitmap);
    }
    EXPECT_TRUE(DeleteObject(bitmap));

    HBITMAP section = static_cast<HBITMAP>(
        LoadImageA(module, MAKEINTRESOURCEA(11101), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(GetObjectA(section, sizeof ds, &ds), static_cast<int>(sizeof ds));
    EXPECT_EQ(shape_of(section), (Shape{8, 8, 4}));
    expect_pattern(section);
    EXPECT_TRUE(DeleteObject(section));

    EXPECT_EQ(LoadBitmapA(module, MAKEINTRESOURCEA(11102)), nullptr);
    EXPECT_EQ(LoadBitmapA(module, "NoSuchBitmap"), nullptr);
}
