// Floyd-Steinberg error diffusion onto the fixed palettes. Each pixel's error is spread 7/16 to
// the right, 3/16, 5/16 and 1/16 to the row below, every share computed on its own and
// truncated toward zero; only the pixel plus its error is clamped, never the error itself.
//
// The loop below is the fast form of the textbook one: it keeps the error travelling right and
// the shares still open for the row below in registers, and needs a single error row, because
// the row below receives its final value at x - 1 just after x - 1 has been read for this row.
// The results are identical to the two-row form, which the tests keep as their reference.
#include <DitherDib.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr int kMaxColours = 256;
constexpr std::int64_t kMaxBlockBytes = 0x7FFFFFFF;

inline int clamp_channel(int v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

std::int64_t dib_stride(int width, int bits) {
    return ((static_cast<std::int64_t>(bits) * width + 31) / 32) * 4;
}

// ---- Source readers: one per pixel layout, each yields 8-bit red, green and blue ------------

struct ReadBgr24 {
    void operator()(const BYTE* row, int x, int& r, int& g, int& b) const {
        const BYTE* p = row + 3 * x;
        b = p[0];
        g = p[1];
        r = p[2];
    }
};

struct ReadBgrx32 {
    void operator()(const BYTE* row, int x, int& r, int& g, int& b) const {
        const BYTE* p = row + 4 * x;
        b = p[0];
        g = p[1];
        r = p[2];
    }
};

struct ReadIndexed8 {
    const RGBQUAD* table;
    void operator()(const BYTE* row, int x, int& r, int& g, int& b) const {
        const RGBQUAD& q = table[row[x]];
        b = q.rgbBlue;
        g = q.rgbGreen;
        r = q.rgbRed;
    }
};

// A channel of a 16- or 32-bit pixel described by a bit mask, widened to 8 bits by repeating
// its high bits into the low ones, as the display does when it reads such a pixel back.
struct MaskedChannel {
    DWORD mask = 0;
    int shift = 0;
    int width = 0;

    explicit MaskedChannel(DWORD m) : mask(m) {
        if (m != 0) {
            shift = std::countr_zero(m);
            width = 32 - std::countl_zero(static_cast<DWORD>(m >> shift));
        }
    }
    int operator()(DWORD pixel) const {
        if (width == 0) {
            return 0;
        }
        const DWORD v = (pixel & mask) >> shift;
        if (width >= 8) {
            return static_cast<int>(v >> (width - 8));
        }
        int out = 0;
        for (int s = 8 - width; s > -width; s -= width) {
            out |= s >= 0 ? static_cast<int>(v << s) : static_cast<int>(v >> -s);
        }
        return out & 0xFF;
    }
};

template <int Bytes> struct ReadMasked {
    MaskedChannel red, green, blue;
    void operator()(const BYTE* row, int x, int& r, int& g, int& b) const {
        const BYTE* p = row + Bytes * x;
        DWORD pixel = static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8;
        if constexpr (Bytes == 4) {
            pixel |= static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[3]) << 24;
        }
        r = red(pixel);
        g = green(pixel);
        b = blue(pixel);
    }
};

// ---- The diffusion loop ----------------------------------------------------------------------

struct Job {
    const BYTE* src;
    std::int64_t srcStride;
    BYTE* dst;
    std::int64_t dstStride;
    int width;
    int rows;
    int colours;          // n: indices at or above it are replaced by 0
    const RGBQUAD* table; // the destination's colour table
    WORD* cache;
    int* errors; // one row of width triples
};

