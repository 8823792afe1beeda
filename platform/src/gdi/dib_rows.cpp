// Rows of uncompressed DIBs: unpacking pixels into indices or colours and packing them back,
// plus the colour tables GetDIBits hands out and the nearest-entry search into them.
#include "internal/dib_internal.h"

#include <cstring>

namespace platform::dib {
namespace {

DWORD pack_channel(BYTE v, const Channel& c) {
    if (c.bits == 0) {
        return 0;
    }
    const DWORD value = c.bits >= 8 ? DWORD{v} << (c.bits - 8) : DWORD{v} >> (8 - c.bits);
    return (value << c.shift) & c.mask;
}

BYTE unpack_channel(DWORD pixel, const Channel& c) {
    return expand_channel((pixel & c.mask) >> c.shift, c.bits);
}

} // namespace

BYTE expand_channel(DWORD value, int bits) {
    if (bits <= 0) {
        return 0;
    }
    if (bits >= 8) {
        return static_cast<BYTE>(value >> (bits - 8));
    }
    // Replicate the value's bits downwards until eight are filled: 5 bits abcde become
    // abcdeabc, so that full intensity stays full.
    DWORD out = 0;
    int filled = 0;
    while (filled < 8) {
        out = (out << bits) | value;
        filled += bits;
    }
    return static_cast<BYTE>(out >> (filled - 8));
}

void read_row_indices(const DibInfo& info, const BYTE* row, int x0, int count, BYTE* out) {
    switch (info.bit_count) {
    case 1:
        for (int i = 0; i < count; ++i) {
            const int x = x0 + i;
            out[i] = (row[x >> 3] >> (7 - (x & 7))) & 1;
        }
        break;
    case 4:
        for (int i = 0; i < count; ++i) {
            const int x = x0 + i;
            out[i] = (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
        }
        break;
    case 8:
        std::memcpy(out, row + x0, static_cast<std::size_t>(count));
        break;
    default:
        break;
    }
}

void read_row_colors(const DibInfo& info, const BYTE* row, int x0, int count, COLORREF* out) {
    switch (info.bit_count) {
    case 1:
    case 4:
    case 8: {
        BYTE idx[256];
        for (int done = 0; done < count;) {
            const int n = count - done < 256 ? count - done : 256;
            read_row_indices(info, row, x0 + done, n, idx);
            for (int i = 0; i < n; ++i) {
                out[done + i] = index_color(info, idx[i]);
            }
            done += n;
        }
        break;
    }
    case 16:
        for (int i = 0; i < count; ++i) {
            const BYTE* p = row + 2 * static_cast<std::size_t>(x0 + i);
            const DWORD v = DWORD{p[0]} | (DWORD{p[1]} << 8);
            out[i] = RGB(unpack_channel(v, info.red), unpack_channel(v, info.green),
                         unpack_channel(v, info.blue));
        }
        break;
    case 24:
        for (int i = 0; i < count; ++i) {
            const BYTE* p = row + 3 * static_cast<std::size_t>(x0 + i);
            out[i] = RGB(p[2], p[1], p[0]);
        }
        break;
    case 32:
        if (info.compression == BI_RGB) {
            for (int i = 0; i < count; ++i) {
                const BYTE* p = row + 4 * static_cast<std::size_t>(x0 + i);
                out[i] = RGB(p[2], p[1], p[0]);
            }
        } else {
            for (int i = 0; i < count; ++i) {
                DWORD v;
                std::memcpy(&v, row + 4 * static_cast<std::size_t>(x0 + i), sizeof v);
                out[i] = RGB(unpack_channel(v, info.red), unpack_channel(v, info.green),
                             unpack_channel(v, info.blue));
            }
        }
        break;
    default:
        break;
    }
}

void write_row_colors(const DibInfo& info, BYTE* row, int count, const COLORREF* colors) {
    switch (info.bit_count) {
    case 16:
        for (int i = 0; i < count; ++i) {
            const COLORREF c = colors[i];
            const DWORD v = pack_channel(GetRValue(c), info.red) |
                            pack_channel(GetGValue(c), info.green) |
                            pack_channel(GetBValue(c), info.blue);
            row[2 * i] = static_cast<BYTE>(v);
            row[2 * i + 1] = static_cast<BYTE>(v >> 8);
        }
        break;
    case 24:
        for (int i = 0; i < count; ++i) {
            row[3 * i] = GetBValue(colors[i]);
            row[3 * i + 1] = GetGValue(colors[i]);
            row[3 * i + 2] = GetRValue(colors[i]);
        }
        break;
    case 32:
        for (int i = 0; i < count; ++i) {
            const COLORREF c = colors[i];
            DWORD v;
            if (info.compression == BI_RGB) {
                v = (DWORD{GetRValue(c)} << 16) | (DWORD{GetGValue(c)} << 8) | GetBValue(c);
            } else {
                v = pack_channel(GetRValue(c), info.red) | pack_channel(GetGValue(c), info.green) |
                    pack_channel(GetBValue(c), info.blue);
            }
            std::memcpy(row + 4 * static_cast<std::size_t>(i), &v, sizeof v);
        }
        break;
    default:
        break;
    }
}

void write_row_indices(const DibInfo& info, BYTE* row, int count, const BYTE* indices) {
    switch (info.bit_count) {
    case 1:
        std::memset(row, 0, static_cast<std::size_t>((count + 7) / 8));
        for (int x = 0; x < count; ++x) {
            row[x >> 3] |= static_cast<BYTE>((indices[x] & 1) << (7 - (x & 7)));
        }
        break;
    case 4:
        std::memset(row, 0, static_cast<std::size_t>((count + 1) / 2));
        for (int x = 0; x < count; ++x) {
            row[x >> 1] |= static_cast<BYTE>((indices[x] & 0x0F) << ((x & 1) ? 0 : 4));
        }
        break;
    case 8:
        std::memcpy(row, indices, static_cast<std::size_t>(count));
        break;
    default:
        break;
    }
}

void default_color_table(int bits, RGBQUAD* out) {
    static const BYTE kStatic[20][3] = {
        {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
        {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xC0, 0xC0, 0xC0},
        {0xC0, 0xDC, 0xC0}, {0xA6, 0xCA, 0xF0}, {0xFF, 0xFB, 0xF0}, {0xA0, 0xA0, 0xA4},
        {0x80, 0x80, 0x80}, {0xFF, 0x00, 0x00}, {0x00, 0xFF, 0x00}, {0xFF, 0xFF, 0x00},
        {0x00, 0x00, 0xFF}, {0xFF, 0x00, 0xFF}, {0x00, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF},
    };
    auto quad = [](BYTE r, BYTE g, BYTE b) { return RGBQUAD{b, g, r, 0}; };
    switch (bits) {
    case 1:
        out[0] = quad(0, 0, 0);
        out[1] = quad(0xFF, 0xFF, 0xFF);
        break;
    case 4: {
        // The eight dark colours, then grey before silver, then the eight bright ones.
        static const int kOrder[16] = {0, 1, 2, 3, 4, 5, 6, 12, 7, 13, 14, 15, 16, 17, 18, 19};
        for (int i = 0; i < 16; ++i) {
            const BYTE* c = kStatic[kOrder[i]];
            out[i] = quad(c[0], c[1], c[2]);
        }
        break;
    }
    case 8:
        for (int i = 0; i < 256; ++i) {
            if (i < 10 || i >= 246) {
                const BYTE* c = kStatic[i < 10 ? i : i - 236];
                out[i] = quad(c[0], c[1], c[2]);
            } else {
                out[i] =
                    quad(static_cast<BYTE>((i & 7) << 5), static_cast<BYTE>(((i >> 3) & 7) << 5),
                         static_cast<BYTE>(((i >> 6) & 3) << 6));
            }
        }
        break;
    default:
        break;
    }
}

NearestIndex::NearestIndex(const RGBQUAD* table, int count) : table_(table), count_(count) {}

BYTE NearestIndex::operator()(COLORREF color) {
    const unsigned slot = ((color * 2654435761u) >> 24) & (kSlots - 1);
    if (used_[slot] && keys_[slot] == color) {
        return values_[slot];
    }
    const int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    int best = 0;
    long best_d = -1;
    for (int i = 0; i < count_; ++i) {
        const long dr = table_[i].rgbRed - r, dg = table_[i].rgbGreen - g,
                   db = table_[i].rgbBlue - b;
        const long d = dr * dr + dg * dg + db * db;
        if (best_d < 0 || d < best_d) {
            best_d = d;
            best = i;
            if (d == 0) {
                break;
            }
        }
    }
    used_[slot] = true;
    keys_[slot] = color;
    values_[slot] = static_cast<BYTE>(best);
    return values_[slot];
}

} // namespace platform::dib
