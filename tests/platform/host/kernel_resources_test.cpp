// Resources given through the host: bitmaps by number and name, string tables in several
// languages, and the Win32 calls that find and read them.
#include "platform/last_error.h"
#include "support/bmp_builder.h"

#include <windows.h>
#include <platform/host.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class KernelResources : public ::testing::Test {
protected:
    void TearDown() override {
        host::clear_resources(nullptr);
        host::set_user_language(1033);
    }
};

std::string load_string(UINT id, int buffer = 256) {
    std::vector<char> buf(static_cast<std::size_t>(buffer) + 1, '#');
    const int n = LoadStringA(nullptr, id, buf.data(), buffer);
    EXPECT_EQ(n, static_cast<int>(std::strlen(buf.data())));
    return buf.data();
}

} // namespace

// (A number with no string in its block: the resource tests of the Win32 program.)
TEST_F(KernelResources, StringsFollowTheUserLanguage) {
    ASSERT_TRUE(host::add_string_resource(nullptr, 11001, 1031, "Aufl\xC3\xB6sung"));
    ASSERT_TRUE(host::add_string_resource(nullptr, 11001, 1033, "Resolution"));
    ASSERT_TRUE(host::add_string_resource(nullptr, 11001, 1042, "korean"));
    ASSERT_TRUE(host::add_string_resource(nullptr, 11002, 1042, "only korean"));
    ASSERT_TRUE(host::add_string_resource(nullptr, 11002, 1049, "only russian"));

    struct Case {
        LANGID user;
        UINT id;
        const char* expected;
    };
    const Case cases[] = {
        {1031, 11001, "Aufl\xC3\xB6sung"}, // exact
        {1033, 11001, "Resolution"},       // exact
        {1042, 11001, "korean"},           // exact
        {1036, 11001, "Resolution"},       // not there: US English
        {2057, 11001, "Resolution"},       // British English is another language
        {1036, 11002, "only korean"},      // no English either: the lowest language
        {1049, 11002, "only russian"},     // exact beats the fallbacks
    };
    for (const Case& c : cases) {
        host::set_user_language(c.user);
        EXPECT_EQ(GetUserDefaultLangID(), c.user);
        EXPECT_EQ(GetUserDefaultUILanguage(), c.user);
        EXPECT_EQ(load_string(c.id), c.expected) << c.user << " " << c.id;
    }
}

TEST_F(KernelResources, LoadStringCutsAtCharacterBoundaries) {
    const std::string word = "Gr\xC3\xB6\xC3\x9F"
                             "e";
    ASSERT_TRUE(host::add_string_resource(nullptr, 7, 1033, word.c_str()));
    EXPECT_EQ(load_string(7), word);
    EXPECT_EQ(load_string(7, 7), "Gr\xC3\xB6\xC3\x9F");
    EXPECT_EQ(load_string(7, 6), "Gr\xC3\xB6"); // would cut the second letter in half
    EXPECT_EQ(load_string(7, 5), "Gr\xC3\xB6");
    EXPECT_EQ(load_string(7, 4), "Gr");
    EXPECT_EQ(load_string(7, 1), "");
    char untouched = 'x';
    EXPECT_EQ(LoadStringA(nullptr, 7, &untouched, 0), 0);
    EXPECT_EQ(untouched, 'x');
    EXPECT_EQ(LoadStringA(nullptr, 7, nullptr, 10), 0);

    // Text that is not UTF-8 is refused, and replacing a string replaces it.
    EXPECT_FALSE(host::add_string_resource(nullptr, 8, 1033, "bad \xC3("));
    EXPECT_FALSE(host::add_string_resource(nullptr, 8, 1033, "overlong \xC0\xAF"));
    EXPECT_FALSE(host::add_string_resource(nullptr, 8, 1033, "surrogate \xED\xA0\x80"));
    ASSERT_TRUE(host::add_string_resource(nullptr, 7, 1033, "\xF0\x9F\x99\x82 ok"));
    EXPECT_EQ(load_string(7), "\xF0\x9F\x99\x82 ok");
}