// `closest` resolves a colour whose cache entry is still empty.
template <int DestBits, typename Reader, typename Closest>
void diffuse(const Job& job, const Reader& read, const Closest& closest) {
    const int width = job.width;
    int* const err = job.errors;
    std::memset(err, 0, sizeof(int) * 3 * static_cast<std::size_t>(width));
    const BYTE* srcRow = job.src;
    BYTE* dstRow = job.dst;

    for (int y = 0; y < job.rows; ++y) {
        int rightR = 0, rightG = 0, rightB = 0; // 7/16 of the left neighbour's error
        int openR = 0, openG = 0, openB = 0;    // row below at x - 1, still missing x's 3/16
        int nextR = 0, nextG = 0, nextB = 0;    // row below at x, so far x - 1's 1/16
        BYTE packed = 0;

        for (int x = 0; x < width; ++x) {
            int* e = err + 3 * x;
            int r, g, b;
            read(srcRow, x, r, g, b);
            r = clamp_channel(r + e[0] + rightR);
            g = clamp_channel(g + e[1] + rightG);
            b = clamp_channel(b + e[2] + rightB);

            WORD& slot = job.cache[(r >> 3) << 10 | (g >> 3) << 5 | (b >> 3)];
            int index = slot;
            if (index == 0xFFFF || index == 0x7FFF) {
                index = closest(job.colours, r, g, b);
                slot = static_cast<WORD>(index);
            }
            if (index >= job.colours) {
                index = 0;
            }
            const RGBQUAD& q = job.table[index];
            const int er = r - q.rgbRed;
            const int eg = g - q.rgbGreen;
            const int eb = b - q.rgbBlue;

            rightR = er * 7 / 16;
            rightG = eg * 7 / 16;
            rightB = eb * 7 / 16;
            if (x > 0) {
                e[-3] = openR + er * 3 / 16;
                e[-2] = openG + eg * 3 / 16;
                e[-1] = openB + eb * 3 / 16;
            }
            openR = nextR + er * 5 / 16;
            openG = nextG + eg * 5 / 16;
            openB = nextB + eb * 5 / 16;
            nextR = er / 16;
            nextG = eg / 16;
            nextB = eb / 16;

            if constexpr (DestBits == 8) {
                dstRow[x] = static_cast<BYTE>(index);
            } else {
                if ((x & 1) == 0) {
                    packed = static_cast<BYTE>(index << 4);
                } else {
                    dstRow[x >> 1] = static_cast<BYTE>(packed | index);
                }
            }
        }
        if constexpr (DestBits == 4) {
            if (width & 1) {
                dstRow[width >> 1] = packed;
            }
        }
        int* last = err + 3 * (width - 1);
        last[0] = openR;
        last[1] = openG;
        last[2] = openB;

        srcRow += job.srcStride;
        dstRow += job.dstStride;
    }
}

template <typename Reader, typename Closest>
void diffuse_to(int destBits, const Job& job, const Reader& read, const Closest& closest) {
    if (destBits == 8) {
        diffuse<8>(job, read, closest);
    } else {
        diffuse<4>(job, read, closest);
    }
}

} // namespace

HGLOBAL CDitherDib::DibGlobalReAlloc(HGLOBAL block, DWORD size) {
    if (size == 0 || block == nullptr) {
        return nullptr;
    }
    const SIZE_T oldSize = GlobalSize(block);
    HGLOBAL fresh = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (fresh == nullptr) {
        return nullptr;
    }
    void* from = GlobalLock(block);
    void* to = GlobalLock(fresh);
    if (from == nullptr || to == nullptr) {
        if (from != nullptr) {
            GlobalUnlock(block);
        }
        if (to != nullptr) {
            GlobalUnlock(fresh);
        }
        GlobalFree(fresh);
        return nullptr;
    }
    std::memcpy(to, from, oldSize < size ? oldSize : size);
    GlobalUnlock(fresh);
    GlobalUnlock(block);
    GlobalFree(block);
    return fresh;
}

HGLOBAL CDitherDib::DitherDIB(const BITMAPINFOHEADER* source, const BYTE* sourceBits,
                              int bitCount) {
    if (source == nullptr || sourceBits == nullptr) {
        return nullptr;
    }
    // A depth of 4 or less is served with the 16-colour palette at 4 bits per pixel: rows are
    // laid out for 4 bits whatever smaller depth was asked for.
    int colours;
    int destBits;
    if (bitCount == 8) {
        colours = 256;
        destBits = 8;
    } else if (bitCount > 4) {
        return nullptr;
    } else {
        colours = 16;
        destBits = 4;
    }
    // Sizes that cannot make a block are refused before anything is allocated.
    const int width = source->biWidth;
    const int height = source->biHeight;
    if (width <= 0 || height == 0 || height == INT32_MIN) {
        return nullptr;
    }
    const std::int64_t rows = std::abs(static_cast<std::int64_t>(height));
    const std::int64_t dwords = dib_stride(width, destBits) / 4 * rows;
    const std::int64_t total = 40 + (colours + dwords) * 4;
    if (total > kMaxBlockBytes) {
        return nullptr;
    }

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 40 + kMaxColours * 4);
    if (block == nullptr) {
        return nullptr;
    }
    auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
    if (header == nullptr) {
        GlobalFree(block);
        return nullptr;
    }
    header->biSize = 40;
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = static_cast<WORD>(destBits);
    header->biCompression = BI_RGB;
    header->biSizeImage = 0;
    header->biXPelsPerMeter = 0;
    header->biYPelsPerMeter = 0;
    header->biClrUsed = static_cast<DWORD>(colours);
    header->biClrImportant = static_cast<DWORD>(colours);
    std::memcpy(reinterpret_cast<BYTE*>(header) + 40, destBits == 8 ? Win256Palette : Win16Palette,
                sizeof(RGBQUAD) * colours);
    GlobalUnlock(block);

    HGLOBAL grown = DibGlobalReAlloc(block, static_cast<DWORD>(total));
    if (grown == nullptr) {
        GlobalFree(block);
        return nullptr;
    }
    block = grown;

    auto* dest = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
    if (dest == nullptr) {
        GlobalFree(block);
        return nullptr;
    }
    const int used = dest->biClrUsed != 0 ? static_cast<int>(dest->biClrUsed) : colours;
    const BOOL ok =
        DitherImageEx(reinterpret_cast<BYTE*>(dest) + 40 + used * 4, dest, sourceBits, source);
    GlobalUnlock(block);
    if (!ok) {
        GlobalFree(block);
        return nullptr;
    }
    return block;
}

