// Sprite drawing in frames per second against SDL2's software blitters, both timed in one run on
// the same frames: CImage::Draw against a plain SDL_BlitSurface; CImage::DrawTransparent (bitmap
// and image-list mode) and CImageEx::DrawTransparent against a colour-key blit (not RLE);
// CImageEx::DrawAlpha at 128 against a blit with the surface alpha set to 128, and at 32 bits per
// pixel the copies that draw must make, alone, against the same blit (a floor). Frames of 64x64
// and 256x256 pixels, photo-like, with about a quarter of their pixels the key colour, drawn onto
// a memory bitmap of the display's format (and an SDL surface of the same format).
//
// The Windows build has no SDL2: there the program times the library alone at the depth of the
// display it finds, so that a script can set the same calls on our platform against the same
// calls on Win32 GDI (under Wine).
//
// Usage: sprites_vs_sdl2 [--bpp 32|16] [--size 64|256] [--only TEXT] [--time SECONDS]
//                        [--rounds N] [--tsv]
//   --bpp     one depth only (natively both 32 and 16 are run; on Windows, the display's depth)
//   --size    one frame size only
//   --only    the operations whose name contains TEXT (for a profiler)
//   --time    how long each side runs per round (default 0.25 s); the best round counts
//   --rounds  rounds per line, the two sides taking turns (default 3)
//   --tsv     lines of operation, size, bpp, talvo f/s and SDL2 f/s (0 without SDL2), no table
#include "screen_bitmap.h"

#include <Image.h>
#include <ImageEx.h>

#include <afxwin.h>
#include <windows.h>

#ifdef _WIN32
#include <process.h>
#else
#include <platform/host.h>
#include <unistd.h>
#endif
#ifdef TALVO_WITH_SDL2
#include <SDL.h>
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kFrames = 2;                       // frames in each strip; frame 1 is drawn
constexpr COLORREF kKey = RGB(255, 0, 255);      // never met in the picture, even at 5-6-5
constexpr int kMargin = 8;                       // the frame is drawn at (8, 8)
constexpr std::uint32_t kKeyPixel = 0x00FF00FFu; // kKey as a 32-bit pixel (0x00RRGGBB)

struct Options {
    std::vector<int> depths;
    std::vector<int> sizes = {64, 256};
    std::string only;
    double seconds = 0.25;
    int rounds = 3;
    bool tsv = false;
};

// A photo-like strip, 0x00RRGGBB pixels, rows top-down: smooth shading with fine grain in every
// frame, and the key colour outside an ellipse that leaves about a quarter of the frame.
std::vector<std::uint32_t> MakePixels(int size) {
    const int width = size * kFrames;
    std::vector<std::uint32_t> pixels(static_cast<size_t>(width) * size);
    const double radius = size * 0.4886; // pi r^2 = 3/4 of the frame
    std::uint32_t seed = 12345;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int grain = static_cast<int>((seed >> 16) & 15) - 8;
            const double dx = x % size - size / 2.0 + 0.5;
            const double dy = y - size / 2.0 + 0.5;
            std::uint32_t pixel = kKeyPixel;
            if (dx * dx + dy * dy < radius * radius) {
                const double u = static_cast<double>(x % size) / size;
                const double v = static_cast<double>(y) / size;
                const auto channel = [&](double value, int low) {
                    const int c = static_cast<int>(value * 255.0) + grain;
                    return static_cast<std::uint32_t>(std::clamp(c, low, 255));
                };
                const std::uint32_t r = channel(0.5 + 0.4 * std::sin(6.0 * u + 2.0 * v), 0);
                const std::uint32_t g = channel(0.5 + 0.35 * std::cos(5.0 * v - 3.0 * u), 40);
                const std::uint32_t b = channel(0.3 + 0.6 * u * v + 0.1 * (x / size), 0);
                pixel = r << 16 | g << 8 | b;
            }
            pixels[static_cast<size_t>(y) * width + x] = pixel;
        }
    }
    return pixels;
}

