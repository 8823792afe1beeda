// talvo demo: the whole library at work on one screen, captured at the three display depths.
//
// For each depth the library is freed, the screen switched and the library loaded again (so on
// the 8-bit display it attaches with its dither palette and every CImage load is dithered); the
// scene is painted, the animations play for the simulated time asked for, and the window is
// captured with CImage::CaptureWindowToFile: a JPEG at 32 and 16 bits per pixel, an 8-bit BMP
// on the palette display. Files are written under a temporary name and renamed into place.
#include "commands.h"
#include "demo.h"
#include "output_file.h"

#include <Image.h>
#include <ImageEx.h>
#include <platform/host.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef TALVO_SAMPLES_DIR
#define TALVO_SAMPLES_DIR "tools/samples"
#endif

namespace {

long file_size(const std::string& path);

// The sprite strips: those installed beside the program (TALVO_INSTALLED_SAMPLES, relative to
// its folder) when there are, otherwise those of the source tree it was built from.
std::string default_samples() {
#ifdef TALVO_INSTALLED_SAMPLES
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    if (n > 0 && n < sizeof(path)) {
        std::string dir(path, n);
        const size_t slash = dir.find_last_of("/\\");
        if (slash != std::string::npos) {
            dir = dir.substr(0, slash) + "/" + TALVO_INSTALLED_SAMPLES;
            if (file_size(dir + "/walker.bmp") > 0) {
                return dir;
            }
        }
    }
#endif
    return TALVO_SAMPLES_DIR;
}

const char kUsage[] = "[--bpp 32|16|8] [--out DIR] [--seconds N] [--frames] [--window]";

void print_help(std::FILE* out) {
    std::fprintf(
        out,
        "usage: talvo demo %s\n\n"
        "Paints a window on an 800 x 600 screen with every CImage drawing mode (both storage\n"
        "modes), every CImageEx mode and animations playing in slots, lets the animations run,\n"
        "and captures the window with CImage::CaptureWindowToFile: demo-32.jpg, demo-16.jpg and\n"
        "demo-8.bmp (the library attached on a 256-colour palette display). On the 8-bit\n"
        "display the dithering lookup file 256lkup.dat is read from, or written to, the\n"
        "current directory.\n\n"
        "  --bpp 32|16|8       one display depth only (default: all three)\n"
        "  --out DIR           where the pictures go (default: the current directory)\n"
        "  --seconds N         time the animations play before the capture (default 1;\n"
        "                      simulated, and instant, except with --window)\n"
        "  --frames            also capture every 100 ms of animation: demo-BPP-NNN.jpg|bmp\n"
        "  --window            show the screen in a real window while the demo plays, at real\n"
        "                      speed; mouse clicks drop coins; Escape or closing ends it\n"
        "  --hold              with --window: keep the window open after the last capture\n"
        "                      until it is closed\n"
        "  --dump-screen FILE  write the screen as it is at the end to FILE (binary PPM)\n"
        "  --layout FILE       write the grid's cells to FILE, one a line: what the cell shows\n"
        "                      and its rectangle in the window (left top right bottom)\n"
        "  --samples DIR       the sprite strips (default: %s)\n"
        "  --help              this text\n",
        kUsage, default_samples().c_str());
}

int usage_error(const std::string& message) {
    std::fprintf(stderr, "talvo demo: %s\nusage: talvo demo %s\n", message.c_str(), kUsage);
    return 2;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "talvo demo: %s\n", message.c_str());
    return 1;
}

struct Options {
    std::vector<int> depths = {32, 16, 8};
    std::string out = ".";
    long seconds = 1;
    bool frames = false;
    bool window = false;
    bool hold = false;
    std::string dump;
    std::string layout;
    std::string samples = default_samples();
};

bool parse_long(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

long file_size(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return -1;
    }
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    return size;
}

bool write_screen_ppm(const std::string& path, std::string& error) {
    const host::Framebuffer fb = host::screen_framebuffer();
    const std::vector<BYTE> rgb = demo::ScreenRgb();
    OutputFile file(path.c_str());
    char head[64];
    const int n = std::snprintf(head, sizeof(head), "P6\n%d %d\n255\n", fb.width, fb.height);
    if (!file.ok() || !file.Write(head, static_cast<size_t>(n)) ||
        !file.Write(rgb.data(), rgb.size()) || !file.Commit()) {
        error = "cannot write '" + path + "': " + file.reason();
        return false;
    }
    return true;
}

