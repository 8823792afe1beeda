// Helpers of the GDI tests (Win32 API only): colours every depth keeps, memory surfaces, and
// device-independent bitmaps built byte by byte, independently of the code under test.
#pragma once

#include <windows.h>

#include "platform/last_error.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace gdi_test {

inline constexpr COLORREF kBlack = RGB(0, 0, 0), kWhite = RGB(255, 255, 255), kRed = RGB(255, 0, 0),
                          kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255),
                          kYellow = RGB(255, 255, 0), kMagenta = RGB(255, 0, 255),
                          kCyan = RGB(0, 255, 255);

// Whether this is the Windows build, which runs under Wine.
#ifdef _WIN32
inline constexpr bool kWine = true;
#else
inline constexpr bool kWine = false;
#endif

// The display depth this run expects (set by the test runner for native and Wine runs).
inline int expected_bpp() {
    const char* bpp = std::getenv("TALVO_EXPECT_BPP");
    return bpp != nullptr ? std::atoi(bpp) : 32;
}

// A memory DC with a bitmap selected, released in the right order.
struct MemSurface {
    HDC dc = nullptr;
    HBITMAP bmp = nullptr;
    HGDIOBJ old = nullptr;

    // A bitmap compatible with the screen (display depth), or monochrome when mono is true.
    MemSurface(int w, int h, bool mono = false) {
        HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        bmp = mono ? CreateBitmap(w, h, 1, 1, nullptr) : CreateCompatibleBitmap(screen, w, h);
        ReleaseDC(nullptr, screen);
        old = SelectObject(dc, bmp);
    }
    // Adopts a bitmap made by the caller.
    explicit MemSurface(HBITMAP b) : bmp(b) {
        dc = CreateCompatibleDC(nullptr);
        old = SelectObject(dc, bmp);
    }
    ~MemSurface() {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bmp);
    }
    MemSurface(const MemSurface&) = delete;
    MemSurface& operator=(const MemSurface&) = delete;

    std::vector<BYTE> bits() const {
        std::vector<BYTE> out(GetBitmapBits(bmp, 0, nullptr));
        GetBitmapBits(bmp, static_cast<LONG>(out.size()), out.data());
        return out;
    }
    void set_bits(const std::vector<BYTE>& in) {
        SetBitmapBits(bmp, static_cast<DWORD>(in.size()), in.data());
    }
};

// Expects each pixel of `dc` at (x, y) to read as the colour given (CLR_INVALID: outside).
struct Px {
    int x, y;
    COLORREF c;
};
template <class Pixels> void expect_pixels(HDC dc, const Pixels& want) {
    for (const Px& p : want) {
        EXPECT_EQ(GetPixel(dc, p.x, p.y), p.c) << "pixel " << p.x << "," << p.y;
    }
}
inline void expect_pixels(HDC dc, std::initializer_list<Px> want) {
    expect_pixels<std::initializer_list<Px>>(dc, want);
}

// Expects every pixel (x, y) of the top-left w x h of `dc` to read as want(x, y).
template <class Want> void expect_image(HDC dc, int w, int h, Want want) {
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            ASSERT_EQ(GetPixel(dc, x, y), want(x, y)) << "pixel " << x << "," << y;
        }
    }
}

// The next message PeekMessageA finds for `hwnd` in [first, last] (all zeros when there is none).
inline MSG peek(HWND hwnd = nullptr, UINT first = 0, UINT last = 0, UINT remove = PM_REMOVE) {
    MSG m{};
    if (!PeekMessageA(&m, hwnd, first, last, remove)) {
        m = MSG{};
    }
    return m;
}

// A message's window, number and parameters, to compare in one go.
using Fields = std::vector<LPARAM>;
inline Fields fields(const MSG& m) {
    return {reinterpret_cast<LPARAM>(m.hwnd), static_cast<LPARAM>(m.message),
            static_cast<LPARAM>(m.wParam), m.lParam};
}

// The screen's DC and a memory DC made from it, let go at the end of the scope:
// `const auto& [screen, dc] = Dcs();`.
struct Dcs {
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    Dcs() = default;
    Dcs(const Dcs&) = delete;
    ~Dcs() {
        DeleteDC(mem);
        ReleaseDC(nullptr, screen);
    }
};

// A bitmap's width, height and bits per pixel as GetObjectA reports them (-1s when it fails).
inline std::vector<LONG> shape_of(HGDIOBJ bitmap) {
    BITMAP bm{};
    if (GetObjectA(bitmap, sizeof bm, &bm) == 0) {
        return {-1, -1, -1};
    }
    return {bm.bmWidth, bm.bmHeight, bm.bmBitsPixel};
}
using Shape = std::vector<LONG>;

// Deterministic pseudo-random bytes.
inline std::vector<BYTE> random_bytes(std::size_t n, std::uint32_t seed) {
    std::vector<BYTE> out(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<BYTE>(x >> 7);
    }
    return out;
}

