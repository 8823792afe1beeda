#include "dither_fixture.h"
#include "literal_dither.h"
#include "test_images.h"

#include <cstring>
#include <random>
#include <string>

namespace {

struct Dithered {
    std::vector<BYTE> header; // header and colour table as the block holds them
    std::vector<BYTE> rows;
};

// The library's way: DitherDIB, as CreateBitmap calls it.
Dithered RunLibrary(const testimg::Source& src, int destBits) {
    Dithered out;
    HGLOBAL block = CDitherDibAccess::DitherDIB(src.info(), src.bits.data(), destBits);
    if (block == nullptr) {
        return out;
    }
    const BYTE* p = static_cast<const BYTE*>(GlobalLock(block));
    const std::size_t size = GlobalSize(block);
    const std::size_t head = 40 + (destBits == 8 ? 256 : 16) * 4;
    out.header.assign(p, p + head);
    out.rows.assign(p + head, p + size);
    GlobalUnlock(block);
    GlobalFree(block);
    return out;
}

// The reference loop, given the cache as the library's first dither loaded it.
std::vector<BYTE> RunReference(const testimg::Source& src, int destBits) {
    const BITMAPINFOHEADER& h = *src.info();
    const int rows = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    const int n = destBits == 8 ? 256 : 16;
    const RGBQUAD* palette = destBits == 8 ? CDitherDib::Win256Palette : CDitherDib::Win16Palette;
    std::vector<WORD> cache(32768, 0xFFFF);
    CDitherDibAccess::LoadLookUpTable(cache.data(), destBits, 32768);
    const auto closest = [&](int r, int g, int b) {
        return CDitherDibAccess::Closest(CDitherDibAccess::SortedPalette(),
                                         CDitherDibAccess::RedIndex(), n, r, g, b);
    };
    if (h.biBitCount == 8) {
        const auto* table = reinterpret_cast<const RGBQUAD*>(src.header.data() + h.biSize);
        return literal::dither(h.biWidth, rows, src.bits.data(), 8, table, palette, n, destBits,
                               cache, closest);
    }
    return literal::dither(h.biWidth, rows, src.seen24.data(), 24, nullptr, palette, n, destBits,
                           cache, closest);
}

// A lookup file that ends a little after its first 3,000 entries (the rest are empty), holding
// empty marks (both kinds), indices just past either palette and beyond any, and plausible values.
std::vector<BYTE> DamagedLookupFile(unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<BYTE> bytes(6001);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const WORD choices[] = {0xFFFF, 0x7FFF, WORD(16 + rng() % 2 * 240), WORD(rng() % 16),
                                WORD(rng() % 0x7FFF)};
        bmpfile::put(bytes, i, choices[rng() % 5], 2);
    }
    return bytes;
}

} // namespace

class DitherLoop : public FreshDitherProcess {};

// The library's loop against the reference over every source layout (24-bit images of every
// kind, random ones in the others), palette and state of the lookup file (indices outside the
// palette become 0), on odd, tiny and top-down sizes.
TEST_F(DitherLoop, GivesTheReferenceBytesForEveryLayoutAndSize) {
    using testimg::Kind;
    const struct {
        const char* name;
        int bits;
        DWORD compression;
        DWORD masks[3];
        int colours;
        int header;
    } layouts[] = {
        {"24", 24, BI_RGB, {}, 0, 40},
        {"32", 32, BI_RGB, {}, 0, 40}, // the fourth byte means nothing
        {"16 5-5-5", 16, BI_RGB, {}, 0, 40},
        {"16 5-6-5 masks, 108-byte header", 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, 0, 108},
        {"32 masks, red low", 32, BI_BITFIELDS, {0x0000FF, 0x00FF00, 0xFF0000}, 0, 40},
        {"8 indexed", 8, BI_RGB, {}, 256, 40},
    };
    const struct {
        int width, height;
    } sizes[] = {{1, 1}, {2, 3}, {3, 7}, {7, 5}, {64, 40}, {333, 17}, {5, -9}};
    unsigned seed = 1;
    for (bool lookupFile : {false, true}) {
        for (int destBits : {8, 4}) {
            const RGBQUAD* palette =
                destBits == 8 ? CDitherDib::Win256Palette : CDitherDib::Win16Palette;
            for (const auto& layout : layouts) {
                for (Kind kind : {Kind::Photo, Kind::Gradient, Kind::Noise, Kind::PaletteExact}) {
                    if (layout.bits != 24 && kind != Kind::Noise) {
                        continue; // the other layouts hold random pixels
                    }
                    for (const auto& size : sizes) {
                        ++seed;
                        Forget();
                        if (lookupFile) {
                            bmpfile::write(destBits == 8 ? "256lkup.dat" : "16lkup.dat",
                                           DamagedLookupFile(seed));
                        }
                        const int rows = size.height < 0 ? -size.height : size.height;
                        const testimg::Source src =
                            layout.bits == 24
                                ? testimg::source24(testimg::make24(kind, size.width, rows, seed,
                                                                    palette,
                                                                    destBits == 8 ? 256 : 16),
                                                    size.width, size.height)
                                : testimg::random_source(
                                      {"",
                                       layout.header,
                                       size.width,
                                       rows,
                                       layout.bits,
                                       layout.compression,
                                       size.height < 0,
                                       {layout.masks[0], layout.masks[1], layout.masks[2]},
                                       layout.colours,
                                       0,
                                       false},
                                      seed);
                        SCOPED_TRACE(std::string(lookupFile ? "damaged file " : "no file ") +
                                     std::to_string(destBits) + "-bit " + layout.name + " " +
                                     testimages::Name(kind) + " " + std::to_string(size.width) +
                                     "x" + std::to_string(size.height));
                        const Dithered got = RunLibrary(src, destBits);
                        ASSERT_EQ(got.rows, RunReference(src, destBits));
                    }
                }
            }
        }
    }
}

