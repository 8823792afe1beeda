// The JPEG encoder: whole encodes of a photo-like image, and each kernel of the pixel pipeline
// in its portable and vectorised forms.
#include "capture/JpegEncoder.h"
#include "capture/JpegTables.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// A smooth colour field with texture and grain, in the encoder's input layout.
std::vector<BYTE> PhotoLike(int width, int height) {
    const int stride = (3 * width + 3) / 4 * 4;
    std::vector<BYTE> bits(std::size_t(stride) * height);
    std::mt19937 rng(1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                double v = 128 + 80 * std::sin(0.9 * c + x / 300.0 + y / 200.0) +
                           30 * std::sin(x / (7.0 + c) + std::cos(y / 11.0)) + int(rng() % 9) - 4;
                bits[std::size_t(y) * stride + 3 * x + c] = BYTE(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
        }
    }
    return bits;
}

void BM_Encode(benchmark::State& state) {
    const int width = int(state.range(0)), height = int(state.range(1));
    std::vector<BYTE> bits = PhotoLike(width, height);
    for (auto _ : state) {
        CJpegEncoder encoder;
        encoder.Encode("bench.jpg", width, height, bits.data());
    }
    state.counters["Mpx/s"] = benchmark::Counter(double(width) * height * 1e-6,
                                                 benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Encode)->Args({2400, 1600})->Args({640, 480})->Unit(benchmark::kMillisecond);

const jpeg::Kernels* KernelSet(int which) {
    return which == 0 ? &jpeg::PortableKernels() : jpeg::VectorKernels();
}

void BM_Transform(benchmark::State& state) {
    const jpeg::Kernels* k = KernelSet(int(state.range(0)));
    if (k == nullptr) {
        state.SkipWithError("not supported here");
        return;
    }
    state.SetLabel(k->name);
    std::mt19937 rng(2);
    std::vector<short> plane(8 * 1024);
    for (short& s : plane) {
        s = short(int(rng() % 64) - 32);
    }
    short out[64];
    for (auto _ : state) {
        for (int x = 0; x < 1024; x += 8) {
            k->transform(plane.data() + x, 1024, jpeg::kLuminanceQuant, out);
            benchmark::DoNotOptimize(out);
        }
    }
    state.SetItemsProcessed(state.iterations() * 128);
}
BENCHMARK(BM_Transform)->Arg(0)->Arg(1);

void BM_ConvertRow(benchmark::State& state) {
    const jpeg::Kernels* k = KernelSet(int(state.range(0)));
    if (k == nullptr) {
        state.SkipWithError("not supported here");
        return;
    }
    state.SetLabel(k->name);
    std::vector<BYTE> row = PhotoLike(2048, 1);
    std::vector<BYTE> work(row.size());
    std::vector<short> y(2048), cb(2048), cr(2048);
    for (auto _ : state) {
        k->convertRow(row.data(), work.data(), y.data(), cb.data(), cr.data(), 2048);
        benchmark::DoNotOptimize(y.data());
    }
    state.SetItemsProcessed(state.iterations() * 2048);
}
BENCHMARK(BM_ConvertRow)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
