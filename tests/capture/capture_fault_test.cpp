// Every creation the BMP writer and the capture make is made to fail in turn: the results stay
// those of a failure (NULL, 0) or, for the capture, 1 with no file, and nothing made before the
// failure is left behind.
#include "capture/bmp_file.h"
#include "fault_sweep.h"
#include "platform/host.h"

#include <Image.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Display {
    explicit Display(int bits) {
        host::DisplayMode mode;
        mode.width = 120;
        mode.height = 90;
        mode.bits_per_pixel = bits;
        ok = host::set_display_mode(mode);
    }
    ~Display() { host::reset_display(); }
    bool ok;
};

TEST(CaptureFaults, BitmapInfoStructFailsWithNull) {
    HBITMAP bmp = CreateBitmap(9, 4, 1, 8, nullptr);
    PBITMAPINFO pbi = nullptr;
    const unsigned count =
        sweep_creations([] {}, [&] { pbi = CImage::CreateBitmapInfoStruct(bmp); },
                        [&](unsigned failed) {
                            EXPECT_EQ(pbi == nullptr, failed != 0);
                            if (pbi != nullptr) {
                                LocalFree(pbi);
                            }
                        });
    EXPECT_EQ(count, 1u); // the block
    DeleteObject(bmp);
}

TEST(CaptureFaults, BmpFileFailsWithZeroAndNoFile) {
    HDC screen = GetDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 13, 5);
    PBITMAPINFO pbi = CImage::CreateBitmapInfoStruct(bmp);
    ASSERT_NE(pbi, nullptr);
    const BITMAPINFOHEADER saved = pbi->bmiHeader;
    int result = -1;
    const unsigned count = sweep_creations(
        [&] {
            std::remove("fault.bmp");
            pbi->bmiHeader = saved;
        },
        [&] { result = CImage::CreateBMPFile(const_cast<char*>("fault.bmp"), pbi, bmp, screen); },
        [&](unsigned failed) {
            EXPECT_EQ(result, failed == 0 ? 1 : 0);
            EXPECT_EQ(bmpfile::Exists("fault.bmp"), failed == 0);
        });
    EXPECT_EQ(count, 2u); // the pixel buffer and the file
    LocalFree(pbi);
    DeleteObject(bmp);
    ReleaseDC(nullptr, screen);
}

// The JPEG path (32 bits), the path that converts through GetDIBits (4 bits) and the BMP path
// (8 bits): each failure writes no file and returns 1; on the BMP path the file's open is the
// last creation, and its failure is the one "write error".
TEST(CaptureFaults, CaptureReturnsOneAndWritesNothing) {
    for (int bits : {32, 4, 8}) {
        SCOPED_TRACE(std::to_string(bits) + " bpp");
        Display display(bits);
        ASSERT_TRUE(display.ok);
        const std::string file = bits == 8 ? "fault.bmp" : "fault.jpg";
        std::vector<std::string> boxes;
        host::set_message_box_handler([&](HWND, const char* text, const char*, UINT) {
            boxes.push_back(text);
            return IDOK;
        });
        // The display context, the memory context, the copy, the two buffers and the file, and
        // on palette displays the palette entries before the buffers.
        const unsigned expected = bits == 32 ? 6u : 7u;
        int result = -1;
        RECT rect;
        const unsigned total = sweep_creations(
            [&] {
                std::remove(file.c_str());
                boxes.clear();
                rect = RECT{3, 5, 43, 25};
            },
            [&] {
                result =
                    CImage::CaptureWindowToFile(nullptr, &rect, const_cast<char*>("fault.jpg"));
            },
            [&](unsigned failed) {
                EXPECT_EQ(result, 1);
                EXPECT_EQ(rect.left, 0);
                EXPECT_EQ(rect.bottom, 24);
                EXPECT_EQ(bmpfile::Exists(file), failed == 0);
                const bool openFailed = bits == 8 && failed == expected;
                EXPECT_EQ(boxes, std::vector<std::string>(openFailed ? 1 : 0, "write error"));
                std::remove(file.c_str());
            });
        EXPECT_EQ(total, expected);
        host::set_message_box_handler({});
    }
}

} // namespace
