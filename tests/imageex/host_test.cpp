// CImageEx tests that need our platform's host API or the library's insides: the pixel loops
// against the literal rules, the reload when the display's depth changes, keys matched in the
// 16-bit screen format, and files the reader refuses, with live object counts. (What loading,
// drawing and copying leave behind at each depth is counted by the fault sweeps.)
#include "imageex/imageex_fixture.h"
#include "imageex/imageex_internal.h"

#include "fault_sweep.h"
#include "support/host_display.h"

#include <afxcmn.h>
#include <platform/host.h>

#include <cstdio>
#include <random>

using namespace imageex_test;
using testhost::SetDepth;

namespace {

class ImageExHost : public ::testing::Test {
protected:
    void TearDown() override { host::reset_display(); }
};

} // namespace

// ---- Pixel loops ------------------------------------------------------------------------------

// Every set of row loops against the literal rules on random rows: every width from 1 to 67 and
// long rows of several full registers of every set and a tail, every weight from -5 to 300 (bounded
// as the drawing operations bound them), each depth, with and without keys (present or absent),
// random fourth bytes and bit 15.
TEST(ImageExKernels, RowLoopsFollowTheLiteralRules) {
    std::vector<int> widths;
    for (int w = 1; w <= 67; ++w) {
        widths.push_back(w);
    }
    widths.insert(widths.end(), {131, 269, 533});
    for (const EffectKernels* set : EffectKernelSets()) {
        SCOPED_TRACE(set->name);
        std::printf("row loops checked: %s\n", set->name);
        std::mt19937 rng(2024);
        const auto fill = [&](std::vector<BYTE>& v) {
            for (BYTE& b : v) {
                b = static_cast<BYTE>(rng());
            }
        };
        for (int bpp : {16, 24, 32}) {
            for (int w : widths) {
                const int h = 1 + w % 3;
                const int rowBytes = ((bpp * w + 31) >> 3) & ~3;
                std::vector<BYTE> frame(static_cast<size_t>(rowBytes) * h), dest(frame.size());
                for (int keyState = 0; keyState < 3; ++keyState) {
                    fill(frame);
                    fill(dest);
                    // keyState 0: no key test; 1: the key of the frame's first pixel (so it
                    // occurs); 2: a key tested but not present.
                    COLORREF key = RGB(frame[2], frame[1], frame[0]);
                    if (bpp == 16) {
                        frame[1] &= 0x7F;
                        const unsigned word = frame[0] | frame[1] << 8;
                        key = RGB(((word >> 10) & 31) << 3, ((word >> 5) & 31) << 3,
                                  (word & 31) << 3);
                    }
                    for (size_t i = bpp / 8 * 5; keyState == 1 && i + 3 < frame.size(); i += 13) {
                        std::copy(frame.begin(), frame.begin() + bpp / 8, frame.begin() + i);
                    }
                    if (keyState == 2) {
                        key = 0xFF000000; // never equal to a pixel
                    }
                    for (int alpha = -5; alpha <= 300; ++alpha) {
                        const int a = std::clamp(alpha, 0, 256);
                        std::vector<BYTE> want = dest, got = dest;
                        literal::MixAlpha(bpp, frame.data(), want.data(), w, h, rowBytes, a,
                                          keyState != 0, key);
                        set->mixAlpha(bpp, frame.data(), got.data(), w, h, rowBytes, a,
                                      keyState != 0, key);
                        ASSERT_EQ(want, got) << "bpp " << bpp << ", width " << w << ", alpha " << a
                                             << ", key state " << keyState;
                    }
                    for (int op = 0; op < 9; ++op) {
                        const COLORREF tint = rng();
                        std::vector<BYTE> want = dest, got = dest;
                        literal::Colorize(bpp, frame.data(), want.data(), w, h, rowBytes, tint,
                                          op % 3 != 0 && keyState != 0, op % 3 == 2, key);
                        set->colorize(bpp, frame.data(), got.data(), w, h, rowBytes, tint,
                                      op % 3 != 0 && keyState != 0, op % 3 == 2, key);
                        ASSERT_EQ(want, got) << "bpp " << bpp << ", width " << w << ", op " << op
                                             << ", key state " << keyState;
                    }
                }
            }
        }
    }
}

