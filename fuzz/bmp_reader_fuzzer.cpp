// The BMP reader on arbitrary bytes: as a file, as a packed DIB (a resource), and on to the
// bitmaps LoadImageA would make. Anything may be refused; nothing may be read or written out
// of bounds, leak, or take long.
//
// A good seed corpus is the set of variant_*.bmp files that bmp_reader_tests leaves in its work
// directory (every header, depth and compression the reader takes).
#include "internal/bmp_internal.h"

#include <windows.h>
#include <platform/host.h>

#include <cstddef>
#include <cstdint>

namespace {

void exercise(const platform::BmpImage& image) {
    // Large RLE images are legal and decode slowly under the sanitizers; their streams have
    // been checked by then, which is what matters here.
    if (static_cast<std::uint64_t>(image.info.width) * image.info.height > (1u << 18)) {
        return;
    }
    platform::DecodedDib decoded;
    if (!platform::decode_dib(image, decoded)) {
        return;
    }
    // The decoded form must describe itself consistently, or the GDI calls would refuse it.
    platform::dib::DibInfo info;
    if (!platform::dib::read_info(decoded.info.data(), decoded.info.size(), DIB_RGB_COLORS,
                                  platform::dib::Strictness::file, info) ||
        !platform::dib::bits_fit(info, decoded.bits_size)) {
        __builtin_trap();
    }
    // On to the bitmaps LoadImageA makes of it, which must all be released again.
    const int live = host::live_gdi_objects_total();
    for (UINT flags : {UINT{LR_CREATEDIBSECTION}, UINT{LR_DEFAULTCOLOR},
                       UINT{LR_MONOCHROME | LR_LOADTRANSPARENT | LR_LOADMAP3DCOLORS}}) {
        if (HBITMAP bitmap = platform::create_bitmap(image, flags, 0, 0)) {
            DeleteObject(bitmap);
        }
    }
    if (host::live_gdi_objects_total() != live) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::BmpImage image;
    if (platform::read_bmp_file(data, size, image)) {
        exercise(image);
    }
    if (platform::read_packed_dib(data, size, image)) {
        exercise(image);
    }
    return 0;
}
