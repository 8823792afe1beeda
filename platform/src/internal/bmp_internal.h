// The BMP reader behind LoadImageA, LoadBitmapA and bitmap resources: checks a BMP file or a
// packed DIB and turns it into an uncompressed DIB that the GDI calls can take as it is.
#pragma once

#include "internal/dib_internal.h"

#include <windows.h>

#include <cstddef>
#include <vector>

namespace platform {

// Files above this are refused before they are read.
constexpr std::size_t kMaxBmpFileSize = 0x7FFFFFFF;

// A checked image inside someone else's bytes.
struct BmpImage {
    const BYTE* header = nullptr; // the info or core header (a packed DIB starts here)
    dib::DibInfo info;
    const BYTE* bits = nullptr; // the pixel array (compressed for RLE)
    std::size_t bits_size = 0;  // exactly what the description needs
};

// A BMP file: "BM", the file header, a DIB description and pixels at bfOffBits. False for
// anything malformed: wrong signature, truncation, an offset into the header or colour table
// or past the end, pixels that do not fit, a description that read_info refuses.
bool read_bmp_file(const BYTE* data, std::size_t size, BmpImage& out);

// The same checks on the first `have` bytes of a file of `file_size` bytes, for a reader that
// fetches the pixels itself: `out.bits` stays null and `bits_offset` is where the pixels start
// in the file (all of `out.bits_size` bytes of them are there). The description and colour table
// must lie within `have`. An RLE stream cannot be checked this way: read_bmp_file it.
bool read_bmp_file_head(const BYTE* head, std::size_t have, std::size_t file_size, BmpImage& out,
                        std::size_t& bits_offset);

// A packed DIB (a bitmap resource): the description with the pixels right after it.
bool read_packed_dib(const BYTE* data, std::size_t size, BmpImage& out);

// An uncompressed DIB: a BITMAPINFOHEADER followed by the colour table or the three masks, and
// DWORD-aligned rows in the image's own order. The pixels of an uncompressed image are those of
// the BmpImage it was decoded from, not a copy: it must outlive this. RLE images are decoded
// into `decoded`; `written` then tells which pixels the stream set (one byte per pixel, rows
// bottom-up), empty when all were.
struct DecodedDib {
    std::vector<BYTE> info; // BITMAPINFO bytes
    const BYTE* bits = nullptr;
    std::size_t bits_size = 0;
    std::vector<BYTE> decoded;
    std::vector<BYTE> written;
    int width = 0;
    int height = 0; // > 0; see top_down
    bool top_down = false;
    int bit_count = 0;

    const BITMAPINFO* bitmap_info() const {
        return reinterpret_cast<const BITMAPINFO*>(info.data());
    }
};

// The uncompressed description of a checked image: `out` gets everything but the pixels.
void describe_dib(const dib::DibInfo& info, DecodedDib& out);

bool decode_dib(const BmpImage& image, DecodedDib& out);

// The bitmap LoadImageA makes of a checked image with its LR_* flags, stretched to cx x cy
// where those are not zero. NULL when GDI refuses it.
HBITMAP create_bitmap(const BmpImage& image, UINT flags, int cx, int cy);

} // namespace platform
