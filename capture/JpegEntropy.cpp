// Transform of one block, and the entropy coding of the blocks into the output buffer.
//
// The bits are defined one at a time (PutBit), collected in one process-wide byte. EncodeBlock
// produces the same bytes through a 64-bit bit buffer: it takes over the partial byte on entry,
// writes whole bytes with their stuffing, and leaves the rest in the process-wide byte again, so
// that PutBit and EncodeBlock can follow each other in any order.
#include "capture/JpegEncoder.h"
#include "capture/JpegTables.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The byte being filled. One per process: two encodes must never run at the same time.
BYTE g_outputByte = 0;

// The most bytes one block can add: 64 codes of at most 16 bits with at most 16 extra bits each,
// four run-of-16 codes, every byte stuffed.
constexpr std::size_t kMaxBlockBytes = 2 * (64 * 32 + 4 * 16) / 8 + 8;

// Number of significant bits of |v|.
inline int Category(int v) {
    return int(std::bit_width(unsigned(v < 0 ? -v : v)));
}

} // namespace

bool CJpegEncoder::ReserveOutput(std::size_t nBytes) {
    if (m_bOutOfMemory) {
        return false;
    }
    std::size_t need = std::size_t(m_nBufferPos) + nBytes;
    if (need <= m_nBufferSize) {
        return true;
    }
    if (m_pBuffer == nullptr) {
        m_nBufferSize = 0; // coding outside Encode: start a buffer of our own
    }
    std::size_t size = m_nBufferSize * 2;
    if (size < need) {
        size = need;
    }
    // m_nBufferPos is an int: stay below its range.
    if (size > 0x7FFFFFFFu) {
        size = 0x7FFFFFFFu;
    }
    BYTE* grown = size >= need ? static_cast<BYTE*>(std::realloc(m_pBuffer, size)) : nullptr;
    if (grown == nullptr) {
        m_bOutOfMemory = true;
        return false;
    }
    m_pBuffer = grown;
    m_nBufferSize = size;
    return true;
}

void CJpegEncoder::TransformBlock(short* pBlock, int nStride, int bChroma) {
    jpeg::ActiveKernels().transform(
        pBlock, nStride, bChroma ? jpeg::kChrominanceQuant : jpeg::kLuminanceQuant, m_block);
    for (int row = 0; row < 8; ++row) {
        std::memcpy(pBlock + std::ptrdiff_t(row) * nStride, m_block + 8 * row, 8 * sizeof(short));
    }
}

void CJpegEncoder::EncodeBlocks(int nWidth, int nHeight) {
    for (int y = 0; y < nHeight; y += 8) {
        for (int x = 0; x < nWidth; x += 8) {
            std::size_t offset = std::size_t(y) * std::size_t(nWidth) + std::size_t(x);
            EncodeBlock(m_pY + offset, 0, nWidth);
            EncodeBlock(m_pCb + offset, 1, nWidth);
            EncodeBlock(m_pCr + offset, 1, nWidth);
        }
    }
}

void CJpegEncoder::EncodeBlock(short* pBlock, int bChroma, int nStride) {
    if (!ReserveOutput(kMaxBlockBytes)) {
        return;
    }
    const CodeLookup& dcCodes = m_dcLookup[bChroma ? 1 : 0];
    const CodeLookup& acCodes = m_acLookup[bChroma ? 1 : 0];

    // The values z[k] in zig-zag order lie row by row over the block; bit k of nonzero is set
    // when z[k] != 0, for the AC positions 1..63.
    auto z = [pBlock, nStride](int k) { return int(pBlock[(k >> 3) * nStride + (k & 7)]); };
    std::uint64_t nonzero = jpeg::ActiveKernels().nonzero(pBlock, nStride) & ~std::uint64_t(1);

    BYTE* out = m_pBuffer + m_nBufferPos;
    // Bits waiting to be written, right-aligned in bits; count stays below 32 between symbols.
    std::uint64_t bits = g_outputByte >> (8 - m_nBitPos);
    int count = m_nBitPos;
    auto put = [&](std::uint32_t value, int size) {
        bits = (bits << size) | value;
        count += size;
        if (count >= 32) {
            std::uint32_t word = std::uint32_t(bits >> (count - 32));
            count -= 32;
            // Fast when no byte is 0xFF: a byte is 0xFF exactly when its inverse is zero.
            std::uint32_t inv = ~word;
            if (((inv - 0x01010101u) & ~inv & 0x80808080u) == 0) {
                out[0] = BYTE(word >> 24);
                out[1] = BYTE(word >> 16);
                out[2] = BYTE(word >> 8);
                out[3] = BYTE(word);
                out += 4;
            } else {
                for (int shift = 24; shift >= 0; shift -= 8) {
                    BYTE b = BYTE(word >> shift);
                    *out++ = b;
                    if (b == 0xFF) {
                        *out++ = 0;
                    }
                }
            }
        }
    };
    auto extra = [](int value, int size) -> std::uint32_t {
        // The low size bits of the value, or of value - 1 when negative.
        return std::uint32_t(value < 0 ? value - 1 : value) & ((1u << size) - 1u);
    };

    int dc = z(0);
    int s = Category(dc);
    put((std::uint32_t(dcCodes.code[s]) << s) | extra(dc, s), dcCodes.size[s] + s);

    int previous = 0; // zig-zag position of the last coded coefficient
    while (nonzero != 0) {
        int k = std::countr_zero(nonzero);
        nonzero &= nonzero - 1;
        int run = k - previous - 1;
        while (run > 15) {
            put(acCodes.code[0xF0], acCodes.size[0xF0]);
            run -= 16;
        }
        int value = z(k);
        s = Category(value);
        int symbol = run * 16 + s;
        put((std::uint32_t(acCodes.code[symbol]) << s) | extra(value, s), acCodes.size[symbol] + s);
        previous = k;
    }
    if (previous != 63) {
        put(acCodes.code[0x00], acCodes.size[0x00]);
    }

    // Whole bytes out; the partial byte goes back to the process-wide accumulator.
    while (count >= 8) {
        BYTE b = BYTE(bits >> (count - 8));
        count -= 8;
        *out++ = b;
        if (b == 0xFF) {
            *out++ = 0;
        }
    }
    m_nBitPos = count;
    g_outputByte = BYTE((bits << (8 - count)) & 0xFF);
    m_nBufferPos = int(out - m_pBuffer);
}

void CJpegEncoder::PutBits(WORD value, int n) {
    for (int i = 0; i < n; ++i) {
        PutBit((value >> (n - 1 - i)) & 1);
    }
}

void CJpegEncoder::PutBit(int bit) {
    g_outputByte = BYTE(g_outputByte | ((bit & 1) << (7 - m_nBitPos)));
    if (++m_nBitPos < 8) {
        return;
    }
    m_nBitPos = 0;
    BYTE b = g_outputByte;
    g_outputByte = 0;
    if (!ReserveOutput(2)) {
        return;
    }
    m_pBuffer[m_nBufferPos++] = b;
    if (b == 0xFF) {
        m_pBuffer[m_nBufferPos++] = 0;
    }
}

int CJpegEncoder::BitCategory(short v) {
    return Category(v);
}
