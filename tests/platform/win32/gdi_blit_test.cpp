// Blits on raw pixel data at the display's depth and in monochrome: raster operations,
// colour/monochrome conversions, clipping, overlap and stretching.
#include "platform/win32/gdi_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

using namespace gdi_test;

namespace {

constexpr int kW = 16;
constexpr int kH = 12;

// Raw pixel value at (x, y) in WORD-aligned top-down rows of `width` pixels.
DWORD pixel_at(const std::vector<BYTE>& bits, int bpp, int x, int y, int width = kW) {
    const int stride = ((width * bpp + 15) / 16) * 2;
    const BYTE* row = bits.data() + y * stride;
    if (bpp == 1) {
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
    DWORD v = 0;
    for (int i = 0; i < bpp / 8; ++i) {
        v |= static_cast<DWORD>(row[x * (bpp / 8) + i]) << (8 * i);
    }
    return v;
}

DWORD apply_rop(DWORD rop, DWORD p, DWORD s, DWORD d) {
    const BYTE code = static_cast<BYTE>(rop >> 16);
    DWORD out = 0;
    for (int bit = 0; bit < 32; ++bit) {
        const int index = (((p >> bit) & 1) << 2) | (((s >> bit) & 1) << 1) | ((d >> bit) & 1);
        out |= static_cast<DWORD>((code >> index) & 1) << bit;
    }
    return out;
}

// A surface for the raster tests, kH rows of `w` pixels: a bitmap at the display's depth, a
// monochrome one, or a 32-bit section whose memory rows run bottom-up unless it is top-down.
// Its raw rows are read and written top row first, WORD-aligned, whatever it is.
enum Kind { kDisplay, kMono, kBottomUp, kTopDown };
struct RawSurface {
    int w;
    Kind kind;
    void* px = nullptr;
    MemSurface s;
    RawSurface(Kind k, int width)
        : w(width), kind(k), s(k == kBottomUp || k == kTopDown
                                   ? MemSurface(section(w, k == kTopDown ? -kH : kH, 32, &px))
                                   : MemSurface(w, kH, k == kMono)) {}
    int bpp() const { return kind == kMono ? 1 : kind == kDisplay ? expected_bpp() : 32; }
    BYTE* row(int y) const {
        return static_cast<BYTE*>(px) + (kind == kTopDown ? y : kH - 1 - y) * w * 4;
    }
    std::vector<BYTE> get() const {
        if (px == nullptr) {
            return s.bits();
        }
        GdiFlush();
        std::vector<BYTE> out(static_cast<std::size_t>(w) * 4 * kH);
        for (int y = 0; y < kH; ++y) {
            std::memcpy(out.data() + y * w * 4, row(y), static_cast<std::size_t>(w) * 4);
        }
        return out;
    }
    void set(const std::vector<BYTE>& in) {
        if (px == nullptr) {
            return s.set_bits(in);
        }
        for (int y = 0; y < kH; ++y) {
            std::memcpy(row(y), in.data() + y * w * 4, static_cast<std::size_t>(w) * 4);
        }
        GdiFlush();
    }
};

} // namespace

// Raster operations act bitwise on raw values, whatever the depth (indices at 8 bits, the
// fourth byte at 32), with the visible part of the rectangle clipped to both bitmaps: on bitmaps
// at the display's depth, monochrome ones, and 32-bit sections of both row orders wide enough
// for the vector loops (whole surfaces are one block of memory, inner rectangles go row by row).
TEST(GdiBlit, RasterOperationsOnRandomPixels) {
    const DWORD rops[] = {SRCCOPY,    SRCAND,      SRCPAINT,  SRCINVERT,  0x00220326,
                          NOTSRCCOPY, NOTSRCERASE, SRCERASE,  MERGEPAINT, DSTINVERT,
                          BLACKNESS,  PATINVERT,   MERGECOPY, PATPAINT,   0x00B8074A};
    struct Geometry {
        int dx, dy, w, h, sx, sy;
    };
    int seed = 1;
    for (Kind kind : {kDisplay, kMono, kBottomUp, kTopDown}) {
        const int w = kind == kDisplay || kind == kMono ? kW : 72;
        const Geometry geometries[] = {
            {0, 0, w, kH, 0, 0},      // whole
            {3, 2, w - 7, 7, 5, 1},   // inside, offsets differ
            {-3, -2, w, kH, 0, 0},    // destination hangs off the top-left
            {w - 6, 8, 20, 20, 0, 0}, // and off the bottom-right
            {0, 0, w, kH, 7, 5},      // source runs out
        };
        // Pure colours: other solid colours may be dithered on monochrome bitmaps.
        HBRUSH brush = CreateSolidBrush(kind == kMono ? RGB(255, 255, 255) : RGB(255, 0, 0));
        RawSurface one(kind, w);
        const RECT first = {0, 0, 1, 1};
        FillRect(one.s.dc, &first, brush);
        const int bpp = one.bpp();
        const DWORD pat = pixel_at(one.get(), bpp, 0, 0, w);
        for (DWORD rop : rops) {
            for (const Geometry& g : geometries) {
                RawSurface src(kind, w);
                RawSurface dst(kind, w);
                const auto src_bits = random_bytes(src.get().size(), seed++);
                const auto dst_bits = random_bytes(dst.get().size(), seed++);
                src.set(src_bits);
                dst.set(dst_bits);
                HGDIOBJ old = SelectObject(dst.s.dc, brush);
                ASSERT_TRUE(BitBlt(dst.s.dc, g.dx, g.dy, g.w, g.h, src.s.dc, g.sx, g.sy, rop));
                SelectObject(dst.s.dc, old);
                const auto out = dst.get();
                for (int y = 0; y < kH; ++y) {
                    for (int x = 0; x < w; ++x) {
                        const int u = x - g.dx + g.sx;
                        const int v = y - g.dy + g.sy;
                        const BYTE code = static_cast<BYTE>(rop >> 16);
                        const bool uses_src = ((code >> 2) ^ code) & 0x33;
                        const bool inside = x >= g.dx && x < g.dx + g.w && y >= g.dy &&
                                            y < g.dy + g.h && (!uses_src || (u < w && v < kH));
                        DWORD want = pixel_at(dst_bits, bpp, x, y, w);
                        if (inside) {
                            const DWORD s = u < w && v < kH ? pixel_at(src_bits, bpp, u, v, w) : 0;
                            want =
                                apply_rop(rop, pat, s, want) & (bpp == 32 ? ~0u : (1u << bpp) - 1);
                        }
                        ASSERT_EQ(pixel_at(out, bpp, x, y, w), want)
                            << std::hex << "rop " << rop << std::dec << " kind " << kind << " at "
                            << x << "," << y << " geometry " << g.dx << "," << g.dy;
                    }
                }
            }
        }
        DeleteObject(brush);
    }
}

// Monochrome to colour: 0 becomes the destination's text colour, 1 its background colour.
TEST(GdiBlit, MonochromeToColourUsesTheDestinationColours) {
    const BYTE rows[kH * 2] = {0xA5, 0x0F};
    MemSurface mono(CreateBitmap(kW, kH, 1, 1, rows));
    SetTextColor(mono.dc, RGB(0, 255, 0)); // the source's colours play no part
    SetBkColor(mono.dc, RGB(255, 255, 0));
    // The colours of a new DC (black text on white), then others.
    for (const auto& colours : {std::pair(kBlack, kWhite), std::pair(kRed, kBlue)}) {
        const COLORREF zero = colours.first, one = colours.second;
        MemSurface colour(kW, kH);
        if (zero != kBlack) {
            SetTextColor(colour.dc, zero);
            SetBkColor(colour.dc, one);
        }
        ASSERT_TRUE(BitBlt(colour.dc, 0, 0, kW, 1, mono.dc, 0, 0, SRCCOPY));
        expect_image(colour.dc, kW, 1,
                     [&](int x, int) { return (rows[x >> 3] >> (7 - (x & 7))) & 1 ? one : zero; });
    }
}

// Within one bitmap, every blit works as if the source were read before anything is written:
// the same blit from an untouched copy of the bitmap gives the same bytes. Overlap in each
// direction, mirrors in place and stretches by one pixel or more, on bitmaps at the display's
// depth and monochrome.
TEST(GdiBlit, BlitsWithinOneBitmapReadTheSourceFirst) {
    struct Case {
        const char* name;
        int dx, dy, dw, dh, sx, sy, sw, sh;
    };
    const Case cases[] = {
        {"down-right", 5, 6, 6, 5, 4, 4, 6, 5},
        {"up-left", 3, 2, 6, 5, 4, 4, 6, 5},
        {"up-right", 5, 2, 6, 5, 4, 4, 6, 5},
        {"down-left", 3, 6, 6, 5, 4, 4, 6, 5},
        {"right", 7, 3, 8, 6, 4, 3, 8, 6},
        {"left", 1, 3, 8, 6, 4, 3, 8, 6},
        {"down", 2, 5, 9, 6, 2, 3, 9, 6},
        {"up", 2, 1, 9, 6, 2, 3, 9, 6},
        {"mirrored across", kW - 1, 0, -kW, kH, 0, 0, kW, kH},
        {"mirrored upside down", 0, kH - 1, kW, -kH, 0, 0, kW, kH},
        {"turned half round", kW - 1, kH - 1, -kW, -kH, 0, 0, kW, kH},
        {"one pixel larger", 2, 2, 9, 7, 1, 1, 8, 6},
        {"one pixel smaller", 1, 1, 7, 5, 2, 2, 8, 6},
        {"one row taller, up", 0, 0, kW, kH, 0, 1, kW, kH - 1},
        {"grown round its source", 0, 0, kW, kH, 0, 2, kW, kH - 4},
        {"shrunk into its source", 0, 2, kW, kH - 4, 0, 0, kW, kH},
    };
    for (bool mono : {false, true}) {
        for (const Case& c : cases) {
            if (kWine && mono && c.dw == c.sw && c.dx > c.sx) {
                continue; // Wine copies such monochrome rows left to right, over its own output
            }
            SCOPED_TRACE(testing::Message() << c.name << (mono ? ", monochrome" : ""));
            MemSurface s(kW, kH, mono);
            MemSurface want(kW, kH, mono);
            MemSurface copy(kW, kH, mono);
            const auto before = random_bytes(s.bits().size(), 41);
            for (MemSurface* m : {&s, &want, &copy}) {
                m->set_bits(before);
                SetStretchBltMode(m->dc, COLORONCOLOR);
            }
            ASSERT_TRUE(
                StretchBlt(s.dc, c.dx, c.dy, c.dw, c.dh, s.dc, c.sx, c.sy, c.sw, c.sh, SRCCOPY));
            ASSERT_TRUE(StretchBlt(want.dc, c.dx, c.dy, c.dw, c.dh, copy.dc, c.sx, c.sy, c.sw, c.sh,
                                   SRCCOPY));
            EXPECT_EQ(s.bits(), want.bits());
        }
    }
}

TEST(GdiBlit, HugeAndEmptyRectanglesStayInBounds) {
    MemSurface src(kW, kH);
    MemSurface dst(kW, kH);
    src.set_bits(random_bytes(src.bits().size(), 5));
    EXPECT_TRUE(BitBlt(dst.dc, INT_MIN / 2, INT_MIN / 2, INT_MAX, INT_MAX, src.dc, 0, 0, SRCCOPY));
    EXPECT_TRUE(BitBlt(dst.dc, 0, 0, INT_MAX, INT_MAX, src.dc, INT_MAX - 5, 0, SRCCOPY));
    EXPECT_TRUE(BitBlt(dst.dc, 0, 0, 0, 5, src.dc, 0, 0, SRCCOPY));
    EXPECT_TRUE(BitBlt(dst.dc, 100, 100, 5, 5, src.dc, 0, 0, SRCCOPY));
    EXPECT_TRUE(PatBlt(dst.dc, -1000000, -1000000, 2000000, 2000000, BLACKNESS));
    EXPECT_TRUE(StretchBlt(dst.dc, 0, 0, kW, kH, src.dc, -100, -100, 1000000, 3, SRCCOPY));
    EXPECT_TRUE(StretchBlt(dst.dc, 0, 0, 4000, 4000, src.dc, 0, 0, 2, 2, SRCCOPY));
    // A rop that needs a source fails without one; PatBlt refuses source rops.
    EXPECT_FALSE(BitBlt(dst.dc, 0, 0, 4, 4, nullptr, 0, 0, SRCCOPY));
    EXPECT_TRUE(BitBlt(dst.dc, 0, 0, 4, 4, nullptr, 0, 0, PATCOPY));
    EXPECT_FALSE(PatBlt(dst.dc, 0, 0, 4, 4, SRCCOPY));
}

// Negative extents on both sides copy without mirroring: a rectangle of width -4 at x covers
// x - 3 to x. (Scaling and mirroring by one negative extent: StretchPicksAndCombines and the
// StretchDIBits tests, which go through StretchBlt.)
TEST(GdiBlit, NegativeExtentsOnBothSidesDoNotMirror) {
    const int bpp = expected_bpp();
    MemSurface src(kW, kH);
    const auto bits = random_bytes(src.bits().size(), 9);
    src.set_bits(bits);
    MemSurface dst(kW, kH);
    ASSERT_TRUE(BitBlt(dst.dc, 10, 5, -4, -3, src.dc, 6, 7, SRCCOPY));
    ASSERT_TRUE(PatBlt(dst.dc, 10, 10, -3, -1, WHITENESS));
    const auto out = dst.bits();
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            DWORD want = 0;
            if (x >= 7 && x <= 10 && y >= 3 && y <= 5) {
                want = pixel_at(bits, bpp, x - 4, y + 2);
            } else if (x >= 8 && x <= 10 && y == 10) {
                want = pixel_at(out, bpp, 8, 10); // white, whatever its raw value
                EXPECT_NE(want, 0u);
            }
            EXPECT_EQ(pixel_at(out, bpp, x, y), want) << x << "," << y;
        }
    }
}

