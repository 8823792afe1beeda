// Code tables and entropy coding: the tables built from the template, and the coded bits of
// blocks against the literal bit-by-bit coder.
#include "capture/JpegEncoder.h"
#include "capture/JpegTables.h"
#include "capture/jpeg_reference.h"

#include <gtest/gtest.h>

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

std::string Code(const HuffTable& t, int k) {
    std::string s;
    for (int i = t.huffsize[k] - 1; i >= 0; --i) {
        s += char('0' + ((t.huffcode[k] >> i) & 1));
    }
    return s;
}

int IndexOf(const HuffTable& t, int symbol) {
    return t.pSymbolIndex[symbol];
}

TEST(JpegHuffman, TablesBuiltFromTemplate) {
    Coder c;
    EXPECT_EQ(c.enc.m_nBufferPos, 0); // reset by Coder; the parse itself advanced it by 420
    const HuffTable& dc = c.enc.m_huffTables[0];
    ASSERT_TRUE(dc.bUsed);
    ASSERT_EQ(dc.nCount, 12);
    const int lengths[12] = {2, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9};
    const char* codes[12] = {"00",   "010",   "011",    "100",     "101",      "110",
                             "1110", "11110", "111110", "1111110", "11111110", "111111110"};
    for (int k = 0; k < 12; ++k) {
        EXPECT_EQ(dc.huffsize[k], lengths[k]) << k;
        EXPECT_EQ(Code(dc, k), codes[k]) << k;
        EXPECT_EQ(dc.huffval[k], k);
    }
    EXPECT_EQ(dc.huffsize[12], 0);

    const HuffTable& ac = c.enc.m_huffTables[16];
    ASSERT_EQ(ac.nCount, 162);
    EXPECT_EQ(Code(ac, IndexOf(ac, 0x00)), "1010");
    EXPECT_EQ(Code(ac, IndexOf(ac, 0xF0)), "11111111001");
    EXPECT_EQ(Code(ac, IndexOf(ac, 0x01)), "00");
    EXPECT_EQ(c.enc.m_huffTables[1].nCount, 12);
    EXPECT_EQ(c.enc.m_huffTables[17].nCount, 162);
    for (int slot = 0; slot < 20; ++slot) {
        bool expected = slot == 0 || slot == 1 || slot == 16 || slot == 17;
        EXPECT_EQ(bool(c.enc.m_huffTables[slot].bUsed), expected) << slot;
    }
}

TEST(JpegHuffman, ParseAdvancesBySegmentLengthAndIgnoresOtherData) {
    CJpegEncoder enc;
    BYTE notDht[4] = {0xFF, 0xC0, 0x01, 0xA2};
    enc.m_pBuffer = notDht;
    enc.m_nBufferPos = 0;
    enc.BuildHuffmanTables();
    EXPECT_EQ(enc.m_nBufferPos, 0);
    EXPECT_FALSE(enc.m_huffTables[0].bUsed);

    std::vector<BYTE> buffer(3);
    buffer.insert(buffer.end(), jpeg::kHuffmanTemplate, jpeg::kHuffmanTemplate + 421);
    enc.m_pBuffer = buffer.data();
    enc.m_nBufferPos = 3;
    enc.BuildHuffmanTables();
    enc.m_pBuffer = nullptr;
    EXPECT_EQ(enc.m_nBufferPos, 3 + 420);
    EXPECT_TRUE(enc.m_huffTables[17].bUsed);
}

TEST(JpegHuffman, SymbolIndexesLackExactly89Symbols) {
    Coder c;
    for (int slot : {16, 17}) {
        const HuffTable& t = c.enc.m_huffTables[slot];
        int absent = 0;
        for (int s = 0; s < 251; ++s) {
            bool noSize = (s & 15) == 0 && s != 0x00 && s != 0xF0;
            bool expectAbsent = (s & 15) >= 0x0B || noSize;
            EXPECT_EQ(t.pSymbolIndex[s] == -9999, expectAbsent) << slot << " symbol " << s;
            if (t.pSymbolIndex[s] == -9999) {
                ++absent;
            } else {
                EXPECT_EQ(t.huffval[t.pSymbolIndex[s]], s);
            }
        }
        EXPECT_EQ(absent, 89) << slot;
    }
}

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

// Hand-checked blocks: the run of 16, a last coefficient at position 63, and 0-bit padding.
TEST(JpegEntropy, RunsEndOfBlockAndPadding) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> values; // zig-zag position, value
        const char* bits;                        // luminance codes, then padding
    } cases[] = {
        // DC 0: "00"; position 20 after 19 zeros: 0xF0 "11111111001", then run 3 size 1
        // (0x31, "111010"), value 1 "1"; end of block "1010"; padded with "0".
        {"run of sixteen",
         {{20, 1}},
         "00"
         "11111111001"
         "111010"
         "1"
         "1010"},
        // DC 0, 62 zeros then position 63 = -1: three 0xF0, run 14 size 1 (0xE1), value bit
        // "0", and no end of block.
        {"last position", {{63, -1}}, nullptr},
        // DC 5 (category 3: "100" "101"), all AC zero: end of block.
        {"dc only",
         {{0, 5}},
         "100"
         "101"
         "1010"
         "000000"},
        // DC -3 (category 2: "011", bits of -4 = "00"), AC 1 at position 1 ("00" "1"), EOB.
        {"negative dc",
         {{0, -3}, {1, 1}},
         "011"
         "00"
         "00"
         "1"
         "1010"
         "0000"},
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
        if (c.bits != nullptr) {
            EXPECT_EQ(Bits(got), std::string(c.bits)) << c.name;
        } else {
            // Ends right after the value bit of position 63: no end-of-block code.
            std::string s = Bits(got);
            std::string zrl = "11111111001";
            EXPECT_EQ(s.substr(2, 33), zrl + zrl + zrl) << c.name;
            const HuffTable& ac = coder.enc.m_huffTables[16];
            std::size_t used = 2 + 33 + std::size_t(ac.huffsize[ac.pSymbolIndex[0xE1]]) + 1;
            EXPECT_EQ(s.size(), (used + 7) / 8 * 8) << c.name;
        }
    }
}

// Every 0xFF in the coded data is followed by 0x00: codes of all 1-bits make 0xFF bytes.
TEST(JpegEntropy, StuffsAfterEveryFF) {
    short block[64] = {};
    block[0] = 2047; // category 11: "111111110" then 11 one-bits
    for (int k = 1; k < 64; ++k) {
        block[k] = short(k % 2 ? 1023 : -1023); // long codes, all-ones value bits for 1023
    }
    Coder coder;
    for (int i = 0; i < 3; ++i) {
        coder.enc.EncodeBlock(block, i != 0, 8);
    }
    std::vector<std::uint8_t> got = coder.Finish();
    std::vector<std::uint8_t> bits;
    for (int i = 0; i < 3; ++i) {
        reference::EncodeBlock(block, 8, i != 0, bits);
    }
    EXPECT_EQ(got, reference::PackBits(bits));
    int ff = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (got[i] == 0xFF) {
            ++ff;
            ASSERT_LT(i + 1, got.size());
            EXPECT_EQ(got[i + 1], 0) << "at " << i;
            ++i;
        }
    }
    EXPECT_GT(ff, 3);
}

// Random blocks of quantised values (sparse and dense, small and large, inside a wider plane),
// coded one after another with single bits in between, against the literal bit-by-bit coder.
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
