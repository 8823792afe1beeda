// Builders and per-pixel models shared by the CImage tests. Written against windows.h, the MFC
// subset and Image.h only, so that the same tests build for Windows and run under Wine.
//
//  - StripProbe: a CImage whose protected members and fields the tests may reach.
//  - bitmaps of a given size from a pixel function: DIB sections (16, 24, 32 bits) and
//    device-dependent bitmaps of the display's format; a memory DC holding one (Canvas).
//  - read-back of a bitmap or a DC as colours, top row first, or of a display-format bitmap as
//    raw pixel values.
//  - StoredColour: what a colour becomes in a display-format bitmap (the key as the blits see it).
//  - the two rules a strip's pixels follow: the half-transparent checkerboard and the colour key.
//
// The drawing tests (namespace drawtest) compare raw display values, the strip tests read-back
// colours: at 8 bits per pixel, and under Wine, the two readings are not interchangeable.
#pragma once

#include "support/bmp_builder.h"

#include <Image.h>
#include <afxcmn.h>
#include <afxwin.h>

#include <DitherDib.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace strip_fixtures {

class StripProbe : public CImage {
public:
    using CImage::CImage;
    using CImage::CopySemiBitmap;
    using CImage::CreateImageList;
    using CImage::CreateSemiImageList;
    using CImage::Delay;
    using CImage::DeleteObject;
    using CImage::DrawBitmapTransparent;
    using CImage::MakeSemiBitmap;
    using CImage::SetImageInfo;

    using CImage::m_bImageListMethod;
    using CImage::m_crTransparent;
    using CImage::m_nImageNum;
    using CImage::m_pBitmap;
    using CImage::m_pDitherDib;
    using CImage::m_pImageList;
    using CImage::m_pSemiBitmap;
    using CImage::m_pSemiImageList;
    using CImage::m_sizeBitmap;
    using CImage::m_sizeImage;

    // No object held: the state after construction, DeleteObject or a failed Create.
    bool Empty() const {
        return m_pDitherDib == nullptr && m_pBitmap == nullptr && m_pSemiBitmap == nullptr &&
               m_pImageList == nullptr && m_pSemiImageList == nullptr;
    }
};

using PixelFn = std::function<COLORREF(int x, int y)>;

constexpr COLORREF kBlue = 0x00FF0000; // the library's default key
constexpr COLORREF kRed = 0x000000FF;
constexpr COLORREF kGreen = 0x0000FF00;

using bmpfile::DisplayBits;

// The library loads through its dither palette on these displays.
inline bool PaletteDisplay() {
    return DisplayBits() <= 8;
}

// A DIB section of 16 (5-6-5 bit fields), 24 or 32 bits per pixel with fn's pixels; its rows are
// written directly, so the pixels are exact at 24 and 32 bits.
inline HBITMAP MakeDibSection(int w, int h, const PixelFn& fn, int bits = 32) {
    const std::size_t stride = static_cast<std::size_t>(bmpfile::stride(w, bits));
    bmpfile::Bytes rows(stride * h, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const COLORREF c = fn(x, y);
            const BYTE r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
            const std::uint32_t v =
                bits == 16 ? (r >> 3) << 11 | (g >> 2) << 5 | b >> 3 : b | g << 8 | r << 16;
            bmpfile::put(rows, stride * y + x * (bits / 8), v, bits == 16 ? 2 : 3);
        }
    }
    return bmpfile::section(w, -h, bits, rows,
                            bits == 16 ? std::vector<DWORD>{0xF800, 0x07E0, 0x001F}
                                       : std::vector<DWORD>{});
}

// A client's DIB section that a strip can use on this display: of the display's own depth at 16
// (5-6-5) and 24 bits, of 32 bits otherwise (on palette displays the library converts it). A
// section of another depth is copied at its own depth, which a display-format DC cannot select.
inline HBITMAP MakeClientSection(int w, int h, const PixelFn& fn) {
    const int bits = DisplayBits();
    return MakeDibSection(w, h, fn, bits == 16 || bits == 24 ? bits : 32);
}

// A device-dependent bitmap of the display's format with fn's pixels, converted as the display
// stores colours (SetDIBits from 32 bits).
inline HBITMAP MakeDdb(int w, int h, const PixelFn& fn) {
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    std::vector<DWORD> pixels(static_cast<std::size_t>(w) * h);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const COLORREF c = fn(static_cast<int>(i % w), static_cast<int>(i / w));
        pixels[i] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    }
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    if (bitmap != nullptr) {
        SetDIBits(screen, bitmap, 0, static_cast<UINT>(h), pixels.data(), &info, DIB_RGB_COLORS);
    }
    ReleaseDC(nullptr, screen);
    return bitmap;
}