// The colour-to-monochrome mask over rows wide enough for the word-at-a-time and vector loops,
// at several bit offsets of the destination and the source, against the rule pixel by pixel:
// 1 where the source's raw value is that of its background colour (the destination's colours
// play no part; BitBlt and StretchBlt at 1:1 agree). At the display's depth the other pixels
// are random; in 32-bit sections of both row orders they are one bit off the key (the fourth
// byte included).
TEST(GdiBlit, WideMasksMatchPixelByPixel) {
    constexpr int kWide = 80;
    for (Kind kind : {kDisplay, kBottomUp, kTopDown}) {
        RawSurface src(kind, kWide);
        const int bpp = src.bpp();
        auto raw = random_bytes(src.get().size(), 31);
        const COLORREF key = kind == kDisplay ? RGB(255, 0, 0) : RGB(0x10, 0x20, 0x30);
        for (int y = 0; kind != kDisplay && y < kH; ++y) {
            for (int x = 0; x < kWide; ++x) {
                const DWORD v = (x + y) % 5 == 0 ? 0x102030 : 0x102030 ^ (1u << ((x + y) % 32));
                std::memcpy(raw.data() + (y * kWide + x) * 4, &v, 4);
            }
        }
        src.set(raw);
        for (int y = 0; kind == kDisplay && y < kH; ++y) {
            for (int x = (y % 3); x < kWide; x += 3) {
                SetPixel(src.s.dc, x, y, key); // every third pixel
            }
        }
        SetBkColor(src.s.dc, key);
        raw = src.get();
        const DWORD key_raw = pixel_at(raw, bpp, 0, 0, kWide);
        for (int offset : {0, 1, 3, 5, 7, 8, 13}) {
            for (int sx : {1, 2}) {
                MemSurface mask(kWide + 16, kH, true);
                PatBlt(mask.dc, 0, 0, kWide + 16, kH, DSTINVERT); // all ones: untouched stay 1
                SetBkColor(mask.dc, RGB(1, 2, 3));
                SetTextColor(mask.dc, RGB(4, 5, 6));
                const int w = kWide - 2;
                ASSERT_TRUE(sx == 1 ? BitBlt(mask.dc, offset, 0, w, kH, src.s.dc, sx, 0, SRCCOPY)
                                    : StretchBlt(mask.dc, offset, 0, w, kH, src.s.dc, sx, 0, w, kH,
                                                 SRCCOPY));
                SCOPED_TRACE(testing::Message()
                             << "offset " << offset << " from " << sx << " kind " << kind);
                expect_image(mask.dc, kWide + 16, kH, [&](int x, int y) {
                    const bool on = x < offset || x >= offset + kWide - 2 ||
                                    pixel_at(raw, bpp, x - offset + sx, y, kWide) == key_raw;
                    return on ? kWhite : kBlack;
                });
            }
        }
    }
}

