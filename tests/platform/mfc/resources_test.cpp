// The resource module chain, strings in several languages and bitmaps loaded through it. They
// need the host API (modules, resources, languages): native only.
#ifndef _WIN32
#include <afxwin.h>

#include "support/bmp_builder.h"
#include <platform/host.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// A 24-bit BMP file, one row high, whose width tells which module it came from.
bmpfile::Bytes bmp_file(int width) {
    return bmpfile::make({"", 40, width, 1, 24, 0, false, {}, 0, 0, false});
}

void add_bitmap(HMODULE module, UINT id, int width) {
    const bmpfile::Bytes f = bmp_file(width);
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

    // A module that leaves the chain is no longer searched.
    host::clear_resources(program_);
    AfxTermExtensionModule(second_state_);
    EXPECT_EQ(first_, AfxFindResourceHandle(MAKEINTRESOURCE(id), RT_BITMAP));

    // Not found anywhere: the program's module, where the load that follows fails.
    EXPECT_EQ(program_, AfxFindResourceHandle(MAKEINTRESOURCE(999), RT_BITMAP));
    EXPECT_EQ(program_, AfxFindResourceHandle("NOTHING", RT_BITMAP));
}

TEST_F(ResourceChain, SystemModulesComeLast) {
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

int width_of(CBitmap& bitmap) {
    BITMAP bm = {};
    return bitmap.GetBitmap(&bm) != 0 ? bm.bmWidth : -1;
}

TEST_F(ResourceChain, LoadBitmapLoadsFromTheModuleThatHasIt) {
    const UINT id = 601;
    add_bitmap(first_, id, 1);
    add_bitmap(second_, id, 2);
    CBitmap from_second;
    ASSERT_TRUE(from_second.LoadBitmap(id));
    EXPECT_EQ(2, width_of(from_second));
    EXPECT_FALSE(from_second.LoadBitmap(id)) << "one bitmap per wrapper";

    AfxTermExtensionModule(second_state_);
    CBitmap from_first;
    ASSERT_TRUE(from_first.LoadBitmap(id));
    EXPECT_EQ(1, width_of(from_first));

    const bmpfile::Bytes f = bmp_file(4);
    ASSERT_TRUE(host::add_bitmap_resource(first_, "STRIP", f.data(), f.size()));
    CBitmap named;
    ASSERT_TRUE(named.LoadBitmap("STRIP"));
    EXPECT_EQ(4, width_of(named));

    CBitmap none;
    EXPECT_FALSE(none.LoadBitmap(999));
    EXPECT_FALSE(none.LoadBitmap(static_cast<LPCTSTR>(nullptr)));
    EXPECT_EQ(nullptr, none.GetSafeHandle());
}

} // namespace
#endif
