// talvo jpeg IN.bmp OUT.jpg [--repeat N]: writes a BMP file as a JPEG file with the library's
// encoder, the way a screen capture does.
#include "commands.h"

#include "capture/JpegEncoder.h"
#include "output_file.h"

#include <windows.h>

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <algorithm>
#include <cstdint>
#include <vector>

#if defined(__linux__) && defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A large image passes through several buffers of about its size: the file as read, the bitmap,
// the rows handed to the encoder. Fresh memory costs a page fault per 4 KiB page, which for a
// 3-megapixel image adds up to more than the encode itself. So the heap is grown once, marked
// for huge pages, and kept: the buffers then come from it at a few faults each.
void PrepareHeap(const char* inputPath) {
#if defined(__linux__) && defined(__GLIBC__)
    struct stat st;
    if (stat(inputPath, &st) != 0 || st.st_size < (8 << 20)) {
        return; // small images gain nothing
    }
    const std::size_t chunk = 16u << 20;
    std::size_t want = std::size_t(st.st_size) * 4;
    if (want > (std::size_t(1) << 30)) {
        want = std::size_t(1) << 30;
    }
    // Keep buffers of up to 32 MiB on the heap, and keep freed heap memory.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, int(std::min<std::size_t>(want * 2, 0x7FFFFFFF)));
    std::vector<void*> blocks;
    std::uintptr_t low = UINTPTR_MAX, high = 0;
    for (std::size_t got = 0; got < want; got += chunk) {
        void* p = std::malloc(chunk);
        if (p == nullptr) {
            break;
        }
        blocks.push_back(p);
        low = std::min(low, std::uintptr_t(p));
        high = std::max(high, std::uintptr_t(p) + chunk);
    }
    const std::uintptr_t huge = 2u << 20;
    low = (low + huge - 1) & ~(huge - 1);
    if (high > low) {
        madvise(reinterpret_cast<void*>(low), high - low, MADV_HUGEPAGE);
    }
    for (void* p : blocks) {
        std::free(p);
    }
#else
    (void)inputPath;
#endif
}

const char kUsage[] = "IN.bmp OUT.jpg [--repeat N]";

// Common decoders refuse images beyond this in either direction, although the format allows 65535.
const int kDecoderLimit = 65500;

void PrintHelp() {
    std::printf("usage: talvo jpeg %s\n\n"
                "Encodes IN.bmp (any BMP the platform loads) as a baseline JPEG file OUT.jpg with\n"
                "the library's encoder: quality fixed, no chroma subsampling.\n\n"
                "  --repeat N   encode N times and print the best encode time and Mpx/s\n"
                "  --help       show this text\n",
                kUsage);
}

// Reads the bitmap as 24-bit rows, top row first, each padded to a multiple of 4 bytes.
bool LoadPixels(const char* path, int& width, int& height, std::unique_ptr<BYTE[]>& pixels) {
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(nullptr, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    if (bitmap == nullptr) {
        if (GetLastError() == ERROR_NOT_ENOUGH_MEMORY) {
            std::fprintf(stderr, "talvo jpeg: out of memory loading '%s'\n", path);
        } else {
            std::fprintf(stderr, "talvo jpeg: cannot load '%s' as a bitmap\n", path);
        }
        return false;
    }
    BITMAP info = {};
    bool ok = GetObjectA(bitmap, sizeof info, &info) != 0 && info.bmWidth > 0 && info.bmHeight != 0;
    width = info.bmWidth;
    height = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
    if (ok && (width > 65535 || height > 65535)) {
        std::fprintf(stderr,
                     "talvo jpeg: '%s' is %d x %d pixels; a JPEG file holds at most 65535\n", path,
                     width, height);
        DeleteObject(bitmap);
        return false;
    }
    if (ok) {
        const std::size_t stride = (std::size_t(width) * 3 + 3) / 4 * 4;
        // GetDIBits fills every row: no need to clear the buffer first.
        pixels.reset(new (std::nothrow) BYTE[stride * std::size_t(height)]);
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi.bmiHeader.biWidth = width;
        bi.bmiHeader.biHeight = -height; // top row first
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 24;
        bi.bmiHeader.biCompression = BI_RGB;
        HDC dc = CreateCompatibleDC(nullptr);
        ok = pixels != nullptr && dc != nullptr &&
             GetDIBits(dc, bitmap, 0, UINT(height), pixels.get(), &bi, DIB_RGB_COLORS) == height;
        if (dc != nullptr) {
            DeleteDC(dc);
        }
    }
    DeleteObject(bitmap);
    if (!ok && pixels == nullptr) {
        std::fprintf(stderr, "talvo jpeg: out of memory reading the pixels of '%s'\n", path);
    } else if (!ok) {
        std::fprintf(stderr, "talvo jpeg: cannot read the pixels of '%s'\n", path);
    }
    return ok;
}

// The encoder reports nothing: a complete file ends with the end-of-image marker.
bool WroteFile(const char* path) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) {
        return false;
    }
    unsigned char tail[2] = {};
    bool ok = std::fseek(f, 0, SEEK_END) == 0 && std::ftell(f) > 595 &&
              std::fseek(f, -2, SEEK_END) == 0 && std::fread(tail, 1, 2, f) == 2 &&
              tail[0] == 0xFF && tail[1] == 0xD9;
    std::fclose(f);
    return ok;
}

