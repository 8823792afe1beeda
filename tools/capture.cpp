// talvo capture: paints a test card on the screen and saves it with CImage::CaptureWindowToFile,
// so that one can see what a capture makes at each display depth.
#include "commands.h"

#include "output_file.h"
#include "platform/host.h"

#include <Image.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kUsage[] = "OUT [--rect L,T,R,B] [--bpp 32|16|8]";

void PrintHelp() {
    std::printf(
        "usage: talvo capture %s\n\n"
        "Paints a test card (colour bars, ramps, a ring, a checkerboard) on a 1024 x 768\n"
        "screen of the given depth and captures it with the library: a JPEG file named OUT\n"
        "on a 32- or 16-bit display, an 8-bit BMP file with the system palette on an 8-bit\n"
        "palette display, named OUT with its extension replaced by \"bmp\".\n\n"
        "  --rect L,T,R,B  capture this screen rectangle; the library rounds each value\n"
        "                  toward zero to a multiple of 4 and clips it to the screen\n"
        "  --bpp 32|16|8   display depth (default 32)\n"
        "  --help          this text\n",
        kUsage);
}

int Usage(const char* message) {
    std::fprintf(stderr, "talvo capture: %s\nusage: talvo capture %s\n", message, kUsage);
    return 2;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "talvo capture: %s\n", message.c_str());
    return 1;
}

bool ParseRect(const char* text, RECT& r) {
    long v[4];
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        char* end = nullptr;
        errno = 0;
        v[i] = std::strtol(p, &end, 10);
        if (end == p || errno != 0 || v[i] < -1000000 || v[i] > 1000000 ||
            *end != (i < 3 ? ',' : '\0')) {
            return false;
        }
        p = end + 1;
    }
    SetRect(&r, int(v[0]), int(v[1]), int(v[2]), int(v[3]));
    return true;
}

// The test card, top row first, 32 bits a pixel.
std::vector<DWORD> TestCard(int w, int h) {
    static const DWORD kBars[] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00,
                                  0xFF00FF, 0xFF0000, 0x0000FF, 0x000000};
    std::vector<DWORD> card(std::size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            DWORD c;
            if (y < h * 6 / 10) {
                c = kBars[x * 8 / w];
            } else if (y < h * 3 / 4) {
                c = DWORD(x * 255 / (w - 1)) * 0x010101; // grey ramp
            } else if (y < h * 9 / 10) {
                // Red, green and blue ramps side by side.
                const int third = x * 3 / w;
                const int from = third * w / 3, to = (third + 1) * w / 3;
                c = DWORD((x - from) * 255 / (to - from - 1)) << (8 * (2 - third));
            } else {
                c = ((x / 16 + y / 16) % 2) != 0 ? 0xFFFFFF : 0x000000;
            }
            // A ring around the centre.
            const long dx = x - w / 2, dy = y - h / 2;
            const long d2 = dx * dx + dy * dy;
            if (d2 >= 140L * 140 && d2 < 150L * 150) {
                c = 0x808080;
            }
            card[std::size_t(y) * w + x] = c;
        }
    }
    return card;
}

void PaintTestCard(int w, int h, int bits) {
    HDC dc = GetDC(nullptr);
    HPALETTE palette = nullptr;
    HPALETTE old = nullptr;
    if (bits == 8) {
        // A 6 x 6 x 6 colour cube in the free entries, so that ramps keep some of their steps.
        std::vector<BYTE> block(sizeof(LOGPALETTE) + 216 * sizeof(PALETTEENTRY));
        auto* lp = reinterpret_cast<LOGPALETTE*>(block.data());
        lp->palVersion = 0x300;
        lp->palNumEntries = 216;
        for (int i = 0; i < 216; ++i) {
            lp->palPalEntry[i] =
                PALETTEENTRY{BYTE(i / 36 * 51), BYTE(i / 6 % 6 * 51), BYTE(i % 6 * 51), 0};
        }
        palette = CreatePalette(lp);
        old = SelectPalette(dc, palette, FALSE);
        RealizePalette(dc);
    }
    const std::vector<DWORD> card = TestCard(w, h);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    SetDIBitsToDevice(dc, 0, 0, w, h, 0, 0, 0, h, card.data(), &bi, DIB_RGB_COLORS);
    if (palette != nullptr) {
        SelectPalette(dc, old, FALSE);
        DeleteObject(palette);
    }
    ReleaseDC(nullptr, dc);
}

