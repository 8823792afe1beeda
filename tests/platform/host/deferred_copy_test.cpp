// Copies that wait: a straight copy into a new bitmap is made only when needed. Every way of
// touching the bitmap copied from or the copy must leave the same bytes, and return the same
// results, as when the copy is made at once.
#include "internal/gdi_internal.h"
#include "platform/win32/gdi_support.h"
#include "support/host_display.h"

#include <commctrl.h>
#include <platform/host.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

constexpr int kOw = 23, kOh = 17; // the bitmap copied from, and a third bitmap x of that size
constexpr int kCw = 13, kCh = 9;  // the copy, of the rectangle at (kCx, kCy)
constexpr int kCx = 5, kCy = 4;

struct Scene {
    HDC screen = nullptr;
    HDC dco = nullptr, dcc = nullptr, dcx = nullptr; // o, c and x selected
    HBITMAP o = nullptr, c = nullptr, x = nullptr;
    std::vector<BYTE> seen; // what the calls returned

    void note(const void* p, std::size_t n) {
        const BYTE* b = static_cast<const BYTE*>(p);
        seen.insert(seen.end(), b, b + n);
    }
    template <class T> void note(T v) { note(&v, sizeof v); }
};

// A 32-bit DIB of w x h (bottom-up when h > 0) with noise in it.
gdi_test::Dib noise_dib(int w, int h, std::uint32_t seed) {
    return {gdi_test::info_header(w, h, 32),
            gdi_test::random_bytes(static_cast<std::size_t>(w) * std::abs(h) * 4, seed)};
}

// SetDIBits of rows [start, start + lines) of a w x h DIB of noise onto bitmap h through dc.
void set_rows(Scene& s, HDC dc, HBITMAP bmp, int w, int h, UINT start, UINT lines,
              std::uint32_t seed) {
    gdi_test::Dib d = noise_dib(w, h, seed);
    s.note(SetDIBits(dc, bmp, start, lines, d.bits.data(), d.info(), DIB_RGB_COLORS));
}

std::vector<BYTE> bitmap_bytes(HBITMAP h) {
    const LONG size = GetBitmapBits(h, 0, nullptr);
    std::vector<BYTE> v(static_cast<std::size_t>(size));
    EXPECT_EQ(GetBitmapBits(h, size, v.data()), size);
    return v;
}

void fill_noise(HBITMAP h, unsigned seed) {
    const LONG size = GetBitmapBits(h, 0, nullptr);
    const std::vector<BYTE> v = gdi_test::random_bytes(static_cast<std::size_t>(size), seed);
    ASSERT_EQ(SetBitmapBits(h, static_cast<DWORD>(size), v.data()), size);
}

// A bitmap of the screen's kind, w x h, filled with noise.
HBITMAP noise_bitmap(HDC screen, int w, int h, unsigned seed) {
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    fill_noise(bmp, seed);
    return bmp;
}

// A memory DC with `bmp` selected.
HDC dc_with(HDC screen, HGDIOBJ bmp) {
    HDC dc = CreateCompatibleDC(screen);
    SelectObject(dc, bmp);
    return dc;
}

// Deletes the DCs, then the objects (either may hold nulls, for what a touch deleted).
void release(std::initializer_list<HDC> dcs, std::initializer_list<HGDIOBJ> objects) {
    for (HDC dc : dcs) {
        if (dc != nullptr) {
            DeleteDC(dc);
        }
    }
    for (HGDIOBJ h : objects) {
        if (h != nullptr) {
            DeleteObject(h);
        }
    }
}

void deselect(HDC& dc) {
    DeleteDC(dc);
    dc = nullptr;
}

// Deletes a bitmap (and the DC holding it), then makes another of its size, filled with noise.
void delete_and_remake(Scene& s, HDC& dc, HBITMAP& bmp, std::uint32_t seed) {
    BITMAP bm{};
    GetObjectA(bmp, sizeof bm, &bm);
    deselect(dc);
    DeleteObject(bmp);
    bmp = noise_bitmap(s.screen, bm.bmWidth, bm.bmHeight, seed);
}