// Strings given as UTF-8 are stored as Windows stores them: blocks of sixteen counted UTF-16
// strings. (Finding the blocks: the resource tests of the Win32 program.)
TEST_F(KernelResources, StringBlocksHoldCountedUtf16) {
    ASSERT_TRUE(host::add_string_resource(nullptr, 11001, 1033, "A\xC3\xA9"));
    ASSERT_TRUE(host::add_string_resource(nullptr, 11002, 1033, "xyz"));
    HRSRC block = FindResourceA(nullptr, MAKEINTRESOURCEA(11001 / 16 + 1), RT_STRING);
    ASSERT_NE(block, nullptr);
    const auto* data = static_cast<const WORD*>(LockResource(LoadResource(nullptr, block)));
    ASSERT_NE(data, nullptr);
    // Entries 9 and 10 of block 688: "A\u00e9" (2 UTF-16 units) and "xyz"; the rest empty.
    const std::vector<WORD> want = {0,    0, 0,    0,    0,    0, 0, 0, 0, 2, u'A',
                                    0xE9, 3, u'x', u'y', u'z', 0, 0, 0, 0, 0};
    ASSERT_EQ(SizeofResource(nullptr, block), want.size() * 2);
    EXPECT_EQ(std::vector<WORD>(data, data + want.size()), want);
}

TEST_F(KernelResources, BitmapsByNumberAndName) {
    // A file with a gap between its colour table and its pixels is stored packed.
    const auto file = bmpfile::make({"", 40, 5, 3, 4, 0, false, {}, 0, 6, false});
    ASSERT_TRUE(
        host::add_bitmap_resource(nullptr, MAKEINTRESOURCEA(11101), file.data(), file.size()));
    ASSERT_TRUE(host::add_bitmap_resource(nullptr, "Pattern", file.data(), file.size()));

    for (LPCSTR name : {static_cast<LPCSTR>(MAKEINTRESOURCEA(11101)), static_cast<LPCSTR>("#11101"),
                        static_cast<LPCSTR>("PATTERN"), static_cast<LPCSTR>("pattern")}) {
        HRSRC r = FindResourceA(nullptr, name, RT_BITMAP);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(SizeofResource(nullptr, r), file.size() - 14 - 6);
        const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, r)));
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::memcmp(data, file.data() + 14, 40 + 64), 0) << "header and table";
        EXPECT_EQ(std::memcmp(data + 40 + 64, file.data() + 14 + 40 + 64 + 6, 12), 0)
            << "pixels right after the table";
    }

    EXPECT_FAILS_WITH(FindResourceA(nullptr, MAKEINTRESOURCEA(11102), RT_BITMAP), nullptr,
                      ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_FAILS_WITH(FindResourceA(nullptr, MAKEINTRESOURCEA(11101), RT_RCDATA), nullptr,
                      ERROR_RESOURCE_TYPE_NOT_FOUND);

    // Malformed files are not added.
    auto broken = file;
    broken[0] = 'X';
    EXPECT_FALSE(host::add_bitmap_resource(nullptr, "broken", broken.data(), broken.size()));
    EXPECT_FALSE(host::add_bitmap_resource(nullptr, "short", file.data(), file.size() - 1));
    EXPECT_FALSE(host::add_bitmap_resource_from_file(nullptr, "missing", "kernel_missing.bmp"));

    // Clearing makes the old handles stale.
    HRSRC r = FindResourceA(nullptr, "Pattern", RT_BITMAP);
    host::clear_resources(nullptr);
    EXPECT_EQ(SizeofResource(nullptr, r), 0u);
    EXPECT_EQ(LoadResource(nullptr, r), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, "Pattern", RT_BITMAP), nullptr);
}

TEST_F(KernelResources, EachModuleHasItsOwn) {
    HMODULE linked = GetModuleHandleA("Linked.dll");
    ASSERT_NE(linked, nullptr);
    ASSERT_TRUE(host::add_string_resource(linked, 5, 1033, "from the module"));
    EXPECT_EQ(load_string(5), "");
    char buf[32];
    EXPECT_EQ(LoadStringA(linked, 5, buf, sizeof buf), 15);
    EXPECT_STREQ(buf, "from the module");
    EXPECT_NE(FindResourceA(linked, MAKEINTRESOURCEA(1), RT_STRING), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(1), RT_STRING), nullptr);
    host::clear_resources(linked);
    EXPECT_EQ(LoadStringA(linked, 5, buf, sizeof buf), 0);
}
