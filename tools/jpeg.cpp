// talvo jpeg IN.bmp OUT.jpg [--repeat N]: writes a BMP file as a JPEG file with the library's
// encoder, the way a screen capture does.
#include "commands.h"

#include "capture/JpegEncoder.h"
#include "output_file.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

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

// Rows fetched from the bitmap at a time: enough to keep GetDIBits' work per call small, few
// enough that the band stays in the processor's cache while the encoder converts it.
const int kBandRows = 16;

// The BMP file as a bitmap, whose rows the encoder takes as 24-bit rows, top row first, a band
// at a time: the image is never copied whole.
class Picture {
public:
    ~Picture() {
        if (dc_ != nullptr) {
            DeleteDC(dc_);
        }
        if (bitmap_ != nullptr) {
            DeleteObject(bitmap_);
        }
    }

    bool Load(const char* path) {
        ClearFailureReason();
        bitmap_ = static_cast<HBITMAP>(
            LoadImageA(nullptr, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
        if (bitmap_ == nullptr) {
            if (FailedForMemory()) {
                std::fprintf(stderr, "talvo jpeg: out of memory loading '%s'\n", path);
            } else {
                std::fprintf(stderr, "talvo jpeg: cannot load '%s' as a bitmap\n", path);
            }
            return false;
        }
        BITMAP info = {};
        if (GetObjectA(bitmap_, sizeof info, &info) == 0 || info.bmWidth <= 0 ||
            info.bmHeight == 0) {
            std::fprintf(stderr, "talvo jpeg: cannot read the pixels of '%s'\n", path);
            return false;
        }
        width_ = info.bmWidth;
        height_ = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
        if (width_ > 65535 || height_ > 65535) {
            std::fprintf(stderr,
                         "talvo jpeg: '%s' is %d x %d pixels; a JPEG file holds at most 65535\n",
                         path, width_, height_);
            return false;
        }
        stride_ = (std::size_t(width_) * 3 + 3) / 4 * 4;
        band_.reset(new (std::nothrow) BYTE[stride_ * kBandRows]);
        dc_ = CreateCompatibleDC(nullptr);
        if (band_ == nullptr || dc_ == nullptr) {
            std::fprintf(stderr, "talvo jpeg: out of memory reading the pixels of '%s'\n", path);
            return false;
        }
        return true;
    }

    int width() const { return width_; }
    int height() const { return height_; }
    bool failed() const { return failed_; }
    bool failedForMemory() const { return failedForMemory_; }

    // Row y, top row first; rows are asked for in order. Null when GetDIBits fails.
    const BYTE* Row(int y) {
        if (y < first_ || y >= first_ + rows_) {
            // The band of rows [y, y + lines) counts, as GetDIBits does, from the bottom.
            const int lines = std::min(kBandRows, height_ - y);
            BITMAPINFO bi = {};
            bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
            bi.bmiHeader.biWidth = width_;
            bi.bmiHeader.biHeight = -height_; // top row first
            bi.bmiHeader.biPlanes = 1;
            bi.bmiHeader.biBitCount = 24;
            bi.bmiHeader.biCompression = BI_RGB;
            ClearFailureReason();
            if (GetDIBits(dc_, bitmap_, UINT(height_ - y - lines), UINT(lines), band_.get(), &bi,
                          DIB_RGB_COLORS) != lines) {
                failed_ = true;
                failedForMemory_ = FailedForMemory();
                return nullptr;
            }
            first_ = y;
            rows_ = lines;
        }
        return band_.get() + stride_ * std::size_t(y - first_);
    }

    // Starts again from the top (for another encode).
    void Rewind() {
        first_ = 0;
        rows_ = 0;
    }

private:
    HBITMAP bitmap_ = nullptr;
    HDC dc_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    std::size_t stride_ = 0;
    std::unique_ptr<BYTE[]> band_;
    int first_ = 0; // the rows in the band
    int rows_ = 0;
    bool failed_ = false;
    bool failedForMemory_ = false;
};

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

    Picture picture;
    if (!picture.Load(paths[0])) {
        return 1;
    }
    const int width = picture.width(), height = picture.height();
    // Fail early, with the system's reason, when the output cannot be created. The encoder
    // writes the temporary file by name.
    OutputFile out(paths[1]);
    if (!out.ok()) {
        std::fprintf(stderr, "talvo jpeg: cannot create '%s': %s\n", paths[1],
                     out.reason().c_str());
        return 1;
    }
    out.ReleaseStream();
    // The encoder makes a file by name, which is read back to see that it is complete.
    if (out.direct()) {
        std::fprintf(stderr, "talvo jpeg: cannot write '%s': not a regular file\n", paths[1]);
        return 1;
    }
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
        picture.Rewind();
        encoder.Encode(out.path(), width, height, [&picture](int y) { return picture.Row(y); });
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (i == 0 || seconds < best) {
            best = seconds;
        }
    }
    // The encoder reports nothing; the error of its last failed write is still in errno.
    const int writeError = errno;
    if (picture.failed()) {
        std::fprintf(stderr, "talvo jpeg: %s the pixels of '%s'\n",
                     picture.failedForMemory() ? "out of memory reading" : "cannot read", paths[0]);
        return 1;
    }
    if (!WroteFile(out.path()) && writeError == ENOMEM) {
        std::fprintf(stderr, "talvo jpeg: out of memory writing '%s'\n", paths[1]);
        return 1;
    }
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