// The strip as a 24-bit bottom-up BMP file in the temporary folder, for CImageEx.
std::string WriteBmp(const std::vector<std::uint32_t>& pixels, int size) {
    const int width = size * kFrames;
    const int stride = (width * 3 + 3) & ~3;
    std::vector<unsigned char> file(54 + static_cast<size_t>(stride) * size, 0);
    const auto put = [&](size_t at, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            file[at + i] = static_cast<unsigned char>(value >> (8 * i));
        }
    };
    file[0] = 'B';
    file[1] = 'M';
    put(2, static_cast<std::uint32_t>(file.size()), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, static_cast<std::uint32_t>(width), 4);
    put(22, static_cast<std::uint32_t>(size), 4);
    put(26, 1, 2);
    put(28, 24, 2);
    for (int y = 0; y < size; ++y) {
        unsigned char* row = &file[54 + static_cast<size_t>(size - 1 - y) * stride];
        for (int x = 0; x < width; ++x) {
            put(static_cast<size_t>(row - file.data()) + 3 * static_cast<size_t>(x),
                pixels[static_cast<size_t>(y) * width + x], 3);
        }
    }
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    // The process id in the name keeps two runs at once from writing one file.
#ifdef _WIN32
    const long id = _getpid();
#else
    const long id = getpid();
#endif
    const std::string name = std::string(folder) + "sprites_vs_sdl2_" + std::to_string(id) + "_" +
                             std::to_string(size) + ".bmp";
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (f == nullptr) {
        return {};
    }
    const bool written = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && written ? name : std::string();
}

// A memory context holding a screen-compatible bitmap the frame fits in with a margin.
struct Target {
    CDC dc;
    CBitmap bitmap;
    HGDIOBJ previous = nullptr;

    explicit Target(int size) {
        HDC screen = GetDC(nullptr);
        bitmap.Attach(CreateCompatibleBitmap(screen, size + 2 * kMargin, size + 2 * kMargin));
        dc.CreateCompatibleDC(nullptr);
        ReleaseDC(nullptr, screen);
        previous = ::SelectObject(dc, bitmap);
        dc.PatBlt(0, 0, size + 2 * kMargin, size + 2 * kMargin, WHITENESS);
    }
    ~Target() {
        if (previous != nullptr) {
            ::SelectObject(dc, previous);
        }
    }
    bool Ready() const { return previous != nullptr; }
};

using Call = std::function<bool()>;

// Calls per second: batches of calls, doubled until one lasts 10 ms, then repeated until
// `seconds` have passed. 0 when a call fails.
double Rate(const Call& call, double seconds) {
    using Clock = std::chrono::steady_clock;
    long batch = 1;
    for (;;) {
        const auto start = Clock::now();
        for (long i = 0; i < batch; ++i) {
            if (!call()) {
                return 0;
            }
        }
        if (Clock::now() - start >= std::chrono::milliseconds(10) || batch >= (1L << 24)) {
            break;
        }
        batch *= 2;
    }
    long calls = 0;
    const auto start = Clock::now();
    std::chrono::duration<double> spent{};
    do {
        for (long i = 0; i < batch; ++i) {
            call();
        }
        calls += batch;
        spent = Clock::now() - start;
    } while (spent.count() < seconds);
    return static_cast<double>(calls) / spent.count();
}

#ifdef TALVO_WITH_SDL2

struct SurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

// The SDL2 side of one frame size and depth: three copies of the strip (plain, keyed, alpha
// modulated, so that no setting of one blit leaks into another) and a destination surface.
struct SdlSide {
    Surface plain, keyed, alpha, target;
    SDL_Rect from{};

