// Reading back the files the writer and the capture make: raw bytes, the header fields at their
// offsets in the file layout, and the colour of a pixel decoded from the rows as the layout
// defines them (not through any GDI call). Also a PPM writer and the Pillow check for native runs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace bmpfile {

inline std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline bool Exists(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return in.good();
}

struct File {
    std::vector<std::uint8_t> bytes;

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
    std::size_t Stride() const { return (std::size_t(Width()) * BitCount() + 31) / 32 * 4; }

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
        const std::size_t at = row + std::size_t(x) * (bits / 8);
        switch (bits) {
        case 8:
            return bytes[at];
        case 16:
            return U16(at);
        case 24:
            return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16;
        default:
            return U32(at);
        }
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
    const std::vector<std::uint8_t> text = ReadAll(report);
    const std::string out(text.begin(), text.end());
    return rc == 0 ? out : "exit " + std::to_string(rc) + ": " + out;
}
#endif

} // namespace bmpfile
