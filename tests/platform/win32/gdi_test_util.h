// Helpers shared by the GDI semantic tests (Win32 API only).
#pragma once

#include <windows.h>

#include <cstdlib>
#include <cstdint>
#include <vector>

namespace gdi_test {

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

} // namespace gdi_test
