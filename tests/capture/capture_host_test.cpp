// The capture and the BMP writer seen through the host: files compared with the raw framebuffer
// at the depths Wine and the library test do not have (the device values themselves), the
// "write error" message and full disks, with live objects, memory blocks and files counted around
// each call. Native only: Wine keeps 16-bit memory bitmaps at 5-5-5 and has no host API. (Every
// creation of the capture made to fail in turn: in the API fault sweep.)
#include "support/bmp_builder.h"
#include "capture/jpeg_reference.h"
#include "fault_sweep.h"
#include "platform/host.h"
#include "support/host_display.h"

#include <Image.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using fault_sweep::LiveCounts;

// While alive, files of the process cannot grow past `bytes`; a write beyond fails (EFBIG)
// instead of raising SIGXFSZ.
struct FileSizeLimit {
    rlimit saved{};
    void (*oldHandler)(int) = nullptr;
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    }
};

struct Display {
    explicit Display(int bits, int w = 157, int h = 61) { testhost::SetDepth(bits, w, h); }
    ~Display() { host::reset_display(); }
};

// The encoder's input the capture must give for the framebuffer over r: 24-bit device values as
// they are, 4-bit indices as their palette colour.
std::vector<std::uint8_t> ExpectedEncoderInput(const RECT& r) {
    const host::Framebuffer fb = host::screen_framebuffer();
    PALETTEENTRY palette[16] = {};
    HDC dc = GetDC(nullptr);
    GetSystemPaletteEntries(dc, 0, 16, palette);
    ReleaseDC(nullptr, dc);
    const int w = r.right - r.left, h = r.bottom - r.top;
    const int stride = reference::Stride(w);
    std::vector<std::uint8_t> out(std::size_t(stride) * h, 0);
    for (int y = 0; y < h; ++y) {
        const BYTE* row = fb.bits + std::size_t(fb.stride) * (r.top + y);
        for (int x = r.left; x < r.right; ++x) {
            std::uint8_t* bgr = &out[std::size_t(y) * stride + 3 * (x - r.left)];
            if (fb.bits_per_pixel == 24) {
                std::memcpy(bgr, row + std::size_t(x) * 3, 3);
                continue;
            }
            const PALETTEENTRY& e = palette[(row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 15];
            bgr[0] = e.peBlue;
            bgr[1] = e.peGreen;
            bgr[2] = e.peRed;
        }
    }
    return out;
}

void FillFramebuffer(std::uint32_t seed) {
    const host::Framebuffer fb = host::screen_framebuffer();
    for (int i = 0; i < fb.stride * fb.height; ++i) {
        seed = seed * 1664525u + 1013904223u;
        fb.bits[i] = static_cast<BYTE>(seed >> 24);
    }
}

// The files of 24- and 4-bit displays, which the library test cannot have (it checks 32, 16 and
// 8 bits against the screen's colours). Byte for byte the literal encoder's file (which the outside
// decoders read in the encoder's tests).
TEST(CaptureHost, FilesHoldTheFramebufferConvertedByTheRule) {
    for (int bits : {24, 4}) {
        SCOPED_TRACE(std::to_string(bits) + " bpp");
        Display display(bits); // 157 wide: rows of no multiple of 4 bytes
        FillFramebuffer(std::uint32_t(bits));
        const std::string name = "host" + std::to_string(bits) + ".jpg";
        EXPECT_EQ(CImage::CaptureWindowToFile(nullptr, nullptr, const_cast<char*>(name.c_str())),
                  1);
        const std::vector<std::uint8_t> input = ExpectedEncoderInput({0, 0, 157, 61});
        EXPECT_TRUE(bmpfile::ReadAll(name) == reference::Encode(157, 61, input.data()));
    }
}

// CreateBMPFile given a handle that is not a bitmap, or a disk that fills up part way: 0, and what
// was written stays. The capture on the BMP path shows "write error" once for a file that cannot
// be opened or written, returns 1 and leaves what was written; on the JPEG path it shows nothing
// and also leaves what was written. Either way nothing is left open or allocated.
TEST(CaptureHost, WriteFailures) {
    // A name that would be longer than a path may be once its extension is "bmp": refused like a
    // file that cannot be opened, never written under a name cut short.
    const std::string longDir(150, 'd');
    const std::string longName = longDir + "/" + std::string(105, 'n');
    CreateDirectoryA(longDir.c_str(), nullptr);
    struct Case {
        const char* name;
        int bits; // display depth for a capture; 0: CreateBMPFile of a 40 x 30 display bitmap
        const char* file;
        long limit;       // file size limit in bytes, 0 for none
        int messages;     // "write error" boxes expected
        const char* left; // the file left behind, if any
        std::size_t leftSize;
    } cases[] = {
        {"not a bitmap", 0, "brush.bmp", 0, 0, nullptr, 0},
        {"writer: disk full in the rows", 0, "full.bmp", 2000, 0, "full.bmp", 2000},
        {"writer: disk full in the file header", 0, "full.bmp", 8, 0, "full.bmp", 8},
        {"missing directory", 8, "no-such-dir/shot.jpg", 0, 1, nullptr, 0},
        {"disk full in the rows", 8, "full.jpg", 1000, 1, "full.bmp", 1000},
        {"disk full in the header", 8, "full2.jpg", 10, 1, "full2.bmp", 10},
        {"name too long with bmp", 8, longName.c_str(), 0, 1, nullptr, 0},
        {"JPEG to a full disk", 32, "full3.jpg", 300, 0, "full3.jpg", 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Display display(c.bits == 0 ? 32 : c.bits, 200, 100);
        FillFramebuffer(5);
        testhost::MessageBoxes boxes;
        HDC screen = GetDC(nullptr);
        HBITMAP bmp = CreateCompatibleBitmap(screen, 40, 30); // 32 bits: 4,800 bytes of rows
        HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
        PBITMAPINFO pbi = CImage::CreateBitmapInfoStruct(bmp);
        ASSERT_NE(pbi, nullptr);
        const LiveCounts before = LiveCounts::now();
        RECT rect = {0, 0, 64, 16};
        {
            std::unique_ptr<FileSizeLimit> limit;
            if (c.limit > 0) {
                limit = std::make_unique<FileSizeLimit>(c.limit);
            }
            if (c.bits != 0) {
                EXPECT_EQ(CImage::CaptureWindowToFile(nullptr, &rect, const_cast<char*>(c.file)),
                          1);
            } else {
                HBITMAP source = c.left == nullptr ? reinterpret_cast<HBITMAP>(brush) : bmp;
                EXPECT_EQ(CImage::CreateBMPFile(const_cast<char*>(c.file), pbi, source, screen), 0);
            }
        }
        EXPECT_EQ(LiveCounts::now(), before) << LiveCounts::now().describe();
        EXPECT_EQ(boxes.shown.size(), std::size_t(c.messages));
        for (const testhost::MessageBoxes::Box& box : boxes.shown) {
            EXPECT_EQ(box.text, "write error");
            EXPECT_EQ(box.type & MB_TYPEMASK, UINT{MB_OK});
        }
        EXPECT_EQ(bmpfile::Exists(c.file), c.left != nullptr && std::string(c.left) == c.file);
        if (c.left != nullptr) {
            EXPECT_EQ(bmpfile::ReadAll(c.left).size(), c.leftSize);
            std::remove(c.left);
        }
        std::remove(c.file);
        LocalFree(pbi);
        DeleteObject(brush);
        DeleteObject(bmp);
        ReleaseDC(nullptr, screen);
    }
    EXPECT_TRUE(RemoveDirectoryA(longDir.c_str())) << "a file was written under a cut name";
}

} // namespace
