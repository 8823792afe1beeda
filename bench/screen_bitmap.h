// Test pictures for the benchmarks: 32-bit pixels, top row first, turned into a bitmap compatible
// with the screen, as a program loads its sprites.
#pragma once

#include <afxwin.h>
#include <windows.h>

// Attaches to `bitmap` a screen-compatible bitmap of width x height holding `pixels` (0x00RRGGBB
// each, rows without padding). False when the bitmap cannot be made or not every row is set.
inline bool MakeScreenBitmap(CBitmap& bitmap, const void* pixels, int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    const bool made = bitmap.Attach(CreateCompatibleBitmap(screen, width, height)) &&
                      SetDIBits(screen, bitmap, 0, static_cast<UINT>(height), pixels, &info,
                                DIB_RGB_COLORS) == height;
    ReleaseDC(nullptr, screen);
    return made;
}
