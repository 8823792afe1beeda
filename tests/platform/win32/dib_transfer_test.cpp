#include "platform/win32/gdi_support.h"
#include "support/bmp_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>

using namespace gdi_test;

namespace {

// 5 x 3 test image (top row first) in colours of its own table.
const std::vector<COLORREF> kTable = {RGB(10, 20, 30), RGB(200, 100, 50), RGB(0, 255, 128),
                                      RGB(255, 255, 255)};
const std::vector<COLORREF> kImage = {
    kTable[0], kTable[1], kTable[2], kTable[3], kTable[0], //
    kTable[3], kTable[3], kTable[1], kTable[0], kTable[2], //
    kTable[2], kTable[0], kTable[0], kTable[1], kTable[3], //
};

// A DIB of every kind a file can hold (the BMP builder's variants, with top-down ones of the
// depths its list has only bottom-up), as the packed description and pixels a program hands
// to the DIB calls, with the colours the builder's own model gives them (top row first).
struct Source {
    std::string name;
    Dib dib;
    std::vector<COLORREF> expect;
    int w, h;
};

std::vector<Source> all_sources() {
    std::vector<bmpfile::Variant> variants = bmpfile::all_variants();
    const std::size_t listed = variants.size();
    for (const char* label :
         {"info 1 bit", "info 4 bit, 5 colours", "info 16 bit 565 fields", "info 32 bit"}) {
        bmpfile::Variant v = *std::find_if(variants.begin(), variants.end(), [&](const auto& x) {
            return std::strcmp(x.label, label) == 0;
        });
        v.top_down = true;
        variants.push_back(v);
    }
    std::vector<Source> out;
    for (std::size_t i = 0; i < variants.size(); ++i) {
        const bmpfile::Variant& v = variants[i];
        if (v.rle_delta) {
            continue; // skipped pixels: see RleSkipsKeepTheDestination
        }
        std::vector<std::uint32_t> rgb;
        const auto file = bmpfile::make(v, 3, &rgb);
        const std::size_t offset = file[10] | (file[11] << 8) | (file[12] << 16);
        Source src{
            std::string(v.label) + (i < listed ? "" : ", top-down"), {}, {}, v.width, v.height};
        src.dib.head.assign(file.begin() + 14,
                            file.begin() + static_cast<std::ptrdiff_t>(offset - v.gap));
        src.dib.bits.assign(file.begin() + static_cast<std::ptrdiff_t>(offset), file.end());
        for (std::uint32_t p : rgb) {
            src.expect.push_back(RGB(p >> 16, (p >> 8) & 0xFF, p & 0xFF));
        }
        out.push_back(std::move(src));
    }
    return out;
}

} // namespace

