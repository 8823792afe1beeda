// The CImageEx reader on any bytes, as a file: Create in bitmap and image-list mode on a display
// of 32, 16, 8 or 4 bits (chosen from the input, so that a crash reproduces), then every drawing
// operation on whatever it accepted, then destruction. Anything may be refused; nothing may be
// read or written out of bounds, and every GDI object, memory block and file must be given back.
//
// A good seed corpus is the set of .bmp files imageex_tests leaves in its work directory (every
// depth and colour-table size the reader takes).
#include <ImageEx.h>

#include <platform/host.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string g_path;

struct Counts {
    int gdi = host::live_gdi_objects_total();
    int global = host::live_global_blocks();
    int files = host::live_files();
    bool operator==(const Counts&) const = default;
};

void Exercise(HDC dc, bool listMode, std::uint32_t hash) {
    CImageEx image;
    const int frames = 1 + static_cast<int>(hash % 5);
    const COLORREF key = hash & 0xFFFFFF;
    if (!image.Create(nullptr, g_path.c_str(), frames, key, 0, listMode)) {
        return;
    }
    const int x = static_cast<int>(hash >> 28) - 4;
    for (int nImage : {0, frames - 1, frames + 3, -2}) {
        image.Draw(dc, x, 1, nImage);
        image.DrawTransparent(dc, x, 1, nImage);
        image.DrawAlpha(dc, x, 1, nImage, static_cast<int>(hash % 300) - 10);
        image.DrawAlphaTransparent(dc, x, 1, nImage, 128);
        image.DrawColorize(dc, x, 1, nImage, hash);
        image.DrawColorizeTransparent(dc, x, 1, nImage, RGB(255, 128, 0));
        image.DrawColorizeWithBack(dc, x, 1, nImage, RGB(0, 128, 255));
    }
    CImageEx copy(image);
    copy.Draw(dc, 0, 0, 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_path = "/tmp/imageex_fuzz_" + std::to_string(getpid()) + ".bmp";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(g_path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 16777619u;
    }
    static const int kDepths[] = {32, 16, 8, 4};
    host::DisplayMode mode;
    mode.width = 64;
    mode.height = 48;
    mode.bits_per_pixel = kDepths[hash % 4];
    host::set_display_mode(mode);

    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, 40, 24);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, canvas);
    const Counts before;
    Exercise(dc, (hash >> 2) & 1, hash);
    if (!(Counts() == before)) {
        std::fprintf(stderr, "CImageEx left objects behind\n");
        std::abort();
    }
    SelectObject(dc, old);
    DeleteObject(canvas);
    DeleteDC(dc);
    return 0;
}
