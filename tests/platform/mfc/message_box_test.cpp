// AfxMessageBox through the host's message-box handler: native only.
#ifndef _WIN32
#include <afxwin.h>

#include <platform/host.h>

#include <gtest/gtest.h>

#include <string>

namespace {

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