TEST(DibTransfer, EveryFormatDecodesExactlyEveryWay) {
    // Into a 32-bit section every decoded colour shows as it is, at any display depth. Into a
    // bitmap at the display's own depth, whatever it is, the three transfers and CreateDIBitmap
    // agree pixel for pixel.
    const Dcs dcs;
    const HDC screen = dcs.screen, dc = dcs.mem;
    auto read_back = [&](HBITMAP bmp, int w, int h) {
        Dib out;
        out.head = info_header(w, -h, 32);
        out.bits.assign(static_cast<std::size_t>(w) * h * 4, 0xEE);
        EXPECT_EQ(GetDIBits(dc, bmp, 0, h, out.bits.data(), out.info(), DIB_RGB_COLORS), h);
        return out.bits;
    };
    const char* const ways[] = {"SetDIBits", "StretchDIBits", "SetDIBitsToDevice"};
    auto put = [&](HBITMAP target, int way, const Source& s) {
        const BYTE* bits = s.dib.bits.data();
        if (way == 0) {
            return SetDIBits(dc, target, 0, s.h, bits, s.dib.info(), DIB_RGB_COLORS);
        }
        HGDIOBJ old = SelectObject(dc, target);
        const int lines = way == 1 ? StretchDIBits(dc, 0, 0, s.w, s.h, 0, 0, s.w, s.h, bits,
                                                   s.dib.info(), DIB_RGB_COLORS, SRCCOPY)
                                   : SetDIBitsToDevice(dc, 0, 0, s.w, s.h, 0, 0, 0, s.h, bits,
                                                       s.dib.info(), DIB_RGB_COLORS);
        GdiFlush();
        SelectObject(dc, old);
        return lines;
    };
    for (const Source& s : all_sources()) {
        SCOPED_TRACE(s.name);
        std::vector<BYTE> want;
        for (int way = 0; way < 3; ++way) {
            SCOPED_TRACE(ways[way]);
            Canvas c(s.w, s.h, kBlack);
            EXPECT_EQ(put(c.bitmap, way, s), s.h);
            EXPECT_EQ(c.colors(), s.expect);
            HBITMAP ddb = CreateCompatibleBitmap(screen, s.w, s.h);
            ASSERT_EQ(put(ddb, way, s), s.h);
            if (way == 0) {
                want = read_back(ddb, s.w, s.h);
            }
            EXPECT_EQ(read_back(ddb, s.w, s.h), want);
            EXPECT_TRUE(DeleteObject(ddb));
        }
        HBITMAP c =
            CreateDIBitmap(screen, reinterpret_cast<const BITMAPINFOHEADER*>(s.dib.head.data()),
                           CBM_INIT, s.dib.bits.data(), s.dib.info(), DIB_RGB_COLORS);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(shape_of(c), (Shape{s.w, s.h, GetDeviceCaps(screen, BITSPIXEL)}));
        EXPECT_EQ(read_back(c, s.w, s.h), want) << "CreateDIBitmap";
        EXPECT_TRUE(DeleteObject(c));
    }
}

TEST(DibTransfer, RleSkipsKeepTheDestination) {
    // Rows bottom to top: a run of 2, end of row; a delta of (3, 1) over the second row to the
    // top one's fourth pixel; one pixel; end of image.
    Dib d;
    const std::vector<BYTE> stream = {2, 1, 0, 0, 0, 2, 3, 1, 1, 2, 0, 1};
    d.head = info_header(5, 3, 8, BI_RLE8, 4, static_cast<DWORD>(stream.size()));
    append_table(d.head, kTable);
    d.bits = stream;
    const COLORREF o = RGB(0xAA, 0xAA, 0xAA);
    const std::vector<COLORREF> want = {o,         o,         o, kTable[2], o, //
                                        o,         o,         o, o,         o, //
                                        kTable[1], kTable[1], o, o,         o};
    Canvas c(5, 3);
    EXPECT_EQ(SetDIBits(nullptr, c.bitmap, 0, 3, d.bits.data(), d.info(), DIB_RGB_COLORS), 3);
    EXPECT_EQ(c.colors(), want);
}

TEST(DibTransfer, CreateDIBitmapTakesTheReferenceFormat) {
    // A grey ramp and blue: into monochrome each pixel takes the nearer of black and white.
    std::vector<COLORREF> ramp;
    for (int i = 0; i < 7; ++i) {
        ramp.push_back(RGB(i * 36, i * 36, i * 36));
    }
    ramp.push_back(kBlue);
    Dib d = dib24(8, 1, ramp);
    const auto& [screen, mem] = Dcs();
    for (HDC ref : {mem, static_cast<HDC>(nullptr)}) {
        HBITMAP h =
            CreateDIBitmap(ref, &d.header(), CBM_INIT, d.bits.data(), d.info(), DIB_RGB_COLORS);
        EXPECT_EQ(shape_of(h), (Shape{8, 1, 1}));
        BYTE bits[2] = {0, 0};
        EXPECT_EQ(GetBitmapBits(h, 2, bits), 2);
        EXPECT_EQ(bits[0], 0x0E); // 144, 180, 216 are white; 108 and blue black
        DeleteObject(h);
    }
    // Without CBM_INIT only the size and the reference matter.
    HBITMAP h = CreateDIBitmap(screen, &d.header(), 0, nullptr, nullptr, DIB_RGB_COLORS);
    EXPECT_EQ(shape_of(h), (Shape{8, 1, GetDeviceCaps(screen, BITSPIXEL)}));
    DeleteObject(h);
}