// The capture reports nothing: a file is complete when its own header or end marker says so.
// Returns its size; -1 when it is incomplete, -2 when it does not exist.
long CompleteSize(const std::string& path, bool bmp) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return -2;
    }
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    unsigned char b[6] = {};
    bool ok = size >= 6;
    if (ok && bmp) {
        ok = std::fseek(f, 0, SEEK_SET) == 0 && std::fread(b, 1, 6, f) == 6 && b[0] == 'B' &&
             b[1] == 'M' && (b[2] | b[3] << 8 | b[4] << 16 | long(b[5]) << 24) == size;
    } else if (ok) {
        ok = std::fseek(f, -2, SEEK_END) == 0 && std::fread(b, 1, 2, f) == 2 && b[0] == 0xFF &&
             b[1] == 0xD9;
    }
    std::fclose(f);
    return ok || size == 0 ? size : -1;
}

std::string RectText(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

int Run(int argc, char** argv) {
    const char* out = nullptr;
    RECT rect = {};
    bool withRect = false;
    int bits = 32;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintHelp();
            return 0;
        }
        if (arg == "--rect") {
            if (i + 1 >= argc || !ParseRect(argv[++i], rect)) {
                return Usage("--rect needs four integers L,T,R,B");
            }
            withRect = true;
        } else if (arg == "--bpp") {
            const std::string v = i + 1 < argc ? argv[++i] : "";
            if (v != "32" && v != "16" && v != "8") {
                return Usage("--bpp takes 32, 16 or 8");
            }
            bits = std::atoi(v.c_str());
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage(("unknown option '" + arg + "'").c_str());
        } else if (out == nullptr) {
            out = argv[i];
        } else {
            return Usage("too many arguments");
        }
    }
    if (out == nullptr) {
        return Usage("no output file");
    }
    if (std::strlen(out) >= _MAX_PATH - 16) {
        return Fail(std::string("'") + out + "': name too long");
    }

    // The library attaches at the display's depth (on a palette display it makes its dither
    // palette then), so it is loaded again after the mode changes.
    host::DisplayMode mode;
    mode.bits_per_pixel = bits;
    HMODULE library = GetModuleHandleA("TALVO.dll");
    if (library == nullptr || !FreeLibrary(library) || !host::set_display_mode(mode) ||
        LoadLibraryA("TALVO.dll") == nullptr) {
        return Fail("cannot attach the library at " + std::to_string(bits) + " bits per pixel");
    }
    std::vector<std::string> messages;
    host::set_message_box_handler([&](HWND, const char* text, const char*, UINT) {
        messages.push_back(text);
        return IDOK;
    });

    // On a palette display the library writes a BMP file under the name with "bmp" as its
    // extension, and so does this command. The temporary's name ends in ".bmp" then, so that
    // the library writes the temporary itself and no file of another name.
    const bool bmp = bits == 8;
    const std::string target = bmp ? WithBmpExtension(out) : std::string(out);
    OutputFile file(target.c_str(), bmp ? ".bmp" : "");
    if (!file.ok()) {
        return Fail("cannot create '" + target + "': " + file.reason());
    }
    file.ReleaseStream();
    // The capture makes a file by name, which is read back to see that it is complete.
    if (file.direct()) {
        return Fail("cannot write '" + target + "': not a regular file");
    }

    PaintTestCard(mode.width, mode.height, bits);
    const RECT asked = rect;
    errno = 0;
    CImage::CaptureWindowToFile(nullptr, withRect ? &rect : nullptr,
                                const_cast<char*>(file.path()));
    // The capture reports nothing; the error of its last failed write is still in errno.
    const int writeError = errno;
    const long size = CompleteSize(file.path(), bmp);
    if (size <= 0) {
        // An empty or off-screen rectangle leaves the temporary empty, with no error.
        if (size == 0 && writeError == 0 && messages.empty()) {
            return Fail("nothing to capture in the rectangle " + RectText(asked) + " (rounded to " +
                        RectText(rect) + ") on the " + std::to_string(mode.width) + " x " +
                        std::to_string(mode.height) + " screen");
        }
        return Fail("cannot write '" + target + "': " +
                    (writeError != 0 ? std::strerror(writeError) : "the file is incomplete"));
    }
    if (!file.Commit()) {
        return Fail("cannot write '" + target + "': " + file.reason());
    }
    std::printf("%s: %s at %d bits per pixel\n", target.c_str(),
                bmp ? "8-bit BMP file" : "JPEG file", bits);
    return 0;
}

} // namespace

extern const Command kCaptureCommand = {
    "capture", kUsage, "paint a test card on the screen and capture it to a file", Run};
