// Device-independent bitmaps as data: reading and checking a packed DIB description (header,
// colour table or bit-field masks), decoding its rows (uncompressed and RLE) into colours, and
// encoding colours into rows. Used by the DIB transfer calls of the GDI layer and by the BMP
// file reader, so that every reader of outside DIB data goes through one set of checks.
//
// Nothing here touches GDI objects: a DibInfo is a plain, checked description whose fields can
// be trusted (sizes fit, counts are within the table, masks are usable), and the row functions
// read and write exactly the bytes that description allows.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::dib {

// Largest pixel array a DIB may describe. Larger descriptions are refused before anything is
// allocated or read, which is how a 1<<20 x 1<<20 request fails cleanly.
constexpr std::uint64_t kMaxImageBytes = 0x7FFFFFFF;

// One bit-field channel: value = ((pixel & mask) >> shift), `bits` wide.
struct Channel {
    DWORD mask = 0;
    int shift = 0;
    int bits = 0;
};

// Every field of a description but its colour table.
struct DibFields {
    DWORD header_size = 0;      // 12 for a core header, 40 and more for info headers
    int width = 0;              // pixels, > 0
    int height = 0;             // rows, > 0 (the sign of biHeight is in top_down)
    bool top_down = false;      // negative biHeight: first stored row is the top one
    int bit_count = 0;          // 1, 4, 8, 16, 24 or 32
    DWORD compression = BI_RGB; // BI_RGB, BI_RLE8, BI_RLE4 or BI_BITFIELDS
    // The bit fields in effect for 16 and 32 bits (BI_RGB gives 5-5-5 and 8-8-8).
    Channel red, green, blue;
    // Entries in the colour table (<= 8 bits), and whether they are palette indices yet.
    int color_count = 0;
    bool pal_colors = false;
    // Bytes per stored row of an uncompressed DIB (DWORD-aligned) and the size of the pixel
    // array: stride * height uncompressed, biSizeImage for RLE.
    std::size_t stride = 0;
    std::size_t image_size = 0;
    // Offset of the pixel array in a packed DIB: header, masks and colour table.
    std::size_t bits_offset = 0;
    DWORD size_image_field = 0; // biSizeImage as given
};

struct DibInfo : DibFields {
    // The colour table: `color_count` entries. With DIB_PAL_COLORS the entries are not colours
    // yet but palette indices (`palette_indices`), which the caller resolves through a DC's
    // palette. Entries from color_count on are never read, and a description made on the stack
    // leaves them uncleared: every DIB call makes one or two, and clearing their 1.5 KB cost as
    // much as all the checks of a small transfer.
    RGBQUAD colors[256];
    WORD palette_indices[256];
};

// How strict to be with fields that Windows itself tolerates. GDI calls take a biClrUsed above
// 1 << bits (the table is cut to its full size) and ignore biPlanes; a file reader refuses both,
// since in a file they mean the data is not what it claims to be.
enum class Strictness { gdi, file };

// Reads and checks the description at `bmi` (a BITMAPINFO or BITMAPCOREINFO). `available` is the
// number of readable bytes there when known (files), SIZE_MAX when not (Win32 calls trust the
// header's own sizes as Windows does). `usage` is DIB_RGB_COLORS or DIB_PAL_COLORS.
// Returns false for anything inconsistent: header size, bit count, compression for that bit
// count, top-down RLE, zero or negative width, zero height, sizes that overflow, RLE without a
// data size, a table or masks that run past `available`.
bool read_info(const void* bmi, std::size_t available, UINT usage, Strictness strictness,
               DibInfo& out);

// Checks that `bits_size` bytes of pixel data are enough for the description: the whole pixel
// array for an uncompressed DIB, biSizeImage for RLE. For file readers; Win32 calls cannot know.
bool bits_fit(const DibInfo& info, std::size_t bits_size);

// A decoded RLE image: one colour index per pixel and whether the stream wrote that pixel
// (pixels it skips with deltas or an early end keep what the destination had). Rows are in
// stored order (row 0 is the bottom one: RLE DIBs are always bottom-up).
struct RleImage {
    std::vector<BYTE> index;
    std::vector<BYTE> written;
};

// Decodes BI_RLE8 / BI_RLE4 data of `size` bytes. Runs are clipped at the end of their row; a
// stream that ends without an end-of-bitmap code, moves past the last row, or whose absolute
// run does not fit in the data stops there, keeping what it decoded. Never reads outside
// `data[0, size)` nor writes outside the image.
void decode_rle(const DibInfo& info, const BYTE* data, std::size_t size, RleImage& out);

// ---- Rows
// -----------------------------------------------------------------------------------------

// Colour of a table entry or of a bit-field / 24 / 32-bit pixel, as COLORREF (0x00BBGGRR).
inline COLORREF quad_to_colorref(const RGBQUAD& q) {
    return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
}
// Expands an n-bit channel value to 8 bits by replicating its high bits into the low ones.
BYTE expand_channel(DWORD value, int bits);

// Reads `count` pixels starting at pixel `x0` of an uncompressed stored row.
// For indexed DIBs (<= 8 bits) writes indices; an index past the table is left for the caller
// (read_row_colors turns it into black, as Windows shows such pixels).
void read_row_indices(const DibInfo& info, const BYTE* row, int x0, int count, BYTE* out);
void read_row_colors(const DibInfo& info, const BYTE* row, int x0, int count, COLORREF* out);

// Colour of a table index (black past the table), as read_row_colors gives it.
inline COLORREF index_color(const DibInfo& info, int index) {
    return index < info.color_count ? quad_to_colorref(info.colors[index]) : RGB(0, 0, 0);
}

// Writes `count` pixels into a stored row of an uncompressed DIB of `info`'s format. Direct
// formats pack the colours (dropping low bits as the masks require; 32-bit output keeps the
// fourth byte zero); indexed formats take `indices`.
void write_row_colors(const DibInfo& info, BYTE* row, int count, const COLORREF* colors);
void write_row_indices(const DibInfo& info, BYTE* row, int count, const BYTE* indices);

// ---- Colour tables
// ----------------------------------------------------------------------------------

// The table GetDIBits gives a DIB of `bits` (1, 4 or 8) when the bitmap has no table of that
// size of its own: black and white; the 16 standard colours; the 20 static colours at both ends
// with a 8 x 8 x 4 colour cube between them.
void default_color_table(int bits, RGBQUAD* out);

// Nearest table entry by squared RGB distance (first one on ties). Remembers recent answers, so
// converting an image with few distinct colours costs little.
class NearestIndex {
public:
    NearestIndex(const RGBQUAD* table, int count);
    BYTE operator()(COLORREF color);

private:
    const RGBQUAD* table_;
    int count_;
    static constexpr int kSlots = 256;
    COLORREF keys_[kSlots];
    BYTE values_[kSlots];
    bool used_[kSlots] = {};
};

} // namespace platform::dib