TEST(DibTransfer, GetDIBitsCopiesRowsInEitherOrder) {
    // A 32-bit section as the source keeps the test exact at every display depth.
    Canvas src(5, 3);
    for (int i = 0; i < 15; ++i) {
        src.px[i] = 0x010203 * static_cast<DWORD>(i + 1);
    }
    struct Case {
        int w, h;
        UINT start, lines;
        int result;
        std::vector<int> rows; // the source row in each stored row; nothing is written after
    };
    const Case cases[] = {
        {5, 3, 0, 3, 3, {2, 1, 0}},  // bottom-up: the bottom row first
        {5, -3, 0, 3, 3, {0, 1, 2}}, // top-down
        {5, 3, 1, 5, 2, {1, 0}},     // lines counted in DIB order from `start`, cut at the last
        {5, -3, 0, 2, 2, {1, 2}},    // bands count from the bottom for top-down DIBs too
        {2, -3, 0, 3, 3, {0, 1, 2}}, // a narrower DIB takes the left columns
    };
    const auto& [screen, dc] = Dcs();
    for (bool selected : {false, true}) {
        // It works while the bitmap is selected.
        HGDIOBJ old = selected ? SelectObject(dc, src.bitmap) : nullptr;
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " from " << c.start << " +"
                                            << c.lines << (selected ? ", selected" : ""));
            Dib out;
            out.head = info_header(c.w, c.h, 32);
            out.bits.assign(60, 0xEE);
            EXPECT_EQ(GetDIBits(dc, src.bitmap, c.start, c.lines, out.bits.data(), out.info(),
                                DIB_RGB_COLORS),
                      c.result);
            const std::size_t row = static_cast<std::size_t>(c.w) * 4;
            for (std::size_t i = 0; i < c.rows.size(); ++i) {
                EXPECT_EQ(std::memcmp(out.bits.data() + i * row, src.px + 5 * c.rows[i], row), 0)
                    << "stored row " << i;
            }
            for (std::size_t i = c.rows.size() * row; i < out.bits.size(); ++i) {
                ASSERT_EQ(out.bits[i], 0xEE) << "byte " << i;
            }
        }
        if (selected) {
            SelectObject(dc, old);
        }
    }
}

// The bytes that pad each row GetDIBits writes out to four are written too, as zeros, whatever
// the buffer held; the rest of the buffer is not touched (one line of a band goes to its first
// row, wherever the band starts). From a bitmap at the display's depth
// and from a 16-bit section (whose rows go out in one block at 16 bits), into every depth.
TEST(DibTransfer, GetDIBitsZeroesTheRowPadding) {
    const auto& [screen, dc] = Dcs();
    for (HBITMAP bitmap : {CreateCompatibleBitmap(screen, 5, 3), section(5, 3, 16)}) {
        for (WORD bits : {1, 4, 8, 16, 24}) {
            for (UINT start : {0u, 1u}) {
                SCOPED_TRACE(testing::Message() << bits << " bits from row " << start);
                std::vector<BYTE> head = info_header(5, 3, bits);
                head.resize(head.size() + 256 * sizeof(RGBQUAD));
                const std::size_t stride = static_cast<std::size_t>(stride_of(5, bits));
                const std::size_t used = (5 * bits + 7) / 8;
                std::vector<BYTE> out(stride * 3, 0xEE);
                ASSERT_EQ(GetDIBits(dc, bitmap, start, 1, out.data(),
                                    reinterpret_cast<BITMAPINFO*>(head.data()), DIB_RGB_COLORS),
                          1);
                for (std::size_t row = 0; row < 3; ++row) {
                    for (std::size_t i = used; i < stride; ++i) {
                        EXPECT_EQ(out[row * stride + i], row == 0 ? 0 : 0xEE)
                            << "row " << row << ", byte " << i;
                    }
                }
            }
        }
        DeleteObject(bitmap);
    }
}

