// The fast colour conversion and transform against the literal arithmetic, for every kernel set
// this processor runs.
#include "capture/JpegEncoder.h"
#include "capture/JpegTables.h"
#include "capture/jpeg_reference.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace {

// Says once which sets ran, so that a run on a processor without the vector instructions does
// not pass silently for one that checked them.
std::vector<const jpeg::Kernels*> AllKernels() {
    std::vector<const jpeg::Kernels*> all = {&jpeg::PortableKernels()};
    if (jpeg::VectorKernels() != nullptr) {
        all.push_back(jpeg::VectorKernels());
    }
    static const bool said = [&] {
        std::printf("JPEG kernel sets checked:");
        for (const jpeg::Kernels* k : all) {
            std::printf(" %s", k->name);
        }
        std::printf("%s\n", jpeg::VectorKernels() == nullptr
                                ? " (no vector set: this processor lacks its instructions)"
                                : "");
        return true;
    }();
    (void)said;
    return all;
}

TEST(JpegColour, KnownColours) {
    struct Case {
        int b, g, r, y, cb, cr;
    } cases[] = {
        {255, 255, 255, 255, 128, 127}, {0, 0, 0, 0, 128, 128},   {128, 128, 128, 128, 128, 127},
        {0, 0, 255, 76, 84, 255},       {0, 255, 0, 149, 43, 21}, {255, 0, 0, 29, 255, 107},
    };
    for (const jpeg::Kernels* k : AllKernels()) {
        for (const Case& c : cases) {
            BYTE px[3] = {BYTE(c.b), BYTE(c.g), BYTE(c.r)};
            short y, cb, cr;
            k->convertRow(px, px, &y, &cb, &cr, 1);
            EXPECT_TRUE(px[0] == c.y && px[1] == c.cb && px[2] == c.cr && y == c.y - 128 &&
                        cb == c.cb - 128 && cr == c.cr - 128)
                << k->name << " " << c.r << "," << c.g << "," << c.b;
        }
    }
}

// All 2^24 colours, in rows of every length from 1 to 64 so that vector tails are covered.
TEST(JpegColour, EveryColourMatchesLiteralConversion) {
    for (const jpeg::Kernels* k : AllKernels()) {
        std::vector<BYTE> row(3 * 4096 + 64), want(row.size()), out(row.size());
        std::vector<short> y(4096), cb(4096), cr(4096);
        long mismatches = 0;
        int width = 1;
        for (int base = 0; base < (1 << 24); base += 4096) {
            for (int i = 0; i < 4096; ++i) {
                int v = base + i;
                row[3 * i] = BYTE(v);
                row[3 * i + 1] = BYTE(v >> 8);
                row[3 * i + 2] = BYTE(v >> 16);
                reference::ConvertPixel(&row[3 * i], &want[3 * i]);
            }
            for (int x = 0; x < 4096; x += width) {
                int n = std::min(width, 4096 - x);
                // Alternately in place and into a second buffer.
                BYTE* dst = width % 2 ? &row[3 * x] : &out[3 * x];
                k->convertRow(&row[3 * x], dst, &y[x], &cb[x], &cr[x], n);
                if (dst != &row[3 * x]) {
                    std::memcpy(&row[3 * x], dst, 3 * std::size_t(n));
                }
            }
            width = width % 64 + 1;
            for (int i = 0; i < 4096; ++i) {
                bool same = std::memcmp(&row[3 * i], &want[3 * i], 3) == 0 &&
                            y[i] == want[3 * i] - 128 && cb[i] == want[3 * i + 1] - 128 &&
                            cr[i] == want[3 * i + 2] - 128;
                if (!same && ++mismatches < 5) {
                    ADD_FAILURE() << k->name << ": colour 0x" << std::hex << base + i;
                }
            }
        }
        EXPECT_EQ(mismatches, 0) << k->name;
    }
}

// Random blocks of every character: full-range noise (large coefficients, many near multiples of
// the quantiser), smooth ramps, sparse spikes, and one-row or one-column patterns whose values sit
// on the symmetric structure the fast transforms exploit.
void MakeBlock(std::mt19937& rng, int kind, short* b, int stride) {
    std::uniform_int_distribution<int> full(-128, 127);
    int a = full(rng), gx = int(rng() % 33) - 16, gy = int(rng() % 33) - 16;
    const std::function<int(int x, int y)> kinds[] = {
        [&](int, int) { return full(rng); },
        [&](int x, int y) { return a + gx * x + gy * y + int(rng() % 3) - 1; },
        [&](int, int) { return (rng() % 8 == 0) ? full(rng) : a; },
        [&](int, int y) { return (y == 0) ? full(rng) : 0; },
        [&](int x, int) { return (x == int(rng() % 8)) ? 127 : -128; },
        [&](int, int) { return (rng() & 1) ? 127 : -128; },
    };
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            b[y * stride + x] = short(std::clamp(kinds[kind](x, y), -128, 127));
        }
    }
}

