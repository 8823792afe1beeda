// The encoder written out step by step, exactly as defined and with no shortcut: the oracle the
// fast encoder is compared with, byte for byte.
#pragma once

#include <cstdint>
#include <vector>

namespace reference {

// Row stride of the encoder's input: 3 bytes per pixel, rounded up to a multiple of 4.
inline int Stride(int width) {
    return (3 * width + 3) / 4 * 4;
}

// Y, Cb, Cr of one blue-green-red pixel.
void ConvertPixel(const std::uint8_t bgr[3], std::uint8_t out[3]);

// Transforms, reorders and quantises the 8 x 8 block at pBlock (row stride in values) in place.
void TransformBlock(short* pBlock, int stride, bool chroma);

// Appends one block's code to bits (one entry per bit) with the typical tables.
void EncodeBlock(const short* pBlock, int stride, bool chroma, std::vector<std::uint8_t>& bits);

// Packs bits into bytes with a 0x00 after each 0xFF and the last byte padded with 0-bits.
std::vector<std::uint8_t> PackBits(const std::vector<std::uint8_t>& bits);

// The whole file for the given pixels.
std::vector<std::uint8_t> Encode(int width, int height, const std::uint8_t* pixels);

} // namespace reference