// Which source pixel each destination pixel shows when stretching, and what the combining
// mode makes of a shrink (the AND of the raw values a destination pixel covers).
TEST(GdiBlit, StretchPicksAndCombines) {
    const int bpp = expected_bpp();
    struct Case {
        int from, to;
        std::vector<int> pick;    // COLORONCOLOR: source x of each destination x
        std::vector<int> and_all; // BLACKONWHITE: raw result (the raw value of pixel x is x)
    };
    const Case cases[] = {
        {16, 8, {1, 3, 5, 7, 9, 11, 13, 15}, {0, 2, 4, 6, 8, 10, 12, 14}},
        {16, 5, {2, 5, 9, 12, 15}, {0, 0, 0, 8, 12}},
        {3, 2, {1, 2}, {0, 2}},
        {5, 3, {1, 2, 4}, {0, 2, 0}},
        {7, 4, {1, 3, 4, 6}, {0, 2, 4, 4}},
        {10, 4, {2, 4, 7, 9}, {0, 0, 4, 8}},
        {2, 3, {0, 0, 1}, {0, 0, 1}},
        {3, 5, {0, 0, 1, 2, 2}, {0, 0, 1, 2, 2}},
        {4, 7, {0, 0, 1, 1, 2, 3, 3}, {0, 0, 1, 1, 2, 3, 3}},
        {5, 8, {0, 0, 1, 2, 2, 3, 4, 4}, {0, 0, 1, 2, 2, 3, 4, 4}},
    };
    MemSurface src(32, 1);
    std::vector<BYTE> raw(src.bits().size(), 0);
    for (int x = 0; x < 32; ++x) {
        raw[static_cast<std::size_t>(x * bpp / 8)] = static_cast<BYTE>(x);
    }
    src.set_bits(raw);
    for (const Case& c : cases) {
        for (int mode : {COLORONCOLOR, BLACKONWHITE}) {
            MemSurface dst(32, 1);
            SetStretchBltMode(dst.dc, mode);
            ASSERT_TRUE(StretchBlt(dst.dc, 0, 0, c.to, 1, src.dc, 0, 0, c.from, 1, SRCCOPY));
            const auto out = dst.bits();
            const auto& want = mode == COLORONCOLOR ? c.pick : c.and_all;
            for (int x = 0; x < c.to; ++x) {
                EXPECT_EQ(pixel_at(out, bpp, x, 0, 32), static_cast<DWORD>(want[x]))
                    << c.from << "->" << c.to << " mode " << mode << " x " << x;
            }
        }
    }
}