    SdlSide(const std::vector<std::uint32_t>& pixels, int size, int bpp) {
        const Uint32 format = bpp == 16 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_RGB888;
        const int width = size * kFrames;
        Surface source(SDL_CreateRGBSurfaceWithFormatFrom(const_cast<std::uint32_t*>(pixels.data()),
                                                          width, size, 32, width * 4,
                                                          SDL_PIXELFORMAT_RGB888));
        if (!source) {
            return;
        }
        for (Surface* s : {&plain, &keyed, &alpha}) {
            s->reset(SDL_ConvertSurfaceFormat(source.get(), format, 0));
        }
        target.reset(
            SDL_CreateRGBSurfaceWithFormat(0, size + 2 * kMargin, size + 2 * kMargin, bpp, format));
        if (!plain || !keyed || !alpha || !target) {
            plain.reset();
            return;
        }
        SDL_FillRect(target.get(), nullptr, SDL_MapRGB(target->format, 255, 255, 255));
        SDL_SetColorKey(keyed.get(), SDL_TRUE, SDL_MapRGB(keyed->format, 255, 0, 255));
        SDL_SetSurfaceRLE(keyed.get(), 0);
        SDL_SetSurfaceBlendMode(alpha.get(), SDL_BLENDMODE_BLEND);
        SDL_SetSurfaceAlphaMod(alpha.get(), 128);
        from = SDL_Rect{size, 0, size, size};
    }
    bool Ready() const { return plain != nullptr; }
    bool Blit(SDL_Surface* source) {
        SDL_Rect to{kMargin, kMargin, from.w, from.h};
        return SDL_BlitSurface(source, &from, target.get(), &to) == 0;
    }
};

// DrawAlpha's passes alone, for a floor under the draw: on plain buffers of the draw's layout,
// without contexts, bitmaps or handles, the five copies the draw cannot avoid. The frame's rows
// and the destination's rows are read out bottom-up into two buffers (fourth byte cleared, as
// GetDIBits gives 32-bit rows), the frame is mixed into the destination's buffer at 128, the
// buffer is copied into a scratch bitmap's rows (SetDIBits must copy: the caller owns the buffer)
// and those onto the destination. 32-bit pixels only.
class AlphaPasses {
public:
    explicit AlphaPasses(int size)
        : size_(size), frame_(MakePixels(size)),
          target_(static_cast<size_t>(size + 2 * kMargin) * (size + 2 * kMargin), 0x00FFFFFFu),
          frameRows_(static_cast<size_t>(size) * size), destRows_(frameRows_.size()),
          scratch_(frameRows_.size()) {}
    bool Draw() {
        const int n = size_;
        const int targetWidth = n + 2 * kMargin;
        const std::uint32_t* frame = frame_.data() + n; // frame 1
        std::uint32_t* dest = target_.data() + static_cast<size_t>(kMargin) * targetWidth + kMargin;
        const auto row = [n](std::vector<std::uint32_t>& v, int y) { return &v[size_t(y) * n]; };
        for (int y = 0; y < n; ++y) {
            CopyCleared(row(frameRows_, n - 1 - y), frame + static_cast<size_t>(y) * n * kFrames,
                        n);
        }
        for (int y = 0; y < n; ++y) {
            CopyCleared(row(destRows_, n - 1 - y), dest + static_cast<size_t>(y) * targetWidth, n);
        }
        Mix(frameRows_.data(), destRows_.data(), frameRows_.size());
        for (int y = 0; y < n; ++y) {
            CopyCleared(row(scratch_, y), row(destRows_, n - 1 - y), n);
        }
        for (int y = 0; y < n; ++y) {
            std::memcpy(dest + static_cast<size_t>(y) * targetWidth, row(scratch_, y),
                        size_t(n) * 4);
        }
        return true;
    }

private:
#if defined(__x86_64__) && defined(__GNUC__)
    __attribute__((target("avx512f,avx512bw"))) static void
    CopyCleared512(std::uint32_t* to, const std::uint32_t* from, int n) {
        const __m512i keep = _mm512_set1_epi32(0x00FFFFFF);
        int i = 0;
        for (; i + 16 <= n; i += 16) {
            _mm512_storeu_si512(to + i, _mm512_and_si512(_mm512_loadu_si512(from + i), keep));
        }
        for (; i < n; ++i) {
            to[i] = from[i] & 0x00FFFFFFu;
        }
    }
    // f + ((d - f) * 128 >> 8) on 16-bit lanes.
    __attribute__((target("avx512f,avx512bw"))) static __m512i Half(__m512i f, __m512i d) {
        return _mm512_add_epi16(
            f, _mm512_srai_epi16(_mm512_mullo_epi16(_mm512_sub_epi16(d, f), _mm512_set1_epi16(128)),
                                 8));
    }
    __attribute__((target("avx512f,avx512bw"))) static void Mix512(const std::uint32_t* frame,
                                                                   std::uint32_t* dest, size_t n) {
        const __m512i zero = _mm512_setzero_si512();
        size_t i = 0;
        for (; i + 16 <= n; i += 16) {
            const __m512i f = _mm512_loadu_si512(frame + i), d = _mm512_loadu_si512(dest + i);
            const __m512i lo = Half(_mm512_unpacklo_epi8(f, zero), _mm512_unpacklo_epi8(d, zero));
            const __m512i hi = Half(_mm512_unpackhi_epi8(f, zero), _mm512_unpackhi_epi8(d, zero));
            _mm512_storeu_si512(dest + i, _mm512_and_si512(_mm512_packus_epi16(lo, hi),
                                                           _mm512_set1_epi32(0x00FFFFFF)));
        }
        MixPortable(frame + i, dest + i, n - i);
    }
    static bool Wide() {
        return __builtin_cpu_supports("avx512bw");
    }
#else
    static void CopyCleared512(std::uint32_t*, const std::uint32_t*, int) {}
    static void Mix512(const std::uint32_t*, std::uint32_t*, size_t) {}
    static bool Wide() {
        return false;
    }
#endif
    static void CopyCleared(std::uint32_t* to, const std::uint32_t* from, int n) {
        if (Wide()) {
            CopyCleared512(to, from, n);
            return;
        }
        for (int i = 0; i < n; ++i) {
            to[i] = from[i] & 0x00FFFFFFu;
        }
    }
    static void MixPortable(const std::uint32_t* frame, std::uint32_t* dest, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            std::uint32_t out = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                const int f = static_cast<int>((frame[i] >> shift) & 0xFF);
                const int d = static_cast<int>((dest[i] >> shift) & 0xFF);
                out |= static_cast<std::uint32_t>(f + (((d - f) * 128) >> 8)) << shift;
            }
            dest[i] = out;
        }
    }
    static void Mix(const std::uint32_t* frame, std::uint32_t* dest, size_t n) {
        if (Wide()) {
            Mix512(frame, dest, n);
        } else {
            MixPortable(frame, dest, n);
        }
    }

    int size_;
    std::vector<std::uint32_t> frame_, target_, frameRows_, destRows_, scratch_;
};

