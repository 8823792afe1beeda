// BMP files for every test: built field by field (good files and every kind of broken one) or
// from a picture, made from a seed in every layout the readers take, and read back field by field
// and pixel by pixel without any GDI call; DIB sections made and bitmaps read back. Written
// against windows.h only, so that the Windows build of the tests uses it too.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace bmpfile {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline bool Exists(const std::string& path) {
    return std::ifstream(path, std::ios::binary).good();
}

inline bool write(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return out.flush().good();
}

// Bytes appended one after another.
struct Writer {
    Bytes bytes;
    template <class... V> void u8(V... v) { (bytes.push_back(static_cast<std::uint8_t>(v)), ...); }
};

// Overwrites `size` bytes at `at` with v, little-endian.
inline void put(Bytes& out, std::size_t at, std::uint64_t v, int size) {
    for (int i = 0; i < size; ++i) {
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// Bits per pixel of the screen.
inline int DisplayBits() {
    HDC screen = GetDC(nullptr);
    const int bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
    return bits;
}

inline int stride(int width, int bits) {
    return ((bits * width + 31) / 32) * 4;
}

// ---- Files built field by field ----

struct FileLayout {
    int width = 4;
    int height = 3;
    int bits = 24;
    DWORD compression = BI_RGB;
    DWORD sizeImage = 0;
    DWORD clrUsed = 0;
    DWORD headerSize = 40;
    WORD planes = 1;
    std::vector<DWORD> masks;      // written after the header when given
    std::vector<RGBQUAD> colours;  // colour table
    Bytes pixels;                  // rows as they go into the file
    std::int64_t offBitsDelta = 0; // added to the true offset of the rows
};

// A 12-byte header is the core one (16-bit sizes, 3-byte colour entries). Masks go at 54: after
// a 40-byte header, inside one of 52 bytes or more. Larger headers name sRGB (108) and the image
// intent (124).
inline Bytes build(const FileLayout& s) {
    const bool core = s.headerSize == 12;
    const std::size_t masksAt = s.headerSize >= 52 ? 54 : 14 + s.headerSize;
    const std::size_t tableAt =
        std::max<std::size_t>(14 + s.headerSize, masksAt + 4 * s.masks.size());
    const std::size_t head = tableAt + (core ? 3 : 4) * s.colours.size();
    Bytes out(std::max<std::size_t>(head, 126), 0);
    out[0] = 'B';
    out[1] = 'M';
    put(out, 10, static_cast<std::uint64_t>(static_cast<std::int64_t>(head) + s.offBitsDelta), 4);
    put(out, 14, s.headerSize, 4);
    if (core) {
        put(out, 18, static_cast<DWORD>(s.width), 2);
        put(out, 20, static_cast<DWORD>(s.height), 2);
        put(out, 22, s.planes, 2);
        put(out, 24, static_cast<WORD>(s.bits), 2);
    } else {
        put(out, 18, static_cast<DWORD>(s.width), 4);
        put(out, 22, static_cast<DWORD>(s.height), 4);
        put(out, 26, s.planes, 2);
        put(out, 28, static_cast<WORD>(s.bits), 2);
        put(out, 30, s.compression, 4);
        put(out, 34, s.sizeImage, 4);
        put(out, 38, 2835, 4);
        put(out, 42, 2835, 4);
        put(out, 46, s.clrUsed, 4);
        put(out, 70, s.headerSize >= 108 ? 0x73524742 : 0, 4); // sRGB
        put(out, 122, s.headerSize >= 124 ? 4 : 0, 4);         // LCS_GM_IMAGES
    }
    out.resize(14 + s.headerSize); // a header shorter than 40 bytes is cut there
    out.resize(head);
    for (std::size_t i = 0; i < s.masks.size(); ++i) {
        put(out, masksAt + 4 * i, s.masks[i], 4);
    }
    for (std::size_t i = 0; i < s.colours.size(); ++i) {
        const RGBQUAD& q = s.colours[i];
        put(out, tableAt + (core ? 3 : 4) * i, q.rgbBlue | q.rgbGreen << 8 | q.rgbRed << 16,
            core ? 3 : 4);
    }
    out.insert(out.end(), s.pixels.begin(), s.pixels.end());
    put(out, 2, out.size(), 4);
    return out;
}

// Rows of arbitrary pixels for a size and depth, their padding zero as writers leave it.
inline Bytes pattern_rows(int width, int height, int bits, unsigned seed = 1) {
    const int rows = height < 0 ? -height : height;
    const int s = stride(width, bits);
    const int used = (width * bits + 7) / 8;
    Bytes px(static_cast<std::size_t>(s) * rows, 0);
    unsigned v = seed;
    for (int y = 0; y < rows; ++y) {
        for (int i = 0; i < used; ++i) {
            v = v * 1103515245u + 12345u;
            px[static_cast<std::size_t>(s) * y + i] = static_cast<std::uint8_t>(v >> 16);
        }
    }
    return px;
}

// A bottom-up file of `bits` per pixel whose pixel (x, y), y counted from the top, is fn(x, y):
// at 8 bits and fewer the index of that colour in `table` (whose entries are written in order),
// at 16 bits 5-5-5. `clrUsed` goes into the header; for an 8-bit table shorter than 256 entries
// its length when 0 is given (1- and 4-bit files always carry the full table).
inline Bytes from_pixels(int width, int height, int bits,
                         const std::function<COLORREF(int, int)>& fn,
                         const std::vector<COLORREF>& table = {}, DWORD clrUsed = 0) {
    FileLayout s;
    s.width = width;
    s.height = height;
    s.bits = bits;
    s.clrUsed = clrUsed == 0 && bits == 8 && table.size() < 256 ? static_cast<DWORD>(table.size())
                                                                : clrUsed;
    for (COLORREF c : table) {
        s.colours.push_back({GetBValue(c), GetGValue(c), GetRValue(c), 0});
    }
    const std::size_t rowSize = static_cast<std::size_t>(stride(width, bits));
    s.pixels.assign(rowSize * height, 0);
    for (int y = 0; y < height; ++y) {
        const std::size_t row = rowSize * (height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const COLORREF c = fn(x, y);
            if (bits >= 24) {
                put(s.pixels, row + x * (bits / 8),
                    GetBValue(c) | GetGValue(c) << 8 | GetRValue(c) << 16, 3);
            } else if (bits == 16) {
                put(s.pixels, row + 2 * x,
                    (GetRValue(c) >> 3) << 10 | (GetGValue(c) >> 3) << 5 | GetBValue(c) >> 3, 2);
            } else {
                const auto index = std::find(table.begin(), table.end(), c) - table.begin();
                s.pixels[row + x * bits / 8] |=
                    static_cast<std::uint8_t>(index << (8 - bits - (x * bits) % 8));
            }
        }
    }
    return build(s);
}

// A DIB section of `bits` per pixel (top-down when `height` is negative) holding `rows`, with
// `table` as its colour table, or at 16 bits as its red, green and blue masks. Null when it
// cannot be made.
inline HBITMAP section(int width, int height, int bits, const Bytes& rows,
                       const std::vector<DWORD>& table = {}) {
    std::vector<DWORD> info(10 + 256, 0);
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
    const DWORD compression = bits == 16 && !table.empty() ? BI_BITFIELDS : BI_RGB;
    *h = {sizeof(BITMAPINFOHEADER), width, height, 1, WORD(bits), compression, 0, 0, 0, 0, 0};
    std::copy(table.begin(), table.end(), info.begin() + 10);
    void* bits_ = nullptr;
    HBITMAP made = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(h), DIB_RGB_COLORS,
                                    &bits_, nullptr, 0);
    if (made != nullptr) {
        std::copy(rows.begin(), rows.end(), static_cast<std::uint8_t*>(bits_));
        GdiFlush();
    }
    return made;
}

// A bitmap's pixels as colours, top row first (GetDIBits at 32 bits, which also reads a bitmap
// that is selected into a DC). Empty when the bitmap cannot be read.
inline std::vector<COLORREF> colours_of(HBITMAP bitmap) {
    BITMAP record = {};
    GetObjectA(bitmap, sizeof(BITMAP), &record);
    const int w = record.bmWidth, h = record.bmHeight;
    if (w <= 0 || h <= 0) {
        return {};
    }
    std::vector<DWORD> info(10 + 256, 0), raw(static_cast<std::size_t>(w) * h);
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
    *header = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr);
    const int lines = GetDIBits(screen, bitmap, 0, static_cast<UINT>(h), raw.data(),
                                reinterpret_cast<BITMAPINFO*>(header), DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    std::vector<COLORREF> out;
    for (std::size_t i = 0; lines == h && i < raw.size(); ++i) {
        out.push_back(RGB(raw[i] >> 16 & 0xFF, raw[i] >> 8 & 0xFF, raw[i] & 0xFF));
    }
    return out;
}

// An RLE8 (bits 8) or RLE4 (bits 4) file holding `stream`, its full table grey: entry i is grey
// level i at 8 bits and 0x10 * i at 4 bits.
inline Bytes rle_file(int width, int height, int bits, const Bytes& stream) {
    FileLayout s;
    s.width = width;
    s.height = height;
    s.bits = bits;
    s.compression = bits == 8 ? BI_RLE8 : BI_RLE4;
    s.sizeImage = static_cast<DWORD>(stream.size());
    for (int i = 0; i < 1 << bits; ++i) {
        const BYTE v = static_cast<BYTE>(bits == 8 ? i : 0x10 * i);
        s.colours.push_back({v, v, v, 0});
    }
    s.pixels = stream;
    return build(s);
}

// ---- Files of every layout, made from a seed ----

struct Variant {
    const char* label;
    int header_size; // 12, 40, 52, 56, 108 or 124
    int width;
    int height;
    int bits;
    std::uint32_t compression; // 0 RGB, 1 RLE8, 2 RLE4, 3 BITFIELDS
    bool top_down;
    std::uint32_t masks[3]; // red, green, blue for BITFIELDS
    int colors_used;        // biClrUsed (0: the full table for <= 8 bits)
    int gap;                // bytes between the colour table and the pixels
    bool rle_delta;         // start the RLE stream with a delta (leaves pixels unwritten)
};

inline std::uint32_t next_random(std::uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// One stored row of palette indices, RLE-encoded.
inline void encode_rle_row(Writer& w, const std::vector<int>& row, bool four) {
    const std::size_t n = row.size();
    auto run_at = [&](std::size_t at) {
        std::size_t r = 1;
        while (at + r < n && row[at + r] == row[at] && r < 255) {
            ++r;
        }
        return r;
    };
    std::size_t i = 0;
    while (i < n) {
        const std::size_t run = run_at(i);
        if (run >= 2) {
            w.u8(run, four ? (row[i] << 4) | row[i] : row[i]);
            i += run;
            continue;
        }
        std::size_t j = i;
        while (j < n && run_at(j) < 2 && j - i < 254) {
            ++j;
        }
        std::size_t len = j - i;
        if (four && len >= 3 && len % 2 == 1) {
            // Absolute RLE4 runs are kept even: some readers mishandle odd ones, and the
            // tests want every reader to agree on these files.
            --j;
            --len;
        }
        if (len < 3) {
            for (std::size_t k = i; k < j; ++k) {
                w.u8(1, four ? row[k] << 4 : row[k]);
            }
        } else {
            w.u8(0, len);
            const std::size_t start = w.bytes.size();
            for (std::size_t k = i; k < j; k += four ? 2 : 1) {
                w.u8(four ? (row[k] << 4) | (k + 1 < j ? row[k + 1] : 0) : row[k]);
            }
            if ((w.bytes.size() - start) & 1) {
                w.u8(0);
            }
        }
        i = j;
    }
}

// A channel of a bit-field pixel widened to 8 bits by repeating its high bits, as Windows does.
inline std::uint32_t channel(std::uint32_t pixel, std::uint32_t mask) {
    int shift = 0, bits = 0;
    while (mask != 0 && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    while (mask & 1) {
        mask >>= 1;
        ++bits;
    }
    const std::uint32_t v = (pixel >> shift) & ((1u << bits) - 1);
    return bits >= 8 ? v : (v << (8 - bits)) | (v >> (2 * bits - 8));
}

inline std::uint32_t rgb_of(std::uint32_t pixel, std::uint32_t r, std::uint32_t g,
                            std::uint32_t b) {
    return (channel(pixel, r) << 16) | (channel(pixel, g) << 8) | channel(pixel, b);
}

// The BMP file of a variant, with pixels and colours drawn from `seed`. When `rgb` is given it
// receives the colour every pixel stands for, 0x00RRGGBB, rows top-down (pixels an RLE delta
// skips are left as colour-table entry 0).
inline Bytes make(const Variant& s, std::uint32_t seed = 1,
                  std::vector<std::uint32_t>* rgb = nullptr) {
    std::uint32_t rnd = seed * 2654435761u + 7;
    const bool rle = s.compression == 1 || s.compression == 2;
    const int table =
        s.bits <= 8 ? (s.colors_used != 0 ? s.colors_used : 1 << s.bits) : s.colors_used;

    std::vector<std::uint32_t> colors(static_cast<std::size_t>(table)); // 0x00RRGGBB
    for (std::uint32_t& c : colors) {
        c = next_random(rnd) & 0xFFFFFF;
    }
    // Colours of the stored rows, bottom-up unless top-down; turned top-down at the end.
    std::vector<std::uint32_t> stored(static_cast<std::size_t>(s.width) * s.height,
                                      table > 0 ? colors[0] : 0);
    auto set = [&](int x, int y, std::uint32_t c) {
        stored[static_cast<std::size_t>(y) * s.width + x] = c;
    };

    Writer pixels;
    if (rle) {
        const int palette = table > 0 ? table : 1;
        if (s.rle_delta) {
            pixels.u8(0, 2, 1, 1);
        }
        for (int y = 0; y < s.height; ++y) {
            std::vector<int> row(static_cast<std::size_t>(s.width));
            int current = static_cast<int>(next_random(rnd) % palette);
            for (int& v : row) {
                // Mix runs and noise so that both kinds of code appear.
                if (next_random(rnd) % 3 == 0) {
                    current = static_cast<int>(next_random(rnd) % palette);
                }
                v = next_random(rnd) % 4 == 0 ? static_cast<int>(next_random(rnd) % palette)
                                              : current;
            }
            if (s.rle_delta && y == 0) {
                continue; // skipped entirely by the delta
            }
            if (s.rle_delta && y == 1) {
                row.erase(row.begin()); // the delta moved to (1, 1)
            }
            const int first = s.rle_delta && y == 1 ? 1 : 0;
            for (std::size_t x = 0; x < row.size(); ++x) {
                set(static_cast<int>(x) + first, y, colors[static_cast<std::size_t>(row[x])]);
            }
            encode_rle_row(pixels, row, s.compression == 2);
            pixels.u8(0, y + 1 == s.height ? 1 : 0);
        }
    } else {
        const std::size_t row_size = static_cast<std::size_t>(stride(s.width, s.bits));
        for (int y = 0; y < s.height; ++y) {
            std::vector<std::uint8_t> row(row_size, 0);
            for (int x = 0; x < s.width; ++x) {
                std::uint32_t v = next_random(rnd);
                if (s.bits <= 8) {
                    const std::uint32_t index = v % static_cast<std::uint32_t>(table);
                    const int per = 8 / s.bits;
                    row[static_cast<std::size_t>(x / per)] |=
                        static_cast<std::uint8_t>(index << (8 - s.bits * (x % per + 1)));
                    set(x, y, colors[index]);
                } else if (s.bits == 16) {
                    v &= s.compression == 0 ? 0x7FFF : 0xFFFF; // x5-5-5 keeps its top bit clear
                    put(row, 2 * static_cast<std::size_t>(x), v, 2);
                    set(x, y,
                        s.compression == 0 ? rgb_of(v, 0x7C00, 0x03E0, 0x001F)
                                           : rgb_of(v, s.masks[0], s.masks[1], s.masks[2]));
                } else if (s.bits == 24) {
                    v = (v & 0xFFFF) | (next_random(rnd) & 0xFF) << 16;
                    put(row, 3 * static_cast<std::size_t>(x), v, 3);
                    set(x, y, v);
                } else {
                    std::uint32_t p = 0;
                    for (int k = 0; k < 4; ++k) {
                        p |= (next_random(rnd) & 0xFF) << (8 * k);
                    }
                    put(row, 4 * static_cast<std::size_t>(x), p, 4);
                    set(x, y,
                        s.compression == 0 ? (p & 0xFFFFFF)
                                           : rgb_of(p, s.masks[0], s.masks[1], s.masks[2]));
                }
            }
            pixels.bytes.insert(pixels.bytes.end(), row.begin(), row.end());
        }
    }

    FileLayout f;
    f.width = s.width;
    f.height = s.top_down ? -s.height : s.height;
    f.bits = s.bits;
    f.compression = s.compression;
    f.sizeImage = rle ? static_cast<DWORD>(pixels.bytes.size()) : 0;
    f.clrUsed = static_cast<DWORD>(s.colors_used);
    f.headerSize = static_cast<DWORD>(s.header_size);
    if (s.compression == 3) {
        f.masks.assign(s.masks, s.masks + 3);
    }
    for (std::uint32_t c : colors) {
        f.colours.push_back({BYTE(c), BYTE(c >> 8), BYTE(c >> 16), 0});
    }
    f.pixels.assign(static_cast<std::size_t>(s.gap), 0);
    f.pixels.insert(f.pixels.end(), pixels.bytes.begin(), pixels.bytes.end());
    f.offBitsDelta = s.gap;
    if (rgb != nullptr) {
        rgb->clear();
        for (int y = 0; y < s.height; ++y) {
            const int from = s.top_down ? y : s.height - 1 - y;
            rgb->insert(rgb->end(), stored.begin() + static_cast<std::ptrdiff_t>(from) * s.width,
                        stored.begin() + static_cast<std::ptrdiff_t>(from + 1) * s.width);
        }
    }
    return build(f);
}

// The variants the readers must take, small enough to compare pixel by pixel.
inline std::vector<Variant> all_variants() {
    return {
        {"core 1 bit", 12, 13, 5, 1, 0, false, {}, 0, 0, false},
        {"core 4 bit", 12, 7, 6, 4, 0, false, {}, 0, 0, false},
        {"core 8 bit", 12, 9, 4, 8, 0, false, {}, 0, 0, false},
        {"core 24 bit", 12, 5, 3, 24, 0, false, {}, 0, 0, false},
        {"info 1 bit", 40, 33, 7, 1, 0, false, {}, 0, 0, false},
        {"info 4 bit, 5 colours", 40, 11, 5, 4, 0, false, {}, 5, 0, false},
        {"info 8 bit", 40, 17, 9, 8, 0, false, {}, 0, 0, false},
        {"info 8 bit, 20 colours, gap", 40, 6, 6, 8, 0, false, {}, 20, 10, false},
        {"info 8 bit top-down", 40, 7, 5, 8, 0, true, {}, 0, 0, false},
        {"info 16 bit 555", 40, 9, 4, 16, 0, false, {}, 0, 0, false},
        {"info 16 bit 565 fields", 40, 9, 4, 16, 3, false, {0xF800, 0x07E0, 0x001F}, 0, 0, false},
        {"info 16 bit 555 fields", 40, 3, 3, 16, 3, true, {0x7C00, 0x03E0, 0x001F}, 0, 0, false},
        {"info 24 bit", 40, 7, 5, 24, 0, false, {}, 0, 0, false},
        {"info 24 bit top-down", 40, 6, 4, 24, 0, true, {}, 0, 0, false},
        {"info 24 bit with unused table", 40, 4, 4, 24, 0, false, {}, 3, 0, false},
        {"info 32 bit", 40, 5, 5, 32, 0, false, {}, 0, 0, false},
        {"info 32 bit fields", 40, 5, 3, 32, 3, false, {0xFF0000, 0xFF00, 0xFF}, 0, 0, false},
        {"info 8 bit RLE8", 40, 23, 7, 8, 1, false, {}, 0, 0, false},
        {"info 8 bit RLE8 delta", 40, 12, 4, 8, 1, false, {}, 16, 0, true},
        {"info 4 bit RLE4", 40, 19, 6, 4, 2, false, {}, 0, 0, false},
        {"v2 (52) 16 bit 565", 52, 8, 3, 16, 3, false, {0xF800, 0x07E0, 0x001F}, 0, 0, false},
        {"v3 (56) 32 bit fields", 56, 4, 4, 32, 3, true, {0xFF0000, 0xFF00, 0xFF}, 0, 0, false},
        {"v4 (108) 8 bit", 108, 10, 3, 8, 0, false, {}, 0, 0, false},
        {"v4 (108) 16 bit 565", 108, 6, 5, 16, 3, false, {0xF800, 0x07E0, 0x001F}, 0, 0, false},
        {"v5 (124) 24 bit", 124, 5, 5, 24, 0, false, {}, 0, 0, false},
        {"v5 (124) 32 bit fields", 124, 6, 2, 32, 3, false, {0xFF0000, 0xFF00, 0xFF}, 0, 0, false},
        {"v5 (124) 4 bit RLE4", 124, 9, 5, 4, 2, false, {}, 0, 4, false},
    };
}

// ---- Files read back ----

// The header fields at their offsets, and the colour of a pixel decoded from the rows as the
// layout defines them.
struct File {
    Bytes bytes;

    std::uint32_t U16(std::size_t at) const { return bytes[at] | bytes[at + 1] << 8; }
    std::uint32_t U32(std::size_t at) const { return U16(at) | U16(at + 2) << 16; }
    std::int32_t S32(std::size_t at) const { return static_cast<std::int32_t>(U32(at)); }

    bool HasHeaders() const { return bytes.size() >= 54 && bytes[0] == 'B' && bytes[1] == 'M'; }
    std::uint32_t FileSize() const { return U32(2); }
    std::uint32_t OffBits() const { return U32(10); }
    std::int32_t Width() const { return S32(18); }
    std::int32_t Height() const { return S32(22); }
    int BitCount() const { return static_cast<int>(U16(28)); }
    std::uint32_t ClrUsed() const { return U32(46); }
    std::size_t Stride() const { return static_cast<std::size_t>(stride(Width(), BitCount())); }

    // Colour-table entry i (from offset 54) as a COLORREF.
    COLORREF Table(int i) const {
        const std::size_t at = 54 + 4 * std::size_t(i);
        return RGB(bytes[at + 2], bytes[at + 1], bytes[at]);
    }
    // True when the rows (bottom row first, from bfOffBits) are all inside the file.
    bool RowsFit() const {
        const int h = Height() < 0 ? -Height() : Height();
        return OffBits() + Stride() * h <= bytes.size();
    }
    // The raw value of pixel (x, y), y counted from the top.
    std::uint32_t Raw(int x, int y) const {
        const int h = Height();
        const std::size_t row = OffBits() + Stride() * std::size_t(h > 0 ? h - 1 - y : y);
        const int bits = BitCount();
        if (bits < 8) {
            const std::size_t bit = std::size_t(x) * bits;
            const int shift = 8 - bits - int(bit % 8);
            return (bytes[row + bit / 8] >> shift) & ((1u << bits) - 1);
        }
        std::uint32_t v = 0;
        for (int i = bits / 8 - 1; i >= 0; --i) {
            v = v << 8 | bytes[row + std::size_t(x) * (bits / 8) + i];
        }
        return v;
    }
    // Its colour: a table entry at 8 bits and fewer, 5-5-5 at 16 (each field in the top bits of
    // its byte), blue-green-red otherwise.
    COLORREF Color(int x, int y) const {
        const std::uint32_t v = Raw(x, y);
        switch (BitCount()) {
        case 16:
            return RGB((v >> 10 & 31) << 3, (v >> 5 & 31) << 3, (v & 31) << 3);
        case 24:
        case 32:
            return RGB(v >> 16 & 0xFF, v >> 8 & 0xFF, v & 0xFF);
        default:
            return Table(static_cast<int>(v));
        }
    }
};

inline File Load(const std::string& path) {
    return File{ReadAll(path)};
}

// Writes colours (top row first, w per row) as a binary PPM.
inline void WritePpm(const std::string& path, int w, int h, const std::vector<COLORREF>& colors) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << w << " " << h << "\n255\n";
    for (COLORREF c : colors) {
        const char rgb[3] = {char(GetRValue(c)), char(GetGValue(c)), char(GetBValue(c))};
        out.write(rgb, 3);
    }
}

#ifndef _WIN32
// Runs tests/capture/image_check.py over a list file of "KIND FILE EXPECTED.ppm [MASK]" lines;
// returns its report ("" when every file decoded to its expected pixels).
inline std::string CheckWithOutsideDecoders(const std::string& listPath) {
    const char* dir = std::getenv("TALVO_SOURCE_DIR");
    const std::string script =
        std::string(dir != nullptr ? dir : ".") + "/tests/capture/image_check.py";
    const std::string report = listPath + ".report";
    const std::string cmd = "/usr/bin/python3 " + script + " " + listPath + " >" + report + " 2>&1";
    const int rc = std::system(cmd.c_str());
    const Bytes text = ReadAll(report);
    const std::string out(text.begin(), text.end());
    return rc == 0 ? out : "exit " + std::to_string(rc) + ": " + out;
}
#endif

} // namespace bmpfile
