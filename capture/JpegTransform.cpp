// The forward transform and quantisation of one block, and the colour conversion of one row:
// the literal arithmetic that decides every output bit, and the portable fast versions.
//
// The transform is defined as a direct double-precision sum over the single-precision cosine
// table, truncated toward zero. The fast versions compute the same sum separably in single
// precision. Their error is bounded: a separable evaluation of depth at most 11 roundings has a
// relative error of at most 11 * 2^-24 against the sum of the absolute values of its products,
// which is at most 128 * 8 * 8 = 8192 before the scale of at most 1/4: 1.4e-3 in all, plus half
// a unit in the last place of a result below 2048 (1.2e-4). The literal double sum is within
// 1e-10 of the exact value. Since truncation then division by Q equals truncation of F / Q, only a
// value closer than kTolerance to a nonzero multiple of Q can come out differently; those are
// evaluated literally.
#include "capture/JpegTables.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace jpeg {

namespace {

// Five times the proven bound.
constexpr float kTolerance = 1.0f / 128.0f;

// 1/4 C(u) C(v), rounded to single precision: its rounding is inside the bound above.
struct ScaleTable {
    float value[64];
    ScaleTable() {
        for (int u = 0; u < 8; ++u) {
            for (int v = 0; v < 8; ++v) {
                double cu = u == 0 ? kScale0 : 1.0;
                double cv = v == 0 ? kScale0 : 1.0;
                value[8 * u + v] = float(cu * cv * 0.25);
            }
        }
    }
};
const ScaleTable kScaleTable;

// The eight outputs sum_n a[n] * kCosine[k][n] of one row or column, from the symmetric and
// antisymmetric halves of the input (exact thanks to the symmetry of the table).
inline void Forward8(const float* a, int step, float* out, int outStep) {
    float e[4], o[4];
    for (int n = 0; n < 4; ++n) {
        e[n] = a[n * step] + a[(7 - n) * step];
        o[n] = a[n * step] - a[(7 - n) * step];
    }
    for (int k = 0; k < 8; ++k) {
        const float* c = kCosine[k];
        const float* h = (k & 1) ? o : e;
        out[k * outStep] = ((c[0] * h[0] + c[1] * h[1]) + c[2] * h[2]) + c[3] * h[3];
    }
}

void TransformPortable(const short* pBlock, int nStride, const BYTE* quant, short* out) {
    float s[64], t[64], f[64];
    int sum = 0;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            s[8 * y + x] = pBlock[y * nStride + x];
            sum += pBlock[y * nStride + x];
        }
    }
    for (int y = 0; y < 8; ++y) {
        Forward8(s + 8 * y, 1, t + 8 * y, 1); // t[y][v]
    }
    for (int v = 0; v < 8; ++v) {
        Forward8(t + v, 8, f + v, 8); // f[u][v]
    }
    for (int k = 0; k < 64; ++k) {
        int n = kZigZag[k];
        int q = quant[k];
        if (n == 0) {
            out[0] = short(short(DcCoefficient(sum)) / q);
            continue;
        }
        float value = f[n] * kScaleTable.value[n];
        float ratio = value / float(q);
        float nearest = std::nearbyint(ratio);
        if (nearest != 0.0f && std::fabs(value - nearest * float(q)) <= kTolerance) {
            double literal = LiteralCoefficient(pBlock, nStride, n >> 3, n & 7);
            out[k] = short(short(literal) / q);
        } else {
            out[k] = short(ratio);
        }
    }
}

void ConvertRowPortable(const BYTE* pIn, BYTE* pOut, short* pY, short* pCb, short* pCr,
                        int nWidth) {
    for (int x = 0; x < nWidth; ++x) {
        BYTE* p = pOut + 3 * x;
        if (pIn != pOut) {
            p[0] = pIn[3 * x];
            p[1] = pIn[3 * x + 1];
            p[2] = pIn[3 * x + 2];
        }
        ConvertPixel(p);
        pY[x] = short(p[0] - 128);
        pCb[x] = short(p[1] - 128);
        pCr[x] = short(p[2] - 128);
    }
}

std::uint64_t NonzeroPortable(const short* pBlock, int nStride) {
    std::uint64_t mask = 0;
    for (int k = 63; k >= 0; --k) {
        mask = (mask << 1) | std::uint64_t(pBlock[(k >> 3) * nStride + (k & 7)] != 0);
    }
    return mask;
}

void TransformPairPortable(short* pA, short* pB, int nStride, const BYTE* quant) {
    for (short* block : {pA, pB}) {
        short out[64];
        TransformPortable(block, nStride, quant, out);
        for (int row = 0; row < 8; ++row) {
            std::memcpy(block + std::ptrdiff_t(row) * nStride, out + 8 * row, 8 * sizeof(short));
        }
    }
}

const Kernels kPortable = {"portable", ConvertRowPortable, TransformPortable, TransformPairPortable,
                           NonzeroPortable};

} // namespace

double LiteralCoefficient(const short* pBlock, int nStride, int u, int v) {
    double sum = 0.0;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            sum +=
                (double(pBlock[y * nStride + x]) * double(kCosine[v][x])) * double(kCosine[u][y]);
        }
    }
    double cu = u == 0 ? double(kScale0) : 1.0;
    double cv = v == 0 ? double(kScale0) : 1.0;
    return ((cu * cv) * sum) * 0.25;
}

double DcCoefficient(int nSampleSum) {
    // Every partial sum of the literal evaluation is an integer, hence exact.
    return ((double(kScale0) * double(kScale0)) * double(nSampleSum)) * 0.25;
}

// Rounds to single precision through memory: g++ 12 at -O2 has been seen to drop a
// double-to-float-to-double round trip when it vectorises the code around it.
static double RoundToSingle(double d) {
    volatile float f = float(d);
    return f;
}

void ConvertPixel(BYTE* p) {
    double b = p[0], g = p[1], r = p[2];
    double y = RoundToSingle(double(0.299f) * r + double(0.587f) * g + double(0.114f) * b);
    double cb = RoundToSingle(0.5 * b - (double(0.1687f) * r + double(0.3313f) * g) + 128.0);
    double cr = 0.5 * r - double(0.4187f) * g - double(0.0813f) * b + 128.0;
    auto clamp = [](double v) { return v > 255.0 ? 255.0 : (v < 0.0 ? 0.0 : v); };
    p[0] = BYTE(int(clamp(y)));
    p[1] = BYTE(int(clamp(cb)));
    p[2] = BYTE(int(clamp(cr)));
}

const Kernels& PortableKernels() {
    return kPortable;
}

const Kernels& ActiveKernels() {
    static const Kernels* active = VectorKernels() ? VectorKernels() : &kPortable;
    return *active;
}

} // namespace jpeg
