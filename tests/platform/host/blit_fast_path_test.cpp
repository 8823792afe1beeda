// The blit fast paths against the portable loops and the general engine, for every set of row
// loops this processor runs: the loops themselves over lengths that give each set's wide steps
// and its leftover pixels work, then whole blits with the fast paths on and off.
#include "gdi/blit_kernels.h"
#include "platform/win32/gdi_support.h"
#include "support/host_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using platform::gdi::BlitKernels;
using platform::gdi::kRowOps;

const char* const kOpNames[] = {"copy", "and", "or", "xor", "and-not"};

// Lengths around every step width of every set (16 to 256 bytes, 8 to 64 pixels), and rows
// long enough for the alignment head of the widest loops.
std::vector<int> lengths() {
    std::vector<int> n;
    for (int i = 0; i <= 70; ++i) {
        n.push_back(i);
    }
    for (int i : {100, 127, 128, 129, 200, 255, 256, 257, 333, 520, 1023, 1024, 1100, 1501}) {
        n.push_back(i);
    }
    return n;
}

// Runs f once with each set forced, and says which sets ran.
template <class F> void for_each_set(F f) {
    const std::vector<std::string> sets = host::blit_kernel_sets();
    ASSERT_FALSE(sets.empty());
    EXPECT_EQ(sets.front(), "portable");
    std::string ran;
    for (const std::string& name : sets) {
        ASSERT_TRUE(host::use_blit_kernels(name));
        ASSERT_EQ(host::blit_kernels_in_use(), name);
        SCOPED_TRACE(name);
        f(name);
        ran += " " + name;
    }
    EXPECT_FALSE(host::use_blit_kernels("none such"));
    ASSERT_TRUE(host::use_blit_kernels(""));
    EXPECT_EQ(host::blit_kernels_in_use(), sets.back());
    std::printf("[ sets    ]%s\n", ran.c_str());
}

std::vector<BYTE> random_bytes(std::mt19937& rng, std::size_t n) {
    return gdi_test::random_bytes(n, static_cast<std::uint32_t>(rng()));
}

// Runs `loop(set, to)` with the portable loops and with the set in use, each writing into its
// own copy of `dst`: whether they leave the same bytes.
template <class Loop> bool same(const std::string& what, const std::vector<BYTE>& dst, Loop loop) {
    auto want = dst, got = dst;
    loop(platform::gdi::portable_blit_kernels(), want.data());
    loop(platform::gdi::blit_kernels(), got.data());
    EXPECT_EQ(got, want) << what;
    return got == want;
}

} // namespace

