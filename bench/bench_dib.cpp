// DIB transfers on a 1024 x 768 bitmap of the display's format, beside memcpy of the same bytes:
// GetDIBits / SetDIBits as the effect drawing of CImageEx uses them (whole bitmap, display depth
// and 24 / 32 bits), and StretchDIBits at 1:1 as image loading does.
#include <platform/host.h>
#include <windows.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int kW = 1024, kH = 768;

struct Setup {
    HDC screen = nullptr;
    HDC dc = nullptr;
    HBITMAP ddb = nullptr;
    HGDIOBJ old = nullptr;
    BITMAPINFOHEADER h{};
    std::vector<BYTE> bits;

    Setup(int display_bpp, int dib_bpp) {
        host::DisplayMode mode;
        mode.bits_per_pixel = display_bpp;
        host::set_display_mode(mode);
        screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        ddb = CreateCompatibleBitmap(screen, kW, kH);
        h.biSize = sizeof h;
        h.biWidth = kW;
        h.biHeight = kH;
        h.biPlanes = 1;
        h.biBitCount = static_cast<WORD>(dib_bpp);
        bits.resize(static_cast<std::size_t>(((kW * dib_bpp + 31) / 32) * 4) * kH);
        std::mt19937 rng(1);
        for (BYTE& b : bits) {
            b = static_cast<BYTE>(rng());
        }
        SetDIBits(dc, ddb, 0, kH, bits.data(), info(), DIB_RGB_COLORS);
    }
    ~Setup() {
        if (old != nullptr) {
            SelectObject(dc, old);
        }
        DeleteObject(ddb);
        DeleteDC(dc);
        ReleaseDC(nullptr, screen);
        host::reset_display();
    }
    BITMAPINFO* info() { return reinterpret_cast<BITMAPINFO*>(&h); }
};

void report(benchmark::State& state, std::size_t bytes) {
    state.SetItemsProcessed(state.iterations() * kW * kH);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["Mpx/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kW * kH / 1e6, benchmark::Counter::kIsRate);
}

void BM_Memcpy(benchmark::State& state) {
    const std::size_t bytes = static_cast<std::size_t>(kW) * kH * state.range(0) / 8;
    std::vector<BYTE> a(bytes, 1), b(bytes);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    report(state, bytes);
}

void BM_GetDIBits(benchmark::State& state) {
    Setup s(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            GetDIBits(s.dc, s.ddb, 0, kH, s.bits.data(), s.info(), DIB_RGB_COLORS));
    }
    report(state, s.bits.size());
}

void BM_SetDIBits(benchmark::State& state) {
    Setup s(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            SetDIBits(s.dc, s.ddb, 0, kH, s.bits.data(), s.info(), DIB_RGB_COLORS));
    }
    report(state, s.bits.size());
}

void BM_StretchDIBits(benchmark::State& state) {
    Setup s(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    s.old = SelectObject(s.dc, s.ddb);
    for (auto _ : state) {
        benchmark::DoNotOptimize(StretchDIBits(s.dc, 0, 0, kW, kH, 0, 0, kW, kH, s.bits.data(),
                                               s.info(), DIB_RGB_COLORS, SRCCOPY));
    }
    report(state, s.bits.size());
}

} // namespace

// Arguments: display depth, DIB depth.
BENCHMARK(BM_Memcpy)->Arg(16)->Arg(24)->Arg(32);
BENCHMARK(BM_GetDIBits)->Args({32, 32})->Args({32, 24})->Args({16, 16})->Args({16, 32});
BENCHMARK(BM_SetDIBits)->Args({32, 32})->Args({32, 24})->Args({16, 16})->Args({16, 32});
BENCHMARK(BM_StretchDIBits)->Args({32, 32})->Args({32, 24})->Args({16, 24})->Args({8, 24});

BENCHMARK_MAIN();
