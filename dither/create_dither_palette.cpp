// The logical palette for the display: the fixed table that fits its depth, entry for entry.
#include <DitherDib.h>

#include <cstring>
#include <new>

CPalette* CDitherDib::CreateDitherPalette() {
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        return nullptr;
    }
    CDC dc;
    if (!dc.Attach(screen)) {
        dc.Detach();
        ReleaseDC(nullptr, screen);
        return nullptr;
    }
    const auto release = [&]() {
        dc.Detach();
        ReleaseDC(nullptr, screen);
    };
    if ((dc.GetDeviceCaps(RASTERCAPS) & RC_PALETTE) == 0) {
        release();
        return nullptr;
    }

    CPalette* palette = new (std::nothrow) CPalette;
    if (palette == nullptr) {
        release();
        return nullptr;
    }
    const int bits = dc.GetDeviceCaps(PLANES) * dc.GetDeviceCaps(BITSPIXEL);
    // Only the two depths with a table get a palette; the size is never computed for others.
    if (bits != 4 && bits != 8) {
        delete palette;
        release();
        return nullptr;
    }
    const WORD count = static_cast<WORD>(1 << bits);
    const RGBQUAD* table = bits == 8 ? Win256Palette : Win16Palette;

    BYTE* storage =
        new (std::nothrow) BYTE[sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * (count - 1)];
    if (storage == nullptr) {
        delete palette;
        release();
        return nullptr;
    }
    auto* logical = reinterpret_cast<LOGPALETTE*>(storage);
    logical->palVersion = 0x300;
    logical->palNumEntries = count;
    PALETTEENTRY* entries = logical->palPalEntry; // the block holds all `count` of them
    for (int i = 0; i < count; ++i) {
        entries[i].peRed = table[i].rgbRed;
        entries[i].peGreen = table[i].rgbGreen;
        entries[i].peBlue = table[i].rgbBlue;
        entries[i].peFlags = 0;
    }

    HPALETTE handle = ::CreatePalette(logical);
    delete[] storage;
    if (handle == nullptr || !palette->Attach(handle)) {
        if (handle != nullptr) {
            DeleteObject(handle);
        }
        delete palette;
        release();
        return nullptr;
    }
    release();
    return palette;
}