// The row size the effects read frames and destinations in, for frames as wide as the reader
// takes (rows of 32 bits that fit an int, up to 536,870,911 pixels): from 2^26 pixels on, the bit
// count of a 32-bit row passes an int. (Counted in an int, a frame 2^27 + 1000 pixels wide gets
// rows of 4,000 bytes, and GetDIBits writes 512 MB into them.)
TEST(ImageExKernels, RowSizesOfTheWidestFrames) {
    const struct {
        int bpp;
        int width;
        int bytes;
    } rows[] = {
        {24, 5, 16},
        {32, 1 << 26, 1 << 28},
        {32, (1 << 27) + 1000, 4 * ((1 << 27) + 1000)},
        {32, 536870911, 2147483644},
        {24, 536870911, 1610612736},
        {16, 536870911, 1073741824},
        {1, 536870911, 67108864},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.bpp << " bits, " << r.width << " pixels");
        EXPECT_EQ(PaddedRowBytes(r.bpp, r.width), r.bytes);
    }
}

// ---- Display depth -----------------------------------------------------------------------------

// Drawing on a device of another depth reads the file again and rebuilds the bitmaps (and the
// image list) for the screen; when the file has gone, the old bitmaps stay and are drawn.
TEST_F(ImageExHost, DepthChangeRebuildsFromTheFile) {
    SetDepth(32);
    const Picture picture{
        4, 1, {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255)}};
    const std::string name = WriteFile("reload.bmp", StripFile(picture, 24));
    for (int listMode : {0, 1}) {
        SCOPED_TRACE(listMode);
        SetDepth(32);
        CImageEx image;
        ASSERT_EQ(image.Create(nullptr, name.c_str(), 2, RGB(0, 0, 255), 0, listMode), 1);
        const auto depthOf = [](HBITMAP bitmap) {
            BITMAP bm = {};
            GetObjectA(bitmap, sizeof(bm), &bm);
            return bm.bmBitsPixel;
        };
        ASSERT_EQ(depthOf(CImageExProbe::Bitmap(image)), 32);

        SetDepth(16);
        {
            Canvas canvas(2, 1);
            EXPECT_EQ(image.Draw(canvas.dc(), 0, 0, 1), 1);
            EXPECT_EQ(CImageExProbe::SystemBitCount(image), 16);
            EXPECT_EQ(depthOf(CImageExProbe::Bitmap(image)), 16);
            EXPECT_TRUE(
                SamePicture(Picture{2, 1, {RGB(0, 0, 255), RGB(255, 255, 255)}}, canvas.Read()));
            if (listMode) {
                IMAGEINFO info = {};
                ASSERT_TRUE(ImageList_GetImageInfo(CImageExProbe::ImageList(image)->m_hImageList, 0,
                                                   &info));
                EXPECT_EQ(depthOf(info.hbmImage), 16);
            }
        }

        // The file goes; the next change of depth keeps the 16-bit strip.
        ASSERT_TRUE(DeleteFileA(name.c_str()));
        const HBITMAP hKept = CImageExProbe::Bitmap(image);
        SetDepth(32);
        {
            Canvas canvas(2, 1);
            EXPECT_EQ(image.DrawTransparent(canvas.dc(), 0, 0, 0), 1);
            EXPECT_EQ(CImageExProbe::SystemBitCount(image), 32);
            EXPECT_EQ(CImageExProbe::Bitmap(image), hKept);
            EXPECT_EQ(depthOf(CImageExProbe::Bitmap(image)), 16);
        }
        WriteFile(name, StripFile(picture, 24));
    }
}

// At 16 bits a colour key matches every colour that the screen format stores alike, on the
// blit path (monochrome mask) and in the effects (5-bit words).
TEST_F(ImageExHost, KeysMatchInTheScreenFormat) {
    SetDepth(16);
    const COLORREF key = RGB(8, 16, 24);
    const COLORREF nearKey = RGB(12, 17, 30); // same 5-6-5 and 5-5-5 values as the key
    const COLORREF other = RGB(200, 40, 90);
    const Picture picture{2, 1, {nearKey, other}};
    const std::string name = WriteFile("band.bmp", StripFile(picture, 24));
    CImageEx image;
    ASSERT_EQ(image.Create(nullptr, name.c_str(), 1, key, 0, 0), 1);
    const Picture background{2, 1, {RGB(255, 255, 255), RGB(255, 255, 255)}};
    for (int op = 0; op < 3; ++op) {
        SCOPED_TRACE(op);
        Canvas canvas(background);
        if (op == 0) {
            image.DrawTransparent(canvas.dc(), 0, 0, 0);
        } else if (op == 1) {
            image.DrawAlphaTransparent(canvas.dc(), 0, 0, 0, 0);
        } else {
            image.DrawColorizeTransparent(canvas.dc(), 0, 0, 0, RGB(255, 255, 255));
        }
        const Picture after = canvas.Read();
        EXPECT_EQ(after.at(0, 0), RGB(255, 255, 255)); // the near-key pixel is keyed out
        EXPECT_NE(after.at(1, 0), RGB(255, 255, 255));
    }
}