TEST(DibTransfer, GetDIBitsDescribesAndFillsTables) {
    const auto& [screen, dc] = Dcs();
    HBITMAP ddb = CreateCompatibleBitmap(screen, 5, 3);
    const int depth = GetDeviceCaps(screen, BITSPIXEL);
    // The request: a header of `bits` (all zeros for 0) and a table whose bytes are 0xAB.
    Dib bi;
    auto ask = [&](int bits) {
        bi.head = info_header(bits ? 5 : 0, bits ? 3 : 0, static_cast<WORD>(bits));
        bi.header().biPlanes = bits ? 1 : 0;
        bi.head.resize(bi.head.size() + 256 * 4, 0xAB);
        return bi.info();
    };
    // biBitCount 0 and no bits: the bitmap's own format.
    ASSERT_NE(GetDIBits(dc, ddb, 0, 3, nullptr, ask(0), DIB_RGB_COLORS), 0);
    const BITMAPINFOHEADER& h = bi.header();
    EXPECT_EQ(
        (std::vector<long>{h.biWidth, h.biHeight, h.biPlanes, h.biBitCount, long(h.biSizeImage)}),
        (std::vector<long>{5, 3, 1, depth, stride_of(5, depth) * 3}));

    // A requested format: the size of its pixels and, up to 8 bits, every entry of its table.
    // From a 32-bit source the tables are black and white, the 16 standard colours (grey before
    // silver), and the 20 static colours around a colour cube; the pixels are the indices of the
    // nearest entries (by squared distance), here of the colours in the bottom row, the first
    // stored. Their channels sit in the middle of 8-value steps, so a mapping that works on
    // 5-bit channels finds the same entries; the third is nearer silver than grey by squared
    // distance, and nearer grey by the sum of the channels' differences.
    Canvas src(5, 3);
    const COLORREF colors[5] = {RGB(100, 204, 84), RGB(108, 108, 108), RGB(252, 140, 140),
                                RGB(204, 4, 12), RGB(4, 196, 12)};
    for (int x = 0; x < 5; ++x) {
        src.set(x, 2, colors[x]);
    }
    const std::vector<BYTE> nearest[9] = {
        {}, {0xA0}, {}, {}, {0x77, 0x89, 0xA0}, {}, {}, {}, {0x73, 0x9B, 0xA7, 0x0E, 0x30}};
    const COLORREF want4[16] = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080,
                                0x808000, 0x808080, 0xC0C0C0, 0x0000FF, 0x00FF00, 0x00FFFF,
                                0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};
    const std::pair<int, COLORREF> want8[] = {{9, RGB(0xA6, 0xCA, 0xF0)},
                                              {10, RGB(0x40, 0x20, 0)},
                                              {64, RGB(0, 0, 0x40)},
                                              {245, RGB(0xA0, 0xC0, 0xC0)},
                                              {246, RGB(0xFF, 0xFB, 0xF0)}};
    auto entry = [&](int i) { // table entry i and its fourth byte
        const BYTE* q = &bi.head[sizeof(BITMAPINFOHEADER) + 4 * static_cast<std::size_t>(i)];
        return std::pair<COLORREF, BYTE>(RGB(q[2], q[1], q[0]), q[3]);
    };
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        EXPECT_NE(GetDIBits(dc, ddb, 0, 3, nullptr, ask(bits), DIB_RGB_COLORS), 0);
        EXPECT_EQ(bi.header().biSizeImage, static_cast<DWORD>(stride_of(5, bits) * 3));
        if (bits > 8) {
            continue;
        }
        std::vector<BYTE> out(60, 0);
        ASSERT_EQ(GetDIBits(dc, src.bitmap, 0, 3, out.data(), ask(bits), DIB_RGB_COLORS), 3);
        // 1 bit: white, black, white, black, black; 4 bits: grey, grey, silver, red, lime.
        EXPECT_EQ(std::vector<BYTE>(out.begin(), out.begin() + nearest[bits].size()),
                  nearest[bits]);
        for (int i = 0; i < 256; ++i) {
            EXPECT_EQ(entry(i).second, i < (1 << bits) ? 0 : 0xAB) << i;
        }
        for (int i = 0; bits == 4 && i < 16; ++i) {
            EXPECT_EQ(entry(i).first, want4[i]) << i;
        }
        for (const auto& [i, c] : want8) {
            EXPECT_TRUE(bits != 8 || entry(i).first == c) << i;
        }
        EXPECT_EQ(entry((1 << bits) - 1).first, kWhite);
    }
    DeleteObject(ddb);
}

