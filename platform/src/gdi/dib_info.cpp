// Reading and checking packed DIB descriptions.
#include "internal/dib_internal.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace platform::dib {
namespace {

DWORD load32(const BYTE* p) {
    DWORD v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
WORD load16(const BYTE* p) {
    WORD v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

Channel channel_of(DWORD mask) {
    Channel c;
    c.mask = mask;
    if (mask != 0) {
        c.shift = std::countr_zero(mask);
        c.bits = 32 - std::countl_zero(mask) - c.shift;
    }
    return c;
}

// Room for `bytes` more bytes at `offset` within `available`, without overflow.
bool fits(std::size_t offset, std::uint64_t bytes, std::size_t available) {
    return offset <= available && bytes <= available - offset;
}

} // namespace

bool read_info(const void* bmi, std::size_t available, UINT usage, Strictness strictness,
               DibInfo& out) {
    static_cast<DibFields&>(out) = DibFields{}; // the table is filled as far as it is read
    if (bmi == nullptr || (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS) ||
        available < sizeof(DWORD)) {
        return false;
    }
    const BYTE* p = static_cast<const BYTE*>(bmi);
    const DWORD size = load32(p);
    out.header_size = size;

    std::int64_t width, height;
    WORD planes;
    DWORD clr_used = 0;
    if (size == sizeof(BITMAPCOREHEADER)) {
        if (available < size) {
            return false;
        }
        width = load16(p + 4);
        height = load16(p + 6); // core heights are unsigned: always bottom-up
        planes = load16(p + 8);
        out.bit_count = load16(p + 10);
        if (out.bit_count != 1 && out.bit_count != 4 && out.bit_count != 8 && out.bit_count != 24) {
            return false;
        }
    } else {
        // Info headers of every version share the first 40 bytes; the later fields (masks
        // inside the header from 52 bytes on, colour space, profile) are not needed here. A
        // size beyond the largest known header is refused rather than trusted.
        if (size < sizeof(BITMAPINFOHEADER) || size > sizeof(BITMAPV5HEADER) || available < size) {
            return false;
        }
        width = static_cast<LONG>(load32(p + 4));
        height = static_cast<LONG>(load32(p + 8));
        planes = load16(p + 12);
        out.bit_count = load16(p + 14);
        out.compression = load32(p + 16);
        out.size_image_field = load32(p + 20);
        clr_used = load32(p + 32);
        switch (out.bit_count) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default:
            return false;
        }
        switch (out.compression) {
        case BI_RGB:
            break;
        case BI_RLE8:
            if (out.bit_count != 8) {
                return false;
            }
            break;
        case BI_RLE4:
            if (out.bit_count != 4) {
                return false;
            }
            break;
        case BI_BITFIELDS:
            if (out.bit_count != 16 && out.bit_count != 32) {
                return false;
            }
            break;
        default:
            return false;
        }
    }
    if (strictness == Strictness::file && planes != 1) {
        return false;
    }
    if (width <= 0 || height == 0) {
        return false;
    }
    out.top_down = height < 0;
    if (out.top_down) {
        height = -height;
    }
    const bool rle = out.compression == BI_RLE8 || out.compression == BI_RLE4;
    if (rle && out.top_down) {
        return false; // RLE data is defined bottom-up only
    }
    const std::uint64_t stride =
        ((static_cast<std::uint64_t>(width) * out.bit_count + 31) / 32) * 4;
    if (stride * static_cast<std::uint64_t>(height) > kMaxImageBytes) {
        return false;
    }
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    out.stride = static_cast<std::size_t>(stride);
    if (rle) {
        // The stream carries no length of its own: without biSizeImage there is nothing to
        // bound the decoder by.
        if (out.size_image_field == 0 || out.size_image_field > kMaxImageBytes) {
            return false;
        }
        out.image_size = out.size_image_field;
    } else {
        out.image_size = out.stride * out.height;
    }

    std::size_t offset = size;
    if (out.bit_count == 16 || out.bit_count == 32) {
        DWORD masks[3];
        if (out.compression == BI_BITFIELDS) {
            // Headers of 52 bytes and more hold the masks; after a 40-byte header they follow it.
            std::size_t at = size >= 52 ? 40 : size;
            if (!fits(at, 12, available)) {
                return false;
            }
            for (int i = 0; i < 3; ++i) {
                masks[i] = load32(p + at + 4 * i);
                // Each field is one run of bits: colour conversions everywhere rely on it.
                const DWORD run = masks[i] == 0 ? 0 : masks[i] >> std::countr_zero(masks[i]);
                if ((run & (run + 1)) != 0 || (out.bit_count == 16 && masks[i] > 0xFFFF)) {
                    return false;
                }
            }
            if (size < 52) {
                offset += 12;
            }
        } else if (out.bit_count == 16) {
            masks[0] = 0x7C00;
            masks[1] = 0x03E0;
            masks[2] = 0x001F;
        } else {
            masks[0] = 0xFF0000;
            masks[1] = 0x00FF00;
            masks[2] = 0x0000FF;
        }
        out.red = channel_of(masks[0]);
        out.green = channel_of(masks[1]);
        out.blue = channel_of(masks[2]);
    }

    const std::size_t entry_size = usage == DIB_PAL_COLORS            ? sizeof(WORD)
                                   : size == sizeof(BITMAPCOREHEADER) ? sizeof(RGBTRIPLE)
                                                                      : sizeof(RGBQUAD);
    if (out.bit_count <= 8) {
        const DWORD full = DWORD{1} << out.bit_count;
        DWORD count = clr_used == 0 ? full : clr_used;
        if (count > full) {
            if (strictness == Strictness::file) {
                return false;
            }
            count = full;
        }
        if (!fits(offset, std::uint64_t{count} * entry_size, available)) {
            return false;
        }
        out.color_count = static_cast<int>(count);
        out.pal_colors = usage == DIB_PAL_COLORS;
        for (DWORD i = 0; i < count; ++i) {
            const BYTE* e = p + offset + i * entry_size;
            if (out.pal_colors) {
                out.palette_indices[i] = load16(e);
            } else {
                out.colors[i] = RGBQUAD{e[0], e[1], e[2], 0};
            }
        }
        offset += count * entry_size;
    } else if (clr_used != 0) {
        // A table beside direct colours only suggests a palette for display; it is skipped, but
        // it is part of the packed layout.
        if (clr_used > 256 || !fits(offset, std::uint64_t{clr_used} * entry_size, available)) {
            if (strictness == Strictness::file) {
                return false;
            }
        }
        offset += static_cast<std::size_t>(std::min<DWORD>(clr_used, 256)) * entry_size;
    }
    out.bits_offset = offset;
    return true;
}

bool bits_fit(const DibInfo& info, std::size_t bits_size) {
    return bits_size >= info.image_size;
}

} // namespace platform::dib
