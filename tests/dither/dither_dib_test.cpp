#include "support/bmp_builder.h"
#include "dither_fixture.h"
#include "fault_sweep.h"
#include "support/host_display.h"
#include "test_images.h"

#include <afxwin.h>
#include <platform/host.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

using fault_sweep::LiveCounts;
using testhost::SetDepth;

std::vector<BYTE> Rows(const CDitherDib& dib) {
    const BYTE* bits = CDitherDibAccess::Bits(dib);
    return std::vector<BYTE>(bits, bits + CDitherDibAccess::SizeImage(dib));
}

class DitherDibFile : public FreshDitherProcess {
protected:
    void TearDown() override {
        host::reset_display();
        FreshDitherProcess::TearDown();
    }
};

} // namespace

TEST_F(DitherDibFile, RefusesBrokenFilesWithoutLeaks) {
    using bmpfile::FileLayout;
    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
    };
    std::vector<Case> cases;
    // A good 4 x 3 24-bit file with one change (the rows stay those of the good file).
    const auto with = [](const std::function<void(FileLayout&)>& edit) {
        FileLayout s;
        s.pixels = bmpfile::pattern_rows(4, 3, 24);
        edit(s);
        return bmpfile::build(s);
    };
    const auto add = [&](const char* what, const std::function<void(FileLayout&)>& edit) {
        cases.push_back({what, with(edit)});
    };
    const std::vector<BYTE> whole = with([](FileLayout&) {});
    const auto cut = [&](std::size_t from, std::size_t to) {
        return std::vector<BYTE>(whole.begin() + static_cast<std::ptrdiff_t>(from),
                                 whole.begin() + static_cast<std::ptrdiff_t>(to));
    };
    cases.push_back({"empty file", {}});
    cases.push_back({"13 bytes", cut(0, 13)});
    cases.push_back({"header cut short", cut(0, 40)});
    cases.push_back({"one byte of pixels short", cut(0, whole.size() - 1)});
    cases.push_back({"wrong magic", whole});
    cases.back().bytes[1] = 'A';
    for (DWORD size : {0u, 12u, 39u, 64u, 0x7FFFFFFFu}) {
        cases.push_back({"header size", whole});
        bmpfile::put(cases.back().bytes, 14, size, 4);
    }
    add("rows offset beyond the file", [](FileLayout& s) { s.offBitsDelta = 1000; });
    add("rows offset inside the header", [](FileLayout& s) { s.offBitsDelta = -30; });
    const int sizes[][2] = {{0, 3},       {-4, 3},         {4, 0},         {1 << 20, 1},
                            {1, 1 << 20}, {1, -(1 << 20)}, {INT32_MIN, 1}, {1, INT32_MIN}};
    for (const auto& size : sizes) {
        add("absurd size", [&](FileLayout& s) {
            s.width = size[0];
            s.height = size[1];
        });
    }
    for (int bits : {0, 2, 7, 12, 48, 64}) {
        add("bit count", [&](FileLayout& s) { s.bits = bits; });
    }
    add("no planes", [](FileLayout& s) { s.planes = 0; });
    for (DWORD used : {257u, 0x10000u, 0xFFFFFFFFu}) {
        add("colour count over 256", [&](FileLayout& s) {
            s.bits = 8;
            s.clrUsed = used;
        });
    }
    for (DWORD compression :
         {DWORD{BI_RLE8}, DWORD{BI_RLE4}, DWORD{BI_BITFIELDS}, DWORD{4}, DWORD{5}, DWORD{99}}) {
        add("compression that does not fit 24 bits",
            [&](FileLayout& s) { s.compression = compression; });
    }
    for (DWORD sizeImage : {0u, 5000u}) {
        add("run-length rows without a size or beyond the file", [&](FileLayout& s) {
            s.bits = 8;
            s.compression = BI_RLE8;
            s.sizeImage = sizeImage;
            s.pixels = {0, 1}; // end of bitmap
        });
    }
    add("bit fields without masks", [](FileLayout& s) {
        s.bits = 16;
        s.compression = BI_BITFIELDS;
    });

    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string name = "broken" + std::to_string(i) + ".bmp";
        bmpfile::write(name, cases[i].bytes);
        const LiveCounts before = LiveCounts::now();
        {
            CDitherDib dib;
            EXPECT_EQ(dib.Create(name.c_str()), 0) << cases[i].what << " (" << name << ")";
            EXPECT_EQ(CDitherDibAccess::Info(dib), nullptr) << cases[i].what;
            EXPECT_EQ(dib.CreateBitmap(nullptr), nullptr) << cases[i].what;
        }
        EXPECT_EQ(LiveCounts::now(), before) << cases[i].what;
    }

    CDitherDib dib;
    EXPECT_EQ(dib.Create("no such file.bmp"), 0);
    EXPECT_EQ(dib.Create("."), 0);
    EXPECT_EQ(dib.Create(static_cast<LPCSTR>(nullptr)), 0);
    EXPECT_EQ(dib.Create(MAKEINTRESOURCE(4711)), 0); // a resource number is no path
    EXPECT_EQ(host::live_files(), 0);
}