// Draws c through an image list onto x.
void through_image_list(Scene& s) {
    HIMAGELIST il = ImageList_Create(kCw, kCh, ILC_COLORDDB, 1, 1);
    deselect(s.dcc); // an image list takes bitmaps that no DC holds
    s.note(ImageList_Add(il, s.c, nullptr));
    s.note(ImageList_Draw(il, 0, s.dcx, 3, 2, ILD_NORMAL));
    ImageList_Destroy(il);
}

struct Touch {
    const char* name;
    void (*run)(Scene&);
};

const Touch kTouches[] = {
    {"nothing", [](Scene&) {}},
    // Writes to the bitmap copied from.
    {"blit onto o", [](Scene& s) { BitBlt(s.dco, 2, 3, 9, 8, s.dcx, 1, 1, SRCCOPY); }},
    {"blit o onto itself", [](Scene& s) { BitBlt(s.dco, 3, 2, 15, 12, s.dco, 6, 5, SRCCOPY); }},
    {"blit c onto o", [](Scene& s) { BitBlt(s.dco, 6, 6, kCw, kCh, s.dcc, 0, 0, SRCINVERT); }},
    {"stretch c onto o",
     [](Scene& s) { StretchBlt(s.dco, 0, 0, 20, 15, s.dcc, 0, 0, 9, 7, SRCCOPY); }},
    {"pattern onto o", [](Scene& s) { PatBlt(s.dco, 4, 4, 10, 10, DSTINVERT); }},
    {"FillRect on o",
     [](Scene& s) {
         HBRUSH brush = CreateSolidBrush(RGB(10, 200, 30));
         const RECT r = {6, 5, 12, 11};
         FillRect(s.dco, &r, brush);
         DeleteObject(brush);
     }},
    {"text background on o",
     [](Scene& s) {
         const RECT r = {0, 0, 9, 9};
         SetBkColor(s.dco, RGB(250, 5, 100));
         ExtTextOutA(s.dco, 0, 0, ETO_OPAQUE, &r, "", 0, nullptr);
     }},
    {"SetPixel on o", [](Scene& s) { s.note(SetPixel(s.dco, 7, 6, RGB(1, 2, 3))); }},
    {"SetBitmapBits on o", [](Scene& s) { fill_noise(s.o, 77); }},
    {"SetDIBits, every row, on o", [](Scene& s) { set_rows(s, s.dco, s.o, kOw, kOh, 0, kOh, 5); }},
    {"SetDIBits, some rows, on o", [](Scene& s) { set_rows(s, s.dco, s.o, kOw, kOh, 3, 5, 6); }},
    {"SetDIBitsToDevice on o",
     [](Scene& s) {
         gdi_test::Dib d = noise_dib(8, -6, 7);
         s.note(SetDIBitsToDevice(s.dco, 6, 5, 8, 6, 0, 0, 0, 6, d.bits.data(), d.info(),
                                  DIB_RGB_COLORS));
     }},
    {"StretchDIBits on o",
     [](Scene& s) {
         gdi_test::Dib d = noise_dib(4, 3, 8);
         s.note(StretchDIBits(s.dco, 5, 4, 12, 9, 0, 0, 4, 3, d.bits.data(), d.info(),
                              DIB_RGB_COLORS, SRCCOPY));
     }},
    {"image list onto o",
     [](Scene& s) {
         HIMAGELIST il = ImageList_Create(kCw, kCh, ILC_COLORDDB, 1, 1);
         HBITMAP img = noise_bitmap(s.screen, kCw, kCh, 9);
         s.note(ImageList_Add(il, img, nullptr));
         s.note(ImageList_Draw(il, 0, s.dco, 4, 4, ILD_NORMAL));
         ImageList_Destroy(il);
         DeleteObject(img);
     }},
    // The new bitmap most likely has the memory o had: a copy still waiting would show it.
    {"o deleted", [](Scene& s) { delete_and_remake(s, s.dco, s.o, 3); }},
    // Reads and writes of the copy.
    {"GetDIBits of c",
     [](Scene& s) {
         std::vector<BYTE> out = gdi_test::info_header(kCw, kCh, 32);
         std::vector<BYTE> bits(kCw * kCh * 4);
         s.note(GetDIBits(s.dcc, s.c, 0, kCh, bits.data(),
                          reinterpret_cast<BITMAPINFO*>(out.data()), DIB_RGB_COLORS));
         s.note(bits.data(), bits.size());
         std::vector<BYTE> top = gdi_test::info_header(kCw, -kCh, 24);
         std::vector<BYTE> rows((kCw * 3 + 3) / 4 * 4 * kCh);
         s.note(GetDIBits(s.dcc, s.c, 2, 4, rows.data(), reinterpret_cast<BITMAPINFO*>(top.data()),
                          DIB_RGB_COLORS));
         s.note(rows.data(), rows.size());
     }},
    {"GetPixel of c", [](Scene& s) { s.note(GetPixel(s.dcc, 12, 8)); }},
    {"blit from c", [](Scene& s) { BitBlt(s.dcx, 1, 2, 12, 9, s.dcc, 1, 0, SRCCOPY); }},
    {"stretch from c",
     [](Scene& s) { StretchBlt(s.dcx, 0, 0, 20, 13, s.dcc, 12, 0, -9, 7, SRCCOPY); }},
    {"c onto itself", [](Scene& s) { BitBlt(s.dcc, 2, 1, 10, 7, s.dcc, 0, 0, SRCCOPY); }},
    {"c onto the whole of itself",
     [](Scene& s) { BitBlt(s.dcc, 0, 0, kCw, kCh, s.dcc, 0, 0, NOTSRCCOPY); }},
    {"copy of c",
     [](Scene& s) {
         // Made from the copy, waiting on the bitmap the copy shows; x takes it.
         HBITMAP cc = CreateCompatibleBitmap(s.screen, 7, 5);
         HDC dc = dc_with(s.screen, cc);
         BitBlt(dc, 0, 0, 7, 5, s.dcc, 4, 3, SRCCOPY);
         PatBlt(s.dco, 0, 0, kOw, kOh, DSTINVERT);
         BitBlt(s.dcx, 1, 1, 7, 5, dc, 0, 0, SRCCOPY);
         release({dc}, {cc});
     }},
    {"many copies of o",
     [](Scene& s) {
         // More than wait at once: the rest are made at once.
         HBITMAP copies[12];
         HDC dc = CreateCompatibleDC(s.screen);
         for (int i = 0; i < 12; ++i) {
             copies[i] = CreateCompatibleBitmap(s.screen, 6, 5);
             SelectObject(dc, copies[i]);
             BitBlt(dc, 0, 0, 6, 5, s.dco, i, i, SRCCOPY);
         }
         PatBlt(s.dco, 0, 0, kOw, kOh, DSTINVERT);
         for (int i = 0; i < 12; ++i) {
             SelectObject(dc, copies[i]);
             BitBlt(s.dcx, i, 11 - i, 6, 5, dc, 0, 0, SRCCOPY);
         }
         release({dc}, {});
         for (HBITMAP h : copies) {
             DeleteObject(h);
         }
     }},
    {"pattern onto c", [](Scene& s) { PatBlt(s.dcc, 1, 1, 5, 5, PATINVERT); }},
    {"whole pattern onto c", [](Scene& s) { PatBlt(s.dcc, 0, 0, kCw, kCh, WHITENESS); }},
    {"whole blit onto c", [](Scene& s) { BitBlt(s.dcc, 0, 0, kCw, kCh, s.dcx, 3, 3, SRCCOPY); }},
    {"c copied again from elsewhere in o",
     [](Scene& s) { BitBlt(s.dcc, 0, 0, kCw, kCh, s.dco, 1, 7, SRCCOPY); }},
    {"SetPixel on c", [](Scene& s) { s.note(SetPixel(s.dcc, 0, 0, RGB(9, 9, 9))); }},
    {"SetBitmapBits on c", [](Scene& s) { fill_noise(s.c, 11); }},
    {"SetDIBits, every row, on c", [](Scene& s) { set_rows(s, s.dcc, s.c, kCw, kCh, 0, kCh, 12); }},
    {"SetDIBits, some rows, on c",
     [](Scene& s) { set_rows(s, s.dcc, s.c, kCw, kCh, 1, kCh - 1, 13); }},
    {"SetDIBits, narrower, on c",
     [](Scene& s) { set_rows(s, s.dcc, s.c, kCw - 1, kCh, 0, kCh, 14); }},
    {"StretchDIBits on c",
     [](Scene& s) {
         gdi_test::Dib d = noise_dib(3, 3, 15);
         s.note(StretchDIBits(s.dcc, 2, 2, 3, 3, 0, 0, 3, 3, d.bits.data(), d.info(),
                              DIB_RGB_COLORS, SRCCOPY));
     }},
    {"c through an image list", through_image_list},
    {"c as a brush",
     [](Scene& s) {
         HBRUSH brush = CreatePatternBrush(s.c);
         HGDIOBJ old = SelectObject(s.dcx, brush);
         PatBlt(s.dcx, 0, 0, kOw, kOh, PATCOPY);
         SelectObject(s.dcx, old);
         DeleteObject(brush);
     }},
    {"c in another DC",
     [](Scene& s) {
         deselect(s.dcc);
         s.dcc = dc_with(s.screen, s.c);
         s.note(GetPixel(s.dcc, 3, 3));
     }},
    // The new bitmap most likely has the memory c had, which o must not write when it changes.
    {"c deleted", [](Scene& s) { delete_and_remake(s, s.dcc, s.c, 4); }},
};

