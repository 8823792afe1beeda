// Image lists through commctrl.h: cutting, masking, the caller's bitmap, every drawing style,
// removal and bad input. Colours are chosen from the eight whose components are 0 or 255,
// which every display depth and list format keeps exactly.
#include "platform/win32/gdi_support.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace gdi_test;

namespace {

constexpr int kCx = 5;
constexpr int kCy = 4;

struct Flag {
    UINT flag;
    const char* name;
};
const Flag kFlags[] = {
    {ILC_COLOR16, "ILC_COLOR16"},
    {ILC_COLOR24, "ILC_COLOR24"},
    {ILC_COLOR32, "ILC_COLOR32"},
    {ILC_COLORDDB, "ILC_COLORDDB"},
};

// Surfaces in the display's format (MemSurface(w, h)) or DIB sections, drawn on through `dc`.
// A bitmap goes to an image list deselected (`lend`) and comes back (`take_back`).
void lend(MemSurface& s) {
    SelectObject(s.dc, s.old);
}
void take_back(MemSurface& s) {
    SelectObject(s.dc, s.bmp);
}
void fill(MemSurface& s, COLORREF c) {
    HBRUSH b = CreateSolidBrush(c);
    const RECT r = {0, 0, 1 << 12, 1 << 12}; // clipped to the bitmap
    FillRect(s.dc, &r, b);
    DeleteObject(b);
}
COLORREF at(const MemSurface& s, int x, int y) {
    return GetPixel(s.dc, x, y);
}
// What a surface shows for a colour after conversion to its format.
COLORREF shown(MemSurface& s, COLORREF c) {
    const COLORREF keep = GetPixel(s.dc, 0, 0);
    SetPixel(s.dc, 0, 0, c);
    const COLORREF out = GetPixel(s.dc, 0, 0);
    SetPixel(s.dc, 0, 0, keep);
    return out;
}

// Image k of a strip: a border of the key colour, the inside a colour of its own with a
// blue pixel at (1, 1), so that every image is told apart and has masked pixels.
const COLORREF kInside[] = {kRed, kGreen, kYellow, kCyan, kWhite};
COLORREF strip_pixel(int k, int x, int y, COLORREF key) {
    if (x == 0 || y == 0 || x == kCx - 1 || y == kCy - 1) {
        return key;
    }
    if (x == 1 && y == 1) {
        return kBlue;
    }
    return kInside[k % 5];
}

void paint_strip(HDC dc, int images, COLORREF key) {
    for (int k = 0; k < images; ++k) {
        for (int y = 0; y < kCy; ++y) {
            for (int x = 0; x < kCx; ++x) {
                SetPixel(dc, k * kCx + x, y, strip_pixel(k, x, y, key));
            }
        }
    }
}

// Expects the first `w` columns of `dc` to show want(c) for each colour c that paint_strip put
// there with magenta as the key (the key past the last image).
template <class Want> void expect_strip(const char* what, HDC dc, int images, int w, Want want) {
    SCOPED_TRACE(what);
    expect_image(dc, w, kCy, [&](int x, int y) {
        return want(x < images * kCx ? strip_pixel(x / kCx, x % kCx, y, kMagenta) : kMagenta);
    });
}

TEST(ImageList, AddMaskedCutsMasksAndBlackensTheKeyInTheCallersBitmap) {
    // Whatever the list's format, the caller's key pixels turn black above 8 bits per pixel.
    const int bpp = expected_bpp();
    for (const Flag& f : kFlags) {
        SCOPED_TRACE(f.name);
        HIMAGELIST il = ImageList_Create(kCx, kCy, ILC_MASK | f.flag, 2, 1);
        ASSERT_NE(il, nullptr);
        // Three images and two spare columns, which belong to no image.
        MemSurface strip(3 * kCx + 2, kCy);
        fill(strip, kMagenta);
        paint_strip(strip.dc, 3, kMagenta);
        lend(strip);
        EXPECT_EQ(ImageList_AddMasked(il, strip.bmp, kMagenta), 0);
        EXPECT_EQ(ImageList_GetImageCount(il), 3);
        take_back(strip);

        expect_strip("caller's pixel", strip.dc, 3, 3 * kCx + 2,
                     [&](COLORREF c) { return c == kMagenta && bpp > 8 ? kBlack : c; });

        // Transparent drawing keeps the destination under the key colour's pixels.
        MemSurface dst(3 * kCx, kCy);
        fill(dst, kBlack);
        ImageList_SetBkColor(il, CLR_NONE);
        for (int k = 0; k < 3; ++k) {
            EXPECT_TRUE(ImageList_Draw(il, k, dst.dc, k * kCx, 0, ILD_TRANSPARENT));
        }
        expect_strip("drawn", dst.dc, 3, 3 * kCx,
                     [](COLORREF c) { return c == kMagenta ? kBlack : c; });
        EXPECT_TRUE(ImageList_Destroy(il));
    }
}

// A bitmap the caller still has selected in its own context cannot be selected by the list,
// yet Win32 adds its images (index and count as usual): all opaque, the caller's bitmap left
// as it is, and their pixels read only when a 32-bit bitmap goes into a 32-bit list (black
// otherwise). ImageList_Add takes such a bitmap the same way.
TEST(ImageList, BitmapsTheCallerHasSelectedAreAddedOpaque) {
    const int bpp = expected_bpp();
    struct Source {
        const char* name;
        int bits; // 0: a bitmap in the display's format
    };
    for (const Source& source :
         {Source{"device bitmap", 0}, Source{"32-bit section", 32}, Source{"24-bit section", 24}}) {
        for (const Flag& f : kFlags) {
            for (bool masked_add : {true, false}) {
                SCOPED_TRACE(testing::Message() << source.name << ", " << f.name
                                                << (masked_add ? ", AddMasked" : ", Add"));
                std::unique_ptr<MemSurface> caller =
                    source.bits == 0
                        ? std::make_unique<MemSurface>(2 * kCx, kCy)
                        : std::make_unique<MemSurface>(section(2 * kCx, -kCy, source.bits));
                const HBITMAP bmp = caller->bmp;
                paint_strip(caller->dc, 2, kMagenta);
                HIMAGELIST il = ImageList_Create(kCx, kCy, ILC_MASK | f.flag, 1, 1);
                ASSERT_NE(il, nullptr);
                const int first = masked_add ? ImageList_AddMasked(il, bmp, kMagenta)
                                             : ImageList_Add(il, bmp, nullptr);
                EXPECT_EQ(first, 0);
                EXPECT_EQ(ImageList_GetImageCount(il), 2);

                const int source_bits = source.bits == 0 ? bpp : source.bits;
                const bool read = source_bits == 32 && f.flag == ILC_COLOR32;
                MemSurface dst(2 * kCx, kCy);
                fill(dst, kBlue);
                for (int k = 0; k < 2; ++k) {
                    EXPECT_TRUE(ImageList_Draw(il, k, dst.dc, k * kCx, 0, ILD_TRANSPARENT));
                }
                expect_strip("caller's pixel", caller->dc, 2, 2 * kCx,
                             [](COLORREF c) { return c; });
                expect_strip("drawn", dst.dc, 2, 2 * kCx,
                             [&](COLORREF c) { return read ? c : kBlack; });
                EXPECT_TRUE(ImageList_Destroy(il));
            }
        }
    }
}

struct Style {
    UINT style;
    COLORREF bk;
    const char* name;
};

// Which pixels of an image a style paints in the highlight colour (x, y from the image's
// top-left), and what the masked pixels show.
TEST(ImageList, DrawStyles) {
    const Style styles[] = {
        {ILD_NORMAL, kCyan, "normal on a colour"},
        {ILD_NORMAL, CLR_NONE, "normal without colour"},
        {ILD_TRANSPARENT, kCyan, "transparent with a colour set"},
        {ILD_SELECTED, CLR_NONE, "selected"},
        {ILD_FOCUS, CLR_NONE, "focused"},
        {ILD_SELECTED, kCyan, "selected on a colour"},
        {ILD_FOCUS | ILD_TRANSPARENT, kCyan, "focused transparent"},
    };
    // Wider and taller than the pattern period, odd sizes, so both phases show.
    constexpr int w = 7, h = 6;
    for (const Flag& f : kFlags) {
        for (const Style& s : styles) {
            SCOPED_TRACE(std::string(f.name) + ", " + s.name);
            HIMAGELIST il = ImageList_Create(w, h, ILC_MASK | f.flag, 1, 1);
            ASSERT_NE(il, nullptr);
            MemSurface src(w, h);
            fill(src, kRed);
            // A key-coloured column and one pixel: masked.
            for (int y = 0; y < h; ++y) {
                SetPixel(src.dc, 2, y, kMagenta);
            }
            SetPixel(src.dc, 5, 3, kMagenta);
            lend(src);
            ASSERT_EQ(ImageList_AddMasked(il, src.bmp, kMagenta), 0);
            EXPECT_EQ(ImageList_SetBkColor(il, s.bk), static_cast<COLORREF>(CLR_NONE));
            EXPECT_EQ(ImageList_GetBkColor(il), s.bk);

            // Drawn at an odd place, so that a pattern tied to the destination would show.
            MemSurface dst(w + 3, h + 3);
            fill(dst, kGreen);
            const COLORREF highlight = shown(dst, GetSysColor(COLOR_HIGHLIGHT));
            ASSERT_TRUE(ImageList_Draw(il, 0, dst.dc, 3, 1, s.style));
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const bool masked = x == 2 || (x == 5 && y == 3);
                    COLORREF expect = kRed;
                    if (masked) {
                        const bool opaque = (s.style & ILD_TRANSPARENT) == 0 && s.bk != CLR_NONE;
                        expect = opaque ? s.bk : kGreen;
                    } else if ((s.style & ILD_SELECTED) != 0 && (x + y) % 2 == 1) {
                        expect = highlight;
                    } else if ((s.style & ILD_FOCUS) != 0 && y % 2 == 0 && (x + y / 2) % 2 == 0) {
                        expect = highlight;
                    }
                    // Wine maps colours into 8-bit memory bitmaps its own way (a fixed table),
                    // and not the same way on every path: there, only the pattern is checked.
                    if (kWine && expect == highlight && expected_bpp() == 8) {
                        EXPECT_NE(at(dst, 3 + x, 1 + y), kRed) << x << "," << y;
                        continue;
                    }
                    ASSERT_EQ(at(dst, 3 + x, 1 + y), expect) << x << "," << y;
                }
            }
            // Nothing outside the image's rectangle.
            expect_pixels(dst.dc, {{2, 1, kGreen}, {3, 0, kGreen}, {3 + w - 1, 1 + h, kGreen}});
            ImageList_Destroy(il);
        }
    }
}