// ---- Live objects -----------------------------------------------------------------------------

// A refused file returns 0 and changes nothing: an empty object stays empty, a loaded one keeps
// its strip, image list and geometry, and nothing is left open or allocated. The files: each way
// a header can be wrong, and the file of every depth cut short at every byte.
TEST_F(ImageExHost, RefusedFilesChangeNothingAndLeakNothing) {
    const std::vector<COLORREF> two = {RGB(0, 0, 0), RGB(9, 9, 9)};
    const std::vector<COLORREF> table = {two[0], two[1], RGB(255, 0, 0), RGB(0, 0, 255)};
    const Picture picture = RandomPicture(6, 3, two, 3);
    const std::vector<BYTE> good8 = StripFile(picture, 8, table, 4);
    const std::vector<BYTE> good24 = StripFile(picture, 24);
    const auto with = [](std::vector<BYTE> b, size_t at, DWORD v, int bytes = 4) {
        bmpfile::put(b, at, v, bytes);
        return b;
    };
    struct BadFile {
        std::string name;
        std::vector<BYTE> bytes;
        int nImageNum = 1;
    };
    std::vector<BadFile> bad = {
        {"wrong magic", with(good24, 0, 'M' | 'B' << 8, 2)},
        {"core header", with(good24, 14, 12)},
        {"larger header", with(good24, 14, 108)},
        {"RLE8", with(good8, 30, BI_RLE8)},
        {"bit fields", with(good24, 30, BI_BITFIELDS)},
        {"top-down", with(good24, 22, static_cast<DWORD>(-3))},
        {"zero width", with(good24, 18, 0)},
        {"negative width", with(good24, 18, static_cast<DWORD>(-6))},
        {"zero height", with(good24, 22, 0)},
        {"0 bits", with(good24, 28, 0, 2)},
        {"2 bits", with(good24, 28, 2, 2)},
        {"64 bits", with(good24, 28, 64, 2)},
        {"257 colours", with(good8, 46, 257)},
        {"4 billion colours", with(good8, 46, 0xFFFFFFFF)},
        {"absurd width", with(good24, 18, 0x7FFFFFFF)},
        {"absurd height", with(good24, 22, 0x7FFFFFFF)},
        {"wide and tall", with(with(good24, 18, 0x10000), 22, 0x10000)},
        {"more frames than columns", good24, 7},
    };
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        const std::vector<COLORREF> t = bits == 1   ? two
                                        : bits <= 8 ? table
                                                    : std::vector<COLORREF>{};
        const std::vector<BYTE> whole = StripFile(picture, bits, t, static_cast<DWORD>(t.size()));
        for (size_t n = 0; n < whole.size(); ++n) {
            bad.push_back({std::to_string(bits) + " bits cut to " + std::to_string(n) + " bytes",
                           std::vector<BYTE>(whole.begin(), whole.begin() + static_cast<long>(n))});
        }
    }
    CImageEx loaded;
    ASSERT_EQ(loaded.Create(nullptr, WriteFile("good.bmp", good24).c_str(), 2, 0, 0, 1), 1);
    const HBITMAP hKept = CImageExProbe::Bitmap(loaded);
    CImageList* const kept = CImageExProbe::ImageList(loaded);
    const fault_sweep::LiveCounts before = fault_sweep::LiveCounts::now();
    for (const BadFile& b : bad) {
        SCOPED_TRACE(b.name);
        const std::string name = WriteFile("bad.bmp", b.bytes);
        CImageEx empty;
        ASSERT_EQ(empty.Create(nullptr, name.c_str(), b.nImageNum, 0, 0, 1), 0);
        EXPECT_EQ(CImageExProbe::Bitmap(empty), nullptr);
        EXPECT_EQ(CImageExProbe::Palette(empty), nullptr);
        EXPECT_EQ(CImageExProbe::ImageList(empty), nullptr);
        ASSERT_EQ(loaded.Create(nullptr, name.c_str(), b.nImageNum, 0, 0, 1), 0);
        EXPECT_EQ(CImageExProbe::Bitmap(loaded), hKept);
        EXPECT_EQ(CImageExProbe::ImageList(loaded), kept);
        EXPECT_EQ(CImageExProbe::Width(loaded), 6 / 2);
        EXPECT_STREQ(CImageExProbe::FileName(loaded), "bad.bmp");
    }
    EXPECT_EQ(fault_sweep::LiveCounts::now(), before);
}
