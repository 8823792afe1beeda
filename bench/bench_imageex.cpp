// CImageEx effects in frames per second: DrawAlpha, DrawAlphaTransparent and DrawColorize of
// one 64x64 or 256x256 frame onto a screen-compatible memory bitmap, at 32 and 16 bits per pixel.
// Each call copies the frame and the destination out as DIB rows, runs the pixel loop and copies
// the result back, so the figures cover the whole operation, not the loop alone.
#include <ImageEx.h>

#include "imageex/imageex_internal.h"

#include "platform/host.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A two-frame strip of size x size frames written to a file, with every fourth pixel the key.
std::string WriteStrip(int size) {
    const int w = 2 * size, h = size;
    const int stride = (w * 3 + 3) & ~3;
    std::vector<unsigned char> file(54 + static_cast<size_t>(stride) * h, 0);
    const auto put = [&](size_t at, unsigned v, int n) {
        for (int i = 0; i < n; ++i) {
            file[at + i] = static_cast<unsigned char>(v >> (8 * i));
        }
    };
    file[0] = 'B';
    file[1] = 'M';
    put(2, static_cast<unsigned>(file.size()), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, static_cast<unsigned>(w), 4);
    put(22, static_cast<unsigned>(h), 4);
    put(26, 1, 2);
    put(28, 24, 2);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            unsigned char* p = &file[54 + static_cast<size_t>(y) * stride + 3 * x];
            const bool key = (x + y) % 4 == 0;
            p[0] = key ? 255 : static_cast<unsigned char>(x * 7);
            p[1] = key ? 0 : static_cast<unsigned char>(y * 5);
            p[2] = key ? 255 : static_cast<unsigned char>(x + y);
        }
    }
    const std::string name = "/tmp/bench_imageex_" + std::to_string(size) + ".bmp";
    std::FILE* f = std::fopen(name.c_str(), "wb");
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    return name;
}

enum Op { kAlpha, kAlphaTransparent, kColorize };

void BM_Effect(benchmark::State& state) {
    const Op op = static_cast<Op>(state.range(0));
    const int size = static_cast<int>(state.range(1));
    host::DisplayMode mode;
    mode.bits_per_pixel = static_cast<int>(state.range(2));
    host::set_display_mode(mode);
    CImageEx image;
    if (!image.Create(nullptr, WriteStrip(size).c_str(), 2, RGB(255, 0, 255), 0, 0)) {
        state.SkipWithError("the strip did not load");
        return;
    }
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, size, size);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, canvas);
    for (auto _ : state) {
        switch (op) {
        case kAlpha:
            image.DrawAlpha(dc, 0, 0, 1, 100);
            break;
        case kAlphaTransparent:
            image.DrawAlphaTransparent(dc, 0, 0, 1, 100);
            break;
        case kColorize:
            image.DrawColorize(dc, 0, 0, 1, RGB(255, 128, 0));
            break;
        }
    }
    state.counters["frames/s"] =
        benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
    SelectObject(dc, old);
    DeleteObject(canvas);
    DeleteDC(dc);
    host::reset_display();
}

// The pixel loops alone on 256x256 rows, in every set the processor has (0 portable, then SSE2,
// AVX2 and AVX-512), to show what share of a draw they are and what the vector loops gain.
void BM_Loop(benchmark::State& state) {
    const Op op = static_cast<Op>(state.range(0));
    const int bpp = static_cast<int>(state.range(1));
    const std::vector<const EffectKernels*> sets = EffectKernelSets();
    if (static_cast<size_t>(state.range(2)) >= sets.size()) {
        state.SkipWithError("no such loops here");
        return;
    }
    const EffectKernels* set = sets[static_cast<size_t>(state.range(2))];
    state.SetLabel(set->name);
    const int w = 256, h = 256, rowBytes = ((bpp * w + 31) >> 3) & ~3;
    std::vector<BYTE> frame(static_cast<size_t>(rowBytes) * h), dest(frame.size());
    for (size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<BYTE>(i * 37 >> 3);
        dest[i] = static_cast<BYTE>(i * 11);
    }
    for (auto _ : state) {
        if (op == kColorize) {
            set->colorize(bpp, frame.data(), dest.data(), w, h, rowBytes, RGB(255, 128, 0), FALSE,
                          FALSE, 0);
        } else {
            set->mixAlpha(bpp, frame.data(), dest.data(), w, h, rowBytes, 100,
                          op == kAlphaTransparent, RGB(255, 0, 255));
        }
        benchmark::DoNotOptimize(dest.data());
    }
    state.counters["frames/s"] =
        benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

BENCHMARK(BM_Loop)
    ->ArgNames({"op", "bpp", "set"})
    ->ArgsProduct({{kAlpha, kAlphaTransparent, kColorize}, {32, 16}, {0, 1, 2, 3}});
BENCHMARK(BM_Effect)
    ->ArgNames({"op", "size", "bpp"})
    ->ArgsProduct({{kAlpha, kAlphaTransparent, kColorize}, {64, 256}, {32, 16}});

BENCHMARK_MAIN();
