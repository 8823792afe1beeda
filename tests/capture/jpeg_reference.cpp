#include "capture/jpeg_reference.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <map>
#include <utility>

namespace reference {

namespace {

const float kCos[8][8] = {
    {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f},
    {0.9808f, 0.8315f, 0.5556f, 0.1951f, -0.1951f, -0.5556f, -0.8315f, -0.9808f},
    {0.9239f, 0.3827f, -0.3827f, -0.9239f, -0.9239f, -0.3827f, 0.3827f, 0.9239f},
    {0.8315f, -0.1951f, -0.9808f, -0.5556f, 0.5556f, 0.9808f, 0.1951f, -0.8315f},
    {0.7071f, -0.7071f, -0.7071f, 0.7071f, 0.7071f, -0.7071f, -0.7071f, 0.7071f},
    {0.5556f, -0.9808f, 0.1951f, 0.8315f, -0.8315f, -0.1951f, 0.9808f, -0.5556f},
    {0.3827f, -0.9239f, 0.9239f, -0.3827f, -0.3827f, 0.9239f, -0.9239f, 0.3827f},
    {0.1951f, -0.5556f, 0.8315f, -0.9808f, 0.9808f, -0.8315f, 0.5556f, -0.1951f},
};
const float kC0 = 0.7071f;

const int kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                         12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                         35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                         58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The stream's constant tables, typed here from the published values rather than taken from the
// encoder, so that a changed quantiser or a swapped code in the encoder's copy shows up as a file
// that differs from this one.
const std::uint8_t kLuminanceQuant[64] = {
    16, 11, 12,  14,  12,  10, 16, 14,  13,  14,  18,  17,  16, 19,  24,  40,
    26, 24, 22,  22,  24,  49, 36, 37,  29,  40,  58,  51,  61, 60,  57,  51,
    56, 55, 64,  72,  92,  78, 64, 68,  87,  69,  66,  57,  80, 109, 81,  87,
    95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};
const std::uint8_t kChrominanceQuant[64] = {
    17, 18, 18, 24, 21, 24, 47, 26, 26, 47, 99, 66, 56, 66, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Runs of consecutive symbol values, written [first, last].
std::vector<std::uint8_t> Values(std::initializer_list<int> singles,
                                 std::initializer_list<std::pair<int, int>> runs) {
    std::vector<std::uint8_t> v(singles.begin(), singles.end());
    for (auto [first, last] : runs) {
        for (int s = first; s <= last; ++s) {
            v.push_back(static_cast<std::uint8_t>(s));
        }
    }
    return v;
}

struct TypicalTable {
    int id;
    std::uint8_t counts[16];
    std::vector<std::uint8_t> values;
};

// The typical Huffman tables (luminance DC and AC, chrominance DC and AC) in segment order.
const std::vector<TypicalTable>& TypicalTables() {
    // clang-format off
    static const std::vector<TypicalTable> tables = {
        {0x00, {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0}, Values({}, {{0, 11}})},
        {0x10,
         {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D},
         Values({0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13,
                 0x51, 0x61, 0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42,
                 0xB1, 0xC1, 0x15, 0x52, 0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0A},
                {{0x16, 0x1A}, {0x25, 0x2A}, {0x34, 0x3A}, {0x43, 0x4A}, {0x53, 0x5A},
                 {0x63, 0x6A}, {0x73, 0x7A}, {0x83, 0x8A}, {0x92, 0x9A}, {0xA2, 0xAA},
                 {0xB2, 0xBA}, {0xC2, 0xCA}, {0xD2, 0xDA}, {0xE1, 0xEA}, {0xF1, 0xFA}})},
        {0x01, {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0}, Values({}, {{0, 11}})},
        {0x11,
         {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77},
         Values({0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12,
                 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14,
                 0x42, 0x91, 0xA1, 0xB1, 0xC1, 0x09, 0x23, 0x33, 0x52, 0xF0, 0x15,
                 0x62, 0x72, 0xD1, 0x0A, 0x16, 0x24, 0x34, 0xE1, 0x25, 0xF1},
                {{0x17, 0x1A}, {0x26, 0x2A}, {0x35, 0x3A}, {0x43, 0x4A}, {0x53, 0x5A},
                 {0x63, 0x6A}, {0x73, 0x7A}, {0x82, 0x8A}, {0x92, 0x9A}, {0xA2, 0xAA},
                 {0xB2, 0xBA}, {0xC2, 0xCA}, {0xD2, 0xDA}, {0xE2, 0xEA}, {0xF2, 0xFA}})},
    };
    // clang-format on
    return tables;
}

// Symbol -> (code, length), as a decoder derives them from a DHT segment's counts.
using Table = std::map<int, std::pair<unsigned, int>>;

struct Tables {
    Table dc[2], ac[2];
    Tables() {
        for (const TypicalTable& typical : TypicalTables()) {
            Table& t = (typical.id >> 4) ? ac[typical.id & 15] : dc[typical.id & 15];
            std::size_t next = 0;
            unsigned code = 0;
            for (int len = 1; len <= 16; ++len) {
                for (int i = 0; i < typical.counts[len - 1]; ++i) {
                    t[typical.values.at(next++)] = {code++, len};
                }
                code <<= 1;
            }
        }
    }
};
const Tables& GetTables() {
    static Tables t;
    return t;
}

void Put(std::vector<std::uint8_t>& bits, unsigned value, int n) {
    for (int i = n - 1; i >= 0; --i) {
        bits.push_back((value >> i) & 1);
    }
}

void PutSymbol(std::vector<std::uint8_t>& bits, const Table& t, int symbol) {
    const auto it = t.find(symbol);
    if (it == t.end()) {
        bits.push_back(2); // marks a symbol the table lacks; never a valid bit
        return;
    }
    Put(bits, it->second.first, it->second.second);
}

int Category(int v) {
    int n = 0;
    for (unsigned m = unsigned(std::abs(v)); m != 0; m >>= 1) {
        ++n;
    }
    return n;
}

void Append(std::vector<std::uint8_t>& out, std::initializer_list<int> bytes) {
    for (int b : bytes) {
        out.push_back(std::uint8_t(b));
    }
}

} // namespace

void ConvertPixel(const std::uint8_t bgr[3], std::uint8_t out[3]) {
    double B = bgr[0], G = bgr[1], R = bgr[2];
    // Stored as float through memory: g++ 12 -O2 drops the rounding when it vectorises this.
    volatile float y = float((double)0.299f * R + (double)0.587f * G + (double)0.114f * B);
    volatile float cb = float(0.5 * B - ((double)0.1687f * R + (double)0.3313f * G) + 128.0);
    double cr = 0.5 * R - (double)0.4187f * G - (double)0.0813f * B + 128.0;
    double v[3] = {y, cb, cr};
    for (int i = 0; i < 3; ++i) {
        if (v[i] > 255.0) {
            v[i] = 255.0;
        }
        if (v[i] < 0.0) {
            v[i] = 0.0;
        }
        out[i] = std::uint8_t(int(v[i]));
    }
}

void TransformBlock(short* pBlock, int stride, bool chroma) {
    short block[64];
    for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
            double S = 0.0;
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 8; ++x) {
                    double term = (double)pBlock[y * stride + x] * (double)kCos[v][x];
                    term = term * (double)kCos[u][y];
                    S = S + term;
                }
            }
            double cu = u == 0 ? (double)kC0 : 1.0;
            double cv = v == 0 ? (double)kC0 : 1.0;
            double scale = cu * cv;
            double F = scale * S;
            F = F * 0.25;
            block[8 * u + v] = short(F);
        }
    }
    short zz[64];
    for (int k = 0; k < 64; ++k) {
        zz[k] = block[kZigZag[k]];
    }
    const std::uint8_t* q = chroma ? kChrominanceQuant : kLuminanceQuant;
    for (int k = 0; k < 64; ++k) {
        zz[k] = short(zz[k] / q[k]);
    }
    for (int k = 0; k < 64; ++k) {
        pBlock[(k / 8) * stride + k % 8] = zz[k];
    }
}

