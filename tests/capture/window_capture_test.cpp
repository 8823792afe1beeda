// CImage::CaptureWindowToFile against the screen it copies: the screen is painted with
// pseudo-random colours, and each file must hold exactly the pixels of the rectangle the rules
// choose. JPEG files (displays of 16 and 32 bits) are byte for byte the literal encoder's file for
// the screen's colours with the low bits the 16-bit conversion drops cleared; BMP files (8 bits,
// palette) carry the system palette and, through it, the screen's colours.
#include "capture/jpeg_reference.h"
#include "image/strip_fixtures.h"
#include "support/bmp_builder.h"

#include <Image.h>
#include <afxwin.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using bmpfile::DisplayBits;

// The file a capture to `name` writes: the extension becomes "bmp" on a palette display.
std::string Written(const std::string& name) {
    if (DisplayBits() != 8) {
        return name;
    }
    const std::size_t dot = name.rfind('.');
    return (dot == std::string::npos ? name : name.substr(0, dot)) + ".bmp";
}

// Paints the whole screen with pseudo-random colours. On a palette display a palette of 236
// colours is realized first, so that the screen (and the system palette) holds more than the
// static colours.
void PaintScreen(std::uint32_t seed) {
    HDC dc = GetDC(nullptr);
    const int w = GetSystemMetrics(SM_CXSCREEN);
    const int h = GetSystemMetrics(SM_CYSCREEN);
    HPALETTE palette = nullptr;
    HPALETTE old = nullptr;
    if (GetDeviceCaps(dc, BITSPIXEL) == 8) {
        std::vector<std::uint8_t> block(sizeof(LOGPALETTE) + 236 * sizeof(PALETTEENTRY));
        auto* lp = reinterpret_cast<LOGPALETTE*>(block.data());
        lp->palVersion = 0x300;
        lp->palNumEntries = 236;
        for (int i = 0; i < 236; ++i) {
            lp->palPalEntry[i] = PALETTEENTRY{BYTE(i * 53 + seed), BYTE(i * 29), BYTE(255 - i), 0};
        }
        palette = CreatePalette(lp);
        old = SelectPalette(dc, palette, FALSE);
        RealizePalette(dc);
    }
    std::vector<std::uint8_t> bits(std::size_t(w) * h * 4);
    for (auto& b : bits) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    SetDIBitsToDevice(dc, 0, 0, w, h, 0, 0, 0, h, bits.data(), &bi, DIB_RGB_COLORS);
    if (palette != nullptr) {
        SelectPalette(dc, old, FALSE);
        DeleteObject(palette);
    }
    ReleaseDC(nullptr, dc);
}

// The screen's colours over a rectangle, top row first, through a 32-bit DIB section.
std::vector<COLORREF> ScreenColors(const RECT& r) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    HBITMAP section = bmpfile::section(w, -h, 32, {});
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, section);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    const std::vector<COLORREF> out = bmpfile::colours_of(section);
    DeleteObject(section);
    return out;
}

// The encoder's input for the screen's colours: 3 bytes a pixel, rows padded to 4 bytes. At 32
// bits the colours as they are; at 16 bits each colour as the device word the copy holds, taken
// apart by the capture's rule: blue (p << 3) & 0xFF, green (p >> 3) & 0xFC, red (p >> 8) & 0xF8.
std::vector<std::uint8_t> EncoderInput(const std::vector<COLORREF>& colors, int w, int h,
                                       int displayBits) {
    // Whether a display-compatible bitmap keeps 16-bit pixels as 5-6-5 words, as display drivers
    // and this platform do, rather than 5-5-5 (Wine's memory bitmaps). The capture reads the words
    // with the 5-6-5 rule either way; the expectation starts from the words the system gives.
    const bool is565 = displayBits == 16 && drawtest::RawOf(RGB(0, 255, 0)) == 0x07E0;
    const int stride = reference::Stride(w);
    std::vector<std::uint8_t> out(std::size_t(stride) * h, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const COLORREF c = colors[std::size_t(y) * w + x];
            std::uint8_t* p = &out[std::size_t(y) * stride + 3 * x];
            if (displayBits != 16) {
                p[0] = GetBValue(c);
                p[1] = GetGValue(c);
                p[2] = GetRValue(c);
                continue;
            }
            const unsigned r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
            const unsigned word = is565 ? (r >> 3) << 11 | (g >> 2) << 5 | b >> 3
                                        : (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
            p[0] = static_cast<std::uint8_t>((word << 3) & 0xFF);
            p[1] = static_cast<std::uint8_t>((word >> 3) & 0xFC);
            p[2] = static_cast<std::uint8_t>((word >> 8) & 0xF8);
        }
    }
    return out;
}