inline SIZE BitmapSize(HBITMAP bitmap) {
    BITMAP record = {};
    GetObjectA(bitmap, sizeof(BITMAP), &record);
    return SIZE{record.bmWidth, record.bmHeight};
}

using bmpfile::colours_of;

inline std::vector<COLORREF> PixelsOf(CBitmap* bitmap) {
    return colours_of(static_cast<HBITMAP>(bitmap->GetSafeHandle()));
}

using Raw = std::uint32_t;

// A display-format bitmap's pixels as raw values (each pixel's bytes, low byte first), rows
// top-down.
inline std::vector<Raw> ReadRaw(CBitmap* bitmap) {
    BITMAP r = {};
    bitmap->GetBitmap(&r);
    std::vector<BYTE> bytes(static_cast<std::size_t>(r.bmWidthBytes) * r.bmHeight);
    bitmap->GetBitmapBits(static_cast<DWORD>(bytes.size()), bytes.data());
    std::vector<Raw> pixels(static_cast<std::size_t>(r.bmWidth) * r.bmHeight, 0);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const BYTE* p = &bytes[i / r.bmWidth * r.bmWidthBytes + i % r.bmWidth * r.bmBitsPixel / 8];
        for (int b = 0; b < r.bmBitsPixel / 8; ++b) {
            pixels[i] |= static_cast<Raw>(p[b]) << (8 * b);
        }
    }
    return pixels;
}

// A memory DC holding a display-format bitmap: a destination for draws.
class Canvas {
public:
    explicit Canvas(HBITMAP bitmap) : m_size(BitmapSize(bitmap)) {
        m_bitmap.Attach(bitmap);
        m_dc.CreateCompatibleDC(nullptr);
        m_previous = ::SelectObject(m_dc.GetSafeHdc(), bitmap);
    }
    Canvas(int w, int h, const PixelFn& fn) : Canvas(MakeDdb(w, h, fn)) {}
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    ~Canvas() {
        if (m_previous != nullptr) {
            ::SelectObject(m_dc.GetSafeHdc(), m_previous);
        }
    }
    CDC* dc() { return &m_dc; }
    CBitmap* bitmap() { return &m_bitmap; }
    // Read through the DC, top row first.
    std::vector<COLORREF> Pixels() {
        std::vector<COLORREF> out(static_cast<std::size_t>(m_size.cx) * m_size.cy);
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i] =
                m_dc.GetPixel(static_cast<int>(i % m_size.cx), static_cast<int>(i / m_size.cx));
        }
        return out;
    }

private:
    SIZE m_size;
    CBitmap m_bitmap; // declared first: destroyed after the DC
    CDC m_dc;
    HGDIOBJ m_previous = nullptr;
};

// Every image of a list drawn transparently side by side over the canvas, from the left.
inline void DrawAllImages(CImageList* list, int imageWidth, Canvas& canvas) {
    for (int i = 0; i < list->GetImageCount(); ++i) {
        ImageList_Draw(list->GetSafeHandle(), i, canvas.dc()->GetSafeHdc(), i * imageWidth, 0,
                       ILD_TRANSPARENT);
    }
}

// The colour `c` reads back as once stored in a display-format memory bitmap through a fresh
// memory DC: the form in which the strip's blits compare it with the pixels (at 16 bits its low
// bits dropped, at 8 bits the nearest colour of the default palette).
inline COLORREF StoredColour(COLORREF c) {
    Canvas one(1, 1, [](int, int) { return RGB(0, 0, 0); });
    one.dc()->SetPixel(0, 0, c);
    return one.dc()->GetPixel(0, 0);
}

// The colour flag the library gives its image lists on this display (ILC_COLOR16, ILC_COLOR24 and
// ILC_COLOR32 have the depth as their value).
inline UINT ImageListColourFlag() {
    return DisplayBits() > 8 ? UINT(DisplayBits()) : ILC_COLORDDB;
}

// A bitmap's pixels as an image list of the library's colour format stores and draws them (a
// 16-bit list may keep fewer bits than a 16-bit screen bitmap): the bitmap is added whole, without
// a mask, and drawn.
inline std::vector<COLORREF> ThroughImageList(HBITMAP bitmap) {
    const SIZE size = BitmapSize(bitmap);
    HIMAGELIST list = ImageList_Create(size.cx, size.cy, ImageListColourFlag() | ILC_MASK, 1, 1);
    Canvas canvas(size.cx, size.cy, [](int, int) { return RGB(0, 0, 0); });
    ImageList_Add(list, bitmap, nullptr);
    ImageList_Draw(list, 0, canvas.dc()->GetSafeHdc(), 0, 0, ILD_NORMAL);
    ImageList_Destroy(list);
    return canvas.Pixels();
}