// Two pixels to a byte, the left one in the high nibble; an odd row ends with a low nibble of 0
// and every row starts on a 4-byte boundary.
TEST_F(DitherLoop, FourBitRowsPackHighNibbleFirst) {
    // Two rows of red, green, blue, white, red (blue, green, red bytes), padded to 16 bytes.
    std::vector<BYTE> rows;
    for (int y = 0; y < 2; ++y) {
        rows.insert(rows.end(), {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 0, 0, 255, 0});
    }
    const auto src = testimg::source24(rows, 5, 2);
    const Dithered got = RunLibrary(src, 4);
    // red 12, green 10, blue 9, white 15, red 12
    const std::vector<BYTE> want = {0xCA, 0x9F, 0xC0, 0x00, 0xCA, 0x9F, 0xC0, 0x00};
    EXPECT_EQ(got.rows, want);
}

TEST_F(DitherLoop, BlockHoldsHeaderFixedTableAndRows) {
    const int width = 13, height = -6; // top-down stays top-down
    const auto rgb = testimg::make24(testimg::Kind::Photo, width, 6, 3);
    const auto src = testimg::source24(rgb, width, height);
    for (int bits : {8, 4, 1}) {
        Forget();
        HGLOBAL block = CDitherDibAccess::DitherDIB(src.info(), src.bits.data(), bits);
        ASSERT_NE(block, nullptr);
        const int outBits = bits == 8 ? 8 : 4; // 4 or less is served at 4 bits
        const int colours = outBits == 8 ? 256 : 16;
        const std::size_t rowsBytes = static_cast<std::size_t>(bmpfile::stride(width, outBits)) * 6;
        EXPECT_EQ(GlobalSize(block), 40 + colours * 4 + rowsBytes);
        const auto* h = static_cast<const BITMAPINFOHEADER*>(GlobalLock(block));
        const DWORD n = static_cast<DWORD>(colours);
        const BITMAPINFOHEADER want = {40, width, height, 1, WORD(outBits), BI_RGB, 0, 0, 0, n, n};
        EXPECT_EQ(std::memcmp(h, &want, sizeof(want)), 0) << bits;
        EXPECT_EQ(std::memcmp(h + 1,
                              outBits == 8 ? CDitherDib::Win256Palette : CDitherDib::Win16Palette,
                              colours * 4),
                  0);
        GlobalUnlock(block);
        GlobalFree(block);
    }
}

TEST_F(DitherLoop, RefusesWhatItCannotWriteOrRead) {
    const auto rgb = testimg::make24(testimg::Kind::Noise, 4, 4, 5);
    auto src = testimg::source24(rgb, 4, 4);
    // Displays other than 4 or 8 bits (and 4 or less) get no block.
    for (int bits : {16, 24, 32, 5, 7}) {
        EXPECT_EQ(CDitherDibAccess::DitherDIB(src.info(), src.bits.data(), bits), nullptr) << bits;
    }
    EXPECT_EQ(CDitherDibAccess::DitherDIB(nullptr, src.bits.data(), 8), nullptr);
    EXPECT_EQ(CDitherDibAccess::DitherDIB(src.info(), nullptr, 8), nullptr);

    // Sources of 4 bits or fewer, other depths and compressed rows are refused.
    const struct {
        WORD bits;
        DWORD compression;
    } bad[] = {{4, BI_RGB}, {1, BI_RGB}, {8, BI_RLE8}, {24, BI_BITFIELDS}, {24, 4}, {12, BI_RGB}};
    for (const auto& b : bad) {
        auto* h = reinterpret_cast<BITMAPINFOHEADER*>(src.header.data());
        h->biBitCount = b.bits;
        h->biCompression = b.compression;
        EXPECT_EQ(CDitherDibAccess::DitherDIB(src.info(), src.bits.data(), 8), nullptr)
            << b.bits << "/" << b.compression;
    }

    // A destination deeper than 8 bits.
    const auto good = testimg::source24(rgb, 4, 4);
    std::vector<BYTE> dest(40 + 1024 + 64, 0);
    auto* d = reinterpret_cast<BITMAPINFOHEADER*>(dest.data());
    *d = *good.info();
    d->biBitCount = 16;
    EXPECT_EQ(CDitherDibAccess::DitherImageEx(dest.data() + 1064, d, good.bits.data(), good.info()),
              0);
}

TEST(DibGlobalReAlloc, KeepsTheLeadingBytesAndFreesTheOldBlock) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 8);
    ASSERT_NE(block, nullptr);
    std::memcpy(GlobalLock(block), "abcdefgh", 8);
    GlobalUnlock(block);

    // Refusals leave the block as it was.
    EXPECT_EQ(CDitherDibAccess::DibGlobalReAlloc(block, 0), nullptr);
    EXPECT_EQ(CDitherDibAccess::DibGlobalReAlloc(nullptr, 16), nullptr);
    EXPECT_EQ(GlobalSize(block), 8u);

    HGLOBAL grown = CDitherDibAccess::DibGlobalReAlloc(block, 12);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(GlobalSize(grown), 12u);
    EXPECT_EQ(std::memcmp(GlobalLock(grown), "abcdefgh", 8), 0);
    GlobalUnlock(grown);

    HGLOBAL shrunk = CDitherDibAccess::DibGlobalReAlloc(grown, 3);
    ASSERT_NE(shrunk, nullptr);
    EXPECT_EQ(GlobalSize(shrunk), 3u);
    EXPECT_EQ(std::memcmp(GlobalLock(shrunk), "abc", 3), 0);
    GlobalUnlock(shrunk);
    GlobalFree(shrunk);
}