// Checks that `file` holds the screen's pixels over r; adds it to the outside decoders' list.
void ExpectScreen(const std::string& file, const RECT& r, std::ofstream& list) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    const std::vector<COLORREF> colors = ScreenColors(r);
    const std::vector<std::uint8_t> bytes = bmpfile::ReadAll(file);
    const int bits = DisplayBits();
    bmpfile::WritePpm(file + ".ppm", w, h, colors);
    if (bits != 8) {
        ASSERT_TRUE(bytes == reference::Encode(w, h, EncoderInput(colors, w, h, bits).data()))
            << file << ": " << bytes.size() << " bytes";
        list << "jpeg " << file << " " << file << ".ppm\n";
        return;
    }
    const bmpfile::File f{bytes};
    ASSERT_TRUE(f.HasHeaders()) << file;
    EXPECT_EQ(f.OffBits(), 1078u);
    EXPECT_EQ(f.FileSize(), bytes.size());
    EXPECT_EQ(f.BitCount(), 8);
    EXPECT_EQ(f.ClrUsed(), 256u);
    ASSERT_EQ(f.Width(), w);
    ASSERT_EQ(f.Height(), h);
    ASSERT_TRUE(f.RowsFit());
    HDC dc = GetDC(nullptr);
    PALETTEENTRY system[256] = {};
    EXPECT_EQ(GetSystemPaletteEntries(dc, 0, 256, system), 256u);
    ReleaseDC(nullptr, dc);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(f.Table(i), RGB(system[i].peRed, system[i].peGreen, system[i].peBlue))
            << "entry " << i;
    }
#ifndef _WIN32
    // Wine maps 8-bit memory bitmaps through a fixed table of its own rather than the system
    // palette, so the copy's indices are not the screen's there: checked natively only.
    for (int i = 0; i < w * h; ++i) {
        ASSERT_EQ(f.Color(i % w, i / w), colors[std::size_t(i)])
            << file << " pixel (" << i % w << ", " << i / w << ")";
    }
#endif
    list << "bmp " << file << " " << file << ".ppm 0xFF\n";
}

constexpr RECT kNone = {0, 0, 0, 0};
constexpr RECT kNotAWindow = {1, 1, 1, 1}; // a handle that names no window

