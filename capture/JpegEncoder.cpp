// CJpegEncoder: object lifetime, the order of the encode, the stream segments and the code tables.
#include "capture/JpegEncoder.h"
#include "capture/JpegTables.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

namespace {

constexpr int kMaxDimension = 65535;
// Coded data waiting in the entropy buffer is written out once there is this much of it, so that
// the buffer need not grow with the image and its int count cannot overflow, however large the
// coded data.
constexpr int kFlushBytes = 1 << 16;

// Writes count bytes; the encoder, like its caller, does not look at the result.
void WriteBytes(HFILE hFile, const BYTE* p, std::size_t count) {
    while (count > 0) {
        UINT chunk = count > 0x40000000u ? 0x40000000u : UINT(count);
        _lwrite(hFile, reinterpret_cast<LPCSTR>(p), chunk);
        p += chunk;
        count -= chunk;
    }
}

// Frees the arrays a built table owns and leaves the slot empty (all zero, as a slot that was never
// built already is).
void FreeTable(HuffTable& t) {
    if (t.bUsed) {
        delete[] t.huffcode;
        delete[] t.huffsize;
        delete[] t.huffval;
        delete[] t.pSymbolIndex;
    }
    t = HuffTable();
}

void WriteWord(BYTE* p, int value) {
    p[0] = BYTE(value >> 8);
    p[1] = BYTE(value);
}

} // namespace

CJpegEncoder::CJpegEncoder()
    : m_nBitPos(0), m_pY(nullptr), m_pCb(nullptr), m_pCr(nullptr), m_pPixels(nullptr),
      m_pBuffer(nullptr), m_nBufferPos(0), m_huffTables(), m_block(), m_nBufferSize(0),
      m_bOutOfMemory(false), m_lastDc(), m_dcLookup(), m_acLookup() {
    for (HuffTable& t : m_huffTables) {
        t.bUsed = 0;
    }
}

CJpegEncoder::~CJpegEncoder() {
    std::free(m_pPixels);
    std::free(m_pBuffer);
    FreeTables();
}

void CJpegEncoder::FreeTables() {
    for (HuffTable& t : m_huffTables) {
        FreeTable(t);
    }
}

void CJpegEncoder::Encode(const char* lpszFileName, int nWidth, int nHeight, const BYTE* pBits) {
    if (pBits == nullptr) {
        return; // no pixels: refuse before touching any file
    }
    const std::ptrdiff_t stride = std::ptrdiff_t(3 * std::ptrdiff_t(nWidth) + 3) / 4 * 4;
    Encode(lpszFileName, nWidth, nHeight, [pBits, stride](int y) { return pBits + stride * y; });
}