#endif

struct Line {
    const char* name;
    Call talvo;
    Call sdl; // empty without SDL2
};

void Report(const Options& options, const char* name, int size, int bpp, double talvo, double sdl) {
    if (options.tsv) {
        std::printf("%s\t%d\t%d\t%.1f\t%.1f\n", name, size, bpp, talvo, sdl);
    } else if (sdl > 0) {
        std::printf("%-32s %4d %4d %12.0f %12.0f %10.2f\n", name, size, bpp, talvo, sdl,
                    talvo / sdl);
    } else {
        std::printf("%-32s %4d %4d %12.0f %12s %10s\n", name, size, bpp, talvo, "-", "-");
    }
    std::fflush(stdout);
}

// Every line at one frame size and depth; false when the frames cannot be made.
bool RunSize(const Options& options, int size, int bpp) {
    const std::vector<std::uint32_t> pixels = MakePixels(size);
    CBitmap stripBitmap;
    if (!MakeScreenBitmap(stripBitmap, pixels.data(), size * kFrames, size)) {
        std::fprintf(stderr, "the %dx%d strip cannot be made\n", size, size);
        return false;
    }
    CImage bitmapStrip, listStrip;
    const std::string file = WriteBmp(pixels, size);
    CImageEx exStrip;
    const bool made = bitmapStrip.Create(&stripBitmap, kFrames, kKey, 0, 0) != 0 &&
                      listStrip.Create(&stripBitmap, kFrames, kKey, 0, 1) != 0 && !file.empty() &&
                      exStrip.Create(nullptr, file.c_str(), kFrames, kKey, 0, 0);
    if (!file.empty()) {
        DeleteFileA(file.c_str());
    }
    Target target(size);
    if (!made || !target.Ready()) {
        std::fprintf(stderr, "the %dx%d strips cannot be made\n", size, size);
        return false;
    }
    CDC* dc = &target.dc;
    HDC hdc = target.dc.GetSafeHdc();
    std::vector<Line> lines = {
        {"CImage::Draw", [&] { return bitmapStrip.Draw(dc, kMargin, kMargin, 1) != 0; }, {}},
        {"CImage::DrawTransparent bitmap",
         [&] { return bitmapStrip.DrawTransparent(dc, kMargin, kMargin, 1) != 0; },
         {}},
        {"CImage::DrawTransparent list",
         [&] { return listStrip.DrawTransparent(dc, kMargin, kMargin, 1) != 0; },
         {}},
        {"CImageEx::DrawTransparent",
         [&] { return exStrip.DrawTransparent(hdc, kMargin, kMargin, 1) != 0; },
         {}},
        {"CImageEx::DrawAlpha 128",
         [&] { return exStrip.DrawAlpha(hdc, kMargin, kMargin, 1, 128) != 0; },
         {}},
    };
#ifdef TALVO_WITH_SDL2
    SdlSide sdl(pixels, size, bpp);
    if (!sdl.Ready()) {
        std::fprintf(stderr, "the SDL2 surfaces cannot be made: %s\n", SDL_GetError());
        return false;
    }
    lines[0].sdl = [&] { return sdl.Blit(sdl.plain.get()); };
    for (int i : {1, 2, 3}) {
        lines[i].sdl = [&] { return sdl.Blit(sdl.keyed.get()); };
    }
    lines[4].sdl = [&] { return sdl.Blit(sdl.alpha.get()); };
    AlphaPasses passes(size);
    if (bpp == 32) {
        lines.push_back(
            {"DrawAlpha 128: its passes alone", [&] { return passes.Draw(); }, lines[4].sdl});
    }
#endif
    for (const Line& line : lines) {
        if (std::string(line.name).find(options.only) == std::string::npos) {
            continue;
        }
        double talvo = 0, other = 0;
        for (int round = 0; round < options.rounds; ++round) {
            talvo = std::max(talvo, Rate(line.talvo, options.seconds));
            if (line.sdl) {
                other = std::max(other, Rate(line.sdl, options.seconds));
            }
        }
        Report(options, line.name, size, bpp, talvo, other);
    }
    return true;
}

