// The encoder's constant tables and the pieces of its pixel pipeline that have more than one
// implementation (portable and vectorised), selected once per process.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace jpeg {

extern const BYTE kLuminanceQuant[64];   // zig-zag order
extern const BYTE kChrominanceQuant[64]; // zig-zag order
extern const BYTE kZigZag[64];           // natural index of each zig-zag position
extern const BYTE kHuffmanTemplate[421]; // the 420-byte DHT segment and a 0xFF sentinel
constexpr int kHuffmanSegmentSize = 420;
extern const float kCosine[8][8]; // [frequency][sample], four decimal places
extern const float kScale0;       // C(0); C(k) = 1 for k > 0

// The transform's value before truncation, evaluated exactly as defined: one double sum over the
// 64 samples in row order, then the two scale factors and the quarter.
double LiteralCoefficient(const short* pBlock, int nStride, int u, int v);

// DC value before truncation: the sum of samples is exact, so this equals LiteralCoefficient(.., 0,
// 0).
double DcCoefficient(int nSampleSum);

// Converts nWidth blue-green-red pixels of one row into Y, Cb, Cr bytes at pOut (which may be
// pIn), and writes the level-shifted samples to the three plane rows.
using ConvertRowFn = void (*)(const BYTE* pIn, BYTE* pOut, short* pY, short* pCb, short* pCr,
                              int nWidth);

// Transforms one 8 x 8 block of level-shifted samples and quantises it with quant (zig-zag order),
// writing the 64 results in zig-zag order to out. Coefficients that the fast arithmetic cannot
// decide are evaluated literally.
using TransformFn = void (*)(const short* pBlock, int nStride, const BYTE* quant, short* out);

// The same for two blocks of one plane at once, in place: each block's results in zig-zag order
// laid over it, 8 per row.
using TransformPairFn = void (*)(short* pA, short* pB, int nStride, const BYTE* quant);

// Bit 8r + c set when row r, column c of the block (nStride values per row) is nonzero.
using NonzeroFn = std::uint64_t (*)(const short* pBlock, int nStride);

struct Kernels {
    const char* name;
    ConvertRowFn convertRow;
    TransformFn transform;
    TransformPairFn transformPair;
    NonzeroFn nonzero;
};

// The portable kernels, and the fastest ones this processor runs. Tests compare every set that
// the machine supports with the literal pipeline.
const Kernels& PortableKernels();
const Kernels* VectorKernels(); // null when the processor lacks the instructions
const Kernels& ActiveKernels();

// Literal colour conversion of one pixel (bytes 0..2 = blue, green, red).
void ConvertPixel(BYTE* p);

} // namespace jpeg