void CJpegEncoder::Encode(const char* lpszFileName, int nWidth, int nHeight,
                          const RowSource& rows) {
    // A size the frame header cannot hold, or no pixels: refuse before touching any file.
    if (lpszFileName == nullptr || !rows || nWidth <= 0 || nHeight <= 0 || nWidth > kMaxDimension ||
        nHeight > kMaxDimension) {
        return;
    }
    const int padWidth = nWidth % 8 == 0 ? nWidth : nWidth / 8 * 8 + 8;
    const int padHeight = nHeight % 8 == 0 ? nHeight : nHeight / 8 * 8 + 8;

    FreeTables();

    // Every buffer that grows with the image is taken before the file is created, so that a size
    // whose buffers cannot be had leaves no file behind. The planes and pixels cover one block row;
    // the entropy buffer starts at 3 bytes per padded pixel (capped: it grows on demand).
    std::free(m_pPixels);
    const std::size_t rowSamples = std::size_t(padWidth) * 8;
    m_pPixels = static_cast<BYTE*>(std::calloc(rowSamples, 3));
    short* planes = static_cast<short*>(std::calloc(rowSamples * 3, sizeof(short)));
    std::size_t bufferSize = std::size_t(padWidth) * std::size_t(padHeight) * 3;
    if (bufferSize > (std::size_t(1) << 24)) {
        bufferSize = std::size_t(1) << 24;
    }
    BYTE* entropy = static_cast<BYTE*>(std::malloc(bufferSize));
    if (m_pPixels == nullptr || planes == nullptr || entropy == nullptr) {
        std::free(m_pPixels);
        m_pPixels = nullptr;
        std::free(planes);
        std::free(entropy);
        return;
    }
    m_pY = planes;
    m_pCb = planes + rowSamples;
    m_pCr = planes + 2 * rowSamples;

    HFILE hFile = _lcreat(lpszFileName, 0);
    WriteSOI(hFile);
    WriteDQT(hFile);
    WriteDHT(hFile);
    WriteSOF0(hFile, nWidth, nHeight);
    WriteSOS(hFile);

    BuildSymbolIndexes();
    m_pBuffer = entropy;
    m_nBufferSize = bufferSize;
    m_nBufferPos = 0;
    m_nBitPos = 0;
    m_lastDc[0] = m_lastDc[1] = m_lastDc[2] = 0;
    // The code tables take a few small allocations; without them there is nothing to code with,
    // and the encode is abandoned like one whose entropy buffer cannot grow.
    m_bOutOfMemory = false;
    for (int slot : {0, 1, 16, 17}) {
        const HuffTable& t = m_huffTables[slot];
        if (!t.bUsed || t.huffcode == nullptr || t.huffsize == nullptr || t.huffval == nullptr ||
            (slot >= 16 && t.pSymbolIndex == nullptr)) {
            m_bOutOfMemory = true;
        }
    }

    for (int row = 0; row < padHeight && !m_bOutOfMemory; row += 8) {
        ConvertBlockRow(rows, row, nWidth, nHeight, padWidth);
        if (m_bOutOfMemory) {
            break;
        }
        TransformBlockRow(padWidth);
        for (int x = 0; x < padWidth; x += 8) {
            short* blocks[3] = {m_pY + x, m_pCb + x, m_pCr + x};
            for (int c = 0; c < 3; ++c) {
                // Prediction runs on through the whole image in scan order, across block rows.
                short dc = blocks[c][0];
                blocks[c][0] = short(dc - m_lastDc[c]);
                m_lastDc[c] = dc;
            }
        }
        EncodeBlocks(padWidth, 8);
        if (m_nBufferPos >= kFlushBytes && !m_bOutOfMemory) {
            WriteBytes(hFile, m_pBuffer, std::size_t(m_nBufferPos));
            m_nBufferPos = 0;
        }
    }
    // Also when the encode was abandoned: completing the byte empties the process-wide
    // accumulator (the byte itself is then dropped), so that the next encode starts from 0.
    while (m_nBitPos != 0) {
        PutBit(0);
    }

    if (!m_bOutOfMemory) {
        WriteBytes(hFile, m_pBuffer, std::size_t(m_nBufferPos));
        WriteEOI(hFile);
    }
    // A failure to grow the entropy buffer leaves the file without the rest of its data and
    // without its end marker.
    std::free(m_pBuffer);
    m_pBuffer = nullptr;
    m_nBufferSize = 0;
    m_nBitPos = 0;
    for (int slot : {16, 17}) {
        delete[] m_huffTables[slot].pSymbolIndex;
        m_huffTables[slot].pSymbolIndex = nullptr;
    }
    std::free(planes);
    m_pY = m_pCb = m_pCr = nullptr;
    _lclose(hFile);
}