int ScreenDepth() {
    HDC screen = GetDC(nullptr);
    const int bpp = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
    return bpp;
}

// Natively the display is switched to the depth asked for and the library attached again there;
// on Windows only the display's own depth can run.
bool UseDepth(int bpp) {
    if (ScreenDepth() == bpp) {
        return true;
    }
#ifdef _WIN32
    return false;
#else
    HMODULE library = GetModuleHandleA("TALVO.dll");
    if (library == nullptr || !FreeLibrary(library)) {
        return false;
    }
    host::DisplayMode mode;
    mode.bits_per_pixel = bpp;
    return host::set_display_mode(mode) && LoadLibraryA("TALVO.dll") != nullptr;
#endif
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--tsv") {
            options.tsv = true;
        } else if (arg == "--bpp" && value != nullptr) {
            options.depths = {std::atoi(value)};
            ++i;
        } else if (arg == "--size" && value != nullptr) {
            options.sizes = {std::atoi(value)};
            ++i;
        } else if (arg == "--only" && value != nullptr) {
            options.only = value;
            ++i;
        } else if (arg == "--time" && value != nullptr) {
            options.seconds = std::atof(value);
            ++i;
        } else if (arg == "--rounds" && value != nullptr) {
            options.rounds = std::max(1, std::atoi(value));
            ++i;
        } else {
            return false;
        }
    }
    if (options.depths.empty()) {
#ifdef _WIN32
        options.depths = {ScreenDepth()};
#else
        options.depths = {32, 16};
#endif
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: sprites_vs_sdl2 [--bpp 32|16] [--size 64|256] [--only TEXT] "
                             "[--time SECONDS] [--rounds N] [--tsv]\n");
        return 2;
    }
    if (!options.tsv) {
        std::printf("%-32s %4s %4s %12s %12s %10s\n", "operation", "size", "bpp", "talvo f/s",
                    "SDL2 f/s", "talvo/SDL2");
    }
    int status = 0;
    for (int bpp : options.depths) {
        if (!UseDepth(bpp)) {
            std::fprintf(stderr, "the display cannot run at %d bits per pixel\n", bpp);
            status = 1;
            continue;
        }
        for (int size : options.sizes) {
            if (!RunSize(options, size, bpp)) {
                status = 1;
            }
        }
    }
    return status;
}
