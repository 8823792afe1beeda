// The straight conversions of the DIB transfers against the general colour-by-colour path:
// every pair of common layouts, random pixels, odd widths, band and clip edges.
#include "gdi/dib_gdi.h"
#include "platform/win32/gdi_support.h"
#include "support/host_display.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

struct Layout {
    const char* name;
    WORD bits;
    DWORD compression;
    DWORD masks[3];
};

const Layout kLayouts[] = {
    {"32", 32, BI_RGB, {}},
    {"32 fields 8-8-8", 32, BI_BITFIELDS, {0xFF0000, 0x00FF00, 0x0000FF}},
    {"32 fields 8-8-8 reversed", 32, BI_BITFIELDS, {0x0000FF, 0x00FF00, 0xFF0000}},
    {"24", 24, BI_RGB, {}},
    {"16", 16, BI_RGB, {}},
    {"16 fields 5-6-5", 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}},
    {"16 fields 5-5-5", 16, BI_BITFIELDS, {0x7C00, 0x03E0, 0x001F}},
};

// A description of the layout `l`, masks included.
struct Info {
    std::vector<BYTE> head;
    Info(const Layout& l, LONG w, LONG height)
        : head(gdi_test::info_header(w, height, l.bits, l.compression)) {
        const auto* masks = reinterpret_cast<const BYTE*>(l.masks);
        head.insert(head.end(), masks, masks + sizeof l.masks);
    }
    BITMAPINFO* bmi() { return reinterpret_cast<BITMAPINFO*>(head.data()); }
};

constexpr int kW = 37, kH = 7; // rows past 64 bytes at 16 bits and up

std::size_t image_bytes(const Layout& l) {
    return static_cast<std::size_t>(((kW * l.bits + 31) / 32) * 4) * kH;
}

// Every way in and out of one surface, with the fast paths on or off: the bytes read back.
std::vector<BYTE> run(HBITMAP surface, const Layout& in, const std::vector<BYTE>& data, bool fast) {
    platform::gdi::dib_fast_paths = fast;
    std::vector<BYTE> out;
    HDC dc = CreateCompatibleDC(nullptr);
    Info info(in, kW, kH);
    auto read_all = [&] {
        // The raw pixels, then the pixels through every output layout.
        std::vector<BYTE> raw(static_cast<std::size_t>(GetBitmapBits(surface, 0, nullptr)));
        EXPECT_EQ(GetBitmapBits(surface, static_cast<LONG>(raw.size()), raw.data()),
                  static_cast<LONG>(raw.size()));
        out.insert(out.end(), raw.begin(), raw.end());
        for (const Layout& l : kLayouts) {
            Info o(l, kW, kH);
            std::vector<BYTE> buf(image_bytes(l), 0xEE);
            EXPECT_EQ(GetDIBits(dc, surface, 0, kH, buf.data(), o.bmi(), DIB_RGB_COLORS), kH);
            out.insert(out.end(), buf.begin(), buf.end());
            // A band of a taller top-down image, whose top rows the bitmap does not have.
            Info tall(l, kW, -(kH + 3));
            std::vector<BYTE> band(image_bytes(l) / kH * (kH + 3), 0xEE);
            EXPECT_EQ(GetDIBits(dc, surface, 1, kH, band.data(), tall.bmi(), DIB_RGB_COLORS),
                      kH - 2);
            out.insert(out.end(), band.begin(), band.end());
        }
    };
    EXPECT_EQ(SetDIBits(dc, surface, 0, kH, data.data(), info.bmi(), DIB_RGB_COLORS), kH);
    read_all();
    // A band of rows and a clipped, offset rectangle.
    const std::size_t stride = image_bytes(in) / kH;
    EXPECT_EQ(SetDIBits(dc, surface, 2, 3, data.data() + stride, info.bmi(), DIB_RGB_COLORS), 3);
    HGDIOBJ old = SelectObject(dc, surface);
    EXPECT_NE(StretchDIBits(dc, -3, 2, kW, kH, 1, 0, kW, kH, data.data(), info.bmi(),
                            DIB_RGB_COLORS, SRCCOPY),
              0);
    SelectObject(dc, old);
    read_all();
    DeleteDC(dc);
    platform::gdi::dib_fast_paths = true;
    return out;
}

} // namespace