bool waiting(HBITMAP h) {
    return platform::gdi::lookup_bitmap_as_is(h)->waiting;
}

// The scene after the copy and the touch: what the calls returned, then the bytes of o, c and
// x (those not deleted). `copy_waits` says whether the copy waited.
std::vector<BYTE> run(const Touch& touch, bool defer, bool& copy_waits) {
    platform::gdi::deferred_copies = defer;
    Scene s;
    s.screen = GetDC(nullptr);
    s.o = noise_bitmap(s.screen, kOw, kOh, 1);
    s.x = noise_bitmap(s.screen, kOw, kOh, 2);
    s.c = CreateCompatibleBitmap(s.screen, kCw, kCh);
    s.dco = dc_with(s.screen, s.o);
    s.dcc = dc_with(s.screen, s.c);
    s.dcx = dc_with(s.screen, s.x);
    SelectObject(s.dcx, GetStockObject(GRAY_BRUSH));
    EXPECT_NE(BitBlt(s.dcc, 0, 0, kCw, kCh, s.dco, kCx, kCy, SRCCOPY), FALSE);
    copy_waits = waiting(s.c);
    touch.run(s);
    // One more write to o: a copy still waiting on it must not see it.
    if (s.dco != nullptr) {
        PatBlt(s.dco, 0, 0, kOw, kOh, DSTINVERT);
    }
    std::vector<BYTE> out = s.seen;
    for (HBITMAP h : {s.o, s.c, s.x}) {
        if (h != nullptr) {
            const std::vector<BYTE> bytes = bitmap_bytes(h);
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
    }
    release({s.dco, s.dcc, s.dcx}, {s.o, s.c, s.x});
    ReleaseDC(nullptr, s.screen);
    platform::gdi::deferred_copies = true;
    return out;
}

} // namespace