// The half-transparent strip: the strip's pixel where x + y is even, the key where it is odd,
// counted from the strip's top-left corner. A key that is the checker's red in the strip's
// format masks every pixel of the second step, and the strip stays as it is. Colours as read
// back; `storedKey` and `storedRed` as StoredColour gives them.
inline std::vector<COLORREF> SemiStripModel(const std::vector<COLORREF>& strip, int w, int h,
                                            COLORREF storedKey, COLORREF storedRed) {
    std::vector<COLORREF> out = strip;
    if (storedKey == storedRed) {
        return out;
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(w) * h; ++i) {
        if ((i % w + i / w) % 2 != 0) {
            out[i] = storedKey;
        }
    }
    return out;
}

// The colour-key rule: a w x h piece of `source` (`sourceWidth` wide, from column sx) drawn at
// (x, y) over `destination` (`destinationWidth` wide). A source pixel equal to the key leaves the
// destination pixel, any other replaces it.
inline std::vector<COLORREF> KeyedBlitModel(const std::vector<COLORREF>& source, int sourceWidth,
                                            int sx, std::vector<COLORREF> destination,
                                            int destinationWidth, int x, int y, int w, int h,
                                            COLORREF storedKey) {
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            const COLORREF s = source[static_cast<std::size_t>(j) * sourceWidth + sx + i];
            if (s != storedKey) {
                destination[static_cast<std::size_t>(y + j) * destinationWidth + x + i] = s;
            }
        }
    }
    return destination;
}

// A pixel function with many distinct colours, planting `key` where (3x + y) mod 11 is 0 (on
// both phases of the checkerboard).
inline PixelFn BusyStrip(COLORREF key) {
    return [key](int x, int y) -> COLORREF {
        if ((3 * x + y) % 11 == 0) {
            return key;
        }
        return RGB((x * 37 + y * 11) & 0xFF, (x * 13 + y * 29 + 64) & 0xFF,
                   (x * 7 + y * 53) & 0xFF);
    };
}

} // namespace strip_fixtures

