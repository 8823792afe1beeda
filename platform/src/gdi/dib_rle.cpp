// Decoding of run-length encoded DIBs (BI_RLE8, BI_RLE4).
//
// The stream is a sequence of two-byte codes: (n, value) repeats a value n times; (0, 0) ends
// the row, (0, 1) the image, (0, 2, dx, dy) moves the pen, and (0, n >= 3) starts n literal
// indices padded to a whole number of 16-bit words. Every code consumes at least two bytes, so
// the decoder ends within size / 2 steps whatever the data says.
#include "internal/dib_internal.h"

namespace platform::dib {

void decode_rle(const DibInfo& info, const BYTE* data, std::size_t size, RleImage& out) {
    const std::size_t w = static_cast<std::size_t>(info.width);
    const std::size_t h = static_cast<std::size_t>(info.height);
    out.index.assign(w * h, 0);
    out.written.assign(w * h, 0);
    const bool four = info.compression == BI_RLE4;

    std::size_t x = 0, y = 0, pos = 0;
    auto put = [&](BYTE index) {
        // Runs are cut at the end of their row rather than wrapped onto the next one.
        if (x < w) {
            out.index[y * w + x] = index;
            out.written[y * w + x] = 1;
        }
        ++x;
    };
    while (y < h && size - pos >= 2) {
        const BYTE count = data[pos];
        const BYTE value = data[pos + 1];
        pos += 2;
        if (count != 0) {
            for (int i = 0; i < count; ++i) {
                put(four ? static_cast<BYTE>((i & 1) ? value & 0x0F : value >> 4) : value);
            }
            continue;
        }
        switch (value) {
        case 0: // end of row
            x = 0;
            ++y;
            break;
        case 1: // end of image
            return;
        case 2: // delta
            if (size - pos < 2) {
                return;
            }
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
            break;
        default: { // literal run
            const std::size_t n = value;
            std::size_t bytes = four ? (n + 1) / 2 : n;
            bytes += bytes & 1;
            // A literal run cut short by the end of the data is dropped whole.
            if (size - pos < (four ? (n + 1) / 2 : n)) {
                return;
            }
            for (std::size_t i = 0; i < n; ++i) {
                const BYTE b = four ? data[pos + i / 2] : data[pos + i];
                put(four ? static_cast<BYTE>((i & 1) ? b & 0x0F : b >> 4) : b);
            }
            pos = size - pos < bytes ? size : pos + bytes;
            break;
        }
        }
    }
}

} // namespace platform::dib
