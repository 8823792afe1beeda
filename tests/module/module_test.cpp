#include <DitherDib.h>
#include <Image.h>

#include "module/dither_palette.h"
#include "resources/library_resources.h"
#include "support/host_display.h"

#include <afxwin.h>
#include <platform/host.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testhost::SetDepth;

class Display : public ::testing::Test {
protected:
    void TearDown() override {
        host::set_user_language(1033);
        host::reset_display();
    }
    testhost::MessageBoxes boxes;
};

std::vector<BYTE> ReadSourceFile(const std::string& relative) {
    const char* root = std::getenv("TALVO_SOURCE_DIR");
    std::ifstream in(std::string(root != nullptr ? root : ".") + "/" + relative, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

} // namespace

// The library is attached when the program starts; freeing it, changing the display and loading
// it again decides the palette anew, and only then.
TEST_F(Display, LoadingCreatesTheDitherPaletteOnPaletteDisplaysOnly) {
    HMODULE module = GetModuleHandleA("TALVO.dll");
    ASSERT_NE(module, nullptr);
    const struct {
        int depth;
        const RGBQUAD* table;
        int entries;
    } cases[] = {{32, nullptr, 0},
                 {24, nullptr, 0},
                 {16, nullptr, 0},
                 {8, CDitherDib::Win256Palette, 256},
                 {4, CDitherDib::Win16Palette, 16}};
    // Counted once, so that a palette the unload forgets to delete shows on the next round.
    ASSERT_TRUE(FreeLibrary(module));
    const int palettes = host::live_gdi_objects(OBJ_PAL);
    ASSERT_EQ(LoadLibraryA("TALVO.dll"), module);
    for (const auto& c : cases) {
        ASSERT_TRUE(FreeLibrary(module));
        EXPECT_EQ(g_pDitherPalette, nullptr);
        EXPECT_EQ(host::live_gdi_objects(OBJ_PAL), palettes) << "after unloading, " << c.depth;
        SetDepth(c.depth);
        ASSERT_EQ(LoadLibraryA("TALVO.dll"), module) << c.depth;
        EXPECT_EQ(CImage::GetSystemBitCount(), c.depth);
        // Its resources are found through the client's module chain after every reload.
        EXPECT_EQ(AfxFindResourceHandle(MAKEINTRESOURCE(kPatternBitmapId), RT_BITMAP), module);
        if (c.table == nullptr) {
            EXPECT_EQ(g_pDitherPalette, nullptr) << c.depth;
            EXPECT_EQ(CDitherDib::CreateDitherPalette(), nullptr)
                << "none for a true-colour screen";
            EXPECT_EQ(host::live_gdi_objects(OBJ_PAL), palettes);
            continue;
        }
        ASSERT_NE(g_pDitherPalette, nullptr) << c.depth;
        EXPECT_EQ(host::live_gdi_objects(OBJ_PAL), palettes + 1);
        std::vector<PALETTEENTRY> entries(c.entries);
        ASSERT_EQ(g_pDitherPalette->GetEntryCount(), c.entries);
        g_pDitherPalette->GetPaletteEntries(0, c.entries, entries.data());
        for (int i = 0; i < c.entries; ++i) {
            EXPECT_EQ(RGB(entries[i].peRed, entries[i].peGreen, entries[i].peBlue) |
                          DWORD(entries[i].peFlags) << 24,
                      RGB(c.table[i].rgbRed, c.table[i].rgbGreen, c.table[i].rgbBlue))
                << i;
        }
        // A later change of display mode does not touch it.
        SetDepth(32);
        EXPECT_NE(g_pDitherPalette, nullptr);
    }
    ASSERT_TRUE(FreeLibrary(module));
    EXPECT_EQ(g_pDitherPalette, nullptr);
    EXPECT_EQ(host::live_gdi_objects(OBJ_PAL), palettes);
    host::reset_display();
    ASSERT_EQ(LoadLibraryA("TALVO.dll"), module);
    EXPECT_EQ(g_pDitherPalette, nullptr);
}

TEST_F(Display, CheckResolutionGivesTheWindowRectangle) {
    const RECT untouched = {-1, -2, -3, -4};
    const struct {
        int width, height;
        RECT workArea;
        int layout;
        int result;
        RECT rect;
    } cases[] = {
        {640, 480, {}, 0, 0, untouched},
        {799, 600, {}, 1, 0, untouched},
        {800, 600, {0, 0, 800, 572}, 0, 1, {0, 0, 800, 572}}, // the work area as it is
        {800, 600, {0, 0, 800, 572}, 2, 1, {0, 0, 800, 572}},
        {800, 600, {}, 0, 1, {0, 0, 800, 600}},
        {800, 600, {}, 1, 1, {5, 13, 795, 587}},
        {800, 480, {}, 0, 1, {0, 0, 800, 480}}, // the height is not tested
        {800, 480, {}, 1, 1, {5, -47, 795, 527}},
        {801, 600, {}, 0, 1, {0, 14, 800, 586}},
        {1024, 768, {0, 0, 1024, 740}, 0, 1, {112, 98, 912, 670}},
        {1024, 768, {}, 1, 1, {117, 97, 907, 671}},
        {1024, 479, {}, 0, 1, {112, -46, 912, 526}}, // -93 / 2 truncates to -46
        {1023, 573, {}, 0, 1, {111, 0, 911, 572}},
        {1600, 1200, {}, 1, 1, {405, 313, 1195, 887}},
    };
    for (const auto& c : cases) {
        SetDepth(32, c.width, c.height, c.workArea);
        CRect rect(untouched);
        boxes.shown.clear();
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " layout " << c.layout);
        EXPECT_EQ(CImage::CheckResolutionAndColor(rect, c.layout), c.result);
        EXPECT_EQ(rect, CRect(c.rect))
            << rect.left << "," << rect.top << "," << rect.right << "," << rect.bottom;
        EXPECT_EQ(boxes.shown.size(), c.result == 0 ? 1u : 0u);
    }
}