// With the fast paths off too: a waiting copy is then made real by its own loop.
TEST(DeferredCopy, EveryTouchLeavesWhatAnImmediateCopyLeaves) {
    for (const int bpp : {4, 8, 16, 24, 32}) {
        testhost::SetDepth(bpp);
        for (const Touch& touch : kTouches) {
            for (const bool fast : {true, false}) {
                host::set_blit_fast_paths(fast);
                SCOPED_TRACE(testing::Message()
                             << bpp << " bpp, " << touch.name << (fast ? "" : ", general engine"));
                bool waited = false;
                const std::vector<BYTE> deferred = run(touch, true, waited);
                // Whole bytes per pixel only; 4-bit bitmaps copy at once.
                EXPECT_EQ(waited, bpp >= 8);
                const std::vector<BYTE> immediate = run(touch, false, waited);
                EXPECT_FALSE(waited);
                EXPECT_TRUE(deferred == immediate);
            }
        }
    }
    host::set_blit_fast_paths(true);
    host::reset_display();
}

namespace {

// Blits onto a copy that waits, which read the copy (its rows are read from where the copy
// would bring them while it is made), or make it first (mirrored, stretched). The copy is
// kFw x kFh of the bitmap copied from, at (kFx, kFy); the source is a monochrome bitmap or a
// colour one of the copy's layout, of kSw x kSh.
constexpr int kFw = 301, kFh = 13, kFx = 17, kFy = 5;
constexpr int kSw = 340, kSh = 20;
constexpr DWORD kAndNotSource = 0x00220326;

struct Fold {
    const char* name;
    bool mono;
    DWORD rop;
    int dx, dy, dw, dh, sx, sy, sw, sh;
};

const Fold kFolds[] = {
    // What colour-key drawing does with the copies it makes.
    {"mask, and-not, whole", true, kAndNotSource, 0, 0, kFw, kFh, 0, 0, kFw, kFh},
    {"mask, and, whole", true, SRCAND, 0, 0, kFw, kFh, 0, 0, kFw, kFh},
    {"mask, and-not, from bit 3", true, kAndNotSource, 0, 0, kFw, kFh, 11, 6, kFw, kFh},
    {"mask, or, rows and columns left", true, SRCPAINT, 5, 3, 250, 7, 1, 2, 250, 7},
    {"mask, xor, clipped at the right and bottom", true, SRCINVERT, 260, 9, 70, 9, 0, 0, 70, 9},
    {"mask, copy, clipped at the left and top", true, SRCCOPY, -9, -4, 40, 10, 2, 3, 40, 10},
    {"colour, xor, part", false, SRCINVERT, 7, 2, 200, 8, 9, 4, 200, 8},
    {"colour, and, whole", false, SRCAND, 0, 0, kFw, kFh, 30, 7, kFw, kFh},
    {"colour, copy, one row", false, SRCCOPY, 3, 12, 290, 1, 0, 0, 290, 1},
    {"mask, mirrored", true, SRCAND, kFw - 1, 0, -kFw, kFh, 0, 0, kFw, kFh},
    {"mask, stretched", true, kAndNotSource, 0, 0, kFw, kFh, 0, 0, 150, 6},
    {"colour, shrunk by rows", false, SRCAND, 0, 0, kFw, kFh, 0, 0, kFw, kFh + 5},
};

// The copy after the blit, then the bitmap copied from after a write (a copy still waiting on
// it would change with it); `was`/`is` whether the copy waited before and after the blit.
std::vector<BYTE> fold(const Fold& f, bool defer, bool& was, bool& is) {
    platform::gdi::deferred_copies = defer;
    HDC screen = GetDC(nullptr);
    HBITMAP o = noise_bitmap(screen, kFw + 40, kFh + 10, 21);
    // Memory the copy is likely to be given, left dirty: bytes the blit fails to bring show.
    DeleteObject(noise_bitmap(screen, kFw, kFh, 23));
    HBITMAP c = CreateCompatibleBitmap(screen, kFw, kFh);
    HBITMAP src =
        f.mono ? CreateBitmap(kSw, kSh, 1, 1, nullptr) : CreateCompatibleBitmap(screen, kSw, kSh);
    fill_noise(src, 22);
    HDC dco = dc_with(screen, o), dcc = dc_with(screen, c), dcs = dc_with(screen, src);
    // The colours a monochrome 0 and 1 become.
    SetTextColor(dcc, RGB(0x35, 0xC6, 0x5A));
    SetBkColor(dcc, RGB(0xA3, 0x1C, 0xE9));
    SetStretchBltMode(dcc, COLORONCOLOR);
    EXPECT_NE(BitBlt(dcc, 0, 0, kFw, kFh, dco, kFx, kFy, SRCCOPY), FALSE);
    was = waiting(c);
    EXPECT_NE(StretchBlt(dcc, f.dx, f.dy, f.dw, f.dh, dcs, f.sx, f.sy, f.sw, f.sh, f.rop), FALSE);
    is = waiting(c);
    EXPECT_FALSE(platform::gdi::lookup_bitmap_as_is(o)->copied_from);
    PatBlt(dco, 0, 0, kFw + 40, kFh + 10, DSTINVERT);
    std::vector<BYTE> out = bitmap_bytes(c);
    const std::vector<BYTE> from = bitmap_bytes(o);
    out.insert(out.end(), from.begin(), from.end());
    release({dco, dcc, dcs}, {o, c, src});
    ReleaseDC(nullptr, screen);
    platform::gdi::deferred_copies = true;
    return out;
}

} // namespace