void EncodeBlock(const short* pBlock, int stride, bool chroma, std::vector<std::uint8_t>& bits) {
    const Tables& t = GetTables();
    const Table& dc = t.dc[chroma];
    const Table& ac = t.ac[chroma];
    short z[64];
    for (int k = 0; k < 64; ++k) {
        z[k] = pBlock[(k / 8) * stride + k % 8];
    }
    int d = z[0];
    int s = Category(d);
    PutSymbol(bits, dc, s);
    Put(bits, unsigned(std::uint16_t(d >= 0 ? d : d - 1)), s);
    int run = 0;
    for (int k = 1; k < 64; ++k) {
        if (z[k] == 0) {
            if (k == 63) {
                PutSymbol(bits, ac, 0x00);
                break;
            }
            ++run;
            continue;
        }
        while (run > 15) {
            PutSymbol(bits, ac, 0xF0);
            run -= 16;
        }
        s = Category(z[k]);
        PutSymbol(bits, ac, run * 16 + s);
        Put(bits, unsigned(std::uint16_t(z[k] >= 0 ? z[k] : z[k] - 1)), s);
        run = 0;
    }
}

std::vector<std::uint8_t> PackBits(const std::vector<std::uint8_t>& bits) {
    std::vector<std::uint8_t> out;
    int acc = 0, n = 0;
    auto bit = [&](int b) {
        acc |= b << (7 - n);
        if (++n == 8) {
            out.push_back(std::uint8_t(acc));
            if (acc == 0xFF) {
                out.push_back(0);
            }
            acc = 0;
            n = 0;
        }
    };
    for (std::uint8_t b : bits) {
        bit(b);
    }
    while (n != 0) {
        bit(0);
    }
    return out;
}