// Every layout the readers take arrives as the file holds it, from a file or a resource: header,
// masks or colour table, and the rows.
TEST_F(DitherDibFile, HoldsHeaderTableAndRowsOfAGoodFile) {
    const struct {
        int width, height, bits;
        DWORD compression;
        int colours;
        int masks;
        DWORD sizeImage;
    } cases[] = {
        {5, 3, 24, BI_RGB, 0, 0, 0},  {7, -4, 24, BI_RGB, 0, 0, 0},
        {3, 2, 32, BI_RGB, 0, 0, 0},  {9, 2, 16, BI_BITFIELDS, 0, 3, 0},
        {6, 5, 8, BI_RGB, 256, 0, 0}, {6, 5, 4, BI_RGB, 16, 0, 0},
        {33, 1, 1, BI_RGB, 2, 0, 0},  {5, 3, 24, BI_RGB, 0, 0, 0xFFFFFFF0},
        {5, 3, 24, BI_RGB, 0, 0, 45}, // a size without the last row's padding
    };
    for (const auto& c : cases) {
        bmpfile::FileLayout s;
        s.width = c.width;
        s.height = c.height;
        s.bits = c.bits;
        s.compression = c.compression;
        s.sizeImage = c.sizeImage;
        s.colours.assign(c.colours, RGBQUAD{1, 2, 3, 0});
        if (c.masks) {
            s.masks = {0xF800, 0x07E0, 0x001F};
        }
        s.pixels = bmpfile::pattern_rows(c.width, c.height, c.bits, c.width);
        const std::vector<BYTE> file = bmpfile::build(s);
        bmpfile::write("good.bmp", file);
        if (&c == &cases[0]) { // also as a bitmap resource, whose loaded section is not kept
            ASSERT_TRUE(host::add_bitmap_resource(nullptr, MAKEINTRESOURCE(4321), file.data(),
                                                  file.size()));
            const LiveCounts before = LiveCounts::now();
            {
                CDitherDib dib;
                ASSERT_EQ(dib.Create(UINT{4321}), 1);
                EXPECT_EQ(Rows(dib), s.pixels);
                EXPECT_EQ(dib.Create(UINT{4322}), 0); // no such resource
            }
            EXPECT_EQ(LiveCounts::now(), before);
        }

        CDitherDib dib;
        ASSERT_EQ(dib.Create("good.bmp"), 1) << c.bits << "-bit " << c.width << "x" << c.height;
        const BITMAPINFOHEADER* h = CDitherDibAccess::Info(dib);
        EXPECT_EQ(h->biWidth, c.width);
        EXPECT_EQ(h->biHeight, c.height);
        EXPECT_EQ(h->biBitCount, c.bits);
        // A claimed size beyond the rows is cut to the rows; one short of them still takes
        // every row the file holds.
        EXPECT_EQ(Rows(dib), s.pixels);
        const BYTE* after = reinterpret_cast<const BYTE*>(h) + 40;
        if (c.masks) {
            DWORD masks[3];
            std::memcpy(masks, after, sizeof(masks));
            EXPECT_EQ(masks[0], 0xF800u);
            EXPECT_EQ(masks[2], 0x001Fu);
        }
        if (c.colours) {
            EXPECT_EQ(after[2], 3);
        }
    }
    EXPECT_EQ(host::live_files(), 0);
}

// Copies own their memory: changing or destroying one leaves the other intact.
TEST_F(DitherDibFile, CopiesAreDeep) {
    bmpfile::FileLayout s;
    s.pixels = bmpfile::pattern_rows(s.width, s.height, 24);
    bmpfile::write("copy.bmp", bmpfile::build(s));

    auto* original = new CDitherDib;
    ASSERT_EQ(original->Create("copy.bmp"), 1);
    CDitherDib copy(*original);
    CDitherDib assigned;
    assigned = *original;
    CDitherDib& alias = assigned;
    assigned = alias; // assigning an object to itself keeps it
    EXPECT_NE(CDitherDibAccess::Bits(copy), CDitherDibAccess::Bits(*original));
    EXPECT_NE(CDitherDibAccess::Info(copy), CDitherDibAccess::Info(*original));
    delete original;
    EXPECT_EQ(Rows(copy), s.pixels);
    EXPECT_EQ(Rows(assigned), s.pixels);
    EXPECT_EQ(CDitherDibAccess::Info(copy)->biWidth, s.width);

    CDitherDib empty;
    CDitherDib emptyCopy(empty);
    EXPECT_EQ(CDitherDibAccess::Info(emptyCopy), nullptr);
    assigned = empty;
    EXPECT_EQ(CDitherDibAccess::Info(assigned), nullptr);
}

