// Floyd-Steinberg error diffusion onto the fixed palettes. Each pixel's error is spread 7/16 to
// the right, 3/16, 5/16 and 1/16 to the row below, every share computed on its own and
// truncated toward zero; only the pixel plus its error is clamped, never the error itself.
// Rows are taken in memory order, the bottom image row first.
//
// Two loops give the same bytes as the textbook two-row loop, which the tests keep as their
// reference: a plain-order one while the lookup cache still has empty entries, and a faster
// one that runs several rows at once when it has none.
#include <DitherDib.h>

#include "dither/diffusion_serial.h"
#include "dither/diffusion_wavefront.h"
#include "dither/pixel_readers.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

using namespace talvo_dither;

constexpr int kMaxColours = 256;
constexpr std::int64_t kMaxBlockBytes = 0x7FFFFFFF;

std::int64_t dib_stride(int width, int bits) {
    return ((static_cast<std::int64_t>(bits) * width + 31) / 32) * 4;
}

// Runs the loop that fits the cache over one source layout.
template <typename Reader, typename Closest>
bool diffuse_with(int destBits, const DiffusionJob& job, const Reader& read,
                  const Closest& closest) {
#if defined(TALVO_DITHER_WAVEFRONT)
    bool full = true;
    for (int i = 0; i < 32768 && full; ++i) {
        full = job.cache[i] != 0xFFFF && job.cache[i] != 0x7FFF;
    }
    if (full) {
        auto* tables = new (std::nothrow) WaveTables;
        auto* errors =
            new (std::nothrow) std::int16_t[4 * (static_cast<std::size_t>(job.width) + 1)];
        if (tables == nullptr || errors == nullptr) {
            delete tables;
            delete[] errors;
            return false;
        }
        for (int i = 0; i < 32768; ++i) {
            tables->nearest[i] = static_cast<BYTE>(job.cache[i] < job.colours ? job.cache[i] : 0);
        }
        for (int i = 0; i < 256; ++i) {
            const RGBQUAD q = i < job.colours ? job.table[i] : RGBQUAD{0, 0, 0, 0};
            tables->palette[i][0] = q.rgbBlue;
            tables->palette[i][1] = q.rgbGreen;
            tables->palette[i][2] = q.rgbRed;
            tables->palette[i][3] = 0;
        }
        if (destBits == 8) {
            diffuse_wavefront<8>(job, read, *tables, errors);
        } else {
            diffuse_wavefront<4>(job, read, *tables, errors);
        }
        delete tables;
        delete[] errors;
        return true;
    }
#endif
    int* errors = new (std::nothrow) int[3 * static_cast<std::size_t>(job.width)];
    if (errors == nullptr) {
        return false;
    }
    if (destBits == 8) {
        diffuse_serial<8>(job, read, closest, errors);
    } else {
        diffuse_serial<4>(job, read, closest, errors);
    }
    delete[] errors;
    return true;
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

    DiffusionJob job{};
    job.src = sourceBits;
    job.srcStride = dib_stride(width, inBits);
    job.dst = destBits;
    job.dstStride = dib_stride(width, outBits);
    job.width = width;
    job.rows = height < 0 ? -height : height; // top-down sources keep their memory order
    job.colours = colours;
    job.table = destTable;
    job.cache = s_lookUp;

    const auto closest = [](int count, int red, int green, int blue) {
        return Closest(s_sortedPal, s_redIndex, count, red, green, blue);
    };
    const BYTE* sourceBytes = reinterpret_cast<const BYTE*>(source);
    bool ok;
    if (inBits == 8) {
        const auto* table = reinterpret_cast<const RGBQUAD*>(sourceBytes + source->biSize);
        const auto* read = new (std::nothrow) ReadIndexed8(table);
        ok = read != nullptr && diffuse_with(outBits, job, *read, closest);
        delete read;
    } else if (inBits == 24) {
        ok = diffuse_with(outBits, job, ReadBgr24{}, closest);
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
            ok = diffuse_with(outBits, job, ReadBgrx32{}, closest);
        } else if (inBits == 32) {
            const ReadMasked<4> read{MaskedChannel(masks[0]), MaskedChannel(masks[1]),
                                     MaskedChannel(masks[2])};
            ok = diffuse_with(outBits, job, read, closest);
        } else {
            const ReadMasked<2> read{MaskedChannel(masks[0]), MaskedChannel(masks[1]),
                                     MaskedChannel(masks[2])};
            ok = diffuse_with(outBits, job, read, closest);
        }
    }
    return ok ? 1 : 0;
}
