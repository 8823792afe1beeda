// Injected creation failures: each kind fails the way Win32 fails, only the armed creation
// fails, creations are counted by kind, and the platform's composite calls release everything
// when one of their creations fails. Running out of C++ heap inside a call is its failure result.
#include <windows.h>

#include <afx.h>
#include <commctrl.h>

#include "fault_sweep.h"
#include "platform/win32/gdi_support.h"
#include "support/bmp_builder.h"
#include "support/host_display.h"

#include <gtest/gtest.h>

#include <cstdio>
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
    HANDLE handle = nullptr; // a file's, HFILE ones included (an HFILE is its handle's value)
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
    auto old_file = [&](HFILE h) { return file_handle(reinterpret_cast<HANDLE>(INT_PTR{h})); };
    auto release_gdi = [&] { DeleteObject(object); };
    auto close_file = [&] {
        CloseHandle(handle);
        DeleteFileA(path);
    };
    const FailingCall calls[] = {
        {"CreateBitmap", host::gdi_object, ERROR_NOT_ENOUGH_MEMORY,
         [&] { return gdi(CreateBitmap(4, 4, 1, 32, nullptr)); }, release_gdi},
        {"CreateDIBSection", host::gdi_object, ERROR_NOT_ENOUGH_MEMORY,
         [&] {
             void* bits = &bits;
             const bool made = gdi(gdi_test::section(4, -4, 32, &bits));
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
         [&] { return old_file(_lcreat(path, 0)); }, close_file},
        {"OpenFile", host::file_open, ERROR_TOO_MANY_OPEN_FILES,
         [&] {
             OFSTRUCT of = {};
             return old_file(OpenFile(path, &of, OF_CREATE | OF_WRITE));
         },
         close_file},
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
        EXPECT_FALSE(bmpfile::Exists(path)) << "a failed open must not create the file";

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

    DeleteObject(first);
    DeleteObject(second);
    DeleteObject(fourth);
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

// Platform calls that make objects of their own on the way, where the library's operations
// (swept in tests/faults) do not take them: stretched loads, scaled and combined transfers, image
// lists drawing selected. Whichever creation fails, everything is released; a load reports
// every failure; a reported success draws what the faultless run draws.
TEST_F(FaultInjection, CompositeCallsReleaseEverythingWhicheverCreationFails) {
    bmpfile::write("fault.bmp", bmpfile::make({"24 bit", 40, 7, 5, 24, 0, false, {}, 0, 0, false}));
    const std::vector<DWORD> pixels(16 * 16, 0x00336699);
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 16, 16, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    const auto load = [](UINT flags) {
        return [flags](HDC dc) {
            HANDLE image = LoadImageA(nullptr, "fault.bmp", IMAGE_BITMAP, 9, 9, flags);
            HDC src = image != nullptr ? CreateCompatibleDC(nullptr) : nullptr;
            if (src != nullptr) {
                HGDIOBJ old = SelectObject(src, image);
                BitBlt(dc, 0, 0, 9, 9, src, 0, 0, SRCCOPY);
                SelectObject(src, old);
                DeleteDC(src);
            }
            DeleteObject(image);
            return src != nullptr; // loaded and drawn
        };
    };
    const struct {
        const char* name;
        bool absorbs; // may go on without what failed
        std::function<bool(HDC)> run;
    } calls[] = {
        {"LoadImageA stretched", false, load(LR_LOADFROMFILE)},
        {"LoadImageA stretched, section", false, load(LR_LOADFROMFILE | LR_CREATEDIBSECTION)},
        {"StretchDIBits scaled and combined", true,
         [&](HDC dc) {
             return StretchDIBits(dc, 0, 0, 24, 8, 0, 0, 16, 16, pixels.data(), &bi, DIB_RGB_COLORS,
                                  SRCINVERT) == 16;
         }},
        {"image list of a keyed strip, drawn plain and selected", true,
         [](HDC dc) {
             bool drawn = false;
             HIMAGELIST il = ImageList_Create(8, 8, ILC_COLOR32 | ILC_MASK, 1, 1);
             HDC screen = GetDC(nullptr);
             HBITMAP strip = screen != nullptr ? CreateCompatibleBitmap(screen, 24, 8) : nullptr;
             ReleaseDC(nullptr, screen);
             HDC mem = CreateCompatibleDC(nullptr);
             if (il != nullptr && strip != nullptr && mem != nullptr) {
                 HGDIOBJ old = SelectObject(mem, strip);
                 const RECT left = {0, 0, 12, 8};
                 const RECT right = {12, 0, 24, 8};
                 FillRect(mem, &left, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
                 FillRect(mem, &right, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
                 SelectObject(mem, old);
                 drawn = ImageList_AddMasked(il, strip, RGB(255, 255, 255)) == 0 &&
                         ImageList_Draw(il, 1, dc, 0, 0, ILD_NORMAL) &&
                         ImageList_Draw(il, 2, dc, 8, 0, ILD_SELECTED);
             }
             DeleteDC(mem);
             DeleteObject(strip);
             ImageList_Destroy(il);
             return drawn;
         }},
    };
    for (int bpp : {32, 16, 8}) {
        testhost::SetDepth(bpp);
        for (const auto& call : calls) {
            SCOPED_TRACE(std::string(call.name) + " at " + std::to_string(bpp) + " bpp");
            void* bits = nullptr;
            HBITMAP target = nullptr;
            HDC dc = nullptr;
            HGDIOBJ old = nullptr;
            bool done = false;
            std::vector<DWORD> clean;
            const unsigned made = sweep_creations(
                [&] {
                    target = gdi_test::section(24, -8, 32, &bits);
                    dc = CreateCompatibleDC(nullptr);
                    old = SelectObject(dc, target);
                },
                [&] { done = call.run(dc); },
                [&](unsigned failed) {
                    const auto* px = static_cast<const DWORD*>(bits);
                    const std::vector<DWORD> now(px, px + 24 * 8);
                    if (failed == 0) {
                        EXPECT_TRUE(done);
                        clean = now;
                    } else if (done) {
                        EXPECT_TRUE(call.absorbs) << "a failure reported as success";
                        EXPECT_EQ(now, clean) << "reported success with another result";
                    }
                    SelectObject(dc, old);
                    DeleteDC(dc);
                    DeleteObject(target);
                });
            EXPECT_GE(made, 2u);
        }
    }
    DeleteFileA("fault.bmp");
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
    bmpfile::write("huge_rle.bmp", bmpfile::rle_file(4096, 4096, 8, {0, 1})); // end of bitmap

    EXPECT_EXIT(load_with_little_memory("huge_rle.bmp"), testing::ExitedWithCode(0), "");
    DeleteFileA("huge_rle.bmp");
}