TEST(DibTransfer, RoundTripsAreLossless) {
    const auto& [screen, dc] = Dcs();
    const int depth = GetDeviceCaps(screen, BITSPIXEL);
    std::mt19937 rng(11);
    Dib seed = dib24(7, 5, std::vector<COLORREF>(35, 0));
    for (BYTE& b : seed.bits) {
        b = static_cast<BYTE>(rng());
    }
    // Read at the bitmap's own depth, 24 and 32 bits: writing what was read and reading again
    // gives the same bytes.
    for (int bits : {depth, 24, 32}) {
        SCOPED_TRACE(bits);
        HBITMAP a = CreateCompatibleBitmap(screen, 7, 5);
        HBITMAP b = CreateCompatibleBitmap(screen, 7, 5);
        ASSERT_EQ(SetDIBits(dc, a, 0, 5, seed.bits.data(), seed.info(), DIB_RGB_COLORS), 5);
        Dib first;
        first.head = info_header(7, 5, static_cast<WORD>(bits));
        first.head.resize(first.head.size() + 1024);
        first.bits.assign(static_cast<size_t>(stride_of(7, bits)) * 5, 0);
        ASSERT_EQ(GetDIBits(dc, a, 0, 5, first.bits.data(), first.info(), DIB_RGB_COLORS), 5);
        ASSERT_EQ(SetDIBits(dc, b, 0, 5, first.bits.data(), first.info(), DIB_RGB_COLORS), 5);
        Dib second = first;
        std::fill(second.bits.begin(), second.bits.end(), 0);
        ASSERT_EQ(GetDIBits(dc, b, 0, 5, second.bits.data(), second.info(), DIB_RGB_COLORS), 5);
        EXPECT_EQ(first.bits, second.bits);
        if (bits == 32) {
            for (size_t i = 3; i < first.bits.size(); i += 4) {
                EXPECT_EQ(first.bits[i], 0) << i; // the fourth byte is zero
            }
        }
        DeleteObject(a);
        DeleteObject(b);
    }
}

