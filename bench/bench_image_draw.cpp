// Frames per second of every CImage drawing operation (the table the tests walk), on frames of
// 64 x 64 and 256 x 256 pixels, at 32 and 16 bits per pixel, in bitmap mode and in image-list
// mode. The animations run with no delay, so a call counts as many frames as the strip has.
#include "image/draw_operations.h"
#include "screen_bitmap.h"

#include <Image.h>

#include <afxcmn.h>
#include <afxwin.h>
#include <platform/host.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kFrames = 4;
constexpr COLORREF kKey = RGB(0, 0, 255);

// Frees the library and loads it again at the depth asked for (once per change).
bool UseDepth(int bits) {
    static int current = 32;
    if (bits == current) {
        return true;
    }
    HMODULE library = GetModuleHandleA("TALVO.dll");
    if (library == nullptr || !FreeLibrary(library)) {
        return false;
    }
    host::DisplayMode mode;
    mode.bits_per_pixel = bits;
    if (!host::set_display_mode(mode) || LoadLibraryA("TALVO.dll") == nullptr) {
        return false;
    }
    current = bits;
    return true;
}

// A strip of kFrames square frames: a disc in each, on the key colour, so that about a fifth of
// every frame is transparent.
bool MakeStrip(CImage& strip, int size, bool imageList) {
    const int width = size * kFrames;
    std::vector<DWORD> pixels(static_cast<size_t>(width) * size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < width; ++x) {
            const int dx = x % size - size / 2;
            const int dy = y - size / 2;
            const bool inside = dx * dx + dy * dy < size * size / 4;
            pixels[static_cast<size_t>(y) * width + x] =
                inside ? 0x00FF8000u + static_cast<DWORD>((x * 7 + y * 3) & 0x7F) : 0x000000FFu;
        }
    }
    CBitmap source;
    MakeScreenBitmap(source, pixels.data(), width, size);
    return strip.Create(&source, kFrames, kKey, 1, imageList ? 1 : 0) != 0;
}

struct Target {
    CDC dc;
    CBitmap bitmap;
    CBitmap background;
    HGDIOBJ previous = nullptr;

    explicit Target(int size) {
        HDC screen = GetDC(nullptr);
        bitmap.Attach(CreateCompatibleBitmap(screen, size + 16, size + 16));
        background.Attach(CreateCompatibleBitmap(screen, size + 32, size + 32));
        ReleaseDC(nullptr, screen);
        dc.CreateCompatibleDC(nullptr);
        previous = ::SelectObject(dc, bitmap);
    }
    ~Target() { ::SelectObject(dc, previous); }
};

void BM_Draw(benchmark::State& state, const drawtest::DrawOperation& op, int bits, int size,
             bool imageList) {
    if (!UseDepth(bits)) {
        state.SkipWithError("display depth not available");
        return;
    }
    CImage strip;
    if (!MakeStrip(strip, size, imageList)) {
        state.SkipWithError("strip not created");
        return;
    }
    Target target(size);
    int frame = 0;
    for (auto _ : state) {
        if (op.run(strip, &target.dc, 8, 8, frame, &target.background) == 0) {
            state.SkipWithError("the operation failed");
            break;
        }
        frame = (frame + 1) % kFrames;
    }
    state.SetItemsProcessed(state.iterations() * (op.animation ? kFrames : 1));
}

} // namespace

int main(int argc, char** argv) {
    for (int bits : {32, 16}) {
        for (const drawtest::DrawOperation& op : drawtest::DrawOperations()) {
            for (bool imageList : {false, true}) {
                if (!op.RunsIn(imageList)) {
                    continue;
                }
                for (int size : {64, 256}) {
                    const std::string name = std::string(op.name) + "/" +
                                             (imageList ? "list" : "bitmap") + "/" +
                                             std::to_string(bits) + "bpp/" + std::to_string(size);
                    benchmark::RegisterBenchmark(name.c_str(), BM_Draw, op, bits, size, imageList);
                }
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