// The colour flag is the storage format: a 16-bit list keeps 5 bits of green, so a colour
// whose green only 6 bits can hold comes out changed, while deeper lists keep it.
TEST(ImageList, SixteenBitListsKeepFiveBitsPerComponent) {
    if (expected_bpp() <= 8) {
        GTEST_SKIP() << "a palette display has no such colour";
    }
    const COLORREF fine_green = RGB(0, 0x04, 0);
    for (const Flag& f : kFlags) {
        SCOPED_TRACE(f.name);
        HIMAGELIST il = ImageList_Create(2, 2, f.flag, 1, 1);
        ASSERT_NE(il, nullptr);
        MemSurface src(2, 2);
        fill(src, fine_green);
        const COLORREF stored = shown(src, fine_green);
        lend(src);
        ASSERT_EQ(ImageList_Add(il, src.bmp, nullptr), 0);
        MemSurface dst(2, 2);
        fill(dst, kWhite);
        ASSERT_TRUE(ImageList_Draw(il, 0, dst.dc, 0, 0, ILD_NORMAL));
        EXPECT_EQ(at(dst, 1, 1), f.flag == ILC_COLOR16 ? kBlack : stored);
        ImageList_Destroy(il);
    }
}

TEST(ImageList, CountsRemovalAndLayout) {
    HIMAGELIST il = ImageList_Create(kCx, kCy, ILC_MASK | ILC_COLOR32, 1, 1);
    ASSERT_NE(il, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(il), 0);
    EXPECT_EQ(ImageList_GetBkColor(il), static_cast<COLORREF>(CLR_NONE));
    int cx = 0, cy = 0;
    EXPECT_TRUE(ImageList_GetIconSize(il, &cx, &cy) && cx == kCx && cy == kCy);

    MemSurface strip(6 * kCx, kCy);
    fill(strip, kMagenta);
    paint_strip(strip.dc, 6, kMagenta);
    lend(strip);
    const HBITMAP bmp = strip.bmp;
    // Grows past its initial count one add at a time.
    EXPECT_EQ(ImageList_AddMasked(il, bmp, kMagenta), 0);
    EXPECT_EQ(ImageList_AddMasked(il, bmp, kMagenta), 6);
    EXPECT_EQ(ImageList_GetImageCount(il), 12);

    // Four images to a row.
    IMAGEINFO info = {};
    ASSERT_TRUE(ImageList_GetImageInfo(il, 5, &info));
    const RECT& r = info.rcImage;
    EXPECT_EQ((std::vector<LONG>{r.left, r.top, r.right, r.bottom}),
              (std::vector<LONG>{kCx, kCy, 2 * kCx, 2 * kCy}));
    EXPECT_NE(info.hbmImage, nullptr);
    EXPECT_EQ(shape_of(info.hbmMask)[0], 4 * kCx);
    EXPECT_EQ(shape_of(info.hbmMask)[2], 1);

    // A bitmap narrower than an image adds nothing and answers the next index.
    MemSurface narrow(kCx - 1, kCy);
    lend(narrow);
    EXPECT_EQ(ImageList_AddMasked(il, narrow.bmp, kMagenta), 12);
    EXPECT_EQ(ImageList_GetImageCount(il), 12);

    // Removing image 0 moves image 1 to 0, and so on.
    ASSERT_TRUE(ImageList_Remove(il, 0));
    EXPECT_EQ(ImageList_GetImageCount(il), 11);
    MemSurface dst(kCx, kCy);
    for (int i : {0, 3, 4, 10}) {
        SCOPED_TRACE(i);
        fill(dst, kBlack);
        ASSERT_TRUE(ImageList_Draw(il, i, dst.dc, 0, 0, ILD_TRANSPARENT));
        expect_pixels(dst.dc, {{2, 2, kInside[(i + 1) % 6 % 5]}, {0, 0, kBlack}});
    }
    // An index out of range draws nothing and returns 0.
    fill(dst, kBlack);
    EXPECT_FALSE(ImageList_Draw(il, 11, dst.dc, 0, 0, ILD_NORMAL));
    EXPECT_FALSE(ImageList_Draw(il, -1, dst.dc, 0, 0, ILD_NORMAL));
    EXPECT_EQ(at(dst, 2, 2), kBlack);
    EXPECT_FALSE(ImageList_Remove(il, 11));
    EXPECT_FALSE(ImageList_GetImageInfo(il, 11, &info));
    // -1 removes everything.
    EXPECT_TRUE(ImageList_Remove(il, -1));
    EXPECT_EQ(ImageList_GetImageCount(il), 0);
    EXPECT_FALSE(ImageList_Draw(il, 0, dst.dc, 0, 0, ILD_NORMAL));

    EXPECT_TRUE(ImageList_Destroy(il));
}