TEST(DibTransfer, StretchDIBitsScalesMirrorsAndCombines) {
    Dib d = dib24(2, 2, {kRed, kGreen, kBlue, kWhite});
    Canvas c(4, 4);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, c.bitmap);
    // The 2 x 2 DIB at (x, y), `w` wide and 2 high, over a canvas of `fill`.
    auto stretch = [&](COLORREF fill, int x, int y, int w, DWORD rop) {
        c.clear(fill);
        EXPECT_NE(StretchDIBits(dc, x, y, w, std::abs(w), 0, 0, 2, 2, d.bits.data(), d.info(),
                                DIB_RGB_COLORS, rop),
                  0);
        GdiFlush();
    };
    stretch(kBlack, 0, 0, 4, SRCCOPY);
    const std::vector<COLORREF> doubled = {kRed,   kRed,   kGreen, kGreen, kRed,   kRed,
                                           kGreen, kGreen, kBlue,  kBlue,  kWhite, kWhite,
                                           kBlue,  kBlue,  kWhite, kWhite};
    EXPECT_EQ(c.colors(), doubled);
    // A negative destination width mirrors.
    stretch(kBlack, 1, 0, -2, SRCCOPY);
    expect_pixels(dc, {{0, 0, kGreen}, {1, 0, kRed}, {0, 1, kWhite}});
    // Raster operations combine with the destination, here on raw 32-bit values: yellow ^ red,
    // yellow ^ white, and outside untouched; yellow & red, yellow & blue.
    stretch(kYellow, 0, 0, 2, SRCINVERT);
    expect_pixels(dc, {{0, 0, kGreen}, {1, 1, kBlue}, {2, 2, kYellow}});
    stretch(kYellow, 0, 0, 2, SRCAND);
    expect_pixels(dc, {{0, 0, kRed}, {0, 1, kBlack}});
    // Clipped at the destination's edges without complaint.
    stretch(kBlack, 3, 3, 2, SRCCOPY);
    EXPECT_EQ(c.at(3, 3), kRed);
    SelectObject(dc, old);
    DeleteDC(dc);
}