// Rows wide enough for every step of the widest row loops; the set of loops forced each time.
TEST(DeferredCopy, BlitsOntoAWaitingCopyLeaveWhatACopyMadeFirstLeaves) {
    for (const int bpp : {8, 16, 24, 32}) {
        testhost::SetDepth(bpp);
        for (const std::string& set : host::blit_kernel_sets()) {
            ASSERT_TRUE(host::use_blit_kernels(set));
            for (const Fold& f : kFolds) {
                SCOPED_TRACE(testing::Message() << bpp << " bpp, " << set << ", " << f.name);
                bool was = false, is = true;
                const std::vector<BYTE> deferred = fold(f, true, was, is);
                EXPECT_TRUE(was);
                EXPECT_FALSE(is);
                const std::vector<BYTE> immediate = fold(f, false, was, is);
                EXPECT_FALSE(was);
                EXPECT_TRUE(deferred == immediate);
            }
        }
    }
    ASSERT_TRUE(host::use_blit_kernels(""));
    host::reset_display();
}

// A section's bits are the program's to write at any time, and the screen is drawn on by
// others: a copy from either is made at once.
TEST(DeferredCopy, SectionsAndTheScreenCopyAtOnce) {
    HDC screen = GetDC(nullptr);
    void* bits = nullptr;
    HBITMAP section = gdi_test::section(8, 8, 32, &bits);
    ASSERT_NE(section, nullptr);
    HBITMAP ddb = CreateCompatibleBitmap(screen, 8, 8);
    HBITMAP copy = CreateCompatibleBitmap(screen, 4, 4);
    HDC dcs = dc_with(screen, section), dcd = dc_with(screen, ddb), dcc = dc_with(screen, copy);
    static_cast<DWORD*>(bits)[0] = 0x123456; // bottom-left pixel
    ASSERT_NE(BitBlt(dcc, 0, 0, 4, 4, dcs, 0, 4, SRCCOPY), FALSE);
    EXPECT_FALSE(waiting(copy));
    static_cast<DWORD*>(bits)[0] = 0;
    EXPECT_EQ(GetPixel(dcc, 0, 3), RGB(0x12, 0x34, 0x56));
    HBITMAP blank = CreateCompatibleBitmap(screen, 8, 8);
    SelectObject(dcd, blank);
    ASSERT_NE(BitBlt(dcd, 0, 0, 8, 8, screen, 0, 0, SRCCOPY), FALSE);
    EXPECT_FALSE(waiting(blank));
    release({dcs, dcd, dcc}, {section, ddb, copy, blank});
    ReleaseDC(nullptr, screen);
}
