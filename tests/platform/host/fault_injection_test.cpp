// Injected creation failures: each kind fails the way Win32 fails, only the armed creation
// fails, creations are counted by kind, and the platform's composite calls release everything
// when one of their creations fails. Running out of C++ heap inside a call is its failure result.
#include <windows.h>

#include <afx.h>
#include <commctrl.h>

#include "fault_sweep.h"
#include "support/bmp_builder.h"
#include "platform/host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

class FaultInjection : public testing::Test {
protected:
    void SetUp() override {
        host::reset_display();
        host::clear_faults();
    }
    void TearDown() override { host::clear_faults(); }
};

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

bool exists(const char* path) {
    return access(path, F_OK) == 0;
}

HBITMAP make_section(int width, int height, void** bits = nullptr) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* ignored = nullptr;
    return CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, bits != nullptr ? bits : &ignored,
                            nullptr, 0);
}

// One call of each kind made to fail: its Win32 failure result and last error, nothing left
// behind, and the same call succeeding once the fault is spent.
struct FailingCall {
    const char* label;
    unsigned kind;
    DWORD error;
    // Makes the object; true when that worked. Releases it again.
    std::function<bool()> make;
    std::function<void()> release;
};

// Loads a file with the address space limited to what is mapped now and a little more, and
// exits 0 when LoadImageA fails for want of memory.
[[noreturn]] void load_with_little_memory(const char* path) {
    // Room for what is mapped now and a little more, not for the decoded image.
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) {
            pages = 0;
        }
        std::fclose(statm);
    }
    const rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (8 << 20);
    const rlimit rl = {limit, limit};
    setrlimit(RLIMIT_AS, &rl);
    HANDLE image =
        LoadImageA(nullptr, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
    _exit(image == nullptr && GetLastError() == ERROR_NOT_ENOUGH_MEMORY ? 0 : 1);
}

} // namespace