// Every way in refuses a description it cannot read, and writes nothing.
TEST(DibTransfer, BadInputFailsAndChangesNothing) {
    Dib good; // 4 x 3, every pixel entry 1 of the table (rows of 4 bytes, no padding)
    good.head = info_header(4, 3, 8, BI_RGB, 4);
    append_table(good.head, kTable);
    good.bits.assign(12, 1);
    // Each case is the good description with other header fields.
    struct Case {
        const char* name;
        DWORD size;
        LONG w, h;
        WORD bits;
        DWORD compression, size_image;
        bool section_only = false; // the transfers take it, sections do not
    };
    const Case cases[] = {
        {"header of 39 bytes", 39, 4, 3, 8, BI_RGB, 0},
        {"header of 0 bytes", 0, 4, 3, 8, BI_RGB, 0},
        {"3 bits", 40, 4, 3, 3, BI_RGB, 0},
        {"0 bits", 40, 4, 3, 0, BI_RGB, 0},
        {"zero width", 40, 0, 3, 8, BI_RGB, 0},
        {"negative width", 40, -4, 3, 8, BI_RGB, 0},
        {"zero height", 40, 4, 0, 8, BI_RGB, 0},
        {"RLE8 at 24 bits", 40, 4, 3, 24, BI_RLE8, 0},
        {"RLE4 at 8 bits", 40, 4, 3, 8, BI_RLE4, 0},
        {"bit fields at 24 bits", 40, 4, 3, 24, BI_BITFIELDS, 0},
        {"JPEG", 40, 4, 3, 8, BI_JPEG, 0},
        {"huge width", 40, 1 << 30, 3, 8, BI_RGB, 0},
        {"RLE without size", 40, 4, 3, 8, BI_RLE8, 0},
        {"RLE8 section", 40, 4, 3, 8, BI_RLE8, 8, true},
        {"RLE4 section", 40, 4, 3, 4, BI_RLE4, 8, true},
        {"1<<20 squared section", 40, 1 << 20, 1 << 20, 32, BI_RGB, 0, true},
    };
    const auto& [screen, dc] = Dcs();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dib dib = good;
        dib.head.resize(dib.head.size() + 1024);
        BITMAPINFOHEADER& head = dib.header();
        head.biSize = c.size, head.biWidth = c.w, head.biHeight = c.h, head.biBitCount = c.bits;
        head.biCompression = c.compression, head.biSizeImage = c.size_image;
        void* ppv = reinterpret_cast<void*>(1);
        EXPECT_EQ(CreateDIBSection(nullptr, dib.info(), DIB_RGB_COLORS, &ppv, nullptr, 0), nullptr);
        EXPECT_EQ(ppv, nullptr);
        if (c.section_only) {
            continue;
        }
        Canvas canvas(4, 3, kWhite);
        std::vector<BYTE> bits(1 << 16, 1);
        EXPECT_EQ(SetDIBits(dc, canvas.bitmap, 0, 3, bits.data(), dib.info(), DIB_RGB_COLORS), 0);
        HGDIOBJ old = SelectObject(dc, canvas.bitmap);
        EXPECT_EQ(StretchDIBits(dc, 0, 0, 4, 3, 0, 0, 4, 3, bits.data(), dib.info(), DIB_RGB_COLORS,
                                SRCCOPY),
                  0);
        EXPECT_EQ(
            SetDIBitsToDevice(dc, 0, 0, 4, 3, 0, 0, 0, 3, bits.data(), dib.info(), DIB_RGB_COLORS),
            0);
        SelectObject(dc, old);
        HBITMAP h = CreateDIBitmap(screen, &dib.info()->bmiHeader, CBM_INIT, bits.data(),
                                   dib.info(), DIB_RGB_COLORS);
        // A zero width or height makes Windows hand out its stock 1 x 1 bitmap instead.
        if (h != nullptr) {
            EXPECT_EQ(shape_of(h), (Shape{1, 1, 1}));
            DeleteObject(h);
        }
        GdiFlush();
        EXPECT_EQ(canvas.colors(), std::vector<COLORREF>(12, kWhite));
    }

    // Missing pointers and handles.
    Canvas canvas(4, 3, kWhite);
    HBITMAP ddb = CreateCompatibleBitmap(screen, 4, 3);
    BYTE* bits = good.bits.data();
    for (int gone = 0; gone < 3; ++gone) { // the pixels or the DC, the description, the bitmap
        SCOPED_TRACE(gone);
        BITMAPINFO* info = gone == 1 ? nullptr : good.info();
        EXPECT_EQ(SetDIBits(dc, gone == 2 ? nullptr : canvas.bitmap, 0, 3,
                            gone == 0 ? nullptr : bits, info, DIB_RGB_COLORS),
                  0);
        EXPECT_EQ(GetDIBits(gone == 0 ? nullptr : dc, gone == 2 ? nullptr : ddb, 0, 3, bits, info,
                            DIB_RGB_COLORS),
                  0);
        EXPECT_EQ(CreateDIBitmap(screen, gone == 2 ? nullptr : &good.header(), CBM_INIT,
                                 gone == 0 ? nullptr : bits, info, DIB_RGB_COLORS),
                  nullptr);
    }
    EXPECT_EQ(SetDIBits(dc, canvas.bitmap, 0, 3, bits, good.info(), 2), 0);
    void* ppv = nullptr;
    EXPECT_EQ(CreateDIBSection(nullptr, good.info(), 2, &ppv, nullptr, 0), nullptr);
    EXPECT_EQ(CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, &ppv, nullptr, 0), nullptr);
    // A missing ppvBits is allowed: the program just does not get the pointer.
    EXPECT_TRUE(
        DeleteObject(CreateDIBSection(nullptr, good.info(), DIB_RGB_COLORS, nullptr, nullptr, 0)));
    EXPECT_EQ(
        StretchDIBits(nullptr, 0, 0, 4, 3, 0, 0, 4, 3, bits, good.info(), DIB_RGB_COLORS, SRCCOPY),
        0);
    // A deleted bitmap is a stale handle.
    HBITMAP gone = CreateCompatibleBitmap(screen, 4, 3);
    DeleteObject(gone);
    EXPECT_EQ(SetDIBits(dc, gone, 0, 3, good.bits.data(), good.info(), DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetDIBits(dc, gone, 0, 3, good.bits.data(), good.info(), DIB_RGB_COLORS), 0);
    DeleteObject(ddb);
}

