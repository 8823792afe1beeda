#include "platform/win32/gdi_support.h"

#include <gtest/gtest.h>

using namespace gdi_test;

namespace {

// A section description with a table of six pure colours (and more, up to 1 << bits).
std::vector<BYTE> section_info(int w, int h, int bits) {
    std::vector<BYTE> head = info_header(w, h, static_cast<WORD>(bits));
    if (bits == 1) {
        append_table(head, {kBlack, kWhite});
    } else if (bits <= 8) {
        std::vector<COLORREF> table = {kBlack, kRed, kGreen, kBlue, kYellow, kWhite};
        while (table.size() < (1u << bits)) {
            table.push_back(RGB(0x80, 0x80, 0x80)); // far from the six, so no blit confuses them
        }
        append_table(head, table);
    }
    return head;
}

HBITMAP make_section(int w, int h, int bits, void** ppv) {
    std::vector<BYTE> head = section_info(w, h, bits);
    return CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(head.data()), DIB_RGB_COLORS,
                            ppv, nullptr, 0);
}

} // namespace

TEST(DibSection, ReportsItsLayout) {
    // Each depth with its default masks, and bit fields given by the program (reported as given).
    struct Case {
        int bits;
        std::vector<DWORD> masks;
    };
    const Case cases[] = {
        {1, {}}, {4, {}}, {8, {}}, {16, {}}, {24, {}}, {32, {}}, {16, {0xF800, 0x07E0, 0x001F}}};
    for (const Case& c : cases) {
        for (int h : {3, -3}) {
            const int bits = c.bits;
            SCOPED_TRACE(testing::Message() << bits << " bits, height " << h << ", "
                                            << c.masks.size() << " masks given");
            std::vector<BYTE> head = section_info(5, h, bits);
            if (!c.masks.empty()) {
                head = info_header(5, h, static_cast<WORD>(bits), BI_BITFIELDS);
                const BYTE* masks = reinterpret_cast<const BYTE*>(c.masks.data());
                head.insert(head.end(), masks, masks + 12);
            }
            void* ppv = nullptr;
            HBITMAP s = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(head.data()),
                                         DIB_RGB_COLORS, &ppv, nullptr, 0);
            ASSERT_NE(s, nullptr);
            ASSERT_NE(ppv, nullptr);
            DIBSECTION ds;
            std::memset(&ds, 0xCC, sizeof ds);
            ASSERT_EQ(GetObjectA(s, sizeof ds, &ds), static_cast<int>(sizeof(DIBSECTION)));
            // The record, field by field: type, size, row bytes, planes and depth of the bitmap,
            // then size, extent, depth, image size, colours used and compression of the header.
            const long stride = stride_of(5, bits);
            EXPECT_EQ(ds.dsBm.bmBits, ppv);
            EXPECT_EQ(
                (std::vector<long>{ds.dsBm.bmType, ds.dsBm.bmWidth, ds.dsBm.bmHeight,
                                   ds.dsBm.bmWidthBytes, ds.dsBm.bmPlanes, ds.dsBm.bmBitsPixel}),
                (std::vector<long>{0, 5, 3, stride, 1, bits}));
            EXPECT_EQ(
                (std::vector<long>{long(ds.dsBmih.biSize), ds.dsBmih.biWidth, ds.dsBmih.biHeight,
                                   ds.dsBmih.biBitCount, long(ds.dsBmih.biSizeImage),
                                   long(ds.dsBmih.biClrUsed), long(ds.dsBmih.biCompression)}),
                (std::vector<long>{40, 5, 3, bits, stride * 3, bits <= 8 ? 1L << bits : 0,
                                   bits == 16 ? BI_BITFIELDS : BI_RGB}));
            std::vector<DWORD> want = c.masks;
            if (want.empty()) {
                want = bits == 16 ? std::vector<DWORD>{0x7C00, 0x03E0, 0x001F}
                                  : std::vector<DWORD>{0, 0, 0};
            }
            EXPECT_EQ(std::vector<DWORD>(ds.dsBitfields, ds.dsBitfields + 3), want);
            EXPECT_EQ(ds.dshSection, nullptr);
            BITMAP bm;
            EXPECT_EQ(GetObjectA(s, sizeof bm, &bm), static_cast<int>(sizeof(BITMAP)));
            EXPECT_EQ(bm.bmBits, ppv);
            EXPECT_EQ(GetObjectA(s, sizeof bm - 1, &bm), 0);
            EXPECT_EQ(GetObjectA(s, 0, nullptr), static_cast<int>(sizeof(BITMAP)));
            EXPECT_TRUE(DeleteObject(s));
        }
    }
}