TEST_F(FaultInjection, EachKindFailsTheWin32WayAndOnlyOnce) {
    HANDLE handle = nullptr;
    HFILE hfile = HFILE_ERROR;
    HDC dc = nullptr;
    HGDIOBJ object = nullptr;
    HIMAGELIST list = nullptr;
    HGLOBAL block = nullptr;
    CFile file;
    const char* path = "fault_injection.tmp";
    HBITMAP pattern = CreateBitmap(8, 8, 1, 1, nullptr);
    LOGPALETTE pal = {0x300, 1, {{1, 2, 3, 0}}};
    auto gdi = [&](HGDIOBJ h) {
        object = h;
        return h != nullptr;
    };
    auto file_handle = [&](HANDLE h) {
        handle = h;
        return h != INVALID_HANDLE_VALUE;
    };
    auto old_file = [&](HFILE h) {
        hfile = h;
        return h != HFILE_ERROR;
    };
    auto release_gdi = [&] { DeleteObject(object); };
    auto close_file = [&] {
        CloseHandle(handle);
        DeleteFileA(path);
    };
    auto close_old_file = [&] {
        _lclose(hfile);
        DeleteFileA(path);
    };
    const FailingCall calls[] = {
        {"CreateBitmap", host::gdi_object, ERROR_NOT_ENOUGH_MEMORY,
         [&] { return gdi(CreateBitmap(4, 4, 1, 32, nullptr)); }, release_gdi},
        {"CreateDIBSection", host::gdi_object, ERROR_NOT_ENOUGH_MEMORY,
         [&] {
             void* bits = &bits;
             const bool made = gdi(make_section(4, 4, &bits));
             return made && bits != nullptr; // NULL bits when it fails
         },
         release_gdi},
        {"CreatePatternBrush", host::gdi_object, ERROR_NOT_ENOUGH_MEMORY,
         [&] { return gdi(CreatePatternBrush(pattern)); }, release_gdi},
        {"CreatePalette", host::gdi_object, ERROR_NOT_ENOUGH_MEMORY,
         [&] { return gdi(CreatePalette(&pal)); }, release_gdi},
        {"CreateCompatibleDC", host::device_context, ERROR_NOT_ENOUGH_MEMORY,
         [&] { return (dc = CreateCompatibleDC(nullptr)) != nullptr; }, [&] { DeleteDC(dc); }},
        {"GetDC", host::device_context, ERROR_NOT_ENOUGH_MEMORY,
         [&] { return (dc = GetDC(nullptr)) != nullptr; }, [&] { ReleaseDC(nullptr, dc); }},
        {"CreateDCA", host::device_context, ERROR_NOT_ENOUGH_MEMORY,
         [&] { return (dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr)) != nullptr; },
         [&] { DeleteDC(dc); }},
        {"ImageList_Create", host::image_list, ERROR_NOT_ENOUGH_MEMORY,
         [&] { return (list = ImageList_Create(4, 4, ILC_COLOR32 | ILC_MASK, 1, 1)) != nullptr; },
         [&] { ImageList_Destroy(list); }},
        {"GlobalAlloc", host::memory, ERROR_NOT_ENOUGH_MEMORY,
         [&] { return (block = GlobalAlloc(GMEM_MOVEABLE, 16)) != nullptr; },
         [&] { GlobalFree(block); }},
        {"LocalAlloc", host::memory, ERROR_NOT_ENOUGH_MEMORY,
         [&] { return (block = LocalAlloc(LMEM_FIXED, 16)) != nullptr; },
         [&] { LocalFree(block); }},
        {"CreateFileA", host::file_open, ERROR_TOO_MANY_OPEN_FILES,
         [&] {
             return file_handle(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
         },
         close_file},
        {"_lcreat", host::file_open, ERROR_TOO_MANY_OPEN_FILES,
         [&] { return old_file(_lcreat(path, 0)); }, close_old_file},
        {"OpenFile", host::file_open, ERROR_TOO_MANY_OPEN_FILES,
         [&] {
             OFSTRUCT of = {};
             return old_file(OpenFile(path, &of, OF_CREATE | OF_WRITE));
         },
         close_old_file},
        {"CFile::Open", host::file_open, ERROR_TOO_MANY_OPEN_FILES,
         [&] { return file.Open(path, CFile::modeCreate | CFile::modeWrite) != FALSE; },
         [&] {
             file.Close();
             DeleteFileA(path);
         }},
    };
    for (const FailingCall& call : calls) {
        SCOPED_TRACE(call.label);
        const auto before = fault_sweep::LiveCounts::now();
        // A kind the call does not make, armed, does not touch it.
        host::fail_creation(1, call.kind == host::file_open ? host::memory : host::file_open);
        ASSERT_TRUE(call.make());
        EXPECT_TRUE(host::fault_pending());
        call.release();

        host::fail_creation(1, call.kind);
        SetLastError(0);
        EXPECT_FALSE(call.make());
        EXPECT_EQ(GetLastError(), call.error);
        EXPECT_FALSE(host::fault_pending());
        EXPECT_EQ(fault_sweep::LiveCounts::now(), before);
        EXPECT_FALSE(exists(path)) << "a failed open must not create the file";

        ASSERT_TRUE(call.make()) << "the fault is spent";
        call.release();
        host::clear_faults();
    }
    DeleteObject(pattern);
}

