// The resource module chain and string loading in several languages. They need the host API
// (modules, resources, languages): native only.
#ifndef _WIN32
#include "resource_chain.h"

#include <string>

namespace {

using mfc_test::add_bitmap;
using ResourceChain = mfc_test::ResourceChain;

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

} // namespace
#endif
