// CJpegEncoder: the library's own baseline JPEG writer (three components, no subsampling, fixed
// quantisation and Huffman tables). The window capture is its only user: it creates one encoder,
// calls Encode once and destroys it. Internal to the library; not exported.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>

// One Huffman code table, filled from the DHT segment by BuildHuffmanTables.
struct HuffTable {
    int bUsed;         // nonzero once built; the arrays below then belong to the slot
    int nCount;        // number of codes n
    WORD* huffcode;    // n + 1 codes, in table order
    BYTE* huffsize;    // n + 1 code lengths, entry n is 0
    BYTE* huffval;     // n + 1 symbol values (first n used)
    int* pSymbolIndex; // AC slots only: position of each symbol 0..250 in huffval, or -9999
};

class CJpegEncoder {
public:
    CJpegEncoder();
    virtual ~CJpegEncoder();

    // Writes the whole file. pBits holds nHeight rows, top row first, of nWidth blue-green-red
    // pixels; rows start (3 * nWidth + 3) / 4 * 4 bytes apart. Reports nothing: a size outside
    // 1..65535 (a frame header holds 16 bits) or buffers that cannot be had write no file at all,
    // and a file that cannot be created or written leaves no file or a partial one.
    void Encode(const char* lpszFileName, int nWidth, int nHeight, const BYTE* pBits);

    // The same with the rows handed over one at a time, top row first: rows(y) gives row y
    // (nWidth blue-green-red pixels), readable until the next call, or null to abandon the
    // encode (the file is then left without the rest of its data and its end marker). Each row is
    // asked for once, in order, after the file has been created.
    using RowSource = std::function<const BYTE*(int y)>;
    void Encode(const char* lpszFileName, int nWidth, int nHeight, const RowSource& rows);

    // Stream segments.
    void WriteSOI(HFILE hFile);
    void WriteDQT(HFILE hFile);
    void WriteDHT(HFILE hFile);
    void WriteSOF0(HFILE hFile, int nWidth, int nHeight);
    void WriteSOS(HFILE hFile);
    void WriteEOI(HFILE hFile);

    // Parses the DHT segment at m_pBuffer + m_nBufferPos into m_huffTables.
    void BuildHuffmanTables();

    // Pixel pipeline: transform, quantise and reorder one 8 x 8 block of a plane in place; code
    // the blocks of the planes (nWidth x nHeight samples) in scan order; code one block.
    void TransformBlock(short* pBlock, int nStride, int bChroma);
    void EncodeBlocks(int nWidth, int nHeight);
    void EncodeBlock(short* pBlock, int bChroma, int nStride);

    // Bit output, most significant bit first, with a 0x00 after every 0xFF byte.
    void PutBits(WORD value, int n);
    void PutBit(int bit);
    static int BitCategory(short v);

    int m_nBitPos;
    // The planes hold one block row (8 rows of padded width) at a time: the blocks of a row are
    // transformed and coded before the next row is converted, which keeps the work in cache.
    short* m_pY;
    short* m_pCb;
    short* m_pCr;
    // Padded pixel rows of the current block row, converted to Y, Cb, Cr in place.
    BYTE* m_pPixels;
    BYTE* m_pBuffer;
    int m_nBufferPos;
    HuffTable m_huffTables[20];
    short m_block[64];

    // Builds the symbol indexes of the two AC tables (and the code lookups coding uses).
    void BuildSymbolIndexes();

private:
    bool ReserveOutput(std::size_t nBytes);
    void FreeTables();
    void BuildCodeLookup();
    void TransformBlockRow(int nPadWidth);
    void ConvertBlockRow(const RowSource& rows, int nRow, int nWidth, int nHeight, int nPadWidth);

    std::size_t m_nBufferSize; // capacity of the entropy buffer
    bool m_bOutOfMemory;       // the entropy buffer could not grow, or the rows ran out: the
                               // encode is abandoned
    short m_lastDc[3];         // DC of the previous block of each component, for prediction

    // Codes and lengths by symbol, built from the tables so that coding a symbol is one load.
    // Symbols absent from a table have length 0 (categories above the table's range never occur
    // for 8-bit samples).
    struct CodeLookup {
        unsigned short code[272];
        unsigned char size[272];
    };
    CodeLookup m_dcLookup[2];
    CodeLookup m_acLookup[2];
};
