// Blit throughput in megapixels per second beside memcpy of the same bytes, on 64x64 and
// 1024x768 bitmaps at 32 and 16 bits per pixel. The steps are those of masked sprite drawing:
// SRCCOPY, the colour-to-monochrome mask, SRCAND, SRCINVERT and 0x00220326 (D AND NOT S).
// bench/blit_ratios.sh runs this and prints each step as a ratio of memcpy.
#include <windows.h>

#include "platform/host.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

struct Surfaces {
    HDC src_dc, dst_dc;
    HBITMAP src, dst;
    HGDIOBJ old_src, old_dst;

    Surfaces(int w, int h, int bpp, bool mono_dst) {
        host::DisplayMode mode;
        mode.bits_per_pixel = bpp;
        host::set_display_mode(mode);
        src_dc = CreateCompatibleDC(nullptr);
        dst_dc = CreateCompatibleDC(nullptr);
        src = CreateBitmap(w, h, 1, bpp, nullptr);
        dst = CreateBitmap(w, h, 1, mono_dst ? 1 : bpp, nullptr);
        // Pixels that are not all the key, so the mask loop does real work.
        std::vector<BYTE> bits(static_cast<std::size_t>(GetBitmapBits(src, 0, nullptr)));
        for (std::size_t i = 0; i < bits.size(); ++i) {
            bits[i] = static_cast<BYTE>((i * 37) >> 3);
        }
        SetBitmapBits(src, static_cast<DWORD>(bits.size()), bits.data());
        old_src = SelectObject(src_dc, src);
        old_dst = SelectObject(dst_dc, dst);
        SetBkColor(src_dc, RGB(255, 0, 255));
    }
    ~Surfaces() {
        SelectObject(src_dc, old_src);
        SelectObject(dst_dc, old_dst);
        DeleteObject(src);
        DeleteObject(dst);
        DeleteDC(src_dc);
        DeleteDC(dst_dc);
        host::reset_display();
    }
};

void set_rate(benchmark::State& state, int w, int h) {
    state.counters["Mpx/s"] = benchmark::Counter(static_cast<double>(w) * h * 1e-6,
                                                 benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Memcpy(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const int bpp = static_cast<int>(state.range(2));
    const std::size_t bytes = static_cast<std::size_t>(w) * h * bpp / 8;
    std::vector<BYTE> a(bytes, 1), b(bytes, 2);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    set_rate(state, w, h);
}

template <DWORD Rop, bool Mono> void BM_Blit(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    Surfaces s(w, h, static_cast<int>(state.range(2)), Mono);
    for (auto _ : state) {
        BitBlt(s.dst_dc, 0, 0, w, h, s.src_dc, 0, 0, Rop);
        benchmark::ClobberMemory();
    }
    set_rate(state, w, h);
}

void sizes(benchmark::internal::Benchmark* b) {
    for (int bpp : {32, 16}) {
        b->Args({64, 64, bpp});
        b->Args({1024, 768, bpp});
    }
}

} // namespace

BENCHMARK(BM_Memcpy)->Apply(sizes);
BENCHMARK(BM_Blit<SRCCOPY, false>)->Name("BM_SrcCopy")->Apply(sizes);
BENCHMARK(BM_Blit<SRCCOPY, true>)->Name("BM_Mask")->Apply(sizes);
BENCHMARK(BM_Blit<SRCAND, false>)->Name("BM_SrcAnd")->Apply(sizes);
BENCHMARK(BM_Blit<SRCINVERT, false>)->Name("BM_SrcInvert")->Apply(sizes);
BENCHMARK(BM_Blit<0x00220326, false>)->Name("BM_AndNotSrc")->Apply(sizes);

BENCHMARK_MAIN();
