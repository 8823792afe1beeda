// A small talvo client: sets up the screen, opens a window, draws a sprite strip with CImage
// (plainly, with its colour key cut out and half-transparent), plays a CImageEx animation in a
// slot for a few hundred milliseconds and captures the window to a file.
//
//   talvo_example STRIP.bmp [OUT.jpg]
//
// STRIP.bmp holds 8 frames side by side with magenta (255, 0, 255) as its key, like
// walker.bmp of the talvo samples. Exits 0 when every step worked, 1 otherwise.
#include <Image.h>
#include <ImageEx.h>
#include <afxwin.h>
#include <platform/host.h>

#include <cstdio>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 120;
constexpr int kFrames = 8;
constexpr COLORREF kKey = RGB(255, 0, 255);
constexpr COLORREF kBackground = RGB(40, 70, 120);

int fail(const char* what) {
    std::fprintf(stderr, "talvo_example: %s\n", what);
    return 1;
}

long file_size(const char* path) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) {
        return -1;
    }
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    return size;
}

// Runs the message loop for `ms` milliseconds of the platform's clock. On the portable
// platform the clock is manual: GetMessageA moves it to the next timer that falls due, so a few
// hundred milliseconds of animation take no real time.
void run_for(DWORD ms) {
    const DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < ms && GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: talvo_example STRIP.bmp [OUT.jpg]\n");
        return 2;
    }
    const char* strip_file = argv[1];
    char out[MAX_PATH];
    std::snprintf(out, sizeof(out), "%s", argc > 2 ? argv[2] : "talvo_example.jpg");

    // The screen is what an operating system would provide; on the portable platform the program
    // sets it up through the host API. The library attached itself when the program started, on
    // the default 32-bit screen; a program that wants another depth frees it, sets the mode and
    // loads it again (FreeLibrary, host::set_display_mode, LoadLibraryA("TALVO.dll")).
    host::DisplayMode mode;
    mode.width = 640;
    mode.height = 480;
    mode.bits_per_pixel = 32;
    if (!host::set_display_mode(mode)) {
        return fail("cannot set the display mode");
    }

    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TalvoExample";
    if (!RegisterClassA(&wc)) {
        return fail("cannot register the window class");
    }
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "talvo example", WS_POPUP | WS_VISIBLE, 0, 0,
                                kWidth, kHeight, nullptr, nullptr, wc.hInstance, nullptr);
    if (hwnd == nullptr) {
        return fail("cannot create the window");
    }

    // CImage: the strip kept as bitmaps, with its half-transparent copy made at load.
    CImage strip;
    if (!strip.Create(strip_file, kFrames, kKey, 1, 0)) {
        return fail("CImage cannot load the strip");
    }
    const CSize frame = strip.GetImageSize();
    {
        CClientDC dc(CWnd::FromHandle(hwnd));
        dc.FillSolidRect(0, 0, kWidth, kHeight, kBackground);
        if (!strip.Draw(&dc, 10, 10, 0) || !strip.DrawTransparent(&dc, 60, 10, 1) ||
            !strip.DrawSemiTransparent(&dc, 110, 10, 2)) {
            return fail("CImage cannot draw the strip");
        }
    }

    // CImageEx: the same strip, played as a looping animation with its key cut out (mode 11)
    // in slot 0, a frame every 50 ms.
    CImageEx walker;
    if (!walker.Create(hwnd, strip_file, kFrames, kKey, 0, 0)) {
        return fail("CImageEx cannot load the strip");
    }
    if (!InitializeAnimation(4)) {
        return fail("cannot create the animation slots");
    }
    const int ax = 200, ay = 10;
    if (!walker.PlayAni(0, 50, hwnd, ax, ay, 11, 0)) {
        TerminateAnimation();
        return fail("cannot start the animation");
    }
    run_for(400);
    walker.StopAni(0);
    TerminateAnimation();

    // The animation has drawn the figure: some pixel of its rectangle is no longer background.
    HDC hdc = GetDC(hwnd);
    bool drawn = false;
    for (int y = ay; y < ay + frame.cy && !drawn; ++y) {
        for (int x = ax; x < ax + frame.cx && !drawn; ++x) {
            drawn = GetPixel(hdc, x, y) != kBackground;
        }
    }
    ReleaseDC(hwnd, hdc);
    if (!drawn) {
        return fail("the animation drew nothing");
    }

    // A JPEG of the window (an 8-bit BMP on a 256-colour palette display).
    CImage::CaptureWindowToFile(hwnd, nullptr, out);
    if (file_size(out) <= 0) {
        return fail("the capture wrote nothing");
    }
    std::printf("talvo_example: wrote %s (a %d x %d window, frames of %d x %d)\n", out, kWidth,
                kHeight, static_cast<int>(frame.cx), static_cast<int>(frame.cy));
    DestroyWindow(hwnd);
    return 0;
}