// The notice speaks the user's language, through the library's string table unless the client
// has its own strings.
TEST_F(Display, NoticeTextsFollowTheUserLanguage) {
    const struct {
        LANGID language;
        const char* caption;
        const char* text;
    } cases[] = {
        {1033, "Notice", "Minimum display resolution must be set to 800x600."},
        {1041, "お知らせ", "画面の画像度が最小にも800x600以上でなければなりません。"},
        {1042, "알림", "화면해상도가 최소한 800x600 이 되어야 합니다."},
        {2052, "提示", "您需要至少800*600的屏幕分辨率进行游戏"},
        {3076, "告示", "須要至少800*600的螢幕解析度進行遊戲"},
        {1036, "Notice", "Minimum display resolution must be set to 800x600."}, // fallback
    };
    SetDepth(8, 640, 480);
    for (const auto& c : cases) {
        host::set_user_language(c.language);
        boxes.shown.clear();
        CRect rect(1, 2, 3, 4);
        EXPECT_EQ(CImage::CheckResolutionAndColor(rect, 0), 0);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].owner, nullptr);
        EXPECT_EQ(boxes.shown[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
        EXPECT_EQ(boxes.shown[0].caption, c.caption) << c.language;
        EXPECT_EQ(boxes.shown[0].text, c.text) << c.language;
    }

    host::set_user_language(1033);
    ASSERT_TRUE(host::add_string_resource(nullptr, 11001, 1033, "Our own caption"));
    CRect rect;
    CImage::CheckResolutionAndColor(rect, 0);
    EXPECT_EQ(boxes.shown.back().caption, "Our own caption");
    EXPECT_EQ(boxes.shown.back().text, cases[0].text);
    host::clear_resources(nullptr);
}

TEST(GetColorFromHTMLFormat, ReadsHashAndSixHexDigits) {
    const struct {
        const char* text;
        COLORREF colour;
    } cases[] = {
        {"#FF8000", 0x000080FF},
        {"#ff8000", 0x000080FF},
        {"#000000", 0},
        {"#FFFFFF", 0x00FFFFFF},
        {"#123456", 0x00563412},
        {"#zz8000", 0x00008000},
        {"FF8000", 0},
        {"#FF800", 0},
        {"#FF80000", 0},
        {"", 0},
        {"X123456", 0},
        {"##12345", 0x00452300},
        {"# 18000", 0x00008001}, // white space before a piece is skipped
        {"#-18000", 0x000080FF}, // a sign is taken; -1 keeps its low 8 bits
        {"#0x8000", 0x00008000}, // "0x" with no digit after it reads as 0
        {"#1g2h3i", 0x00030201}, // a piece ends at its first non-digit
        {"#\xC3\xA9"
         "1234",
         0x00341200}, // the length counts bytes
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CImage::GetColorFromHTMLFormat(CString(c.text)), c.colour) << c.text;
    }
}

// The Windows build takes its resources from talvo.rc and pattern.bmp: they must say the same.
TEST(LibraryResources, ResourceScriptHoldsTheSameStringsAndBitmap) {
    EXPECT_EQ(ReadSourceFile("resources/pattern.bmp"), PatternBitmapFile());

    const std::vector<BYTE> script = ReadSourceFile("resources/talvo.rc");
    ASSERT_FALSE(script.empty());
    std::map<std::pair<UINT, int>, std::string> fromScript;
    std::istringstream text(std::string(script.begin(), script.end()));
    int language = -1;
    bool inTable = false;
    for (std::string line; std::getline(text, line);) {
        unsigned primary = 0, sub = 0, id = 0;
        const std::size_t open = line.find('"');
        if (std::sscanf(line.c_str(), "LANGUAGE %x, %x", &primary, &sub) == 2) {
            language = static_cast<int>(MAKELANGID(primary, sub));
        } else if (line.rfind("STRINGTABLE", 0) == 0 || line.rfind("END", 0) == 0) {
            inTable = line[0] == 'S';
        } else if (inTable && std::sscanf(line.c_str(), " %u", &id) == 1 && open != line.npos) {
            fromScript[{id, language}] = line.substr(open + 1, line.rfind('"') - open - 1);
        }
    }
    std::map<std::pair<UINT, int>, std::string> built;
    for (std::size_t i = 0; i < kLibraryStringCount; ++i) {
        built[{kLibraryStrings[i].id, kLibraryStrings[i].language}] = kLibraryStrings[i].utf8;
    }
    EXPECT_EQ(fromScript, built);
}