// Every loop of every set gives the portable loop's bytes, at every start offset, and leaves
// what is outside its pixels alone. Two rows each, the source read upwards.
TEST(BlitKernels, EverySetGivesThePortableBytes) {
    for_each_set([&](const std::string&) {
        std::mt19937 rng(7);
        for (int n : lengths()) {
            for (int offset = 0; offset < 8; ++offset) {
                SCOPED_TRACE(testing::Message() << "length " << n << ", offset " << offset);
                // d = op(d, s) on bytes, both misaligned.
                const std::ptrdiff_t pitch = n + 16;
                const auto s = random_bytes(rng, 2 * static_cast<std::size_t>(pitch));
                const auto d = random_bytes(rng, 2 * static_cast<std::size_t>(pitch));
                for (int op = 1; op < kRowOps; ++op) {
                    ASSERT_TRUE(same(kOpNames[op], d, [&](const BlitKernels& set, BYTE* to) {
                        set.bytes[op](to + offset, pitch, s.data() + pitch + 3, -pitch, n, 2);
                    }));
                }
                // Colour to monochrome, from pixels that are often the key or differ from it in
                // one byte only (the fourth byte of 32-bit pixels included).
                const std::ptrdiff_t mono_pitch = n / 8 + 3;
                for (int bytes = 1; bytes <= 4; ++bytes) {
                    const DWORD key = 0x12345678u & static_cast<DWORD>((1ull << (8 * bytes)) - 1);
                    const std::ptrdiff_t src_pitch = static_cast<std::ptrdiff_t>(n) * bytes + 1;
                    std::vector<BYTE> src(2 * static_cast<std::size_t>(src_pitch));
                    for (std::ptrdiff_t i = 0; i + bytes <= 2 * src_pitch; i += bytes) {
                        DWORD v = key;
                        if (rng() % 3 != 0) {
                            v ^= 1u << (rng() % (8 * bytes));
                        }
                        std::memcpy(src.data() + i, &v, static_cast<std::size_t>(bytes));
                    }
                    const auto mono = random_bytes(rng, 2 * static_cast<std::size_t>(mono_pitch));
                    const std::string what = "mask from " + std::to_string(8 * bytes) + " bits";
                    ASSERT_TRUE(same(what, mono, [&](const BlitKernels& set, BYTE* to) {
                        set.mask[bytes - 1](src.data() + src_pitch, -src_pitch, key, to, mono_pitch,
                                            offset, n, 2);
                    }));
                }
                // Monochrome to colour with every rop, from a source bit offset, combining the
                // destination's own pixels or, as onto a copy that waits, rows elsewhere (read
                // upwards, misaligned).
                const auto bits = random_bytes(rng, 2 * static_cast<std::size_t>(mono_pitch));
                for (int bytes : {2, 4}) {
                    const std::ptrdiff_t dst_pitch = static_cast<std::ptrdiff_t>(n) * bytes;
                    const auto dst = random_bytes(rng, 2 * static_cast<std::size_t>(dst_pitch));
                    const std::ptrdiff_t rows_pitch = dst_pitch + 8;
                    const auto rows = random_bytes(rng, 2 * static_cast<std::size_t>(rows_pitch));
                    const DWORD c0 = static_cast<DWORD>(rng()), c1 = static_cast<DWORD>(rng());
                    for (int op = 0; op < kRowOps; ++op) {
                        for (const bool own : {true, false}) {
                            const std::string what = "expand to " + std::to_string(8 * bytes) +
                                                     " bits, " + kOpNames[op] +
                                                     (own ? "" : ", from other rows");
                            ASSERT_TRUE(same(what, dst, [&](const BlitKernels& set, BYTE* to) {
                                (bytes == 2 ? set.expand16 : set.expand32)[op](
                                    bits.data() + mono_pitch, -mono_pitch, offset, to, dst_pitch,
                                    own ? to : rows.data() + rows_pitch + 3,
                                    own ? dst_pitch : -rows_pitch, n, 2, c0, c1);
                            }));
                        }
                    }
                }
                // Between the 16-bit layouts, the source misaligned.
                const std::ptrdiff_t pitch16 = 2 * static_cast<std::ptrdiff_t>(n) + 8;
                const auto src16 = random_bytes(rng, 2 * static_cast<std::size_t>(pitch16));
                const auto dst16 = random_bytes(rng, 2 * static_cast<std::size_t>(pitch16));
                for (bool to565 : {true, false}) {
                    const char* what = to565 ? "5-5-5 to 5-6-5" : "5-6-5 to 5-5-5";
                    ASSERT_TRUE(same(what, dst16, [&](const BlitKernels& set, BYTE* to) {
                        (to565 ? set.to565 : set.to555)(to + offset, pitch16,
                                                        src16.data() + pitch16 + 1, -pitch16, n, 2);
                    }));
                }
                // Masked copies with the masks of the DIB transfers, the source misaligned and
                // the destination 9 * offset bytes into a cache line: long rows step up to the
                // next line first, which moves the mask's pattern by every amount.
                for (std::uint64_t mask8 : {0x00FFFFFF00FFFFFFull, 0x7FFF7FFF7FFF7FFFull}) {
                    const std::string what =
                        (testing::Message() << "masked copy " << std::hex << mask8).GetString();
                    ASSERT_TRUE(same(what, dst16, [&](const BlitKernels& set, BYTE* to) {
                        std::vector<BYTE> room(dst16.size() + 128);
                        const auto line = reinterpret_cast<std::uintptr_t>(room.data()) % 64;
                        BYTE* at = room.data() + (64 - line) + 9 * offset;
                        std::copy(to, to + dst16.size(), at);
                        set.copy_masked(at, pitch16, src16.data() + pitch16 + 1, -pitch16, 2 * n, 2,
                                        mask8);
                        std::copy(at, at + dst16.size(), to);
                    }));
                }
            }
        }
    });
}

