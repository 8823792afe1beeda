// The resource module chain, string loading in several languages and message boxes. They need
// the host API (modules, resources, languages, the message-box handler): native only.
#ifndef _WIN32
#include <afxwin.h>

#include <platform/host.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// A 2x1 24-bit BMP file whose width tells which module it came from.
std::vector<BYTE> bmp_file(int width) {
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

void add_bitmap(HMODULE module, UINT id, int width) {
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

TEST_F(ResourceChain, TheProgramFirstThenTheNewestExtensionModule) {
    EXPECT_EQ(program_, AfxGetInstanceHandle());
    EXPECT_EQ(program_, AfxGetResourceHandle());
    const UINT id = 501;
    add_bitmap(first_, id, 1);
    EXPECT_EQ(first_, AfxFindResourceHandle(MAKEINTRESOURCE(id), RT_BITMAP));
    add_bitmap(second_, id, 2);
    EXPECT_EQ(second_, AfxFindResourceHandle(MAKEINTRESOURCE(id), RT_BITMAP))
        << "the module joined last is searched first";
    add_bitmap(program_, id, 3);
    EXPECT_EQ(program_, AfxFindResourceHandle(MAKEINTRESOURCE(id), RT_BITMAP));

    // CBitmap::LoadBitmap loads from the module found.
    CBitmap bitmap;
    ASSERT_TRUE(bitmap.LoadBitmap(id));
    BITMAP bm = {};
    bitmap.GetBitmap(&bm);
    EXPECT_EQ(3, bm.bmWidth);

    // A module that leaves the chain is no longer searched.
    host::clear_resources(program_);
    AfxTermExtensionModule(second_state_);
    EXPECT_EQ(first_, AfxFindResourceHandle(MAKEINTRESOURCE(id), RT_BITMAP));
    CBitmap from_first;
    ASSERT_TRUE(from_first.LoadBitmap(id));
    from_first.GetBitmap(&bm);
    EXPECT_EQ(1, bm.bmWidth);

    // Not found anywhere: the program's module, where the load then fails.
    EXPECT_EQ(program_, AfxFindResourceHandle(MAKEINTRESOURCE(999), RT_BITMAP));
    CBitmap none;
    EXPECT_FALSE(none.LoadBitmap(999));
    EXPECT_EQ(nullptr, none.GetSafeHandle());
}

TEST_F(ResourceChain, NamedBitmapsAndSystemModulesLast) {
    const std::vector<BYTE> f = bmp_file(4);
    ASSERT_TRUE(host::add_bitmap_resource(first_, "STRIP", f.data(), f.size()));
    CBitmap named;
    ASSERT_TRUE(named.LoadBitmap("STRIP"));

    // A system module comes after every other one, however recently it joined.
    HMODULE system = host::register_module("mfc_test_system", nullptr);
    AFX_EXTENSION_MODULE system_state = {};
    ASSERT_TRUE(AfxInitExtensionModule(system_state, system));
    new CDynLinkLibrary(system_state, TRUE);
    add_bitmap(system, 502, 5);
    add_bitmap(first_, 502, 6);
    EXPECT_EQ(first_, AfxFindResourceHandle(MAKEINTRESOURCE(502), RT_BITMAP));
    host::clear_resources(first_);
    EXPECT_EQ(system, AfxFindResourceHandle(MAKEINTRESOURCE(502), RT_BITMAP));
    AfxTermExtensionModule(system_state);
    host::clear_resources(system);
    host::unregister_module(system);
}

TEST_F(ResourceChain, StringsInTheUsersLanguageFromTheFirstModuleThatHasThem) {
    const UINT caption = 11001;
    ASSERT_TRUE(host::add_string_resource(first_, caption, 1033, "Notice"));
    ASSERT_TRUE(host::add_string_resource(first_, caption, 1041, "お知らせ"));
    ASSERT_TRUE(host::add_string_resource(first_, caption, 1042, "알림"));
    struct Case {
        LANGID lang;
        const char* want;
    } cases[] = {
        {1033, "Notice"},
        {1041, "お知らせ"},
        {1042, "알림"},
        {1031, "Notice"}, // not present: US English
    };
    for (const Case& c : cases) {
        host::set_user_language(c.lang);
        CString s;
        EXPECT_TRUE(s.LoadString(caption)) << c.lang;
        EXPECT_STREQ(c.want, s) << c.lang;
        CString by_id(MAKEINTRESOURCE(caption));
        EXPECT_STREQ(c.want, by_id) << "construction from a resource number";
    }
    host::set_user_language(1033);

    // The program holds the same block (string 11002) but not 11001: the search goes on to the
    // module that has the string itself.
    ASSERT_TRUE(host::add_string_resource(program_, caption + 1, 1033, "program text"));
    CString s;
    EXPECT_TRUE(s.LoadString(caption));
    EXPECT_STREQ("Notice", s);
    // A program that defines the string itself has its own text shown.
    ASSERT_TRUE(host::add_string_resource(program_, caption, 1033, "Program notice"));
    EXPECT_TRUE(s.LoadString(caption));
    EXPECT_STREQ("Program notice", s);

    // A string nobody has empties the CString.
    EXPECT_FALSE(s.LoadString(caption + 2));
    EXPECT_TRUE(s.IsEmpty());

    // Longer than the first buffer.
    const std::string long_text(1000, 'L');
    ASSERT_TRUE(host::add_string_resource(second_, 700, 1033, long_text.c_str()));
    EXPECT_TRUE(s.LoadString(700));
    EXPECT_EQ(1000, s.GetLength());
    char buf[8];
    EXPECT_EQ(7, AfxLoadString(700, buf, sizeof buf));
    EXPECT_STREQ("LLLLLLL", buf);
    EXPECT_EQ(0, AfxLoadString(701, buf, sizeof buf));
    EXPECT_STREQ("", buf);
}

TEST_F(ResourceChain, ReloadedModulesRegisterAgainWithTheirNewHandle) {
    AFX_EXTENSION_MODULE state = {};
    EXPECT_FALSE(AfxInitExtensionModule(state, NULL));
    ASSERT_TRUE(AfxInitExtensionModule(state, first_));
    EXPECT_TRUE(AfxInitExtensionModule(state, second_)) << "a second init changes nothing";
    EXPECT_EQ(first_, state.hResource);
    AfxTermExtensionModule(state);
    ASSERT_TRUE(AfxInitExtensionModule(state, second_));
    EXPECT_EQ(second_, state.hModule);
    EXPECT_EQ(second_, state.hResource);
    AfxTermExtensionModule(state);
}

TEST(AfxMessageBoxTest, ShowsTheTextWithTheProgramsNameAndDefaultIcon) {
    struct Seen {
        HWND owner;
        std::string text, caption;
        UINT type;
    } seen{};
    host::set_message_box_handler(
        [&](HWND owner, const char* text, const char* caption, UINT type) {
            seen = {owner, text, caption, type};
            return IDNO;
        });
    struct Case {
        UINT type;
        UINT shown;
    } cases[] = {
        {MB_OK, MB_OK | MB_ICONEXCLAMATION},
        {MB_OKCANCEL, MB_OKCANCEL | MB_ICONEXCLAMATION},
        {MB_YESNO, MB_YESNO | MB_ICONQUESTION},
        {MB_OK | MB_ICONINFORMATION, MB_OK | MB_ICONINFORMATION},
        {0x5 /* MB_RETRYCANCEL */, 0x5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IDNO, AfxMessageBox("write error", c.type, 0));
        EXPECT_EQ(nullptr, seen.owner);
        EXPECT_EQ("write error", seen.text);
        EXPECT_EQ("mfc_tests", seen.caption);
        EXPECT_EQ(c.shown, seen.type);
    }
    host::set_message_box_handler(nullptr);
}

} // namespace
#endif