bool write_layout(const std::string& path, const demo::Scene& scene, std::string& error) {
    std::string text;
    for (const demo::Scene::Cell& c : scene.cells()) {
        const RECT& r = c.rect;
        text += c.name + " " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
                std::to_string(r.right) + " " + std::to_string(r.bottom) + "\n";
    }
    OutputFile file(path.c_str());
    if (!file.ok() || !file.Write(text.data(), text.size()) || !file.Commit()) {
        error = "cannot write '" + path + "': " + file.reason();
        return false;
    }
    return true;
}

// Captures the window to DIR/NAME.jpg, or DIR/NAME.bmp on the palette display, through a
// temporary file renamed into place; the capture itself forces the extension "bmp" there.
bool capture(HWND hwnd, const std::string& dir, const std::string& name, int bpp,
             std::string& written, std::string& error) {
    written = dir + "/" + name + (bpp == 8 ? ".bmp" : ".jpg");
    // The temporary's name ends in ".bmp" where the capture forces that extension, so that it
    // writes the temporary itself and no file of another name.
    OutputFile file(written.c_str(), bpp == 8 ? ".bmp" : "");
    if (!file.ok()) {
        error = "cannot create '" + written + "': " + file.reason();
        return false;
    }
    file.ReleaseStream();
    // The capture makes a file by name, which is read back to see that it is complete.
    if (file.direct()) {
        error = "cannot write '" + written + "': not a regular file";
        return false;
    }
    // The capture opens a BMP file only under a name shorter than _MAX_PATH.
    if (bpp == 8 && std::strlen(file.path()) >= _MAX_PATH) {
        error = "cannot write '" + written + "': name too long";
        return false;
    }
    CImage::CaptureWindowToFile(hwnd, nullptr, const_cast<char*>(file.path()));
    if (file_size(file.path()) <= 0) {
        error = "cannot write '" + written + "'";
        return false;
    }
    if (!file.Commit()) {
        error = "cannot write '" + written + "': " + file.reason();
        return false;
    }
    return true;
}

// Attaches the library anew on a screen of `bpp` bits per pixel.
bool switch_display(int bpp) {
    HMODULE library = GetModuleHandleA("TALVO.dll");
    if (library == nullptr || !FreeLibrary(library)) {
        return false;
    }
    host::DisplayMode mode;
    mode.width = demo::kScreenWidth;
    mode.height = demo::kScreenHeight;
    mode.bits_per_pixel = bpp;
    return host::set_display_mode(mode) && LoadLibraryA("TALVO.dll") != nullptr;
}

