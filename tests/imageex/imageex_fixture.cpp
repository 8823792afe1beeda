#include "imageex/imageex_fixture.h"

#include <algorithm>

namespace imageex_test {

std::vector<COLORREF> ExactColours() {
    const int bits = DisplayBits();
    std::vector<COLORREF> out;
    if (bits > 16) {
        unsigned v = 12345;
        for (int i = 0; i < 64; ++i) {
            v = v * 1103515245u + 12345u;
            out.push_back((v >> 8) & 0xFFFFFF);
        }
    } else if (bits == 16) {
        const BYTE levels[] = {0, 8, 16, 24, 231, 239, 247, 255};
        for (BYTE r : levels) {
            for (BYTE g : levels) {
                for (BYTE b : {levels[0], levels[3], levels[5], levels[7]}) {
                    out.push_back(RGB(r, g, b));
                }
            }
        }
    } else {
        // The static colours (first ten and last ten of the system palette).
        out = {RGB(0, 0, 0),       RGB(128, 0, 0),     RGB(0, 128, 0),     RGB(128, 128, 0),
               RGB(0, 0, 128),     RGB(128, 0, 128),   RGB(0, 128, 128),   RGB(192, 192, 192),
               RGB(192, 220, 192), RGB(166, 202, 240), RGB(255, 251, 240), RGB(160, 160, 164),
               RGB(128, 128, 128), RGB(255, 0, 0),     RGB(0, 255, 0),     RGB(255, 255, 0),
               RGB(0, 0, 255),     RGB(255, 0, 255),   RGB(0, 255, 255),   RGB(255, 255, 255)};
    }
    return out;
}

Picture RandomPicture(int w, int h, const std::vector<COLORREF>& colours, unsigned seed) {
    Picture p{w, h, std::vector<COLORREF>(static_cast<size_t>(w) * h)};
    unsigned v = seed * 2654435761u + 1;
    for (COLORREF& c : p.pixels) {
        v = v * 1664525u + 1013904223u;
        c = colours[(v >> 8) % colours.size()];
    }
    return p;
}

std::vector<BYTE> StripFile(const Picture& p, int bits, const std::vector<COLORREF>& table,
                            DWORD clrUsed) {
    return bmpfile::from_pixels(
        p.width, p.height, bits, [&](int x, int y) { return p.at(x, y); }, table, clrUsed);
}

std::string WriteFile(const std::string& name, const std::vector<BYTE>& bytes) {
    bmpfile::write(name, bytes);
    return name;
}

KeyedStrip MakeKeyedStrip(int bits, const char* name) {
    std::vector<COLORREF> colours = ExactColours();
    KeyedStrip s;
    s.key = colours[1];
    s.picture = RandomPicture(kStripW * 3, kStripH, colours, 31);
    for (int y = 0; y < kStripH; ++y) {
        for (int x = 0; x < kStripW; ++x) {
            if ((x + 2 * y) % 3 == 0) {
                s.picture.at(x, y) = s.key; // frame 0: a third of its pixels are the key
            }
            s.picture.at(kStripW + x, y) = s.key; // frame 1: nothing but the key
            if (s.picture.at(2 * kStripW + x, y) == s.key) {
                s.picture.at(2 * kStripW + x, y) = colours[2]; // frame 2: no key at all
            }
        }
    }
    std::vector<COLORREF> table;
    if (bits <= 8) {
        table.assign(colours.begin(), colours.begin() + std::min<size_t>(colours.size(), 256));
    }
    s.file = WriteFile(name, StripFile(s.picture, bits, table));
    return s;
}

::testing::AssertionResult SamePicture(const Picture& expected, const Picture& actual) {
    if (expected.width != actual.width || expected.pixels.size() != actual.pixels.size()) {
        return ::testing::AssertionFailure() << "sizes differ";
    }
    const auto [want, got] =
        std::mismatch(expected.pixels.begin(), expected.pixels.end(), actual.pixels.begin());
    if (want == expected.pixels.end()) {
        return ::testing::AssertionSuccess();
    }
    const auto at = want - expected.pixels.begin();
    return ::testing::AssertionFailure()
           << "first difference at (" << at % expected.width << ", " << at / expected.width
           << "): expected " << std::hex << *want << ", got " << *got;
}

constexpr COLORREF kTint = RGB(255, 128, 0);
const DrawOperation kDrawOperations[7] = {
    {"Draw", [](CImageEx& i, HDC dc, int f) { return i.Draw(dc, 1, 1, f); }},
    {"DrawTransparent", [](CImageEx& i, HDC dc, int f) { return i.DrawTransparent(dc, 1, 1, f); }},
    {"DrawAlpha", [](CImageEx& i, HDC dc, int f) { return i.DrawAlpha(dc, 1, 1, f, 90); }},
    {"DrawAlphaTransparent",
     [](CImageEx& i, HDC dc, int f) { return i.DrawAlphaTransparent(dc, 1, 1, f, 90); }},
    {"DrawColorize", [](CImageEx& i, HDC dc, int f) { return i.DrawColorize(dc, 1, 1, f, kTint); }},
    {"DrawColorizeTransparent",
     [](CImageEx& i, HDC dc, int f) { return i.DrawColorizeTransparent(dc, 1, 1, f, kTint); }},
    {"DrawColorizeWithBack",
     [](CImageEx& i, HDC dc, int f) { return i.DrawColorizeWithBack(dc, 1, 1, f, kTint); }},
};

int PaletteEntries(HPALETTE hPalette) {
    WORD count = 0;
    if (hPalette == nullptr || GetObjectA(hPalette, sizeof(count), &count) == 0) {
        return 0;
    }
    return count;
}

} // namespace imageex_test