TEST(DibTransfer, SourceRectanglesCountFromTheBottom) {
    // Source y counts from the image's bottom row, for top-down DIBs too: a 2 x 2 rectangle at
    // (1, 0) of the 5 x 3 image is the middle of its two lowest rows. (StretchDIBits is only
    // checked on bottom-up DIBs: Wine places partial rectangles of top-down ones differently
    // from one path to the next.)
    const auto& [screen, dc] = Dcs();
    Canvas c(2, 2);
    HGDIOBJ old = SelectObject(dc, c.bitmap);
    const std::vector<COLORREF> want = {kImage[6], kImage[7], kImage[11], kImage[12]};
    const Dib up = dib24(5, 3, kImage);
    for (DWORD rop : {SRCCOPY, SRCPAINT}) {
        c.clear(kBlack);
        EXPECT_NE(StretchDIBits(dc, 0, 0, 2, 2, 1, 0, 2, 2, up.bits.data(), up.info(),
                                DIB_RGB_COLORS, rop),
                  0);
        GdiFlush();
        EXPECT_EQ(c.colors(), want) << "StretchDIBits " << rop;
    }
    struct Case {
        bool top_down;
        int y_src, start, lines; // band of rows counted from the bottom
        int result;
        std::vector<COLORREF> want;
    };
    const COLORREF k = kBlack;
    const Case cases[] = {
        // Bottom-up: the lines set reach from the band's start to the rectangle's top.
        {false, 0, 0, 3, 2, want},
        {false, 1, 0, 3, 3, {kImage[1], kImage[2], kImage[6], kImage[7]}},
        {false, 0, 1, 1, 1, {kImage[6], kImage[7], k, k}},
        {false, 0, 2, 1, 0, {k, k, k, k}},
        // Top-down: the whole band counts; its bytes run top row first.
        {true, 0, 0, 3, 3, want},
        {true, 0, 1, 1, 1, {kImage[6], kImage[7], k, k}},
        {true, 0, 0, 1, 1, {k, k, kImage[11], kImage[12]}},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(testing::Message() << (t.top_down ? "top-down" : "bottom-up") << " y "
                                        << t.y_src << " band " << t.start << "+" << t.lines);
        const Dib d = dib24(5, 3, kImage, t.top_down);
        // The band's bytes: rows `start` up from the bottom, in the DIB's row order.
        const int stride = stride_of(5, 24);
        const int first_stored = t.top_down ? 3 - t.start - t.lines : t.start;
        c.clear(kBlack);
        EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 2, 2, 1, t.y_src, t.start, t.lines,
                                    d.bits.data() + first_stored * stride, d.info(),
                                    DIB_RGB_COLORS),
                  t.result);
        GdiFlush();
        EXPECT_EQ(c.colors(), t.want);
    }
    SelectObject(dc, old);
}

TEST(DibTransfer, PaletteIndexTablesUseTheDcPalette) {
    // With DIB_PAL_COLORS the table holds indices into the DC's palette, here one of three.
    HPALETTE pal = palette({{10, 20, 30, 0}, {200, 100, 50, 0}, {0, 255, 128, 0}});
    Dib d;
    d.head = info_header(3, 1, 8, BI_RGB, 3);
    for (WORD index : {WORD(2), WORD(0), WORD(1)}) {
        d.head.insert(d.head.end(), {BYTE(index), BYTE(index >> 8)});
    }
    d.bits = {0, 1, 2, 0};
    const auto& [screen, dc] = Dcs();
    HPALETTE old = SelectPalette(dc, pal, FALSE);
    Canvas c(3, 1);
    EXPECT_EQ(SetDIBits(dc, c.bitmap, 0, 1, d.bits.data(), d.info(), DIB_PAL_COLORS), 1);
    EXPECT_EQ(c.colors(),
              (std::vector<COLORREF>{RGB(0, 255, 128), RGB(10, 20, 30), RGB(200, 100, 50)}));
    SelectPalette(dc, old, FALSE);
    DeleteObject(pal);
}
