// Pixel formats: how each depth stores a raw value and how direct formats turn colours into
// values and back. Chosen once per bitmap; blits and conversions are written once against this.
#include "internal/gdi_internal.h"

#include <bit>
#include <cstring>

namespace platform::gdi {
namespace {

DWORD read1(const BYTE* row, int x) {
    return (row[x >> 3] >> (7 - (x & 7))) & 1u;
}
void write1(BYTE* row, int x, DWORD v) {
    const BYTE bit = static_cast<BYTE>(0x80u >> (x & 7));
    row[x >> 3] = static_cast<BYTE>((v & 1u) ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit));
}

DWORD read4(const BYTE* row, int x) {
    return (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4);
}
void write4(BYTE* row, int x, DWORD v) {
    BYTE& b = row[x >> 1];
    b = (x & 1) ? static_cast<BYTE>((b & 0xF0) | (v & 0x0F))
                : static_cast<BYTE>((b & 0x0F) | ((v & 0x0F) << 4));
}

DWORD read8(const BYTE* row, int x) {
    return row[x];
}
void write8(BYTE* row, int x, DWORD v) {
    row[x] = static_cast<BYTE>(v);
}

DWORD read16(const BYTE* row, int x) {
    const BYTE* p = row + 2 * x;
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8);
}
void write16(BYTE* row, int x, DWORD v) {
    BYTE* p = row + 2 * x;
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}

DWORD read24(const BYTE* row, int x) {
    const BYTE* p = row + 3 * x;
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
           (static_cast<DWORD>(p[2]) << 16);
}
void write24(BYTE* row, int x, DWORD v) {
    BYTE* p = row + 3 * x;
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
    p[2] = static_cast<BYTE>(v >> 16);
}

DWORD read32(const BYTE* row, int x) {
    DWORD v;
    std::memcpy(&v, row + 4 * x, 4);
    return v;
}
void write32(BYTE* row, int x, DWORD v) {
    std::memcpy(row + 4 * x, &v, 4);
}

// 0x00RRGGBB <-> COLORREF 0x00BBGGRR
DWORD rgb_to_bgr(const Bitmap&, COLORREF c) {
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}
COLORREF bgr_to_rgb(const Bitmap&, DWORD v) {
    return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
}

// A colour is stored by dropping low bits; it reads back with its high bits replicated into the
// low ones, so that full intensity stays full intensity.
DWORD from_565(const Bitmap&, COLORREF c) {
    return ((GetRValue(c) >> 3u) << 11) | ((GetGValue(c) >> 2u) << 5) | (GetBValue(c) >> 3u);
}
COLORREF to_565(const Bitmap&, DWORD v) {
    DWORD r = (v >> 11) & 0x1F, g = (v >> 5) & 0x3F, b = v & 0x1F;
    return RGB((r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2));
}
DWORD from_555(const Bitmap&, COLORREF c) {
    return ((GetRValue(c) >> 3u) << 10) | ((GetGValue(c) >> 3u) << 5) | (GetBValue(c) >> 3u);
}
COLORREF to_555(const Bitmap&, DWORD v) {
    DWORD r = (v >> 10) & 0x1F, g = (v >> 5) & 0x1F, b = v & 0x1F;
    return RGB((r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2));
}

// Bit fields: each mask is a contiguous run of bits (the DIB layer refuses others).
DWORD channel_to_field(DWORD mask, DWORD c8) {
    if (mask == 0) {
        return 0;
    }
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    DWORD v = bits <= 8 ? (c8 >> (8 - bits)) : (c8 << (bits - 8));
    return (v << shift) & mask;
}
DWORD field_to_channel(DWORD mask, DWORD v) {
    if (mask == 0) {
        return 0;
    }
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    DWORD f = (v & mask) >> shift;
    if (bits >= 8) {
        return f >> (bits - 8);
    }
    // Replicate the field's bits down to fill eight.
    DWORD out = 0;
    int have = 0;
    while (have < 8) {
        out = (out << bits) | f;
        have += bits;
    }
    return out >> (have - 8);
}
DWORD from_fields(const Bitmap& bmp, COLORREF c) {
    return channel_to_field(bmp.masks[0], GetRValue(c)) |
           channel_to_field(bmp.masks[1], GetGValue(c)) |
           channel_to_field(bmp.masks[2], GetBValue(c));
}
COLORREF to_fields(const Bitmap& bmp, DWORD v) {
    return RGB(field_to_channel(bmp.masks[0], v), field_to_channel(bmp.masks[1], v),
               field_to_channel(bmp.masks[2], v));
}

const PixelFormat kFormats[] = {
    {1, true, 0x1, read1, write1, nullptr, nullptr},
    {4, true, 0xF, read4, write4, nullptr, nullptr},
    {8, true, 0xFF, read8, write8, nullptr, nullptr},
    {16, false, 0xFFFF, read16, write16, from_565, to_565},
    {16, false, 0xFFFF, read16, write16, from_555, to_555},
    {16, false, 0xFFFF, read16, write16, from_fields, to_fields},
    {24, false, 0xFFFFFF, read24, write24, rgb_to_bgr, bgr_to_rgb},
    {32, false, 0xFFFFFFFF, read32, write32, rgb_to_bgr, bgr_to_rgb},
    {32, false, 0xFFFFFFFF, read32, write32, from_fields, to_fields},
};

} // namespace

const PixelFormat& pixel_format(FormatId id) {
    return kFormats[static_cast<int>(id)];
}

const PixelFormat* ddb_format(int bpp) {
    switch (bpp) {
    case 1:
        return &pixel_format(FormatId::mono);
    case 4:
        return &pixel_format(FormatId::index4);
    case 8:
        return &pixel_format(FormatId::index8);
    case 16:
        return &pixel_format(FormatId::rgb565);
    case 24:
        return &pixel_format(FormatId::rgb24);
    case 32:
        return &pixel_format(FormatId::rgb32);
    default:
        return nullptr;
    }
}

} // namespace platform::gdi