TEST_F(FaultInjection, TheNthCreationFailsAndAFailedReallocationKeepsTheBlock) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 4);
    static_cast<char*>(GlobalLock(block))[3] = 'x';
    GlobalUnlock(block);

    host::fail_creation(3, host::gdi_object | host::memory);
    HDC dc = CreateCompatibleDC(nullptr); // not a kind that is armed
    HBITMAP first = CreateBitmap(2, 2, 1, 1, nullptr);
    HBRUSH second = CreateSolidBrush(RGB(1, 2, 3));
    EXPECT_EQ(GlobalReAlloc(block, 1 << 20, GMEM_MOVEABLE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(GlobalSize(block), 4u);
    EXPECT_EQ(static_cast<char*>(GlobalLock(block))[3], 'x');
    GlobalUnlock(block);
    HBITMAP fourth = CreateBitmap(2, 2, 1, 1, nullptr);
    EXPECT_NE(dc, nullptr);
    EXPECT_NE(first, nullptr);
    EXPECT_NE(second, nullptr);
    EXPECT_NE(fourth, nullptr);
    EXPECT_EQ(GlobalReAlloc(block, 1 << 20, GMEM_MOVEABLE), block);

    for (HGDIOBJ h : {static_cast<HGDIOBJ>(first), static_cast<HGDIOBJ>(second),
                      static_cast<HGDIOBJ>(fourth)}) {
        DeleteObject(h);
    }
    DeleteDC(dc);
    GlobalFree(block);
}

TEST_F(FaultInjection, CountsWhatWouldBeMadeByKind) {
    host::reset_creation_count();
    HBITMAP stock = CreateBitmap(0, 0, 1, 1, nullptr);     // the stock bitmap: nothing made
    EXPECT_EQ(CreateBitmap(4, 4, 7, 1, nullptr), nullptr); // refused: nothing made
    EXPECT_EQ(CreateFileA("no/such/file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(host::creations_counted(), 0u);

    HBITMAP bmp = CreateBitmap(4, 4, 1, 1, nullptr);
    HBRUSH brush = CreateSolidBrush(0);
    HDC mem = CreateCompatibleDC(nullptr);
    HDC screen = GetDC(nullptr);
    HLOCAL local = LocalAlloc(LMEM_MOVEABLE, 8);
    local = LocalReAlloc(local, 64, LMEM_MOVEABLE);
    HANDLE file = CreateFileA("counted.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(host::creations_counted(host::gdi_object), 2u);
    EXPECT_EQ(host::creations_counted(host::device_context), 2u);
    EXPECT_EQ(host::creations_counted(host::memory), 2u);
    EXPECT_EQ(host::creations_counted(host::file_open), 1u);
    EXPECT_EQ(host::creations_counted(host::image_list), 0u);
    EXPECT_EQ(host::creations_counted(host::memory | host::file_open), 3u);
    EXPECT_EQ(host::creations_counted(), 7u);

    // An image list counts itself and the bitmaps it keeps its images in.
    host::reset_creation_count();
    HIMAGELIST list = ImageList_Create(4, 4, ILC_COLOR32 | ILC_MASK, 4, 4);
    EXPECT_EQ(host::creations_counted(host::image_list), 1u);
    EXPECT_GE(host::creations_counted(host::gdi_object), 2u);

    ImageList_Destroy(list);
    CloseHandle(file);
    DeleteFileA("counted.tmp");
    LocalFree(local);
    ReleaseDC(nullptr, screen);
    DeleteDC(mem);
    DeleteObject(brush);
    DeleteObject(bmp);
    DeleteObject(stock);
}

// The platform's calls that make objects of their own on the way release them all whichever
// creation fails, and report success only with the result they give without a fault.
TEST_F(FaultInjection, CompositeCallsReleaseEverythingWhicheverCreationFails) {
    for (int bpp : {32, 16, 8}) {
        SCOPED_TRACE("display at " + std::to_string(bpp) + " bpp");
        host::DisplayMode mode;
        mode.bits_per_pixel = bpp;
        ASSERT_TRUE(host::set_display_mode(mode));

        // An image list that takes a keyed strip and draws it, selected and plain.
        std::vector<DWORD> clean_pixels;
        HBITMAP target = nullptr;
        void* target_bits = nullptr;
        BOOL drawn = FALSE;
        const unsigned list_creations = sweep_creations(
            [&] { target = make_section(24, 8, &target_bits); },
            [&] {
                drawn = FALSE;
                HIMAGELIST il = ImageList_Create(8, 8, ILC_COLOR32 | ILC_MASK, 1, 1);
                HDC screen = GetDC(nullptr);
                HBITMAP strip = screen != nullptr ? CreateCompatibleBitmap(screen, 24, 8) : nullptr;
                if (screen != nullptr) {
                    ReleaseDC(nullptr, screen);
                }
                HDC dc = CreateCompatibleDC(nullptr);
                if (il != nullptr && strip != nullptr && dc != nullptr) {
                    HGDIOBJ old = SelectObject(dc, strip);
                    const RECT left = {0, 0, 12, 8};
                    const RECT right = {12, 0, 24, 8};
                    FillRect(dc, &left, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
                    FillRect(dc, &right, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
                    SelectObject(dc, old);
                    if (ImageList_AddMasked(il, strip, RGB(255, 255, 255)) == 0) {
                        old = SelectObject(dc, target);
                        drawn = ImageList_Draw(il, 1, dc, 0, 0, ILD_NORMAL) &&
                                ImageList_Draw(il, 2, dc, 8, 0, ILD_SELECTED);
                        SelectObject(dc, old);
                    }
                }
                if (dc != nullptr) {
                    DeleteDC(dc);
                }
                if (strip != nullptr) {
                    DeleteObject(strip);
                }
                if (il != nullptr) {
                    ImageList_Destroy(il);
                }
            },
            [&](unsigned failed) {
                const auto* px = static_cast<const DWORD*>(target_bits);
                const std::vector<DWORD> pixels(px, px + 24 * 8);
                if (failed == 0) {
                    ASSERT_TRUE(drawn);
                    clean_pixels = pixels;
                } else if (drawn) {
                    EXPECT_EQ(pixels, clean_pixels) << "reported success with another result";
                }
                DeleteObject(target);
            });
        EXPECT_GE(list_creations, 8u);

        // LoadImageA from a file, as a device bitmap and as a section, exact size and stretched.
        bmpfile::Variant v = {"24 bit", 40, 7, 5, 24, 0, false, {}, 0, 0, false};
        write_file("fault.bmp", bmpfile::make(v));
        for (UINT flags : {0u, static_cast<UINT>(LR_CREATEDIBSECTION)}) {
            for (int size : {0, 9}) {
                SCOPED_TRACE("flags " + std::to_string(flags) + ", size " + std::to_string(size));
                HANDLE image = nullptr;
                const unsigned made =
                    sweep_creations([] {},
                                    [&] {
                                        image = LoadImageA(nullptr, "fault.bmp", IMAGE_BITMAP, size,
                                                           size, flags | LR_LOADFROMFILE);
                                    },
                                    [&](unsigned failed) {
                                        EXPECT_EQ(image == nullptr, failed != 0);
                                        if (image == nullptr) {
                                            EXPECT_NE(GetLastError(), 0u);
                                        }
                                        DeleteObject(image);
                                    });
                EXPECT_GE(made, 2u); // the file and the bitmap at least
            }
        }
        DeleteFileA("fault.bmp");

        // StretchDIBits through a scratch bitmap, and CreateDIBitmap with its pixels.
        const std::vector<DWORD> pixels(16 * 16, 0x00336699);
        BITMAPINFO bi = {};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 16, 16, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        HBITMAP made_bitmap = nullptr;
        int lines = 0;
        sweep_creations([] {},
                        [&] {
                            HDC screen = GetDC(nullptr);
                            if (screen == nullptr) {
                                lines = 0;
                                return;
                            }
                            lines = StretchDIBits(screen, 0, 0, 32, 8, 0, 0, 16, 16, pixels.data(),
                                                  &bi, DIB_RGB_COLORS, SRCINVERT);
                            made_bitmap = CreateDIBitmap(screen, &bi.bmiHeader, CBM_INIT,
                                                         pixels.data(), &bi, DIB_RGB_COLORS);
                            ReleaseDC(nullptr, screen);
                        },
                        [&](unsigned failed) {
                            if (failed == 0) {
                                EXPECT_EQ(lines, 16);
                                EXPECT_NE(made_bitmap, nullptr);
                            }
                            DeleteObject(made_bitmap);
                            made_bitmap = nullptr;
                        });
    }
    host::reset_display();
}

// A 4096 x 4096 RLE8 image of four bytes of stream: decoding it needs far more memory than the
// process is given here, and LoadImageA must say so instead of throwing.
TEST_F(FaultInjection, RunningOutOfHeapInsideLoadImageIsItsFailureResult) {
#if defined(__SANITIZE_ADDRESS__) || defined(__has_feature)
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
    GTEST_SKIP() << "an address-space limit does not go with the sanitizers' shadow memory";
#endif
#endif
    bmpfile::Writer w;
    const std::uint32_t table = 256 * 4;
    const std::uint32_t offset = 14 + 40 + table;
    w.u8('B');
    w.u8('M');
    w.u32(offset + 2);
    w.u32(0);
    w.u32(offset);
    w.u32(40);
    w.u32(4096);
    w.u32(4096);
    w.u16(1);
    w.u16(8);
    w.u32(BI_RLE8);
    w.u32(2);
    w.u32(0);
    w.u32(0);
    w.u32(256);
    w.u32(0);
    w.zeros(table);
    w.u8(0);
    w.u8(1); // end of bitmap
    write_file("huge_rle.bmp", w.bytes);

    EXPECT_EXIT(load_with_little_memory("huge_rle.bmp"), testing::ExitedWithCode(0), "");
    DeleteFileA("huge_rle.bmp");
}
