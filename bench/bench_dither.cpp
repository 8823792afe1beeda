// Dithering throughput by source layout, and the two loops side by side: the plain-order loop
// that a lookup cache with empty entries needs, and the several-rows-at-once loop used when the
// cache is full.
#include "dither/DitherDibAccess.h"
#include "dither/test_images.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

constexpr int kWidth = 2000;
constexpr int kHeight = 1500;

enum class Path { Full, WithEmptyEntry };

// The photo as a file of `bits` per pixel (16: 5-5-5), as the library is given it.
void BM_Dither(benchmark::State& state, int bits, int destBits, Path path) {
    static const auto rgb = testimg::make24(testimg::Kind::Photo, kWidth, kHeight, 1);
    const int stride = bmpfile::stride(kWidth, 24);
    const auto src = testimg::from_file(
        bmpfile::from_pixels(kWidth, kHeight, bits,
                             [&](int x, int y) {
                                 const BYTE* p =
                                     &rgb[std::size_t(stride) * (kHeight - 1 - y) + 3 * x];
                                 return RGB(p[2], p[1], p[0]);
                             }),
        {});
    // The first dither of the process loads (or computes) the lookup table.
    GlobalFree(CDitherDibAccess::DitherDIB(src.info(), src.bits.data(), destBits));
    WORD* cache = CDitherDibAccess::LookUpCache();
    for (auto _ : state) {
        state.PauseTiming();
        if (path == Path::WithEmptyEntry) {
            cache[0x7FFF] = 0xFFFF; // pure white's entry: the photo does not reach it
        }
        state.ResumeTiming();
        HGLOBAL block = CDitherDibAccess::DitherDIB(src.info(), src.bits.data(), destBits);
        benchmark::DoNotOptimize(block);
        GlobalFree(block);
    }
    if (path == Path::WithEmptyEntry) {
        cache[0x7FFF] = 255;
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

BENCHMARK_CAPTURE(BM_Dither, 24_to_8_full, 24, 8, Path::Full)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Dither, 24_to_8_plain_order, 24, 8, Path::WithEmptyEntry)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Dither, 32_to_8_full, 32, 8, Path::Full)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Dither, 16_to_8_full, 16, 8, Path::Full)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Dither, 24_to_4_full, 24, 4, Path::Full)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