// A packed description (header + masks/table) and its pixel bytes.
struct Dib {
    std::vector<BYTE> head;
    std::vector<BYTE> bits;
    const BITMAPINFO* info() const { return reinterpret_cast<const BITMAPINFO*>(head.data()); }
    BITMAPINFO* info() { return reinterpret_cast<BITMAPINFO*>(head.data()); }
    BITMAPINFOHEADER& header() { return *reinterpret_cast<BITMAPINFOHEADER*>(head.data()); }
};

inline std::vector<BYTE> info_header(LONG w, LONG h, WORD bits, DWORD compression = BI_RGB,
                                     DWORD clr_used = 0, DWORD size_image = 0) {
    BITMAPINFOHEADER bih{};
    bih.biSize = sizeof bih;
    bih.biWidth = w;
    bih.biHeight = h;
    bih.biPlanes = 1;
    bih.biBitCount = bits;
    bih.biCompression = compression;
    bih.biSizeImage = size_image;
    bih.biClrUsed = clr_used;
    std::vector<BYTE> out(sizeof bih);
    std::memcpy(out.data(), &bih, sizeof bih);
    return out;
}

inline void append_table(std::vector<BYTE>& v, const std::vector<COLORREF>& table) {
    for (COLORREF c : table) {
        v.insert(v.end(), {GetBValue(c), GetGValue(c), GetRValue(c), 0});
    }
}

inline int stride_of(int w, int bits) {
    return ((w * bits + 31) / 32) * 4;
}

// A 24-bit DIB of `pixels` (w x h, top row first); `top_down` stores the rows top first with a
// negative height.
inline Dib dib24(int w, int h, const std::vector<COLORREF>& pixels, bool top_down = false) {
    Dib d;
    d.head = info_header(w, top_down ? -h : h, 24);
    const int stride = stride_of(w, 24);
    d.bits.assign(static_cast<size_t>(stride) * h, 0);
    for (int y = 0; y < h; ++y) {
        BYTE* row = d.bits.data() + static_cast<size_t>(top_down ? y : h - 1 - y) * stride;
        for (int x = 0; x < w; ++x) {
            const COLORREF c = pixels[static_cast<size_t>(y) * w + x];
            row[3 * x] = GetBValue(c);
            row[3 * x + 1] = GetGValue(c);
            row[3 * x + 2] = GetRValue(c);
        }
    }
    return d;
}

// A DIB section without colour table (a negative height: top-down) and its pixels in `*ppv`.
inline HBITMAP section(int w, int h, int bits, void** ppv = nullptr) {
    std::vector<BYTE> head = info_header(w, h, static_cast<WORD>(bits));
    void* data = nullptr;
    return CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(head.data()), DIB_RGB_COLORS,
                            ppv != nullptr ? ppv : &data, nullptr, 0);
}

// A logical palette of `entries`.
inline HPALETTE palette(std::initializer_list<PALETTEENTRY> entries) {
    struct {
        WORD version = 0x300, count = 0;
        PALETTEENTRY entries[256] = {};
    } lp;
    for (const PALETTEENTRY& e : entries) {
        lp.entries[lp.count++] = e;
    }
    return CreatePalette(reinterpret_cast<const LOGPALETTE*>(&lp));
}

// A 32-bit top-down DIB section to read results from, filled with `fill`. Its pixels are
// 0x00RRGGBB DWORDs, top row first, whatever the display depth.
struct Canvas {
    HBITMAP bitmap = nullptr;
    DWORD* px = nullptr;
    int w = 0, h = 0;
    Canvas(int width, int height, COLORREF fill = RGB(0xAA, 0xAA, 0xAA)) : w(width), h(height) {
        void* bits = nullptr;
        bitmap = section(w, -h, 32, &bits);
        px = static_cast<DWORD*>(bits);
        clear(fill);
    }
    ~Canvas() { DeleteObject(bitmap); }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    void set(int x, int y, COLORREF c) {
        px[y * w + x] = (DWORD{GetRValue(c)} << 16) | (DWORD{GetGValue(c)} << 8) | GetBValue(c);
    }
    void clear(COLORREF fill) {
        for (int i = 0; px != nullptr && i < w * h; ++i) {
            set(i % w, i / w, fill);
        }
    }
    // The pixel at (x, y) as a COLORREF.
    COLORREF at(int x, int y) const {
        const DWORD v = px[y * w + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    std::vector<COLORREF> colors() const {
        std::vector<COLORREF> out;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                out.push_back(at(x, y));
            }
        }
        return out;
    }
};

// A bitmap's pixels as 0x00RRGGBB, rows top-down, read back through GetDIBits.
inline std::vector<std::uint32_t> pixels_of(HBITMAP bitmap, int width, int height) {
    std::vector<BYTE> head = info_header(width, -height, 32);
    std::vector<std::uint32_t> out(static_cast<std::size_t>(width) * height);
    HDC screen = GetDC(nullptr);
    const int lines = GetDIBits(screen, bitmap, 0, static_cast<UINT>(height), out.data(),
                                reinterpret_cast<BITMAPINFO*>(head.data()), DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(lines, height);
    for (std::uint32_t& p : out) {
        p &= 0xFFFFFF;
    }
    return out;
}

} // namespace gdi_test
