// What the drawing tests share: a strip picture with a known colour at every pixel, the strips
// made from it, and device-dependent surfaces read and written as raw pixel values, so that a
// test compares exactly what a blit moved, at any display depth, on either foundation.
//
// Expected pixels come from the picture and the rule under test, never from the library: the
// raw value of each colour is probed once by setting it on a 1 x 1 bitmap of the display's
// format. The picture uses pure colours only, which every depth and both fixed palettes hold
// exactly, so a strip dithered for a palette display still has them.
#pragma once

#include "image/strip_fixtures.h"

#include <DitherDib.h>
#include <Image.h>

#include <afxcmn.h>
#include <afxwin.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace drawtest {

using Raw = std::uint32_t;

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

// A strip of `frames` frames side by side, plus `extraColumns` that belong to no frame. About
// one pixel in four has the transparent colour.
struct StripPicture {
    int frames = 3;
    int frameWidth = 7; // odd: every other frame starts the checkerboard on a hole
    int height = 5;
    int extraColumns = 1;
    unsigned seed = 1;

    int Width() const { return frames * frameWidth + extraColumns; }
    COLORREF At(int x, int y) const {
        const unsigned h = Mix(seed * 131u + static_cast<unsigned>(x), static_cast<unsigned>(y));
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
    if (!bmpfile::write(path, bmpfile::file24(picture.Width(), picture.height,
                                              [&](int x, int y) { return picture.At(x, y); }))) {
        return false;
    }
    const int created = image.Create(path, picture.frames, kKey, semi ? 1 : 0, imageList ? 1 : 0);
    std::remove(path);
    return created != 0;
}

using strip_fixtures::DisplayBits;

// A device-dependent bitmap in the display's format; its pixels as raw values, rows top-down.
class RawBitmap {
public:
    RawBitmap(int width, int height) : m_width(width), m_height(height) {
        HDC screen = GetDC(nullptr);
        m_bitmap.Attach(CreateCompatibleBitmap(screen, width, height));
        ReleaseDC(nullptr, screen);
        BITMAP record = {};
        m_bitmap.GetBitmap(&record);
        m_stride = record.bmWidthBytes;
        m_bytesPerPixel = record.bmBitsPixel / 8;
    }
    RawBitmap(const RawBitmap&) = delete;
    RawBitmap& operator=(const RawBitmap&) = delete;

    CBitmap* Bitmap() { return &m_bitmap; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    std::vector<Raw> Read() const {
        std::vector<BYTE> bytes(static_cast<size_t>(m_stride) * m_height);
        m_bitmap.GetBitmapBits(static_cast<DWORD>(bytes.size()), bytes.data());
        std::vector<Raw> pixels(static_cast<size_t>(m_width) * m_height);
        for (int y = 0; y < m_height; ++y) {
            for (int x = 0; x < m_width; ++x) {
                const BYTE* p = &bytes[static_cast<size_t>(y) * m_stride + x * m_bytesPerPixel];
                Raw v = 0;
                for (int b = 0; b < m_bytesPerPixel; ++b) {
                    v |= static_cast<Raw>(p[b]) << (8 * b);
                }
                pixels[static_cast<size_t>(y) * m_width + x] = v;
            }
        }
        return pixels;
    }
    void Write(const std::vector<Raw>& pixels) {
        std::vector<BYTE> bytes(static_cast<size_t>(m_stride) * m_height, 0);
        for (int y = 0; y < m_height; ++y) {
            for (int x = 0; x < m_width; ++x) {
                BYTE* p = &bytes[static_cast<size_t>(y) * m_stride + x * m_bytesPerPixel];
                const Raw v = pixels[static_cast<size_t>(y) * m_width + x];
                for (int b = 0; b < m_bytesPerPixel; ++b) {
                    p[b] = static_cast<BYTE>(v >> (8 * b));
                }
            }
        }
        m_bitmap.SetBitmapBits(static_cast<DWORD>(bytes.size()), bytes.data());
    }

private:
    CBitmap m_bitmap;
    int m_width;
    int m_height;
    int m_stride = 0;
    int m_bytesPerPixel = 0;
};

// The raw value a colour gets in a display-format bitmap (a fresh context: default palette).
inline Raw RawOf(COLORREF colour) {
    static std::map<COLORREF, Raw> probed;
    auto found = probed.find(colour);
    if (found != probed.end()) {
        return found->second;
    }
    RawBitmap probe(1, 1);
    CDC dc;
    dc.CreateCompatibleDC(nullptr);
    CBitmap* previous = dc.SelectObject(probe.Bitmap());
    dc.SetPixel(0, 0, colour);
    dc.SelectObject(previous);
    dc.DeleteDC();
    return probed[colour] = probe.Read()[0];
}

// Raw pixels `width` x `height` of colours from kUnderColours, a different pattern per seed.
inline std::vector<Raw> UnderPattern(int width, int height, unsigned seed) {
    std::vector<Raw> pixels(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned h =
                Mix(seed * 977u + static_cast<unsigned>(x), static_cast<unsigned>(y));
            pixels[static_cast<size_t>(y) * width + x] = RawOf(kUnderColours[h % 5]);
        }
    }
    return pixels;
}

// A destination: a display-format bitmap selected into a memory context, filled with a pattern.
class Destination {
public:
    static constexpr int kWidth = 40;
    static constexpr int kHeight = 24;