TEST(ImageList, AddWithMaskBitmapAndListsWithoutMask) {
    MemSurface img(kCx, kCy);
    fill(img, kYellow);
    lend(img);
    const HBITMAP bmp = img.bmp;
    // Monochrome mask: 1 (white) is transparent; the left column here.
    MemSurface mono(kCx, kCy, true);
    PatBlt(mono.dc, 0, 0, kCx, kCy, BLACKNESS);
    PatBlt(mono.dc, 0, 0, 1, kCy, WHITENESS);
    lend(mono);
    const HBITMAP mask = mono.bmp;

    HIMAGELIST masked = ImageList_Create(kCx, kCy, ILC_MASK | ILC_COLOR24, 1, 1);
    HIMAGELIST plain = ImageList_Create(kCx, kCy, ILC_COLOR24, 1, 1);
    ASSERT_NE(masked, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(ImageList_Add(masked, bmp, mask), 0);
    EXPECT_EQ(ImageList_Add(plain, bmp, nullptr), 0);
    EXPECT_EQ(ImageList_Add(plain, bmp, nullptr), 1);
    MemSurface dst(kCx, kCy);
    fill(dst, kBlue);
    ASSERT_TRUE(ImageList_Draw(masked, 0, dst.dc, 0, 0, ILD_TRANSPARENT));
    expect_pixels(dst.dc, {{0, 2, kBlue}, {1, 2, kYellow}});
    fill(dst, kBlue);
    ASSERT_TRUE(ImageList_Draw(plain, 1, dst.dc, 0, 0, ILD_TRANSPARENT));
    EXPECT_EQ(at(dst, 0, 2), kYellow) << "a list without mask draws every pixel";

    // AddMasked on a list without mask still blackens the key in a deep caller's bitmap, and
    // the list keeps the blackened image.
    take_back(img);
    SetPixel(img.dc, 1, 1, kRed);
    lend(img);
    EXPECT_EQ(ImageList_AddMasked(plain, bmp, kYellow), 2);
    const COLORREF key_after = expected_bpp() > 8 ? kBlack : kYellow;
    take_back(img);
    fill(dst, kBlue);
    ASSERT_TRUE(ImageList_Draw(plain, 2, dst.dc, 0, 0, ILD_TRANSPARENT));
    for (HDC dc : {img.dc, dst.dc}) {
        expect_pixels(dc, {{0, 0, key_after}, {1, 1, kRed}});
    }

    ImageList_Destroy(masked);
    ImageList_Destroy(plain);
}

TEST(ImageList, BadInputFails) {
    EXPECT_EQ(ImageList_Create(0, 4, ILC_MASK | ILC_COLOR32, 1, 1), nullptr);
    EXPECT_EQ(ImageList_Create(4, -1, ILC_MASK | ILC_COLOR32, 1, 1), nullptr);
    HIMAGELIST il = ImageList_Create(4, 4, ILC_MASK | ILC_COLOR32, 1, 1);
    ASSERT_NE(il, nullptr);
    const HBITMAP bogus_bmp = reinterpret_cast<HBITMAP>(static_cast<std::uintptr_t>(0x5a5a5a5a));
    EXPECT_EQ(ImageList_AddMasked(il, bogus_bmp, kRed), -1);
    EXPECT_EQ(ImageList_Add(il, bogus_bmp, nullptr), -1);
    EXPECT_EQ(ImageList_AddMasked(il, nullptr, kRed), -1);
    EXPECT_EQ(ImageList_GetImageCount(il), 0);
    EXPECT_TRUE(ImageList_Destroy(il));

    EXPECT_FALSE(ImageList_Destroy(nullptr));
    EXPECT_EQ(ImageList_GetImageCount(nullptr), 0);
    EXPECT_EQ(ImageList_AddMasked(nullptr, nullptr, kRed), -1);
    EXPECT_FALSE(ImageList_Remove(nullptr, 0));
    EXPECT_FALSE(ImageList_Draw(nullptr, 0, MemSurface(1, 1).dc, 0, 0, ILD_NORMAL));
}

} // namespace