void CJpegEncoder::ConvertBlockRow(const RowSource& rows, int nRow, int nWidth, int nHeight,
                                   int nPadWidth) {
    const jpeg::Kernels& kernels = jpeg::ActiveKernels();
    const std::size_t pixelRow = std::size_t(nPadWidth) * 3;
    for (int y = 0; y < 8; ++y) {
        BYTE* pixels = m_pPixels + pixelRow * y;
        short* py = m_pY + std::size_t(nPadWidth) * y;
        short* pcb = m_pCb + std::size_t(nPadWidth) * y;
        short* pcr = m_pCr + std::size_t(nPadWidth) * y;
        if (nRow + y < nHeight) {
            const BYTE* in = rows(nRow + y);
            if (in == nullptr) {
                m_bOutOfMemory = true;
                return;
            }
            kernels.convertRow(in, pixels, py, pcb, pcr, nWidth);
            const std::size_t used = std::size_t(nWidth) * 3;
            std::memset(pixels + used, 0, pixelRow - used);
            std::memset(py + nWidth, 0, sizeof(short) * std::size_t(nPadWidth - nWidth));
            std::memset(pcb + nWidth, 0, sizeof(short) * std::size_t(nPadWidth - nWidth));
            std::memset(pcr + nWidth, 0, sizeof(short) * std::size_t(nPadWidth - nWidth));
        } else {
            std::memset(pixels, 0, pixelRow);
            std::memset(py, 0, sizeof(short) * std::size_t(nPadWidth));
            std::memset(pcb, 0, sizeof(short) * std::size_t(nPadWidth));
            std::memset(pcr, 0, sizeof(short) * std::size_t(nPadWidth));
        }
    }
}

void CJpegEncoder::TransformBlockRow(int nPadWidth) {
    // The blocks are independent: two of a plane at a time where the kernels can, with the same
    // result as TransformBlock on each.
    const jpeg::Kernels& kernels = jpeg::ActiveKernels();
    short* planes[3] = {m_pY, m_pCb, m_pCr};
    for (int c = 0; c < 3; ++c) {
        const BYTE* quant = c == 0 ? jpeg::kLuminanceQuant : jpeg::kChrominanceQuant;
        int x = 0;
        for (; x + 16 <= nPadWidth; x += 16) {
            kernels.transformPair(planes[c] + x, planes[c] + x + 8, nPadWidth, quant);
        }
        if (x < nPadWidth) {
            TransformBlock(planes[c] + x, nPadWidth, c);
        }
    }
}

void CJpegEncoder::WriteSOI(HFILE hFile) {
    static const BYTE soi[2] = {0xFF, 0xD8};
    WriteBytes(hFile, soi, sizeof soi);
}

void CJpegEncoder::WriteDQT(HFILE hFile) {
    const BYTE* tables[2] = {jpeg::kLuminanceQuant, jpeg::kChrominanceQuant};
    for (int id = 0; id < 2; ++id) {
        BYTE segment[69] = {0xFF, 0xDB, 0x00, 0x43, BYTE(id)};
        std::memcpy(segment + 5, tables[id], 64);
        WriteBytes(hFile, segment, sizeof segment);
    }
}

void CJpegEncoder::WriteDHT(HFILE hFile) {
    std::free(m_pBuffer);
    m_pBuffer = static_cast<BYTE*>(std::malloc(sizeof jpeg::kHuffmanTemplate));
    if (m_pBuffer == nullptr) {
        // The segment is constant: write it as it stands; the code tables stay unbuilt.
        WriteBytes(hFile, jpeg::kHuffmanTemplate, jpeg::kHuffmanSegmentSize);
        return;
    }
    std::memcpy(m_pBuffer, jpeg::kHuffmanTemplate, sizeof jpeg::kHuffmanTemplate);
    m_nBufferPos = 0;
    BuildHuffmanTables();
    WriteBytes(hFile, m_pBuffer, jpeg::kHuffmanSegmentSize);
    std::free(m_pBuffer);
    m_pBuffer = nullptr;
}

void CJpegEncoder::WriteSOF0(HFILE hFile, int nWidth, int nHeight) {
    BYTE segment[19] = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0,    0,    0,    0,   0x03,
                        0x01, 0x11, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01};
    WriteWord(segment + 5, nHeight);
    WriteWord(segment + 7, nWidth);
    WriteBytes(hFile, segment, sizeof segment);
}

void CJpegEncoder::WriteSOS(HFILE hFile) {
    static const BYTE sos[14] = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00,
                                 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
    WriteBytes(hFile, sos, sizeof sos);
}

void CJpegEncoder::WriteEOI(HFILE hFile) {
    static const BYTE eoi[2] = {0xFF, 0xD9};
    WriteBytes(hFile, eoi, sizeof eoi);
}