TEST(DibFastPaths, GiveTheSameBytesAsTheGeneralPath) {
    std::mt19937 rng(5);
    for (int depth : {32, 16}) {
        testhost::SetDepth(depth);
        HDC screen = GetDC(nullptr);
        for (const Layout& in : kLayouts) {
            std::vector<BYTE> data(image_bytes(in));
            for (BYTE& b : data) {
                b = static_cast<BYTE>(rng());
            }
            std::vector<HBITMAP> surfaces = {CreateCompatibleBitmap(screen, kW, kH)};
            for (const Layout& l : kLayouts) {
                Info s(l, kW, l.bits == 24 ? kH : -kH);
                void* bits = nullptr;
                surfaces.push_back(
                    CreateDIBSection(nullptr, s.bmi(), DIB_RGB_COLORS, &bits, nullptr, 0));
            }
            for (std::size_t i = 0; i < surfaces.size(); ++i) {
                ASSERT_NE(surfaces[i], nullptr);
                SCOPED_TRACE(testing::Message()
                             << depth << " bpp display, DIB " << in.name << ", surface " << i);
                EXPECT_EQ(run(surfaces[i], in, data, true), run(surfaces[i], in, data, false));
                DeleteObject(surfaces[i]);
            }
        }
        ReleaseDC(nullptr, screen);
    }
    host::reset_display();
}

TEST(DibFastPaths, GetDIBitsNeedsNoRoomPastAPlainHeader) {
    // A copy of a 16-bit 5-6-5 section's dsBmih says BI_BITFIELDS; GetDIBits with nothing but
    // those 40 bytes reads and writes nothing past them: it answers in 5-5-5 and says BI_RGB.
    struct {
        BITMAPINFOHEADER h;
        DWORD masks[3];
    } in{{sizeof(BITMAPINFOHEADER), 3, 1, 1, 16, BI_BITFIELDS, 0, 0, 0, 0, 0},
         {0xF800, 0x07E0, 0x001F}};
    void* bits = nullptr;
    HBITMAP s = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&in), DIB_RGB_COLORS, &bits,
                                 nullptr, 0);
    ASSERT_NE(s, nullptr);
    const WORD px[3] = {0xF800, 0x07E0, 0x001F};
    std::memcpy(bits, px, sizeof px);
    DIBSECTION ds;
    ASSERT_EQ(GetObjectA(s, sizeof ds, &ds), static_cast<int>(sizeof ds));
    auto exact = std::make_unique<BYTE[]>(sizeof(BITMAPINFOHEADER));
    std::memcpy(exact.get(), &ds.dsBmih, sizeof(BITMAPINFOHEADER));
    WORD out[4] = {};
    HDC dc = CreateCompatibleDC(nullptr);
    auto* header = reinterpret_cast<BITMAPINFO*>(exact.get());
    EXPECT_EQ(GetDIBits(dc, s, 0, 1, out, header, DIB_RGB_COLORS), 1);
    EXPECT_EQ(header->bmiHeader.biCompression, DWORD(BI_RGB));
    EXPECT_EQ(std::vector<WORD>(out, out + 3), (std::vector<WORD>{0x7C00, 0x03E0, 0x001F}));
    // The same header draws the same pixels back.
    EXPECT_EQ(SetDIBits(dc, s, 0, 1, out, header, DIB_RGB_COLORS), 1);
    EXPECT_EQ(std::memcmp(bits, px, sizeof px), 0);
    DeleteDC(dc);
    DeleteObject(s);
}