int Run(int argc, char** argv) {
    const char* paths[2] = {nullptr, nullptr};
    int count = 0;
    long repeat = 0;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintHelp();
            return 0;
        }
        if (std::strcmp(argv[i], "--repeat") == 0) {
            char* end = nullptr;
            repeat = i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : 0;
            if (i + 1 >= argc || *end != '\0' || repeat < 1 || repeat > 100000) {
                std::fprintf(stderr, "talvo jpeg: --repeat needs a count from 1 to 100000\n");
                return 2;
            }
            ++i;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "talvo jpeg: unknown option '%s'\n", argv[i]);
            return 2;
        } else if (count < 2) {
            paths[count++] = argv[i];
        } else {
            std::fprintf(stderr, "talvo jpeg: too many arguments\nusage: talvo jpeg %s\n", kUsage);
            return 2;
        }
    }
    if (count != 2) {
        std::fprintf(stderr, "usage: talvo jpeg %s\n", kUsage);
        return 2;
    }

    PrepareHeap(paths[0]);
    int width = 0, height = 0;
    std::unique_ptr<BYTE[]> pixels;
    if (!LoadPixels(paths[0], width, height, pixels)) {
        return 1;
    }
    // Fail early, with the system's reason, when the output cannot be created. The encoder
    // writes the temporary file by name.
    OutputFile out(paths[1]);
    if (!out.ok()) {
        std::fprintf(stderr, "talvo jpeg: cannot create '%s': %s\n", paths[1],
                     out.reason().c_str());
        return 1;
    }
    out.ReleaseStream();
    if (width > kDecoderLimit || height > kDecoderLimit) {
        std::fprintf(stderr,
                     "talvo jpeg: warning: %d x %d pixels; many decoders refuse JPEG files wider "
                     "or taller than %d\n",
                     width, height, kDecoderLimit);
    }

    double best = 0;
    for (long i = 0; i < (repeat > 0 ? repeat : 1); ++i) {
        auto start = std::chrono::steady_clock::now();
        CJpegEncoder encoder;
        errno = 0;
        encoder.Encode(out.path(), width, height, pixels.get());
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (i == 0 || seconds < best) {
            best = seconds;
        }
    }
    // The encoder reports nothing; the error of its last failed write is still in errno.
    const int writeError = errno;
    if (!WroteFile(out.path())) {
        std::fprintf(stderr, "talvo jpeg: cannot write '%s': %s\n", paths[1],
                     writeError != 0 ? std::strerror(writeError) : "the file is incomplete");
        return 1;
    }
    if (!out.Commit()) {
        std::fprintf(stderr, "talvo jpeg: cannot write '%s': %s\n", paths[1], out.reason().c_str());
        return 1;
    }
    if (repeat > 0) {
        std::printf("%d x %d: best of %ld: %.3f ms, %.1f Mpx/s\n", width, height, repeat,
                    best * 1e3, double(width) * height / best * 1e-6);
    }
    return 0;
}

} // namespace

extern const Command kJpegCommand = {
    "jpeg", kUsage, "encode a BMP file as a JPEG file with the capture's encoder", Run};