// Each capture returns 1; it writes the screen's pixels over `capture`, or nothing when that is
// empty (kNone).
TEST(WindowCapture, RectanglesFollowTheRulesAndHoldTheScreensPixels) {
    const LONG W = GetSystemMetrics(SM_CXSCREEN), H = GetSystemMetrics(SM_CYSCREEN);
    const RECT all = {0, 0, 4096, 4096};
    struct Case {
        const char* name;
        RECT window; // kNone: no window
        bool withRect;
        RECT rect;    // the caller's rectangle
        RECT rounded; // the caller's rectangle afterwards
        RECT capture;
    } cases[] = {
        // clang-format off
        {"screen", kNone, false, {}, {}, {0, 0, W, H}},
        {"screen part", kNone, true, {1, 2, 103, 50}, {0, 0, 100, 48}, {0, 0, 100, 48}},
        {"screen clipped", kNone, true, {-8, 8, 2000, 900}, {-8, 8, 2000, 900}, {0, 8, W, H}},
        {"negative rounds up", kNone, true, {-6, 10, 50, 23}, {-4, 8, 48, 20}, {0, 8, 48, 20}},
        {"window part", {10, 20, 310, 220}, true, {8, 4, 100, 60}, {8, 4, 100, 60},
         {18, 24, 110, 80}},
        {"window part past its right", {10, 20, 310, 220}, true, {8, 4, 400, 60}, {8, 4, 400, 60},
         {18, 24, 310, 80}},
        {"window part from its left", {10, 20, 310, 220}, true, {-4, 4, 100, 60}, {-4, 4, 100, 60},
         {10, 24, 110, 80}},
        {"window rounded to even", {11, 21, 311, 221}, false, {}, {}, {10, 20, 310, 220}},
        // Narrow windows taken whole: widths that are not a multiple of 4.
        {"width 1", {101, 51, 102, 54}, true, all, all, {101, 51, 102, 54}},
        {"width 3", {200, 300, 203, 302}, true, all, all, {200, 300, 203, 302}},
        {"width 33", {500, 400, 533, 417}, true, all, all, {500, 400, 533, 417}},
        {"width 6", {3, 5, 9, 10}, false, {}, {}, {2, 4, 8, 10}},
        {"window off the screen", {-400, -300, -100, -100}, false, {}, {}, {-400, -300, -100, -100}},
        // Nothing to capture.
        {"no width", kNone, true, {8, 8, 9, 100}, {8, 8, 8, 100}, kNone},
        {"right of the screen", kNone, true, {2000, 0, 3000, 100}, {2000, 0, 3000, 100}, kNone},
        {"above the screen", kNone, true, {0, -200, 100, -100}, {0, -200, 100, -100}, kNone},
        {"window of no height", {50, 50, 51, 50}, false, {}, {}, kNone},
        {"not a window", kNotAWindow, true, {1, 1, 9, 9}, {0, 0, 8, 8}, kNone},
        // clang-format on
    };
    PaintScreen(100);
    std::ofstream list("capture.list");
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HWND hwnd = CRect(c.window) == kNotAWindow ? reinterpret_cast<HWND>(std::intptr_t{0x7654})
                                                   : nullptr;
        std::unique_ptr<std::remove_pointer_t<HWND>, decltype(&DestroyWindow)> window(
            nullptr, &DestroyWindow);
        if (CRect(c.window) != kNone && hwnd == nullptr) {
            const CRect r(c.window);
            hwnd = CreateWindowExA(0, "STATIC", "", WS_POPUP, r.left, r.top, r.Width(), r.Height(),
                                   nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
            window.reset(hwnd);
#ifdef _WIN32
            if (hwnd == nullptr) {
                continue; // Wine without a display makes no windows
            }
#endif
            ASSERT_NE(hwnd, nullptr);
        }
        RECT rect = c.rect;
        // The display, not the name, chooses the format: a palette display writes BMP data
        // under the name with its extension (if any) replaced by "bmp" and nothing under the
        // name given; any other writes JPEG data under the name as given.
        const char* const extensions[] = {".jpg", ".bmp", "", ".dots.png"};
        const std::string name = "case" + std::to_string(index) + extensions[index % 4];
        ++index;
        std::remove(name.c_str()); // left by a run at another depth in the same folder
        std::remove(Written(name).c_str());
        EXPECT_EQ(CImage::CaptureWindowToFile(hwnd, c.withRect ? &rect : nullptr,
                                              const_cast<char*>(name.c_str())),
                  1);
        if (c.withRect) {
            EXPECT_EQ(CRect(rect), c.rounded)
                << rect.left << " " << rect.top << " " << rect.right << " " << rect.bottom;
        }
        if (CRect(c.capture) == kNone) {
            EXPECT_FALSE(bmpfile::Exists(Written(name)));
        } else {
            ExpectScreen(Written(name), c.capture, list);
        }
        EXPECT_TRUE(Written(name) == name || !bmpfile::Exists(name));
    }
    list.close();
#ifndef _WIN32
    EXPECT_EQ(bmpfile::CheckWithOutsideDecoders("capture.list"), "");
#endif
}

} // namespace