namespace {

// bpp 0: a compatible bitmap; 1: monochrome; negative: a bottom-up DIB section of that depth.
HBITMAP make_bitmap(int w, int h, int bpp) {
    if (bpp == 0) {
        HDC screen = GetDC(nullptr);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
        ReleaseDC(nullptr, screen);
        return bitmap;
    }
    std::vector<BYTE> head = gdi_test::info_header(w, h, static_cast<WORD>(-bpp));
    std::vector<COLORREF> table;
    for (int i = 0; i < 256; ++i) {
        table.push_back(RGB(i * 7, 255 - i, i));
    }
    gdi_test::append_table(head, table);
    void* bits = nullptr;
    return bpp == 1 ? CreateBitmap(w, h, 1, 1, nullptr)
                    : CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(head.data()),
                                       DIB_RGB_COLORS, &bits, nullptr, 0);
}

struct Surface : gdi_test::MemSurface {
    Surface(int w, int h, int bpp) : MemSurface(make_bitmap(w, h, bpp)) {}
    // Random pixels, a third of them `key` (when the bitmap has 8 bits or more per pixel).
    void fill(std::mt19937& rng, COLORREF key, int bpp) {
        SetPixel(dc, 0, 0, key);
        std::vector<BYTE> bits = this->bits();
        const std::size_t step = static_cast<std::size_t>(bpp / 8);
        std::vector<BYTE> raw(bits.begin(), bits.begin() + static_cast<std::ptrdiff_t>(step));
        for (BYTE& b : bits) {
            b = static_cast<BYTE>(rng());
        }
        for (std::size_t i = 0; step > 0 && i + step <= bits.size(); i += step) {
            if (rng() % 3 == 0) {
                std::copy(raw.begin(), raw.end(), bits.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        set_bits(bits);
    }
};

struct Rect {
    int dx, dy, dw, dh, sx, sy, sw, sh;
};

} // namespace

// Whole blits of every kind a fast path takes, with the fast paths on (each set) and off: the
// same bytes. Surfaces of odd widths, DIB sections upside down, clipped and offset rectangles,
// vertical stretches, mirrors, overlap within one bitmap, bitmaps not yet drawn on.
TEST(BlitFastPaths, GiveTheGeneralEnginesBytes) {
    constexpr int kW = 203, kH = 9; // rows long enough for every set's wide steps
    const DWORD rops[] = {SRCCOPY, SRCAND, SRCPAINT, SRCINVERT, 0x00220326, PATCOPY, MERGECOPY};
    const auto rects = [](int w) -> std::vector<Rect> {
        return {
            {0, 0, w, kH, 0, 0, w, kH},                 // whole bitmaps
            {3, 1, w - 5, kH - 2, 1, 0, w - 5, kH - 2}, // inside, offset
            {-7, -2, w, kH, 5, 1, w, kH},               // clipped on both sides
            {2, 0, w - 2, kH, 0, 1, w - 2, 4},          // stretched vertically
            {5, 2, 150, 5, 1, 1, 150, 5},               // overlapping when both are one bitmap
            {0, 0, w, 4, 0, 0, w, kH},                  // shrunk vertically, combining rows
            {w - 1, 0, -w, kH, 0, 0, w, kH},            // mirrored by the destination's extent
            {1, 0, w - 1, kH, 0, kH - 1, w - 1, -kH},   // mirrored by the source's extent
        };
    };
    struct Pair {
        const char* name;
        int src_bpp, dst_bpp; // as Surface takes them
        bool same;            // one bitmap as both
        int width = kW;       // 208: rows without padding on either side, which run as one
        bool new_src = false; // a bitmap never drawn on, which reads as zero
        bool new_dst = false;
    };
    const Pair pairs[] = {
        {"compatible to compatible", 0, 0, false},
        {"within one bitmap", 0, 0, true},
        {"section to section", -32, -32, false},
        {"section to compatible", -32, 0, false},
        {"16-bit section to 16-bit section", -16, -16, false},
        {"16-bit section to compatible", -16, 0, false},
        {"compatible to 16-bit section", 0, -16, false},
        {"8-bit section to 8-bit section", -8, -8, false},
        {"colour to monochrome", 0, 1, false},
        {"section to monochrome", -32, 1, false},
        {"16-bit section to monochrome", -16, 1, false},
        {"24-bit section to monochrome", -24, 1, false},
        {"monochrome to colour", 1, 0, false},
        {"monochrome to section", 1, -32, false},
        {"monochrome to 16-bit section", 1, -16, false},
        {"colour to monochrome, rows without padding", 0, 1, false, 208},
        {"monochrome to colour, rows without padding", 1, 0, false, 208},
        {"16-bit section to section, rows without padding", -16, -16, false, 208},
        {"new compatible bitmap to compatible", 0, 0, false, kW, true, false},
        {"compatible to new compatible bitmap", 0, 0, false, kW, false, true},
    };
    // Left selected in each destination's DC, which goes first.
    HBRUSH brush = CreateSolidBrush(RGB(0x40, 0x80, 0xC0));
    for_each_set([&](const std::string&) {
        for (int depth : {32, 16, 8}) {
            testhost::SetDepth(depth);
            for (const Pair& pair : pairs) {
                for (const DWORD rop : rops) {
                    for (const Rect& r : rects(pair.width)) {
                        SCOPED_TRACE(testing::Message()
                                     << depth << " bpp display, " << pair.name << ", rop "
                                     << std::hex << rop << std::dec << ", at " << r.dx << ","
                                     << r.dy << " " << r.dw << "x" << r.dh);
                        std::vector<BYTE> out[2];
                        for (bool fast : {true, false}) {
                            host::set_blit_fast_paths(fast);
                            std::mt19937 rng(11);
                            const COLORREF key = RGB(0xF0, 0x10, 0x20);
                            Surface dst(pair.width, kH, pair.dst_bpp);
                            std::unique_ptr<Surface> own;
                            if (!pair.same) {
                                own = std::make_unique<Surface>(pair.width, kH, pair.src_bpp);
                            }
                            Surface& src = pair.same ? dst : *own;
                            const int bpp = pair.src_bpp < 0    ? -pair.src_bpp
                                            : pair.src_bpp == 0 ? depth
                                                                : 1;
                            if (!pair.new_src) {
                                src.fill(rng, key, bpp);
                            }
                            SetBkColor(src.dc, key);
                            if (!pair.same && !pair.new_dst) {
                                dst.fill(rng, key, 0);
                            }
                            SetTextColor(dst.dc, RGB(0x12, 0x34, 0x56));
                            SetBkColor(dst.dc, RGB(0xAB, 0xCD, 0xEF));
                            SelectObject(dst.dc, brush);
                            EXPECT_TRUE(StretchBlt(dst.dc, r.dx, r.dy, r.dw, r.dh, src.dc, r.sx,
                                                   r.sy, r.sw, r.sh, rop));
                            out[fast ? 0 : 1] = dst.bits();
                        }
                        host::set_blit_fast_paths(true);
                        ASSERT_EQ(out[0], out[1]);
                    }
                }
            }
        }
        host::reset_display();
    });
    DeleteObject(brush);
}
