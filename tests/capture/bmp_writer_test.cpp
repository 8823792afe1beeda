// CImage::CreateBitmapInfoStruct and CreateBMPFile: the block and the file layout for every
// depth, pixels read back from the file equal to GetPixel on the bitmap (and, natively, to what
// Pillow reads), and bad input refused without a file.
#include "image/strip_fixtures.h"
#include "support/bmp_builder.h"

#include <Image.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Source {
    const char* kind; // "section" (a DIB section), "ddb" (display format) or "mono" (1-bit DDB)
    int bits;         // for sections
    int width, height;
    bool topDown;  // sections only
    DWORD offBits; // where the file's rows must start
};

// A bitmap of the kind with pseudo-random pixels (a section below 16 bits: a table of its own).
HBITMAP Make(const Source& s, HDC screen, std::uint32_t seed) {
    const std::string kind = s.kind;
    if (kind == "section") {
        std::vector<DWORD> table; // blue, green, red
        for (DWORD i = 0; s.bits <= 8 && i < (1u << s.bits); ++i) {
            table.push_back(((255 - i * 13) & 0xFF) | ((i * 91 + 11) & 0xFF) << 8 |
                            ((i * 37 + 5) & 0xFF) << 16);
        }
        return bmpfile::section(s.width, s.topDown ? -s.height : s.height, s.bits,
                                bmpfile::pattern_rows(s.width, s.height, s.bits, seed), table);
    }
    HBITMAP bmp = kind == "mono" ? CreateBitmap(s.width, s.height, 1, 1, nullptr)
                                 : CreateCompatibleBitmap(screen, s.width, s.height);
    const bmpfile::Bytes rgb = bmpfile::pattern_rows(s.width, s.height, 32, seed);
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), s.width, s.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    if (bmp != nullptr &&
        SetDIBits(screen, bmp, 0, s.height, rgb.data(), &bi, DIB_RGB_COLORS) != s.height) {
        DeleteObject(bmp);
        bmp = nullptr;
    }
    return bmp;
}

// 16-bit files hold 5 bits a channel: colours are compared in those.
COLORREF Mask(COLORREF c, int bits) {
    return bits == 16 ? c & 0xF8F8F8 : c;
}

TEST(BmpWriter, FilesOfEveryDepthGiveTheBitmapsPixels) {
    HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    const int displayBits = GetDeviceCaps(screen, BITSPIXEL);
    std::vector<Source> sources;
    const DWORD offBits[] = {0, 62, 0, 0, 118, 0, 0, 0, 1078};
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        const DWORD off = bits <= 8 ? offBits[bits] : bits == 16 ? 262198 : 54;
        for (int width : {1, 3, 5, 33}) {
            for (bool topDown : {false, true}) {
                sources.push_back({"section", bits, width, 7, topDown, off});
            }
        }
    }
    sources.push_back({"section", 24, 10, 3, false, 54}); // rows of 30 bytes padded to 32
    const DWORD displayOff = displayBits == 8 ? 1078 : displayBits == 16 ? 262198 : 54;
    sources.push_back({"ddb", displayBits, 33, 5, false, displayOff});
    sources.push_back({"ddb", displayBits, 3, 4, false, displayOff});
    sources.push_back({"mono", 1, 33, 5, false, 62});

    std::ofstream list("writer.list");
    std::uint32_t seed = 1;
    for (const Source& s : sources) {
        const std::string name = std::string(s.kind) + std::to_string(s.bits) + "_w" +
                                 std::to_string(s.width) + "x" + std::to_string(s.height) +
                                 (s.topDown ? "_topdown" : "");
        SCOPED_TRACE(name);
        HBITMAP bmp = Make(s, screen, seed++);
        ASSERT_NE(bmp, nullptr);

        PBITMAPINFO pbi = CImage::CreateBitmapInfoStruct(bmp);
        ASSERT_NE(pbi, nullptr);
        const DWORD colors = s.bits < 24 ? DWORD{1} << s.bits : 0;
        const DWORD sizeImage = DWORD((s.width * s.bits + 31) / 32 * 4 * s.height);
        const BITMAPINFOHEADER header = {40, s.width, s.height, 1, WORD(s.bits), BI_RGB, sizeImage,
                                         0,  0,       colors,   0};
        EXPECT_EQ(std::memcmp(&pbi->bmiHeader, &header, sizeof header), 0);
        // 2^bits entries of room below 24 bits, none at 24, one at 32.
        EXPECT_EQ(LocalSize(pbi), 40 + 4 * (s.bits == 32 ? 1 : colors));

        const std::string file = name + ".bmp";
        ASSERT_EQ(CImage::CreateBMPFile(const_cast<char*>(file.c_str()), pbi, bmp, screen), 1);
        LocalFree(pbi);

        const bmpfile::File f = bmpfile::Load(file);
        ASSERT_TRUE(f.HasHeaders());
        EXPECT_EQ(f.FileSize(), f.bytes.size());
        EXPECT_EQ(f.OffBits(), s.offBits);
        EXPECT_EQ(f.bytes.size(), s.offBits + sizeImage);
        EXPECT_EQ(std::memcmp(&f.bytes[14], &header, 24), 0); // the same header to biSizeImage
        ASSERT_TRUE(f.RowsFit());
        // GetPixel of every pixel, top row first (the canvas deletes the bitmap).
        const std::vector<COLORREF> want = strip_fixtures::Canvas(bmp).Pixels();
        for (int y = 0, i = 0; y < s.height; ++y) {
            for (int x = 0; x < s.width; ++x, ++i) {
                ASSERT_EQ(Mask(f.Color(x, y), s.bits), Mask(want[i], s.bits))
                    << "pixel (" << x << ", " << y << ")";
            }
        }
        bmpfile::WritePpm(name + ".ppm", s.width, s.height, want);
        list << "bmp " << file << " " << name << ".ppm " << (s.bits == 16 ? "0xF8" : "0xFF")
             << "\n";
    }
    list.close();
    ReleaseDC(nullptr, screen);
