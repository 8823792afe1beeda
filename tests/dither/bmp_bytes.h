// Bitmap files built byte by byte, so that tests can make both good files and every kind of
// broken one.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace bmpfile {

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
    std::vector<BYTE> pixels;      // rows as they go into the file
    std::int64_t offBitsDelta = 0; // added to the true offset of the rows
};

inline void put(std::vector<BYTE>& out, std::size_t at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out[at + i] = static_cast<BYTE>(v >> (8 * i));
    }
}

inline int stride(int width, int bits) {
    return ((bits * width + 31) / 32) * 4;
}

inline std::vector<BYTE> build(const FileLayout& s) {
    const std::size_t head = 14 + s.headerSize + 4 * s.masks.size() + 4 * s.colours.size();
    std::vector<BYTE> out(head, 0);
    out[0] = 'B';
    out[1] = 'M';
    put(out, 10, static_cast<std::uint64_t>(static_cast<std::int64_t>(head) + s.offBitsDelta), 4);
    put(out, 14, s.headerSize, 4);
    if (s.headerSize >= 40) {
        put(out, 18, static_cast<DWORD>(s.width), 4);
        put(out, 22, static_cast<DWORD>(s.height), 4);
        put(out, 26, s.planes, 2);
        put(out, 28, static_cast<WORD>(s.bits), 2);
        put(out, 30, s.compression, 4);
        put(out, 34, s.sizeImage, 4);
        put(out, 46, s.clrUsed, 4);
    }
    std::size_t at = 14 + s.headerSize;
    for (DWORD m : s.masks) {
        put(out, at, m, 4);
        at += 4;
    }
    for (const RGBQUAD& q : s.colours) {
        std::memcpy(&out[at], &q, 4);
        at += 4;
    }
    out.insert(out.end(), s.pixels.begin(), s.pixels.end());
    put(out, 2, out.size(), 4);
    return out;
}

// Rows of arbitrary pixels for a size and depth, their padding zero as writers leave it.
inline std::vector<BYTE> pattern_rows(int width, int height, int bits, unsigned seed = 1) {
    const int rows = height < 0 ? -height : height;
    const int s = stride(width, bits);
    const int used = (width * bits + 7) / 8;
    std::vector<BYTE> px(static_cast<std::size_t>(s) * rows, 0);
    unsigned v = seed;
    for (int y = 0; y < rows; ++y) {
        for (int i = 0; i < used; ++i) {
            v = v * 1103515245u + 12345u;
            px[static_cast<std::size_t>(s) * y + i] = static_cast<BYTE>(v >> 16);
        }
    }
    return px;
}

inline void write(const std::string& path, const std::vector<BYTE>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

} // namespace bmpfile
