// What the CImageEx tests share: strip files made from a picture, destination canvases in the
// display's format, a per-pixel model of what each drawing operation leaves, and a probe of the
// object's fields. Written against windows.h, the MFC subset and the library headers only, so that
// the same tests run on our platform and on Windows (Wine).
#pragma once

#include <ImageEx.h>

#include "image/strip_fixtures.h"
#include "imageex/literal_effects.h"
#include "support/bmp_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The test's door to the object's fields (a friend of CImageEx).
struct CImageExProbe {
    static HPALETTE Palette(const CImageEx& i) { return i.m_hPalette; }
    static HBITMAP Bitmap(const CImageEx& i) { return i.m_hBitmap; }
    static HBITMAP ImageListBitmap(const CImageEx& i) { return i.m_hImageListBitmap; }
    static int Width(const CImageEx& i) { return i.m_nWidth; }
    static int Height(const CImageEx& i) { return i.m_nHeight; }
    static int ImageNum(const CImageEx& i) { return i.m_nImageNum; }
    static COLORREF Transparent(const CImageEx& i) { return i.m_crTransparent; }
    static int BitCount(const CImageEx& i) { return i.m_nBitCount; }
    static int WidthBytes(const CImageEx& i) { return i.m_nWidthBytes; }
    static int SystemBitCount(const CImageEx& i) { return i.m_nSystemBitCount; }
    static CImageList* ImageList(const CImageEx& i) { return i.m_pImageList; }
    static BOOL ImageListMethod(const CImageEx& i) { return i.m_bImageListMethod; }
    static HWND Wnd(const CImageEx& i) { return i.m_hWnd; }
    static const char* FileName(const CImageEx& i) { return i.m_szFileName; }
};

namespace imageex_test {

using bmpfile::DisplayBits;

// A picture: colours 0x00BBGGRR, rows top-down.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;
    COLORREF at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    COLORREF& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Colours the display shows exactly as given at the screen's depth, on both foundations: any
// colour above 16 bits; at 16 bits channels that survive both 5-6-5 and 5-5-5; at 8 bits and
// fewer the static colours of the system palette.
std::vector<COLORREF> ExactColours();

// A picture of w x h pixels drawn (by a seeded generator) from `colours`.
Picture RandomPicture(int w, int h, const std::vector<COLORREF>& colours, unsigned seed);

// The picture as a BMP file of `bits` per pixel (1, 4, 8: colour indices into `table`, whose
// entries are written in order; `clrUsed` goes into the header, for an 8-bit table shorter than
// 256 entries its length when 0 is given).
std::vector<BYTE> StripFile(const Picture& p, int bits, const std::vector<COLORREF>& table = {},
                            DWORD clrUsed = 0);
// Writes `bytes` to `name` in the current directory and returns the name.
std::string WriteFile(const std::string& name, const std::vector<BYTE>& bytes);

// A memory context holding a bitmap compatible with the screen, black or filled with a picture.
class Canvas : public strip_fixtures::Canvas {
public:
    Canvas(int w, int h) : Canvas(Picture{w, h, std::vector<COLORREF>(size_t(w) * h)}) {}
    explicit Canvas(const Picture& p)
        : strip_fixtures::Canvas(p.width, p.height, [&p](int x, int y) { return p.at(x, y); }),
          m_w(p.width), m_h(p.height) {}

    HDC dc() { return strip_fixtures::Canvas::dc()->GetSafeHdc(); }
    HBITMAP handle() { return static_cast<HBITMAP>(bitmap()->GetSafeHandle()); }
    Picture Read() { return Picture{m_w, m_h, bmpfile::colours_of(handle())}; }

private:
    int m_w, m_h;
};

// A strip of three frames, kStripW x kStripH, as a file of `bits` per pixel (at 8 bits and fewer
// with the exact colours as its table): frame 0 holds the key in a third of its pixels, frame 1
// nothing but the key, frame 2 no key at all.
constexpr int kStripW = 9;
constexpr int kStripH = 6;
struct KeyedStrip {
    Picture picture;
    COLORREF key;
    std::string file;
};
KeyedStrip MakeKeyedStrip(int bits, const char* name);

// The destination the model expects: `before` with `frame` (frame k of `strip`, w wide) put at
// (x, y) through `pixel(frame colour, destination colour) -> new colour`.
template <class Rule>
Picture Compose(const Picture& before, const Picture& strip, int k, int w, int x, int y,
                Rule pixel) {
    Picture out = before;
    for (int j = 0; j < strip.height; ++j) {
        for (int i = 0; i < w; ++i) {
            const int dx = x + i, dy = y + j;
            if (dx >= 0 && dy >= 0 && dx < out.width && dy < out.height) {
                out.at(dx, dy) = pixel(strip.at(k * w + i, j), before.at(dx, dy));
            }
        }
    }
    return out;
}

// Per-pixel models of the effects on 8-bit channels: the literal rules on one colour.
inline COLORREF AlphaModel(COLORREF f, COLORREF d, int a) {
    using literal::Mix;
    return RGB(Mix(GetRValue(f), GetRValue(d), a), Mix(GetGValue(f), GetGValue(d), a),
               Mix(GetBValue(f), GetBValue(d), a));
}
inline COLORREF TintModel(COLORREF colour, COLORREF tint) {
    const literal::Pixel t =
        literal::Tint({GetRValue(colour), GetGValue(colour), GetBValue(colour), 0}, 24, tint);
    return RGB(t.r, t.g, t.b);
}

// Index of the first differing pixel and both values, for a readable failure.
::testing::AssertionResult SamePicture(const Picture& expected, const Picture& actual);

// Every drawing operation, drawing a frame at (1, 1): alpha 90, tint 255, 128, 0.
struct DrawOperation {
    const char* name;
    int (*run)(CImageEx& image, HDC dc, int frame);
};
extern const DrawOperation kDrawOperations[7];

// Whether a canvas reads back the colours drawn: not under Wine on palette displays, where 8-bit
// memory bitmaps map through a fixed table of Wine's own.
inline bool ValuesComparable() {
#ifdef _WIN32
    return DisplayBits() > 8;
#else
    return true;
#endif
}

// Number of entries of a logical palette (0 for none).
int PaletteEntries(HPALETTE hPalette);

} // namespace imageex_test