void CJpegEncoder::BuildHuffmanTables() {
    const BYTE* p = m_pBuffer + m_nBufferPos;
    if (p[0] != 0xFF || p[1] != 0xC4) {
        return;
    }
    const int length = p[2] * 256 + p[3];
    p += 4;
    // The segment ends at the 0xFF that follows it (the sentinel), not at its length.
    for (;;) {
        const int slot = p[0];
        const BYTE* bits = p + 1; // bits[l - 1] = number of codes of length l
        int n = 0;
        for (int l = 0; l < 16; ++l) {
            n += bits[l];
        }
        p += 17;
        if (slot >= 20) {
            // Not a slot of ours: only the fixed template is ever parsed, so this cannot happen;
            // stop rather than write outside the table array.
            break;
        }
        HuffTable& t = m_huffTables[slot];
        FreeTable(t);
        t.huffcode = new (std::nothrow) WORD[n + 1]();
        t.huffsize = new (std::nothrow) BYTE[n + 1]();
        t.huffval = new (std::nothrow) BYTE[n + 1]();
        t.pSymbolIndex = nullptr;
        t.bUsed = 1;
        if (t.huffcode == nullptr || t.huffsize == nullptr || t.huffval == nullptr) {
            break; // the lookup built from these tables then codes nothing
        }
        std::memcpy(t.huffval, p, std::size_t(n));
        p += n;

        // Code lengths in table order.
        int k = 0;
        for (int l = 1; l <= 16; ++l) {
            for (int i = 0; i < bits[l - 1]; ++i) {
                t.huffsize[k++] = BYTE(l);
            }
        }
        t.huffsize[k] = 0;

        // Canonical codes: consecutive within a length, doubled when the length grows.
        unsigned code = 0;
        k = 0;
        int si = t.huffsize[0];
        for (;;) {
            t.huffcode[k] = WORD(code);
            ++code;
            ++k;
            if (t.huffsize[k] == si) {
                continue;
            }
            if (t.huffsize[k] == 0) {
                break;
            }
            do {
                code <<= 1;
                ++si;
            } while (t.huffsize[k] != si);
        }
        t.nCount = n;
        if (p[0] == 0xFF) {
            break;
        }
    }
    m_nBufferPos += length + 2;
}

void CJpegEncoder::BuildSymbolIndexes() {
    for (int slot : {16, 17}) {
        HuffTable& t = m_huffTables[slot];
        if (!t.bUsed || t.huffval == nullptr) {
            continue;
        }
        delete[] t.pSymbolIndex;
        t.pSymbolIndex = new (std::nothrow) int[251];
        if (t.pSymbolIndex == nullptr) {
            continue;
        }
        for (int s = 0; s < 251; ++s) {
            t.pSymbolIndex[s] = -9999;
            for (int k = 0; k < t.nCount; ++k) {
                if (t.huffval[k] == s) {
                    t.pSymbolIndex[s] = k;
                    break;
                }
            }
        }
    }
    BuildCodeLookup();
}

void CJpegEncoder::BuildCodeLookup() {
    for (int c = 0; c < 2; ++c) {
        CodeLookup& dc = m_dcLookup[c];
        CodeLookup& ac = m_acLookup[c];
        dc = CodeLookup();
        ac = CodeLookup();
        const HuffTable& d = m_huffTables[c];
        if (d.bUsed && d.huffcode != nullptr) {
            for (int s = 0; s < d.nCount && s < 256; ++s) {
                dc.code[s] = d.huffcode[s];
                dc.size[s] = d.huffsize[s];
            }
        }
        const HuffTable& a = m_huffTables[16 + c];
        if (a.bUsed && a.pSymbolIndex != nullptr) {
            for (int s = 0; s < 251; ++s) {
                int k = a.pSymbolIndex[s];
                if (k >= 0) {
                    ac.code[s] = a.huffcode[k];
                    ac.size[s] = a.huffsize[k];
                }
            }
        }
    }
}
