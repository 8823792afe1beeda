// The DIB calls of GDI on arbitrary packed DIBs: the description is checked the way a file
// reader checks it (so that every byte it promises is inside the input), then drawn into
// bitmaps every way there is and read back at every depth. Nothing may be read or written out
// of bounds, leak a GDI object, or take long.
#include "internal/dib_internal.h"

#include <platform/host.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::uint8_t knobs = data[0];
    // The description, aligned as a BITMAPINFO has to be.
    std::vector<std::uint32_t> aligned((size - 1 + 3) / 4);
    std::memcpy(aligned.data(), data + 1, size - 1);
    data = reinterpret_cast<const std::uint8_t*>(aligned.data());
    --size;
    platform::dib::DibInfo info;
    if (!platform::dib::read_info(data, size, DIB_RGB_COLORS, platform::dib::Strictness::file,
                                  info) ||
        info.bits_offset > size || !platform::dib::bits_fit(info, size - info.bits_offset) ||
        static_cast<std::uint64_t>(info.width) * info.height > (1u << 16)) {
        return 0;
    }
    const auto* bmi = reinterpret_cast<const BITMAPINFO*>(data);
    const BYTE* bits = data + info.bits_offset;
    const int before = host::live_gdi_objects_total();

    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP ddb = CreateCompatibleBitmap(screen, 16, 16);
    SetDIBits(dc, ddb, knobs & 3, info.height, bits, bmi, DIB_RGB_COLORS);
    HGDIOBJ old = SelectObject(dc, ddb);
    const DWORD rops[4] = {SRCCOPY, SRCINVERT, SRCAND, 0x00220326};
    const int sx = (knobs >> 2) & 3, sy = (knobs >> 4) & 3;
    StretchDIBits(dc, -1, 2, 16 - sx * 7, (knobs & 0x40) ? -9 : 9, sx, sy, info.width - sx,
                  info.height - sy, bits, bmi, DIB_RGB_COLORS, rops[knobs >> 6]);
    SetDIBitsToDevice(dc, sx - 2, sy, info.width, info.height, sx, sy, knobs & 1, info.height, bits,
                      bmi, DIB_RGB_COLORS);
    SelectObject(dc, old);
    DeleteObject(CreateDIBitmap(dc, &bmi->bmiHeader, CBM_INIT, bits, bmi, DIB_RGB_COLORS));
    if (info.compression != BI_RLE8 && info.compression != BI_RLE4) {
        void* section_bits = nullptr;
        HBITMAP section = CreateDIBSection(dc, bmi, DIB_RGB_COLORS, &section_bits, nullptr, 0);
        DeleteObject(section);
    }
    for (WORD depth : {1, 4, 8, 16, 24, 32}) {
        struct {
            BITMAPINFOHEADER h;
            RGBQUAD colors[256];
        } out{};
        out.h.biSize = sizeof out.h;
        out.h.biWidth = info.width;
        out.h.biHeight = (knobs & 0x80) ? -info.height : info.height;
        out.h.biPlanes = 1;
        out.h.biBitCount = depth;
        std::vector<BYTE> buffer(static_cast<std::size_t>((info.width * depth + 31) / 32 * 4) *
                                 info.height);
        GetDIBits(dc, ddb, 0, info.height, buffer.data(), reinterpret_cast<BITMAPINFO*>(&out),
                  DIB_RGB_COLORS);
    }
    DeleteObject(ddb);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    if (host::live_gdi_objects_total() != before) {
        __builtin_trap();
    }
    return 0;
}