TEST(DibSection, PixelsLandInTheDocumentedMemoryLayout) {
    struct Case {
        int bits;
        int h;
        COLORREF color;
        COLORREF reads_back;
        std::vector<BYTE> bytes; // the first bytes of the row that holds pixel (0, 0)
    };
    const Case cases[] = {
        {32, 2, kYellow, kYellow, {0x00, 0xFF, 0xFF, 0x00}},
        {32, -2, kBlue, kBlue, {0xFF, 0x00, 0x00, 0x00}},
        {24, 2, RGB(1, 2, 3), RGB(1, 2, 3), {3, 2, 1}},
        // x5-5-5: low bits dropped, and replicated from the high ones when read
        {16, 2, RGB(0xF8, 0x0C, 0x10), RGB(0xFF, 0x08, 0x10), {0x22, 0x7C}},
        {8, 2, kBlue, kBlue, {3}},
        {4, -2, kYellow, kYellow, {0x40}},
        {1, 2, kWhite, kWhite, {0x80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, height " << c.h);
        void* ppv = nullptr;
        MemSurface s(make_section(3, c.h, c.bits, &ppv));
        ASSERT_NE(s.old, nullptr) << "selected";
        SetPixel(s.dc, 0, 0, c.color);
        EXPECT_EQ(GetPixel(s.dc, 0, 0), c.reads_back);
        GdiFlush();
        const BYTE* first = static_cast<const BYTE*>(ppv);
        const int stride = stride_of(3, c.bits);
        const BYTE* row0 = c.h > 0 ? first + stride : first; // bottom-up: the top row is last
        const BYTE* other = c.h > 0 ? first : first + stride;
        for (size_t i = 0; i < c.bytes.size(); ++i) {
            EXPECT_EQ(row0[i], c.bytes[i]) << "byte " << i;
            EXPECT_EQ(other[i], 0) << "byte " << i << " of the other row";
        }
    }
}

TEST(DibSection, SelectsAtAnyDepthAndBlitsExactly) {
    // Six colours every depth here can hold; copied through a section of each depth and back
    // they come out unchanged; monochrome takes the nearer of black and white.
    const std::vector<COLORREF> colors = {kBlack, kRed, kGreen, kBlue, kYellow, kWhite};
    HDC src_dc = CreateCompatibleDC(nullptr);
    Canvas src(6, 2, kBlack), out(6, 2);
    for (int x = 0; x < 6; ++x) {
        src.set(x, 0, colors[x]);
    }
    HGDIOBJ old_src = SelectObject(src_dc, src.bitmap);
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        SCOPED_TRACE(testing::Message() << bits << " bits");
        void* ppv = nullptr;
        MemSurface mid(make_section(6, 2, bits, &ppv));
        ASSERT_NE(mid.old, nullptr) << "selected";
        ASSERT_TRUE(BitBlt(mid.dc, 0, 0, 6, 2, src_dc, 0, 0, SRCCOPY));
        SelectObject(src_dc, out.bitmap);
        ASSERT_TRUE(BitBlt(src_dc, 0, 0, 6, 2, mid.dc, 0, 0, SRCCOPY));
        GdiFlush();
        SelectObject(src_dc, src.bitmap);
        // The top row as it was (yellow is nearer to white), the bottom one black.
        std::vector<COLORREF> want = colors;
        if (bits == 1) {
            want = {kBlack, kBlack, kBlack, kBlack, kWhite, kWhite};
        }
        want.resize(12, kBlack);
        EXPECT_EQ(out.colors(), want);
    }
    SelectObject(src_dc, old_src);
    DeleteDC(src_dc);
}

TEST(DibSection, ColorTableIsReadAndChangedThroughTheDc) {
    const auto& [screen, dc] = Dcs();
    void* ppv = nullptr;
    HBITMAP s = make_section(2, 1, 8, &ppv);
    ASSERT_NE(s, nullptr);
    RGBQUAD table[256];
    EXPECT_EQ(GetDIBColorTable(dc, 0, 256, table), 0u); // nothing but the stock bitmap yet
    HGDIOBJ old = SelectObject(dc, s);
    ASSERT_EQ(GetDIBColorTable(dc, 0, 256, table), 256u);
    EXPECT_EQ(table[1].rgbRed, 255);
    EXPECT_EQ(table[1].rgbGreen, 0);
    EXPECT_EQ(GetDIBColorTable(dc, 250, 10, table), 6u);
    EXPECT_EQ(GetDIBColorTable(dc, 256, 1, table), 0u);

    static_cast<BYTE*>(ppv)[1] = 1;
    EXPECT_EQ(GetPixel(dc, 1, 0), kRed);
    const RGBQUAD teal = {0x80, 0x80, 0x00, 0};
    EXPECT_EQ(SetDIBColorTable(dc, 1, 1, &teal), 1u);
    EXPECT_EQ(GetPixel(dc, 1, 0), RGB(0, 0x80, 0x80));
    EXPECT_EQ(static_cast<BYTE*>(ppv)[1], 1); // the index stays, its colour changed
    ASSERT_EQ(GetDIBColorTable(dc, 1, 1, table), 1u);
    EXPECT_EQ(table[0].rgbBlue, 0x80);
    EXPECT_EQ(SetDIBColorTable(dc, 255, 5, table), 1u);
    EXPECT_EQ(SetDIBColorTable(dc, 300, 1, table), 0u);

    // Direct-colour sections have no table.
    void* ppv24 = nullptr;
    HBITMAP s24 = make_section(2, 1, 24, &ppv24);
    SelectObject(dc, s24);
    EXPECT_EQ(GetDIBColorTable(dc, 0, 256, table), 0u);
    EXPECT_EQ(SetDIBColorTable(dc, 0, 1, table), 0u);
    SelectObject(dc, old);
    EXPECT_EQ(GetDIBColorTable(nullptr, 0, 1, table), 0u);
    DeleteObject(s);
    DeleteObject(s24);
}
