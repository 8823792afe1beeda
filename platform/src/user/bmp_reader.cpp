// Reading BMP files and packed DIBs. The description itself is checked by the DIB reader shared
// with the GDI calls; this file adds what only a file has (the file header and the offset of
// the pixels) and makes sure every byte the image claims is really there.
#include "internal/bmp_internal.h"

#include <cstdint>
#include <cstring>

namespace platform {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint64_t kMaxRlePixels = std::uint64_t{1} << 24;

DWORD load32(const BYTE* p) {
    DWORD v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store32(BYTE* p, DWORD v) {
    std::memcpy(p, &v, sizeof v);
}

// Whether an RLE stream is well formed: every code complete, every run inside its row, no
// delta or line past the image, and an end-of-bitmap code before the data runs out. A file
// that is not is refused whole, rather than shown half decoded.
bool rle_well_formed(const dib::DibInfo& info, const BYTE* data, std::size_t size) {
    // A few bytes of RLE can claim any size, and decoding allocates the whole image: cap it
    // at 16 M pixels (4096 x 4096), far beyond any sprite strip, so that a tiny file cannot
    // make us allocate gigabytes.
    if (static_cast<std::uint64_t>(info.width) * static_cast<std::uint64_t>(info.height) >
        kMaxRlePixels) {
        return false;
    }
    const bool four = info.compression == BI_RLE4;
    const std::size_t w = static_cast<std::size_t>(info.width);
    const std::size_t h = static_cast<std::size_t>(info.height);
    std::size_t x = 0, y = 0, pos = 0;
    while (size - pos >= 2) {
        const std::size_t count = data[pos];
        const BYTE code = data[pos + 1];
        pos += 2;
        if (count > 0) {
            if (y >= h || count > w - x) {
                return false;
            }
            x += count;
            continue;
        }
        switch (code) {
        case 0: // end of line
            x = 0;
            if (++y > h) {
                return false;
            }
            break;
        case 1: // end of bitmap
            return true;
        case 2: // delta
            if (size - pos < 2) {
                return false;
            }
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
            if (x > w || y >= h) {
                return false;
            }
            break;
        default: { // absolute run, padded to a whole word
            const std::size_t bytes = four ? (code + 1u) / 2 : code;
            const std::size_t padded = (bytes + 1) & ~std::size_t{1};
            if (padded > size - pos || y >= h || code > w - x) {
                return false;
            }
            x += code;
            pos += padded;
            break;
        }
        }
    }
    return false;
}

bool is_rle(const dib::DibInfo& info) {
    return info.compression == BI_RLE8 || info.compression == BI_RLE4;
}

} // namespace

bool read_bmp_file_head(const BYTE* head, std::size_t have, std::size_t file_size, BmpImage& out,
                        std::size_t& bits_offset) {
    out = BmpImage{};
    bits_offset = 0;
    if (head == nullptr || have > file_size || have < kFileHeaderSize || head[0] != 'B' ||
        head[1] != 'M') {
        return false;
    }
    // bfSize is not checked: writers often get it wrong, and what matters is that the pixels
    // are there, which is checked below.
    const DWORD offset = load32(head + 10);
    const BYTE* header = head + kFileHeaderSize;
    if (!dib::read_info(header, have - kFileHeaderSize, DIB_RGB_COLORS, dib::Strictness::file,
                        out.info)) {
        return false;
    }
    // The pixels may start after a gap, never inside the header or the colour table.
    if (offset < kFileHeaderSize + out.info.bits_offset || offset > file_size ||
        !dib::bits_fit(out.info, file_size - offset)) {
        return false;
    }
    out.header = header;
    out.bits_size = out.info.image_size;
    bits_offset = offset;
    return true;
}

bool read_bmp_file(const BYTE* data, std::size_t size, BmpImage& out) {
    std::size_t offset = 0;
    if (!read_bmp_file_head(data, size, size, out, offset)) {
        return false;
    }
    out.bits = data + offset;
    return is_rle(out.info) ? rle_well_formed(out.info, out.bits, out.bits_size) : true;
}

bool read_packed_dib(const BYTE* data, std::size_t size, BmpImage& out) {
    out = BmpImage{};
    if (data == nullptr ||
        !dib::read_info(data, size, DIB_RGB_COLORS, dib::Strictness::file, out.info) ||
        out.info.bits_offset > size || !dib::bits_fit(out.info, size - out.info.bits_offset)) {
        return false;
    }
    out.header = data;
    out.bits = data + out.info.bits_offset;
    out.bits_size = out.info.image_size;
    return is_rle(out.info) ? rle_well_formed(out.info, out.bits, out.bits_size) : true;
}

void describe_dib(const dib::DibInfo& info, DecodedDib& out) {
    out = DecodedDib{};
    out.width = info.width;
    out.height = info.height;
    out.top_down = info.top_down;
    out.bit_count = info.bit_count;

    const bool masks = info.compression == BI_BITFIELDS;
    const int table = info.bit_count <= 8 ? info.color_count : 0;
    out.info.assign(sizeof(BITMAPINFOHEADER) + (masks ? 3 * sizeof(DWORD) : 0) +
                        static_cast<std::size_t>(table) * sizeof(RGBQUAD),
                    0);
    BITMAPINFOHEADER h = {};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = info.width;
    h.biHeight = info.top_down ? -info.height : info.height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(info.bit_count);
    h.biCompression = masks ? BI_BITFIELDS : BI_RGB;
    h.biClrUsed = static_cast<DWORD>(table);
    // The stride of the uncompressed rows (an RLE image's own is not set).
    const std::size_t stride =
        ((static_cast<std::size_t>(info.width) * static_cast<std::size_t>(info.bit_count) + 31) /
         32) *
        4;
    h.biSizeImage = static_cast<DWORD>(stride * static_cast<std::size_t>(info.height));
    std::memcpy(out.info.data(), &h, sizeof h);
    BYTE* p = out.info.data() + sizeof h;
    if (masks) {
        store32(p, info.red.mask);
        store32(p + 4, info.green.mask);
        store32(p + 8, info.blue.mask);
        p += 12;
    }
    if (table > 0) {
        std::memcpy(p, info.colors, static_cast<std::size_t>(table) * sizeof(RGBQUAD));
    }
}

bool decode_dib(const BmpImage& image, DecodedDib& out) {
    const dib::DibInfo& info = image.info;
    describe_dib(info, out);
    const std::size_t image_size = out.bitmap_info()->bmiHeader.biSizeImage;
    if (!is_rle(info)) {
        if (image.bits == nullptr || image.bits_size < image_size) {
            return false;
        }
        out.bits = image.bits;
        out.bits_size = image_size;
        return true;
    }

    dib::RleImage rle;
    dib::decode_rle(info, image.bits, image.bits_size, rle);
    const std::size_t pixels =
        static_cast<std::size_t>(info.width) * static_cast<std::size_t>(info.height);
    if (rle.index.size() != pixels || rle.written.size() != pixels) {
        return false;
    }
    const std::size_t stride = image_size / static_cast<std::size_t>(info.height);
    out.decoded.assign(image_size, 0);
    for (int y = 0; y < info.height; ++y) {
        const std::size_t row = static_cast<std::size_t>(y);
        dib::write_row_indices(info, out.decoded.data() + row * stride, info.width,
                               rle.index.data() + row * static_cast<std::size_t>(info.width));
    }
    out.bits = out.decoded.data();
    out.bits_size = out.decoded.size();
    bool all_written = true;
    for (BYTE w : rle.written) {
        all_written = all_written && w != 0;
    }
    if (!all_written) {
        out.written = std::move(rle.written);
    }
    return true;
}

} // namespace platform