// Runs the message loop for `ms` milliseconds of the platform's clock, capturing every 100 ms
// when asked. False when WM_QUIT ended it early.
bool play(const demo::Scene& scene, const Options& o, int bpp, DWORD ms, int& frames,
          std::string& error) {
    const UINT_PTR every = SetTimer(nullptr, 0, 100, nullptr);
    const DWORD start = GetTickCount();
    bool quit = false;
    MSG m;
    // Up to and including the last moment, so that N seconds give 10 N frames.
    while (GetTickCount() - start <= ms) {
        if (GetMessageA(&m, nullptr, 0, 0) <= 0) {
            quit = true;
            break;
        }
        if (m.message == WM_TIMER && m.hwnd == nullptr && m.wParam == every) {
            if (o.frames) {
                char name[32];
                std::snprintf(name, sizeof(name), "demo-%d-%03d", bpp, frames);
                std::string written;
                if (!capture(scene.hwnd(), o.out, name, bpp, written, error)) {
                    break;
                }
                ++frames;
            }
            continue;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    KillTimer(nullptr, every);
    return !quit;
}

// Waits for the live window to be closed.
void hold() {
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

int run_all(const Options& o) {
    for (size_t i = 0; i < o.depths.size(); ++i) {
        const int bpp = o.depths[i];
        if (!switch_display(bpp)) {
            return fail("cannot attach the library on a " + std::to_string(bpp) + "-bit display");
        }
        demo::Scene scene(o.samples);
        if (!scene.ok()) {
            return fail(scene.error());
        }
        scene.Show();
        if (!scene.ok()) {
            return fail(scene.error());
        }
        int frames = 0;
        std::string error;
        // The grid is the same at every depth: written once.
        if (i == 0 && !o.layout.empty() && !write_layout(o.layout, scene, error)) {
            return fail(error);
        }
        const bool went_on =
            play(scene, o, bpp, static_cast<DWORD>(o.seconds * 1000), frames, error);
        if (!error.empty()) {
            return fail(error);
        }
        // The animations stop where they are, so that the picture is the screen's last state.
        TerminateAnimation();
        std::string written;
        if (!capture(scene.hwnd(), o.out, "demo-" + std::to_string(bpp), bpp, written, error)) {
            return fail(error);
        }
        std::printf("talvo demo: wrote %s (%d x %d window on a %d-bit display, %ld s of "
                    "animation)\n",
                    written.c_str(), demo::kScreenWidth, demo::kScreenHeight, bpp, o.seconds);
        if (frames > 0) {
            const char* ext = bpp == 8 ? "bmp" : "jpg";
            std::printf("talvo demo: wrote %d frames, %s/demo-%d-000.%s to demo-%d-%03d.%s\n",
                        frames, o.out.c_str(), bpp, ext, bpp, frames - 1, ext);
        }
        const bool last = i + 1 == o.depths.size() || !went_on;
        if (last && !o.dump.empty()) {
            host::present();
            if (!write_screen_ppm(o.dump, error)) {
                return fail(error);
            }
            std::printf("talvo demo: wrote the screen to %s\n", o.dump.c_str());
            std::fflush(stdout);
        }
        if (o.window) {
            std::printf("talvo demo: the window saw %d mouse moves and %d clicks\n", scene.moves(),
                        scene.clicks());
        }
        std::fflush(stdout);
        if (last && o.hold && went_on) {
            hold();
        }
        if (!went_on) {
            break;
        }
    }
    return 0;
}

int run_demo(int argc, char** argv) {
    Options o;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        long value = 0;
        if (arg == "--help" || arg == "-h") {
            print_help(stdout);
            return 0;
        } else if (arg == "--bpp" && has_value) {
            if (!parse_long(argv[++i], 8, 32, value) ||
                (value != 8 && value != 16 && value != 32)) {
                return usage_error("--bpp takes 32, 16 or 8");
            }
            o.depths = {static_cast<int>(value)};
        } else if (arg == "--out" && has_value) {
            o.out = argv[++i];
        } else if (arg == "--seconds" && has_value) {
            if (!parse_long(argv[++i], 0, 3600, o.seconds)) {
                return usage_error("--seconds takes a whole number from 0 to 3600");
            }
        } else if (arg == "--frames") {
            o.frames = true;
        } else if (arg == "--window") {
            o.window = true;
        } else if (arg == "--hold") {
            o.hold = true;
        } else if (arg == "--dump-screen" && has_value) {
            o.dump = argv[++i];
        } else if (arg == "--layout" && has_value) {
            o.layout = argv[++i];
        } else if (arg == "--samples" && has_value) {
            o.samples = argv[++i];
        } else {
            return usage_error("unknown or incomplete option '" + arg + "'");
        }
    }
    if (o.hold && !o.window) {
        return usage_error("--hold needs --window");
    }
    if (o.window && !demo::LiveWindowAvailable()) {
        return fail("--window is unavailable: this talvo was built without SDL2");
    }
    if (!o.window) {
        return run_all(o);
    }
    int status = 1;
    std::string error;
    if (!demo::RunInLiveWindow([&] { status = run_all(o); }, error)) {
        return fail(error);
    }
    return status;
}

} // namespace

namespace demo {

std::vector<BYTE> ScreenRgb() {
    const host::Framebuffer fb = host::screen_framebuffer();
    std::vector<BYTE> rgb(static_cast<size_t>(fb.width) * fb.height * 3);
    PALETTEENTRY palette[256] = {};
    if (fb.bits_per_pixel <= 8) {
        HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
        GetSystemPaletteEntries(display, 0, 256, palette);
        DeleteDC(display);
    }
    for (int y = 0; y < fb.height; ++y) {
        const BYTE* row = fb.bits + static_cast<size_t>(y) * fb.stride;
        BYTE* out = &rgb[static_cast<size_t>(y) * fb.width * 3];
        for (int x = 0; x < fb.width; ++x, out += 3) {
            switch (fb.bits_per_pixel) {
            case 32:
            case 24: {
                const BYTE* p = row + x * (fb.bits_per_pixel / 8);
                out[0] = p[2];
                out[1] = p[1];
                out[2] = p[0];
                break;
            }
            case 16: {
                const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
                const unsigned r = v >> 11, g = (v >> 5) & 63, b = v & 31;
                out[0] = static_cast<BYTE>((r << 3) | (r >> 2));
                out[1] = static_cast<BYTE>((g << 2) | (g >> 4));
                out[2] = static_cast<BYTE>((b << 3) | (b >> 2));
                break;
            }
            case 8: {
                const PALETTEENTRY& e = palette[row[x]];
                out[0] = e.peRed;
                out[1] = e.peGreen;
                out[2] = e.peBlue;
                break;
            }
            default:
                break; // the demo uses no other depth
            }
        }
    }
    return rgb;
}

} // namespace demo

extern const Command kDemoCommand = {"demo", kUsage,
                                     "the whole library on one screen, captured at 32, 16 and "
                                     "8 bits per pixel",
                                     run_demo};