    explicit Destination(unsigned seed = 7) : m_surface(kWidth, kHeight) {
        m_surface.Write(UnderPattern(kWidth, kHeight, seed));
        m_dc.CreateCompatibleDC(nullptr);
        m_previous = static_cast<HBITMAP>(
            ::SelectObject(m_dc.GetSafeHdc(), m_surface.Bitmap()->GetSafeHandle()));
    }
    ~Destination() {
        ::SelectObject(m_dc.GetSafeHdc(), m_previous);
        m_dc.DeleteDC();
    }
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    CDC* DC() { return &m_dc; }
    std::vector<Raw> Read() const { return m_surface.Read(); }
    HGDIOBJ Palette() const { return GetCurrentObject(m_dc.GetSafeHdc(), OBJ_PAL); }

private:
    RawBitmap m_surface;
    CDC m_dc;
    HBITMAP m_previous = nullptr;
};

// Expected destination pixel at (x + i, y + j) of a frame drawn at (x, y).
using Model = std::function<Raw(int i, int j, Raw before)>;

// Compares the destination with the model inside the w x h rectangle at (x, y) and with
// `before` outside it. Reports the first few differences.
inline ::testing::AssertionResult MatchesModel(const std::vector<Raw>& after,
                                               const std::vector<Raw>& before, int x, int y, int w,
                                               int h, const Model& model) {
    int wrong = 0;
    std::string report;
    for (int py = 0; py < Destination::kHeight; ++py) {
        for (int px = 0; px < Destination::kWidth; ++px) {
            const size_t at = static_cast<size_t>(py) * Destination::kWidth + px;
            const bool inside = px >= x && px < x + w && py >= y && py < y + h;
            const Raw expected = inside ? model(px - x, py - y, before[at]) : before[at];
            if (after[at] != expected) {
                if (++wrong <= 4) {
                    char line[120];
                    std::snprintf(line, sizeof line, " (%d,%d)%s: 0x%X, expected 0x%X", px, py,
                                  inside ? "" : " outside", after[at], expected);
                    report += line;
                }
            }
        }
    }
    if (wrong == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << wrong << " pixels differ:" << report;
}

// The palette the destination has after the palette step: the dither palette on palette
// displays, else the stock default.
inline ::testing::AssertionResult HasDitherPalette(HGDIOBJ palette) {
    if (DisplayBits() > 8) {
        if (palette == GetStockObject(DEFAULT_PALETTE)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "a palette was selected on a true-colour display";
    }
    PALETTEENTRY entries[256] = {};
    const UINT count = GetPaletteEntries(static_cast<HPALETTE>(palette), 0, 256, entries);
    if (count != 256) {
        return ::testing::AssertionFailure() << "selected palette has " << count << " entries";
    }
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD& q = CDitherDib::Win256Palette[i];
        if (entries[i].peRed != q.rgbRed || entries[i].peGreen != q.rgbGreen ||
            entries[i].peBlue != q.rgbBlue) {
            return ::testing::AssertionFailure() << "entry " << i << " is not the dither palette's";
        }
    }
    return ::testing::AssertionSuccess();
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
    RawBitmap bitmap{64, 40};
    std::vector<Raw> pixels = UnderPattern(64, 40, 4242);
    BackgroundBitmap() { bitmap.Write(pixels); }
    Raw At(int x, int y) const { return pixels[static_cast<size_t>(y) * 64 + x]; }
};

} // namespace drawtest