// On a palette display a true-colour image becomes the dithered image; elsewhere, and for
// images of 8 bits or fewer, the image itself.
TEST_F(DitherDibFile, CreateBitmapDithersOnlyTrueColourOnPaletteDisplays) {
    const int width = 21, height = 9;
    const auto rgb = testimg::make24(testimg::Kind::Photo, width, height, 4);
    bmpfile::FileLayout s;
    s.width = width;
    s.height = height;
    s.pixels = rgb;
    bmpfile::write("photo.bmp", bmpfile::build(s));

    for (int depth : {32, 16, 8, 4}) {
        SetDepth(depth);
        Forget();
        CDitherDib dib;
        ASSERT_EQ(dib.Create("photo.bmp"), 1);
        const LiveCounts before = LiveCounts::now();
        CBitmap* bitmap = dib.CreateBitmap(nullptr);
        ASSERT_NE(bitmap, nullptr) << depth;
        BITMAP bm;
        ASSERT_EQ(GetObjectA(bitmap->GetSafeHandle(), sizeof(bm), &bm),
                  static_cast<int>(sizeof(bm)));
        EXPECT_EQ(bm.bmWidth, width);
        EXPECT_EQ(bm.bmHeight, height);
        EXPECT_EQ(bm.bmBitsPixel, depth);

        // What the same screen makes of the rows the bitmap was built from.
        const BITMAPINFOHEADER* source = CDitherDibAccess::Info(dib);
        HGLOBAL block = nullptr;
        const BITMAPINFOHEADER* header = source;
        const BYTE* rows = CDitherDibAccess::Bits(dib);
        if (depth <= 8) {
            block = CDitherDibAccess::DitherDIB(source, rows, depth);
            ASSERT_NE(block, nullptr);
            header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(block));
            rows = reinterpret_cast<const BYTE*>(header) + 40 + header->biClrUsed * 4;
        }
        HDC screen = GetDC(nullptr);
        HBITMAP expected =
            CreateDIBitmap(screen, header, CBM_INIT, rows,
                           reinterpret_cast<const BITMAPINFO*>(header), DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
        if (block != nullptr) {
            GlobalUnlock(block);
            GlobalFree(block);
        }
        const std::vector<COLORREF> shown = bmpfile::colours_of(expected);
        ASSERT_EQ(shown.size(), std::size_t(width) * height);
        EXPECT_EQ(bmpfile::colours_of(static_cast<HBITMAP>(bitmap->GetSafeHandle())), shown);
        for (int i = 0; depth == 32 && i < width * height; ++i) { // exact at 32 bits
            const BYTE* p =
                &rgb[bmpfile::stride(width, 24) * (height - 1 - i / width) + 3 * (i % width)];
            ASSERT_EQ(shown[i], RGB(p[2], p[1], p[0])) << i;
        }
        DeleteObject(expected);
        delete bitmap;
        EXPECT_EQ(LiveCounts::now(), before) << depth;
    }
}

// Sections: true-colour rows are taken as they are; index rows only when the library was loaded
// on a palette display, and then with the section's own colours. A device-dependent bitmap, a
// wrapper without a bitmap and none at all are refused.
TEST_F(DitherDibFile, TakesTheRowsOfSectionsOnly) {
    std::vector<DWORD> table(256); // blue i, green 255 - i, red 7i
    for (DWORD i = 0; i < 256; ++i) {
        table[i] = i | (255 - i) << 8 | (i * 7 & 0xFF) << 16;
    }
    const auto rows24 = bmpfile::pattern_rows(6, 4, 24, 9),
               rows8 = bmpfile::pattern_rows(7, 3, 8, 5);
    CBitmap section24, section8, none, ddb;
    ASSERT_TRUE(section24.Attach(bmpfile::section(6, 4, 24, rows24)));
    ASSERT_TRUE(section8.Attach(bmpfile::section(7, 3, 8, rows8, table)));
    HDC screen = GetDC(nullptr);
    ddb.Attach(CreateCompatibleBitmap(screen, 4, 4));
    ReleaseDC(nullptr, screen);

    CDitherDib dib;
    for (CBitmap* refused : {static_cast<CBitmap*>(nullptr), &none, &ddb, &section8}) {
        EXPECT_EQ(dib.Create(refused), 0); // loaded on a true-colour display: no dither palette
        EXPECT_EQ(CDitherDibAccess::Info(dib), nullptr);
    }
    ASSERT_EQ(dib.Create(&section24), 1);
    EXPECT_EQ(CDitherDibAccess::Info(dib)->biBitCount, 24);
    EXPECT_EQ(Rows(dib), rows24);

    testhost::AttachAtDepth(8);
    const BOOL created = dib.Create(&section8);
    testhost::AttachAtDepth(0);
    ASSERT_EQ(created, 1);
    EXPECT_EQ(CDitherDibAccess::Info(dib)->biBitCount, 8);
    EXPECT_EQ(std::memcmp(CDitherDibAccess::Info(dib) + 1, table.data(), 1024), 0);
    EXPECT_EQ(Rows(dib), rows8);
}