std::vector<std::uint8_t> Encode(int width, int height, const std::uint8_t* pixels) {
    // Planes padded with 0 to whole blocks (the padding is not converted).
    const int pw = width % 8 == 0 ? width : width / 8 * 8 + 8;
    const int ph = height % 8 == 0 ? height : height / 8 * 8 + 8;
    std::vector<short> planes[3];
    for (std::vector<short>& plane : planes) {
        plane.assign(std::size_t(pw) * ph, 0);
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t ycc[3];
            ConvertPixel(pixels + std::size_t(y) * Stride(width) + 3 * x, ycc);
            for (int c = 0; c < 3; ++c) {
                planes[c][std::size_t(y) * pw + x] = short(ycc[c] - 128);
            }
        }
    }
    // All blocks are transformed first; then each block's DC becomes its difference from the
    // previous block's of the same component, and the blocks are coded Y, Cb, Cr in turn.
    for (int by = 0; by < ph; by += 8) {
        for (int bx = 0; bx < pw; bx += 8) {
            for (int c = 0; c < 3; ++c) {
                TransformBlock(&planes[c][std::size_t(by) * pw + bx], pw, c != 0);
            }
        }
    }
    std::vector<std::uint8_t> bits;
    short previous[3] = {0, 0, 0};
    for (int by = 0; by < ph; by += 8) {
        for (int bx = 0; bx < pw; bx += 8) {
            for (int c = 0; c < 3; ++c) {
                short* block = &planes[c][std::size_t(by) * pw + bx];
                const short dc = block[0];
                block[0] = short(dc - previous[c]);
                previous[c] = dc;
                EncodeBlock(block, pw, c != 0, bits);
            }
        }
    }

    std::vector<std::uint8_t> file;
    Append(file, {0xFF, 0xD8});
    for (int id = 0; id < 2; ++id) {
        Append(file, {0xFF, 0xDB, 0x00, 0x43, id});
        const std::uint8_t* q = id ? kChrominanceQuant : kLuminanceQuant;
        file.insert(file.end(), q, q + 64);
    }
    Append(file, {0xFF, 0xC4, 0x01, 0xA2});
    for (const TypicalTable& t : TypicalTables()) {
        file.push_back(static_cast<std::uint8_t>(t.id));
        file.insert(file.end(), t.counts, t.counts + 16);
        file.insert(file.end(), t.values.begin(), t.values.end());
    }
    Append(file, {0xFF, 0xC0, 0x00, 0x11, 0x08, height >> 8, height & 255, width >> 8, width & 255,
                  3, 1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1});
    Append(file, {0xFF, 0xDA, 0x00, 0x0C, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0x00, 0x3F, 0x00});
    std::vector<std::uint8_t> entropy = PackBits(bits);
    file.insert(file.end(), entropy.begin(), entropy.end());
    Append(file, {0xFF, 0xD9});
    return file;
}

} // namespace reference
