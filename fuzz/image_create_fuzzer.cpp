// CImage::Create from a bitmap file on any bytes, with the frame count, key colour and both flags
// taken from the input's last bytes, then every frame drawn transparently and half-transparently.
// Built twice: on a true-colour display (the platform's bitmap loading) and on an 8-bit palette
// display (every load through CDitherDib and the dithering loop). After each input every GDI
// object the strip made must be gone again.
#include <Image.h>

#include <afxwin.h>
#include <platform/host.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#ifndef TALVO_FUZZ_BPP
#define TALVO_FUZZ_BPP 32
#endif

namespace {

std::string g_path;

// Reaches the protected members the public draws use, to keep the frames small.
class FuzzedStrip : public CImage {
public:
    using CImage::m_sizeImage;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The library attaches at program start; on the palette display it must attach anew to make
    // its dither palette.
    HMODULE library = GetModuleHandleA("TALVO.dll");
    FreeLibrary(library);
    host::DisplayMode mode;
    mode.width = 320;
    mode.height = 240;
    mode.bits_per_pixel = TALVO_FUZZ_BPP;
    host::set_display_mode(mode);
    if (LoadLibraryA("TALVO.dll") == nullptr) {
        std::abort();
    }
    g_path = "/tmp/image_create_fuzz_" + std::to_string(getpid()) + ".bmp";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::uint8_t* tail = data + size - 4;
    const int frames = (tail[0] % 9) - 1; // -1 .. 7: zero and negative counts included
    const COLORREF key = RGB(tail[1], tail[2], tail[1] ^ tail[2]);
    const int semi = tail[3] & 1;
    const int imageList = (tail[3] >> 1) & 1;
    std::FILE* file = std::fopen(g_path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size - 4, file);
    std::fclose(file);

    const int before = host::live_gdi_objects_total();
    {
        HDC screen = GetDC(nullptr);
        HDC target = CreateCompatibleDC(screen);
        HBITMAP surface = CreateCompatibleBitmap(screen, 96, 64);
        HGDIOBJ old = SelectObject(target, surface);
        {
            FuzzedStrip strip;
            if (strip.Create(g_path.c_str(), frames, key, semi, imageList) &&
                strip.m_sizeImage.cx <= 4096 && strip.m_sizeImage.cy <= 4096) {
                CDC* dc = CDC::FromHandle(target);
                for (int i = -1; i <= strip.GetImageNum(); ++i) {
                    strip.DrawTransparent(dc, 3, 2, i);
                    strip.DrawSemiTransparent(dc, -5, 7, i);
                }
                CImage copy(strip);
                copy.Draw(dc, 0, 0, 0);
            }
        }
        SelectObject(target, old);
        DeleteObject(surface);
        DeleteDC(target);
        ReleaseDC(nullptr, screen);
        CDC::DeleteTempMap();
    }
    if (host::live_gdi_objects_total() != before) {
        std::fprintf(stderr, "GDI objects leaked: %d before, %d after\n", before,
                     host::live_gdi_objects_total());
        std::abort();
    }
    return 0;
}