#ifndef _WIN32
    EXPECT_EQ(bmpfile::CheckWithOutsideDecoders("writer.list"), "");
#endif
}

TEST(BmpWriter, RefusesWhatItCannotDescribeOrWrite) {
    HDC screen = GetDC(nullptr);
    HBITMAP bmp = Make({"section", 24, 10, 3, false, 54}, screen, 7);
    ASSERT_NE(bmp, nullptr);
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HBITMAP gone = CreateBitmap(4, 4, 1, 1, nullptr);
    DeleteObject(gone);

    EXPECT_EQ(CImage::CreateBitmapInfoStruct(nullptr), nullptr);
    EXPECT_EQ(CImage::CreateBitmapInfoStruct(reinterpret_cast<HBITMAP>(brush)), nullptr);
    EXPECT_EQ(CImage::CreateBitmapInfoStruct(gone), nullptr);

    PBITMAPINFO pbi = CImage::CreateBitmapInfoStruct(bmp);
    ASSERT_NE(pbi, nullptr);
    const BITMAPINFOHEADER saved = pbi->bmiHeader;
    CreateDirectoryA("folder.bmp", nullptr);
    struct Case {
        const char* name;
        const char* file;
        HBITMAP bitmap;
        bool withBlock;
        DWORD sizeImage; // the block's biSizeImage
    } cases[] = {
        {"not a bitmap", "brush.bmp", reinterpret_cast<HBITMAP>(brush), true, 96},
        {"deleted bitmap", "gone.bmp", gone, true, 96},
        {"no block", "noblock.bmp", bmp, false, 96},
        {"rows larger than biSizeImage", "short.bmp", bmp, true, 95},
        {"missing directory", "no-such-dir/x.bmp", bmp, true, 96},
        {"a directory", "folder.bmp", bmp, true, 96},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pbi->bmiHeader = saved;
        pbi->bmiHeader.biSizeImage = c.sizeImage;
        EXPECT_EQ(CImage::CreateBMPFile(const_cast<char*>(c.file), c.withBlock ? pbi : nullptr,
                                        c.bitmap, screen),
                  0);
        if (std::string(c.file) != "folder.bmp") {
            EXPECT_FALSE(bmpfile::Exists(c.file));
        }
    }
    RemoveDirectoryA("folder.bmp");

    // A block made for another bitmap describes the file; the pixels come from this one.
    HBITMAP small8 = Make({"section", 8, 6, 2, false, 1078}, screen, 8);
    PBITMAPINFO other = CImage::CreateBitmapInfoStruct(small8);
    ASSERT_NE(other, nullptr);
    // An existing longer file is replaced.
    std::ofstream("other.bmp", std::ios::binary) << std::string(5000, 'x');
    EXPECT_EQ(CImage::CreateBMPFile(const_cast<char*>("other.bmp"), other, bmp, screen), 1);
    const bmpfile::File f = bmpfile::Load("other.bmp");
    ASSERT_TRUE(f.HasHeaders());
    EXPECT_EQ(f.bytes.size(), 1078u + 8 * 2);
    EXPECT_EQ(f.FileSize(), f.bytes.size());
    EXPECT_EQ(f.Width(), 6);
    EXPECT_EQ(f.BitCount(), 8);

    LocalFree(other);
    LocalFree(pbi);
    DeleteObject(small8);
    DeleteObject(bmp);
    DeleteObject(brush);
    ReleaseDC(nullptr, screen);
}

} // namespace
