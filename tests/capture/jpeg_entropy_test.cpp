// Code tables and entropy coding: the coded bits of blocks against hand-written strings and the
// literal bit-by-bit coder.
#include "capture/JpegEncoder.h"
#include "capture/JpegTables.h"
#include "capture/jpeg_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// An encoder with its code tables built from the template, ready to code blocks.
struct Coder {
    CJpegEncoder enc;
    Coder() {
        enc.m_pBuffer = static_cast<BYTE*>(std::malloc(sizeof jpeg::kHuffmanTemplate));
        std::memcpy(enc.m_pBuffer, jpeg::kHuffmanTemplate, sizeof jpeg::kHuffmanTemplate);
        enc.m_nBufferPos = 0;
        enc.BuildHuffmanTables();
        std::free(enc.m_pBuffer);
        enc.m_pBuffer = nullptr;
        enc.BuildSymbolIndexes();
        enc.m_nBufferPos = 0;
    }
    // Completes the last byte with 0-bits and returns everything coded.
    std::vector<std::uint8_t> Finish() {
        while (enc.m_nBitPos != 0) {
            enc.PutBit(0);
        }
        return std::vector<std::uint8_t>(enc.m_pBuffer, enc.m_pBuffer + enc.m_nBufferPos);
    }
};

TEST(JpegEntropy, BitCategory) {
    struct Case {
        short v;
        int n;
    } cases[] = {{0, 0},   {1, 1},    {-1, 1},    {2, 2},     {-3, 2},     {4, 3},
                 {255, 8}, {-256, 9}, {1023, 10}, {2047, 11}, {32767, 15}, {-32768, 16}};
    for (const Case& c : cases) {
        EXPECT_EQ(CJpegEncoder::BitCategory(c.v), c.n) << c.v;
    }
}

// The coded bits, without the 0x00 bytes stuffed after 0xFF.
std::string Bits(const std::vector<std::uint8_t>& bytes) {
    std::string s;
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        for (int i = 7; i >= 0; --i) {
            s += char('0' + ((bytes[k] >> i) & 1));
        }
        if (bytes[k] == 0xFF) {
            ++k;
        }
    }
    return s;
}

// Hand-checked blocks: the run of 16, a last coefficient at position 63, and 0-bit padding. The
// luminance codes are written apart for reading.
TEST(JpegEntropy, RunsEndOfBlockAndPadding) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> values; // zig-zag position, value
        const char* bits;                        // codes and value bits, then padding
    } cases[] = {
        // DC 0: "00"; position 20 after 19 zeros: 0xF0 "11111111001", then run 3 size 1
        // (0x31, "111010"), value 1 "1"; end of block "1010".
        {"run of sixteen", {{20, 1}}, "00 11111111001 111010 1 1010"},
        // DC 0, 62 zeros then position 63 = -1: three 0xF0, run 14 size 1 (0xE1), value bit
        // "0", and no end of block.
        {"last position",
         {{63, -1}},
         "00 11111111001 11111111001 11111111001 1111111111101011 0 0000"},
        // DC 5 (category 3: "100" "101"), all AC zero: end of block.
        {"dc only", {{0, 5}}, "100 101 1010 000000"},
        // DC -3 (category 2: "011", bits of -4 = "00"), AC 1 at position 1 ("00" "1"), EOB.
        {"negative dc", {{0, -3}, {1, 1}}, "011 00 00 1 1010 0000"},
    };
    for (const Case& c : cases) {
        short block[64] = {};
        for (auto [k, v] : c.values) {
            block[k] = short(v);
        }
        Coder coder;
        coder.enc.EncodeBlock(block, 0, 8);
        std::vector<std::uint8_t> got = coder.Finish();
        std::vector<std::uint8_t> bits;
        reference::EncodeBlock(block, 8, false, bits);

        EXPECT_EQ(got, reference::PackBits(bits)) << c.name;
        std::string want = c.bits;
        want.erase(std::remove(want.begin(), want.end(), ' '), want.end());
        EXPECT_EQ(Bits(got), want) << c.name;
    }
}

// Random blocks of quantised values (sparse and dense, small and large, inside a wider plane),
// coded one after another with single bits in between, against the literal bit-by-bit coder:
// the tables built from the template against the ones the oracle typed, and every 0xFF byte of
// the coded data followed by a 0x00.
TEST(JpegEntropy, RandomBlocksMatchLiteralCoder) {
    std::mt19937 rng(99);
    Coder coder;
    std::vector<std::uint8_t> bits;
    const int stride = 40;
    std::vector<short> plane(8 * stride);
    for (int i = 0; i < 20000; ++i) {
        int density = int(rng() % 64) + 1;
        int magnitude = 1 << (rng() % 10);
        for (short& s : plane) {
            s = (int(rng() % 64) < density) ? short(int(rng() % (2 * magnitude + 1)) - magnitude)
                                            : 0;
        }
        plane[16] = short(int(rng() % 4001) - 2000);
        bool chroma = i % 3 != 0;
        coder.enc.EncodeBlock(plane.data() + 16, chroma, stride);
        reference::EncodeBlock(plane.data() + 16, stride, chroma, bits);
        if (i % 97 == 0) {
            WORD value = WORD(rng());
            int n = int(rng() % 17);
            coder.enc.PutBits(value, n);
            for (int j = n - 1; j >= 0; --j) {
                bits.push_back(std::uint8_t((value >> j) & 1));
            }
        }
    }
    EXPECT_EQ(coder.Finish(), reference::PackBits(bits));
}

} // namespace