// Each block alone, and the same blocks in pairs (side by side in one plane, as the encoder
// transforms them).
TEST(JpegTransform, FastTransformMatchesLiteralSum) {
    std::mt19937 rng(12345);
    const int stride = 21; // two blocks inside a wider plane
    std::vector<short> plane(8 * stride);
    for (const jpeg::Kernels* k : AllKernels()) {
        long differing = 0;
        for (int i = 0; i < 40000; ++i) {
            MakeBlock(rng, i % 6, plane.data(), stride);
            MakeBlock(rng, (i / 6) % 6, plane.data() + 8, stride);
            bool chroma = (i / 36) % 2;
            const BYTE* quant = chroma ? jpeg::kChrominanceQuant : jpeg::kLuminanceQuant;
            short single[2][64], pair[2][64];
            k->transform(plane.data(), stride, quant, single[0]);
            k->transform(plane.data() + 8, stride, quant, single[1]);
            std::vector<short> inPlace = plane;
            k->transformPair(inPlace.data(), inPlace.data() + 8, stride, quant);
            for (int b = 0; b < 2; ++b) {
                for (int z = 0; z < 64; ++z) {
                    pair[b][z] = inPlace[(z / 8) * stride + z % 8 + 8 * b];
                }
            }
            std::vector<short> want = plane;
            reference::TransformBlock(want.data(), stride, chroma);
            reference::TransformBlock(want.data() + 8, stride, chroma);
            for (int b = 0; b < 2; ++b) {
                for (int z = 0; z < 64; ++z) {
                    short w = want[(z / 8) * stride + z % 8 + 8 * b];
                    if ((single[b][z] != w || pair[b][z] != w) && ++differing < 5) {
                        ADD_FAILURE() << k->name << " block " << i << "/" << b << " position " << z
                                      << ": " << single[b][z] << ", " << pair[b][z] << " != " << w;
                    }
                }
            }
        }
        EXPECT_EQ(differing, 0) << k->name;
    }
}

// Blocks found by a random search where one coefficient lies so close to a multiple of its
// quantiser that single-precision arithmetic truncates it to the other side: the literal
// evaluation the kernels fall back on must decide them, alone and in pairs. (Each block defeats
// the portable set without its fallback; only the last defeats the vector set.)
TEST(JpegTransform, CoefficientsAtAQuantiserStepTakeTheLiteralValue) {
    const struct {
        bool chroma;
        short block[64];
    } cases[] = {
        {true, // -98.999998038
         {33,   50,  -19, -117, 104,  -71, 10,  -92, 73,  44,  27,  -27, 45,   -25, -83, -50,
          78,   125, 118, -11,  14,   64,  23,  -78, 97,  62,  -88, 29,  -61,  86,  -68, 37,
          -106, -12, 4,   123,  -81,  72,  66,  -18, -61, 50,  26,  -25, -127, -78, -38, 57,
          127,  100, 105, -44,  -110, -37, -39, 102, 17,  -48, 85,  21,  -124, 38,  -5,  -43}},
        {false, // -37.999996608
         {42,  -42, 42,  42,  -42, -42, -42, 42,  -42, 42, -42, -42, 42,  -42, 42,  42,
          42,  -42, -42, -42, 42,  -42, -42, 42,  -42, 42, -42, -42, 42,  -42, 42,  42,
          -42, -42, -42, 42,  42,  42,  -42, -42, -42, 42, 42,  42,  -42, 42,  -42, 42,
          42,  -42, 42,  42,  -42, 42,  42,  42,  42,  42, -42, -42, 42,  42,  -42, 42}},
    };
    for (const jpeg::Kernels* k : AllKernels()) {
        for (const auto& c : cases) {
            short want[64];
            std::memcpy(want, c.block, sizeof(want));
            reference::TransformBlock(want, 8, c.chroma);
            const BYTE* quant = c.chroma ? jpeg::kChrominanceQuant : jpeg::kLuminanceQuant;
            short got[64];
            k->transform(c.block, 8, quant, got);
            EXPECT_EQ(std::memcmp(got, want, sizeof(got)), 0) << k->name;
            // The same block twice, side by side, through the pair transform.
            short plane[8][16];
            for (int i = 0; i < 64; ++i) {
                plane[i / 8][i % 8] = plane[i / 8][8 + i % 8] = c.block[i];
            }
            k->transformPair(plane[0], plane[0] + 8, 16, quant);
            for (int i = 0; i < 64; ++i) {
                EXPECT_TRUE(plane[i / 8][i % 8] == want[i] && plane[i / 8][8 + i % 8] == want[i])
                    << k->name << " pair, " << i;
            }
        }
    }
}

} // namespace