namespace drawtest {

constexpr COLORREF kKey = RGB(0, 0, 255);
constexpr COLORREF kFrameColours[] = {kKey,
                                      RGB(255, 0, 0),
                                      RGB(0, 255, 0),
                                      RGB(255, 255, 0),
                                      RGB(0, 255, 255),
                                      RGB(255, 0, 255),
                                      RGB(255, 255, 255),
                                      RGB(0, 0, 0)};
// Colours of destinations and backgrounds: static colours of the palette displays that no frame
// uses, so a pixel that shows one of them came from underneath.
constexpr COLORREF kUnderColours[] = {RGB(128, 128, 128), RGB(192, 192, 192), RGB(128, 0, 0),
                                      RGB(0, 128, 0), RGB(0, 0, 128)};

inline unsigned Mix(unsigned a, unsigned b) {
    unsigned h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

// A strip of `frames` frames side by side, plus a column that belongs to no frame. About one
// pixel in four has the transparent colour.
struct StripPicture {
    int frames = 3;
    int frameWidth = 7; // odd: every other frame starts the checkerboard on a hole
    int height = 5;

    int Width() const { return frames * frameWidth + 1; }
    COLORREF At(int x, int y) const {
        const unsigned h = Mix(131u + static_cast<unsigned>(x), static_cast<unsigned>(y));
        return (h & 3u) == 0 ? kKey : kFrameColours[1 + (h >> 2) % 7];
    }
    bool IsKey(int x, int y) const { return At(x, y) == kKey; }
    // The half-transparent strip: where x + y, counted on the whole strip, is odd, the key.
    bool IsSemiKey(int x, int y) const { return ((x + y) & 1) != 0 || IsKey(x, y); }
};

// Creates `image` from the picture through a BMP file: the one way in that every display depth
// takes alike (on palette displays the file goes through the dithering loader).
inline bool CreateStrip(CImage& image, const StripPicture& picture, bool semi, bool imageList) {
    const char* path = "draw_strip.bmp";
    if (!bmpfile::write(path,
                        bmpfile::from_pixels(picture.Width(), picture.height, 24,
                                             [&](int x, int y) { return picture.At(x, y); }))) {
        return false;
    }
    const int created = image.Create(path, picture.frames, kKey, semi ? 1 : 0, imageList ? 1 : 0);
    std::remove(path);
    return created != 0;
}

using strip_fixtures::Canvas;
using strip_fixtures::DisplayBits;
using strip_fixtures::Raw;
using strip_fixtures::ReadRaw;

// The raw value a colour gets in a display-format bitmap (a fresh context: default palette).
inline Raw RawOf(COLORREF colour) {
    static std::map<COLORREF, Raw> probed;
    const auto found = probed.find(colour);
    if (found != probed.end()) {
        return found->second;
    }
    Canvas probe(1, 1, [](int, int) { return RGB(0, 0, 0); });
    probe.dc()->SetPixel(0, 0, colour);
    return probed[colour] = ReadRaw(probe.bitmap())[0];
}

// Colours from kUnderColours, a different pattern per seed.
inline strip_fixtures::PixelFn UnderPattern(unsigned seed) {
    return [seed](int x, int y) {
        return kUnderColours[Mix(seed * 977u + static_cast<unsigned>(x), static_cast<unsigned>(y)) %
                             5];
    };
}

// A destination: a display-format bitmap selected into a memory context, filled with a pattern.
class Destination : public Canvas {
public:
    static constexpr int kWidth = 40;
    static constexpr int kHeight = 24;

    explicit Destination(unsigned seed = 7) : Canvas(kWidth, kHeight, UnderPattern(seed)) {}

    CDC* DC() { return dc(); }
    std::vector<Raw> Read() { return ReadRaw(bitmap()); }
    HGDIOBJ Palette() { return GetCurrentObject(dc()->GetSafeHdc(), OBJ_PAL); }
};

// Expected destination pixel at (x + i, y + j) of a frame drawn at (x, y).
using Model = std::function<Raw(int i, int j, Raw before)>;

// Compares the destination with the model inside the w x h rectangle at (x, y) and with
// `before` outside it. Reports the first difference.
inline ::testing::AssertionResult MatchesModel(const std::vector<Raw>& after,
                                               const std::vector<Raw>& before, int x, int y, int w,
                                               int h, const Model& model) {
    for (int py = 0; py < Destination::kHeight; ++py) {
        for (int px = 0; px < Destination::kWidth; ++px) {
            const size_t at = static_cast<size_t>(py) * Destination::kWidth + px;
            const bool inside = px >= x && px < x + w && py >= y && py < y + h;
            const Raw expected = inside ? model(px - x, py - y, before[at]) : before[at];
            if (after[at] != expected) {
                return ::testing::AssertionFailure()
                       << "(" << px << "," << py << ")" << (inside ? "" : " outside") << ": 0x"
                       << std::hex << after[at] << ", expected 0x" << expected;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// The palette the destination has after the palette step: the dither palette on palette
// displays, else the stock default.
inline bool HasDitherPalette(HGDIOBJ palette) {
    if (DisplayBits() > 8) {
        return palette == GetStockObject(DEFAULT_PALETTE);
    }
    PALETTEENTRY e[256] = {};
    bool same = GetPaletteEntries(static_cast<HPALETTE>(palette), 0, 256, e) == 256;
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD& q = CDitherDib::Win256Palette[i];
        same = same &&
               RGB(e[i].peRed, e[i].peGreen, e[i].peBlue) == RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
    }
    return same;
}

// The strips the drawing tests draw from: the same picture in bitmap mode and in image-list mode,
// each with and without the half-transparent frames.
struct Strips {
    StripPicture picture;
    CImage bitmapSemi, listSemi, bitmapPlain, listPlain;

    Strips() {
        ok = CreateStrip(bitmapSemi, picture, true, false) &&
             CreateStrip(listSemi, picture, true, true) &&
             CreateStrip(bitmapPlain, picture, false, false) &&
             CreateStrip(listPlain, picture, false, true);
    }
    // The strip with semi-transparent frames in the mode asked for.
    CImage& Semi(bool imageList) { return imageList ? listSemi : bitmapSemi; }
    CImage& Plain(bool imageList) { return imageList ? listPlain : bitmapPlain; }

    // Raw value of pixel (i, j) of frame `frame`, and whether the key or the checkerboard hides
    // it in the half-transparent frame.
    Raw Pixel(int frame, int i, int j) const {
        return RawOf(picture.At(frame * picture.frameWidth + i, j));
    }
    bool Key(int frame, int i, int j) const {
        return picture.IsKey(frame * picture.frameWidth + i, j);
    }
    bool SemiKey(int frame, int i, int j) const {
        return picture.IsSemiKey(frame * picture.frameWidth + i, j);
    }

    bool ok = false;
};

// A display-format bitmap, not selected anywhere, used as a background; 64 x 40, its own pattern.
struct BackgroundBitmap {
    CBitmap bitmap;
    std::vector<Raw> pixels;
    BackgroundBitmap() {
        bitmap.Attach(strip_fixtures::MakeDdb(64, 40, UnderPattern(4242)));
        pixels = ReadRaw(&bitmap);
    }
    Raw At(int x, int y) const { return pixels[static_cast<size_t>(y) * 64 + x]; }
};

} // namespace drawtest