// Between monochrome device bitmaps and 1-bit DIB sections the usual conversions apply: the
// section's colour table stands between them.
TEST(GdiBlit, MonochromeBitmapsAndOneBitSections) {
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD colors[2];
    } bi = {{sizeof(BITMAPINFOHEADER), 8, 1, 1, 1, BI_RGB, 0, 0, 0, 0, 0},
            {{0, 0, 255, 0}, {255, 0, 0, 0}}}; // index 0 red, 1 blue
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS,
                                   &bits, nullptr, 0);
    ASSERT_NE(dib, nullptr);
    MemSurface section(dib);
    MemSurface mono(8, 1, true);
    SetPixel(mono.dc, 0, 0, RGB(255, 255, 255));
    // Monochrome into the section: text and background colours, then the nearest table entry
    // (black and white are as far from red as from blue: the first entry wins).
    static_cast<BYTE*>(bits)[0] = 0xFF;
    ASSERT_TRUE(BitBlt(section.dc, 0, 0, 8, 1, mono.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(static_cast<BYTE*>(bits)[0], 0x00);
    // The section into monochrome: 1 where the index is the DC's background colour's index.
    static_cast<BYTE*>(bits)[0] = 0x0F;
    SetBkColor(section.dc, RGB(0, 0, 250)); // nearest entry: blue, index 1
    ASSERT_TRUE(BitBlt(mono.dc, 0, 0, 8, 1, section.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(mono.bits()[0], 0x0F);
    SetBkColor(section.dc, RGB(250, 0, 0)); // red, index 0
    ASSERT_TRUE(BitBlt(mono.dc, 0, 0, 8, 1, section.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(mono.bits()[0], 0xF0);
}

// A new bitmap reads as black until written, whatever touches it first: a blit that writes
// all of it, part of it, or reads it; a fill; a stretch; the colour-to-monochrome mask. Each
// operation runs on a new bitmap and on one made black beforehand, with the same result.
TEST(GdiBlit, NewBitmapsReadAsBlackUntilWritten) {
    constexpr int kOdd = 13; // rows with padding at some depths, a partial byte in monochrome
    struct Case {
        const char* name;
        bool mono;
        void (*run)(HDC dst, HDC src);
    };
    const Case cases[] = {
        {"nothing", false, [](HDC, HDC) {}},
        {"copy of all", false, [](HDC d, HDC s) { BitBlt(d, 0, 0, kOdd, 5, s, 0, 0, SRCCOPY); }},
        {"copy of a part", false, [](HDC d, HDC s) { BitBlt(d, 2, 1, 8, 3, s, 0, 0, SRCCOPY); }},
        {"AND over all", false, [](HDC d, HDC s) { BitBlt(d, 0, 0, kOdd, 5, s, 0, 0, SRCAND); }},
        {"XOR over all", false, [](HDC d, HDC s) { BitBlt(d, 0, 0, kOdd, 5, s, 0, 0, SRCINVERT); }},
        {"fill of all", false, [](HDC d, HDC) { PatBlt(d, 0, 0, kOdd, 5, WHITENESS); }},
        {"stretch of all", false,
         [](HDC d, HDC s) { StretchBlt(d, 0, 0, kOdd, 5, s, 0, 0, kOdd, 2, SRCCOPY); }},
        {"mask of all", true, [](HDC d, HDC s) { BitBlt(d, 0, 0, kOdd, 5, s, 0, 0, SRCCOPY); }},
        {"mask of a part", true, [](HDC d, HDC s) { BitBlt(d, 3, 0, 9, 5, s, 1, 0, SRCCOPY); }},
    };
    MemSurface src(kOdd, 5);
    src.set_bits(random_bytes(src.bits().size(), 3));
    SetPixel(src.dc, 1, 1, RGB(255, 255, 255));
    SetBkColor(src.dc, RGB(255, 255, 255));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemSurface fresh(kOdd, 5, c.mono);
        MemSurface black(kOdd, 5, c.mono);
        ASSERT_TRUE(PatBlt(black.dc, 0, 0, kOdd, 5, BLACKNESS));
        c.run(fresh.dc, src.dc);
        c.run(black.dc, src.dc);
        expect_image(fresh.dc, kOdd, 5, [&](int x, int y) { return GetPixel(black.dc, x, y); });
#ifndef _WIN32
        // The bytes past each row's last pixel too (what Wine keeps there is its own).
        EXPECT_EQ(fresh.bits(), black.bits());
#endif
    }
}
