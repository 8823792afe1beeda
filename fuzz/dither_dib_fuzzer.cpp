// CDitherDib::Create(file) on any bytes, then the screen bitmap of whatever it accepts, made on
// an 8-bit display so that accepted true-colour images go through the dithering loop.
#include <DitherDib.h>

#include <afxwin.h>
#include <platform/host.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

std::string g_path;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    host::DisplayMode mode;
    mode.bits_per_pixel = 8;
    host::set_display_mode(mode);
    g_path = "/tmp/dither_dib_fuzz_" + std::to_string(getpid()) + ".bmp";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(g_path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    CDitherDib dib;
    if (dib.Create(g_path.c_str())) {
        CBitmap* bitmap = dib.CreateBitmap(nullptr);
        delete bitmap;
        CDitherDib copy(dib);
    }
    return 0;
}