BOOL CDitherDib::DitherImageEx(BYTE* destBits, const BITMAPINFOHEADER* dest, const BYTE* sourceBits,
                               const BITMAPINFOHEADER* source) {
    if (destBits == nullptr || dest == nullptr || sourceBits == nullptr || source == nullptr) {
        return 0;
    }
    const int width = dest->biWidth;
    const int height = dest->biHeight;
    const int outBits = dest->biBitCount;
    const int inBits = source->biBitCount;
    int colours = static_cast<int>(dest->biClrUsed);
    if (colours == 0) {
        colours = outBits == 4 ? 16 : 256;
    }
    if (outBits > 8 || inBits < 5) {
        return 0;
    }
    // Beyond the checks above, only layouts this loop can write and read are taken: 4- or
    // 8-bit rows out; 8-bit indexed, 24-bit and 16- or 32-bit (plain or with bit masks) in.
    // Everything else, compressed sources included, is refused rather than misread.
    if (outBits != 4 && outBits != 8) {
        return 0;
    }
    if (colours > (1 << outBits)) {
        colours = 1 << outBits;
    }
    if (width <= 0 || height == 0 || height == INT32_MIN || source->biWidth != width) {
        return 0;
    }
    const DWORD compression = source->biCompression;
    const bool masked = compression == BI_BITFIELDS && (inBits == 16 || inBits == 32);
    if (compression != BI_RGB && !masked) {
        return 0;
    }
    if (inBits != 8 && inBits != 16 && inBits != 24 && inBits != 32) {
        return 0;
    }

    const auto* destTable =
        reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(dest) + dest->biSize);
    InitTransPal(s_sortedPal, s_redIndex, outBits == 4 ? 16 : 256, destTable);

    if (!s_bLookUpLoaded) {
        std::memset(s_lookUp, 0xFF, sizeof(s_lookUp));
        LoadLookUpTable(s_lookUp, outBits, 32768);
        s_bLookUpLoaded = 1;
    }

    int* errors = new (std::nothrow) int[3 * static_cast<std::size_t>(width)];
    if (errors == nullptr) {
        return 0;
    }
    Job job{};
    job.src = sourceBits;
    job.srcStride = dib_stride(width, inBits);
    job.dst = destBits;
    job.dstStride = dib_stride(width, outBits);
    job.width = width;
    job.rows = height < 0 ? -height : height; // top-down sources keep their memory order
    job.colours = colours;
    job.table = destTable;
    job.cache = s_lookUp;
    job.errors = errors;

    const auto closest = [](int count, int red, int green, int blue) {
        return Closest(s_sortedPal, s_redIndex, count, red, green, blue);
    };
    const BYTE* sourceBytes = reinterpret_cast<const BYTE*>(source);
    if (inBits == 8) {
        const auto* table = reinterpret_cast<const RGBQUAD*>(sourceBytes + source->biSize);
        diffuse_to(outBits, job, ReadIndexed8{table}, closest);
    } else if (inBits == 24) {
        diffuse_to(outBits, job, ReadBgr24{}, closest);
    } else {
        // Bit masks follow a 40-byte header and sit at the same place inside larger ones.
        DWORD masks[3] = {0x7C00, 0x03E0, 0x001F};
        if (inBits == 32) {
            masks[0] = 0x00FF0000;
            masks[1] = 0x0000FF00;
            masks[2] = 0x000000FF;
        }
        if (masked) {
            std::memcpy(masks, sourceBytes + 40, sizeof(masks));
        }
        if (inBits == 32 && masks[0] == 0x00FF0000 && masks[1] == 0x0000FF00 &&
            masks[2] == 0x000000FF) {
            diffuse_to(outBits, job, ReadBgrx32{}, closest);
        } else if (inBits == 32) {
            const ReadMasked<4> read{MaskedChannel(masks[0]), MaskedChannel(masks[1]),
                                     MaskedChannel(masks[2])};
            diffuse_to(outBits, job, read, closest);
        } else {
            const ReadMasked<2> read{MaskedChannel(masks[0]), MaskedChannel(masks[1]),
                                     MaskedChannel(masks[2])};
            diffuse_to(outBits, job, read, closest);
        }
    }
    delete[] errors;
    return 1;
}
