// A SetDIBits of every row takes a new bitmap's memory, or a straight copy not made yet, as it
// finds it. When the heap runs out before the rows are written, the bitmap must still show what
// it showed: zero for a new bitmap, the copied rectangle for a copy.
#include "fault_sweep.h"

#include <platform/host.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kW = 16, kH = 8;

std::vector<BYTE> bits_of(HBITMAP h) {
    std::vector<BYTE> v(static_cast<std::size_t>(GetBitmapBits(h, 0, nullptr)));
    GetBitmapBits(h, static_cast<LONG>(v.size()), v.data());
    return v;
}

} // namespace

TEST(BitmapOverwriteFaults, AWholeSetDIBitsThatRunsOutLeavesWhatTheBitmapShowed) {
    // A 4-bit DIB: its rows go through the colour table, which takes heap before any row.
    struct {
        BITMAPINFOHEADER head;
        RGBQUAD colors[16];
    } info{};
    info.head = {sizeof(BITMAPINFOHEADER), kW, kH, 1, 4, BI_RGB, 0, 0, 0, 16, 0};
    for (int i = 0; i < 16; ++i) {
        info.colors[i] = RGBQUAD{static_cast<BYTE>(i * 16), 0x40, static_cast<BYTE>(255 - i), 0};
    }
    std::vector<BYTE> dib(kW / 2 * kH);
    for (std::size_t i = 0; i < dib.size(); ++i) {
        dib[i] = static_cast<BYTE>(i * 37);
    }
    HDC screen = GetDC(nullptr);
    for (const bool copy : {false, true}) {
        SCOPED_TRACE(copy ? "a copy not made yet" : "a new bitmap");
        HBITMAP origin = nullptr, target = nullptr;
        HDC dco = nullptr, dct = nullptr;
        std::vector<BYTE> before;
        int result = 0;
        const unsigned swept = sweep_creations(
            [&] {
                origin = CreateCompatibleBitmap(screen, kW + 3, kH + 2);
                std::vector<BYTE> noise(
                    static_cast<std::size_t>(GetBitmapBits(origin, 0, nullptr)));
                for (std::size_t i = 0; i < noise.size(); ++i) {
                    noise[i] = static_cast<BYTE>(i * 13 + 5);
                }
                SetBitmapBits(origin, static_cast<DWORD>(noise.size()), noise.data());
                // Memory the new bitmap may be given, left dirty.
                const std::size_t bytes = static_cast<std::size_t>(kW) * kH * 4;
                void* dirty = std::malloc(bytes);
                std::memset(dirty, 0xAB, bytes);
                std::free(dirty);
                target = CreateCompatibleBitmap(screen, kW, kH);
                dco = CreateCompatibleDC(screen);
                dct = CreateCompatibleDC(screen);
                SelectObject(dco, origin);
                SelectObject(dct, target);
                if (copy) {
                    BitBlt(dct, 0, 0, kW, kH, dco, 3, 2, SRCCOPY);
                }
                before = std::vector<BYTE>(static_cast<std::size_t>(kW) * kH * 4);
                if (copy) {
                    // What the copy shows, read through a second copy made at once.
                    HBITMAP twin = CreateCompatibleBitmap(screen, kW, kH);
                    HDC dcw = CreateCompatibleDC(screen);
                    HGDIOBJ old = SelectObject(dcw, twin);
                    BitBlt(dcw, 0, 0, kW, kH, dco, 3, 2, SRCCOPY);
                    SelectObject(dcw, old);
                    before = bits_of(twin);
                    DeleteDC(dcw);
                    DeleteObject(twin);
                }
            },
            [&] {
                result = SetDIBits(dct, target, 0, kH, dib.data(),
                                   reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
            },
            [&](unsigned failed) {
                if (result == 0) {
                    EXPECT_NE(failed, 0u);
                    EXPECT_TRUE(bits_of(target) == before);
                } else {
                    EXPECT_EQ(result, kH);
                }
                DeleteDC(dct);
                DeleteDC(dco);
                DeleteObject(target);
                DeleteObject(origin);
            },
            host::heap);
        EXPECT_GT(swept, 0u) << "the conversion takes no heap to fail";
    }
    ReleaseDC(nullptr, screen);
}
