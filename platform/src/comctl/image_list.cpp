// Image lists, built on the public GDI calls only.
//
// A list keeps its images side by side, four to a row, in one colour bitmap and, with
// ILC_MASK, one monochrome mask of the same layout in which 1 marks a transparent pixel. The
// colour bitmap is a DIB section of the depth the ILC_COLOR16/24/32 flag names, or a bitmap
// in the display's format for ILC_COLORDDB and the other colour flags. Neither bitmap stays
// selected into a device context between calls.
#include <commctrl.h>

#include "common/handle_table.h"
#include "internal/faults.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

constexpr int kPerRow = 4;
// D AND NOT S: with a monochrome source drawn as white (1) and black (0), clears where S is 1.
constexpr DWORD kAndNotSource = 0x00220326;
// Far beyond any sensible list, small enough that sizes stay in range.
constexpr long long kMaxCapacity = 1 << 20;

struct ImageList {
    int cx = 0;
    int cy = 0;
    UINT flags = 0;
    int count = 0;
    int capacity = 0;
    int grow = 1;
    HBITMAP image = nullptr;
    HBITMAP mask = nullptr;
    COLORREF bk = CLR_NONE;

    ImageList() = default;
    ImageList(const ImageList&) = delete;
    ImageList& operator=(const ImageList&) = delete;
    ~ImageList() {
        if (image != nullptr) {
            DeleteObject(image);
        }
        if (mask != nullptr) {
            DeleteObject(mask);
        }
    }
    bool has_mask() const { return (flags & ILC_MASK) != 0; }
    int dib_depth() const {
        const UINT depth = flags & ILC_COLORDDB;
        return depth == 16 || depth == 24 || depth == 32 ? static_cast<int>(depth) : 0;
    }
    int slot_x(int i) const { return (i % kPerRow) * cx; }
    int slot_y(int i) const { return (i / kPerRow) * cy; }
};

// Never destroyed: programs may destroy image lists from their own static destructors.
platform::HandleTable<ImageList>& lists() {
    static auto* table = new platform::HandleTable<ImageList>(platform::kTagImageList);
    return *table;
}

ImageList* find(HIMAGELIST himl) {
    return lists().get(himl);
}

// A memory context with one object selected, put back and deleted at the end of the scope.
// Without an object there is nothing to select and no context is made.
class Scratch {
public:
    explicit Scratch(HGDIOBJ bitmap, HDC like = nullptr)
        : dc_(bitmap != nullptr ? CreateCompatibleDC(like) : nullptr) {
        if (dc_ != nullptr) {
            old_ = SelectObject(dc_, bitmap);
        }
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        if (dc_ != nullptr) {
            if (old_ != nullptr) {
                SelectObject(dc_, old_);
            }
            DeleteDC(dc_);
        }
    }
    bool ok() const { return dc_ != nullptr && old_ != nullptr; }
    HDC dc() const { return dc_; }

private:
    HDC dc_;
    HGDIOBJ old_ = nullptr;
};

// A bitmap that goes away at the end of the scope.
struct OwnedBitmap {
    HBITMAP handle;
    explicit OwnedBitmap(HBITMAP h) : handle(h) {}
    OwnedBitmap(const OwnedBitmap&) = delete;
    OwnedBitmap& operator=(const OwnedBitmap&) = delete;
    ~OwnedBitmap() {
        if (handle != nullptr) {
            DeleteObject(handle);
        }
    }
};

HBITMAP make_colour_bitmap(const ImageList& il, int width, int height) {
    if (const int depth = il.dib_depth(); depth != 0) {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi.bmiHeader.biWidth = width;
        bi.bmiHeader.biHeight = -height;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = static_cast<WORD>(depth);
        bi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        return CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    }
    HDC screen = GetDC(nullptr);
    HBITMAP bmp = screen != nullptr ? CreateCompatibleBitmap(screen, width, height) : nullptr;
    if (screen != nullptr) {
        ReleaseDC(nullptr, screen);
    }
    return bmp;
}

// Clears the new bitmap `target` (width x height) to black and copies into it the first `rows`
// pixel rows of `source`, when there is one; false when a context cannot be made for either.
bool copy_rows(HBITMAP target, HBITMAP source, int width, int height, int rows) {
    Scratch dst(target);
    if (!dst.ok()) {
        return false;
    }
    PatBlt(dst.dc(), 0, 0, width, height, BLACKNESS);
    if (source != nullptr && rows > 0) {
        Scratch src(source);
        if (!src.ok()) {
            return false;
        }
        BitBlt(dst.dc(), 0, 0, width, rows, src.dc(), 0, 0, SRCCOPY);
    }
    return true;
}

// Gives the list room for exactly `capacity` images (rounded up to whole rows), keeping those
// already there.
bool resize(ImageList& il, long long capacity) {
    capacity = (capacity + kPerRow - 1) / kPerRow * kPerRow;
    if (capacity > kMaxCapacity) {
        return false;
    }
    const long long width = static_cast<long long>(kPerRow) * il.cx;
    const long long height = capacity / kPerRow * il.cy;
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF) {
        return false;
    }
    OwnedBitmap image(make_colour_bitmap(il, static_cast<int>(width), static_cast<int>(height)));
    OwnedBitmap mask(il.has_mask() ? CreateBitmap(static_cast<int>(width), static_cast<int>(height),
                                                  1, 1, nullptr)
                                   : nullptr);
    if (image.handle == nullptr || (il.has_mask() && mask.handle == nullptr)) {
        return false;
    }
    const int used_height = (il.count + kPerRow - 1) / kPerRow * il.cy;
    if (!copy_rows(image.handle, il.image, static_cast<int>(width), static_cast<int>(height),
                   used_height) ||
        (mask.handle != nullptr && !copy_rows(mask.handle, il.mask, static_cast<int>(width),
                                              static_cast<int>(height), used_height))) {
        return false;
    }
    std::swap(il.image, image.handle);
    std::swap(il.mask, mask.handle);
    il.capacity = static_cast<int>(capacity);
    return true;
}

// Makes room for `needed` images, by the list's growth step when that is more; a growth that
// cannot be had gives way to what is needed.
bool reserve(ImageList& il, long long needed) {
    if (needed <= il.capacity) {
        return true;
    }
    const long long grown = static_cast<long long>(il.capacity) + il.grow;
    return (grown > needed && resize(il, grown)) || resize(il, needed);
}

// A 32-bit top-down DIB section holding the pixels of a 32-bit bitmap, read with GetDIBits
// through `dc`; null when it cannot be made or read.
HBITMAP read_through_dib(HBITMAP bitmap, const BITMAP& bm, HDC dc) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = bm.bmWidth;
    bi.bmiHeader.biHeight = -bm.bmHeight;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP copy = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (copy == nullptr) {
        return nullptr;
    }
    if (GetDIBits(dc, bitmap, 0, static_cast<UINT>(bm.bmHeight), bits, &bi, DIB_RGB_COLORS) !=
        bm.bmHeight) {
        DeleteObject(copy);
        return nullptr;
    }
    return copy;
}

// Appends the images of `bitmap` cut from the left; `mask` is a monochrome bitmap of the same
// size (1 = transparent) or null for opaque images. Returns the first new index or -1.
int add_images(ImageList& il, HBITMAP bitmap, HBITMAP mask) {
    BITMAP bm = {};
    if (GetObjectA(bitmap, sizeof(bm), &bm) == 0) {
        return -1;
    }
    const int first = il.count;
    const int n = bm.bmWidth / il.cx;
    if (n <= 0) {
        return first;
    }
    if (!reserve(il, static_cast<long long>(il.count) + n)) {
        return -1;
    }
    Scratch src(bitmap);
    Scratch dst(il.image);
    if (src.dc() == nullptr || !dst.ok()) {
        return -1;
    }
    // A bitmap that cannot be selected here (the caller still has it selected in a DC, or a
    // device bitmap of another depth) is still added, as Win32 adds it: a 32-bit one going into
    // a 32-bit list is read through GetDIBits, which works while it is selected; any other gives
    // black images.
    OwnedBitmap copy(nullptr);
    HDC from = src.ok() ? src.dc() : nullptr;
    std::optional<Scratch> copy_dc;
    if (from == nullptr && bm.bmBitsPixel == 32 && il.dib_depth() == 32) {
        copy.handle = read_through_dib(bitmap, bm, src.dc());
        if (copy.handle == nullptr) {
            return -1;
        }
        copy_dc.emplace(copy.handle);
        if (!copy_dc->ok()) {
            return -1;
        }
        from = copy_dc->dc();
    }
    for (int k = 0; k < n; ++k) {
        const int x = il.slot_x(first + k);
        const int y = il.slot_y(first + k);
        // Rows below a short bitmap stay black and opaque.
        PatBlt(dst.dc(), x, y, il.cx, il.cy, BLACKNESS);
        if (from != nullptr) {
            BitBlt(dst.dc(), x, y, il.cx, il.cy, from, k * il.cx, 0, SRCCOPY);
        }
    }
    if (il.has_mask()) {
        Scratch mdst(il.mask);
        if (!mdst.ok()) {
            return -1;
        }
        // A mask that is not a bitmap leaves the images opaque; one that is must be read.
        Scratch msrc(mask);
        if (mask != nullptr && msrc.dc() == nullptr) {
            return -1;
        }
        for (int k = 0; k < n; ++k) {
            const int x = il.slot_x(first + k);
            const int y = il.slot_y(first + k);
            PatBlt(mdst.dc(), x, y, il.cx, il.cy, BLACKNESS);
            if (msrc.ok()) {
                BitBlt(mdst.dc(), x, y, il.cx, il.cy, msrc.dc(), k * il.cx, 0, SRCCOPY);
            }
        }
    }
    il.count = first + n;
    return first;
}

// A monochrome cx x cy bitmap with 1 where a blend puts the highlight colour: every other
// pixel (x + y odd) for 50 percent, every other pixel of every other row for 25 percent, both
// counted from the image's top-left corner.
HBITMAP make_blend_pattern(int cx, int cy, bool half) {
    const int stride = (cx + 15) / 16 * 2;
    std::vector<BYTE> bits(static_cast<std::size_t>(stride) * cy, 0);
    for (int y = 0; y < cy; ++y) {
        for (int x = 0; x < cx; ++x) {
            const bool on = half ? (x + y) % 2 == 1 : y % 2 == 0 && (x + y / 2) % 2 == 0;
            if (on) {
                bits[static_cast<std::size_t>(y) * stride + x / 8] |=
                    static_cast<BYTE>(0x80 >> (x % 8));
            }
        }
    }
    return CreateBitmap(cx, cy, 1, 1, bits.data());
}

void use_destination_palette(HDC dc, HDC dst) {
    HGDIOBJ pal = GetCurrentObject(dst, OBJ_PAL);
    if (pal != nullptr) {
        SelectPalette(dc, static_cast<HPALETTE>(pal), TRUE);
    }
}

} // namespace

int host::live_image_lists() {
    return static_cast<int>(lists().live());
}

extern "C" void WINAPI InitCommonControls(void) {}

// Negative initial counts and growths are taken as 0 and 1.
extern "C" HIMAGELIST WINAPI ImageList_Create(int cx, int cy, UINT flags, int cInitial, int cGrow) {
    return platform::no_throw<HIMAGELIST>(nullptr, [&]() -> HIMAGELIST {
        if (cx <= 0 || cy <= 0) {
            return nullptr;
        }
        if (platform::creation_fails(host::image_list)) {
            return nullptr;
        }
        auto il = std::make_unique<ImageList>();
        il->cx = cx;
        il->cy = cy;
        il->flags = flags;
        il->grow = std::max(cGrow, 1);
        if (!resize(*il, std::max(cInitial, 1))) {
            return nullptr;
        }
        return reinterpret_cast<HIMAGELIST>(lists().insert(std::move(il)));
    });
}

extern "C" BOOL WINAPI ImageList_Destroy(HIMAGELIST himl) {
    return lists().remove(himl) != nullptr;
}

extern "C" int WINAPI ImageList_Add(HIMAGELIST himl, HBITMAP hbmImage, HBITMAP hbmMask) {
    return platform::no_throw<int>(-1, [&]() -> int {
        ImageList* il = find(himl);
        return il != nullptr ? add_images(*il, hbmImage, hbmMask) : -1;
    });
}

// Pixels of the key colour (compared in the bitmap's own format) become the mask. Like Win32,
// this blackens those pixels in the caller's bitmap when it has more than 8 bits per pixel,
// whatever the list's format and even for a list without a mask, which then keeps them black.
// CLR_DEFAULT takes the key from the bitmap's top-left pixel.
extern "C" int WINAPI ImageList_AddMasked(HIMAGELIST himl, HBITMAP hbmImage, COLORREF crMask) {
    return platform::no_throw<int>(-1, [&]() -> int {
        ImageList* il = find(himl);
        BITMAP bm = {};
        if (il == nullptr || GetObjectA(hbmImage, sizeof(bm), &bm) == 0) {
            return -1;
        }
        if (bm.bmWidth / il->cx <= 0) {
            return il->count;
        }
        {
            // A bitmap the caller still has selected cannot be read for its key: Win32 adds its
            // images opaque and leaves the bitmap as it is.
            Scratch probe(hbmImage);
            if (probe.dc() == nullptr) {
                return -1;
            }
            if (!probe.ok()) {
                return add_images(*il, hbmImage, nullptr);
            }
        }
        OwnedBitmap mask(CreateBitmap(bm.bmWidth, bm.bmHeight, 1, 1, nullptr));
        if (mask.handle == nullptr) {
            return -1;
        }
        {
            Scratch src(hbmImage);
            Scratch mdc(mask.handle);
            if (!src.ok() || !mdc.ok()) {
                return -1;
            }
            const COLORREF key = crMask == CLR_DEFAULT ? GetPixel(src.dc(), 0, 0) : crMask;
            SetBkColor(src.dc(), key);
            BitBlt(mdc.dc(), 0, 0, bm.bmWidth, bm.bmHeight, src.dc(), 0, 0, SRCCOPY);
            if (bm.bmBitsPixel > 8) {
                SetBkColor(src.dc(), RGB(255, 255, 255));
                SetTextColor(src.dc(), RGB(0, 0, 0));
                BitBlt(src.dc(), 0, 0, bm.bmWidth, bm.bmHeight, mdc.dc(), 0, 0, kAndNotSource);
            }
        }
        return add_images(*il, hbmImage, il->has_mask() ? mask.handle : nullptr);
    });
}

// Images after i move down by one; -1 removes them all.
extern "C" BOOL WINAPI ImageList_Remove(HIMAGELIST himl, int i) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        ImageList* il = find(himl);
        if (il == nullptr || i < -1 || i >= il->count) {
            return FALSE;
        }
        if (i == -1) {
            il->count = 0;
            return TRUE;
        }
        for (HBITMAP bmp : {il->image, il->mask}) {
            if (bmp == nullptr) {
                continue;
            }
            Scratch dc(bmp);
            if (!dc.ok()) {
                return FALSE;
            }
            for (int j = i; j + 1 < il->count; ++j) {
                BitBlt(dc.dc(), il->slot_x(j), il->slot_y(j), il->cx, il->cy, dc.dc(),
                       il->slot_x(j + 1), il->slot_y(j + 1), SRCCOPY);
            }
        }
        --il->count;
        return TRUE;
    });
}

// The image is composed off screen in the destination's format and written with one copy:
// the background (the destination itself when drawing transparently, else the list's background
// colour) with the image's pixels cleared, ORed with the image's own pixels, which are black
// under the mask. ILD_SELECTED and ILD_FOCUS first put the highlight colour on one half or one
// quarter of the image's own pixels.
extern "C" BOOL WINAPI ImageList_Draw(HIMAGELIST himl, int i, HDC hdcDst, int x, int y,
                                      UINT fStyle) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        const ImageList* il = find(himl);
        if (il == nullptr || i < 0 || i >= il->count || hdcDst == nullptr) {
            return FALSE;
        }
        const int cx = il->cx;
        const int cy = il->cy;
        const int sx = il->slot_x(i);
        const int sy = il->slot_y(i);
        const bool masked = il->has_mask();
        const bool transparent = masked && ((fStyle & ILD_TRANSPARENT) != 0 || il->bk == CLR_NONE);
        const bool blend = (fStyle & (ILD_SELECTED | ILD_FOCUS)) != 0;

        OwnedBitmap out_bmp(CreateCompatibleBitmap(hdcDst, cx, cy));
        OwnedBitmap own_bmp(CreateCompatibleBitmap(hdcDst, cx, cy));
        if (out_bmp.handle == nullptr || own_bmp.handle == nullptr) {
            return FALSE;
        }
        Scratch out(out_bmp.handle, hdcDst);
        Scratch own(own_bmp.handle, hdcDst);
        Scratch image(il->image);
        Scratch mask(il->mask);
        if (!out.ok() || !own.ok() || !image.ok() || (masked && !mask.ok())) {
            return FALSE;
        }
        for (HDC dc : {out.dc(), own.dc()}) {
            use_destination_palette(dc, hdcDst);
            SetBkColor(dc, RGB(255, 255, 255));
            SetTextColor(dc, RGB(0, 0, 0));
        }

        // The background, black where the image has its own pixels.
        if (transparent) {
            BitBlt(out.dc(), 0, 0, cx, cy, hdcDst, x, y, SRCCOPY);
        } else if (masked) {
            HBRUSH brush = CreateSolidBrush(il->bk);
            if (brush == nullptr) {
                return FALSE;
            }
            const RECT all = {0, 0, cx, cy};
            FillRect(out.dc(), &all, brush);
            DeleteObject(brush);
        } else {
            PatBlt(out.dc(), 0, 0, cx, cy, BLACKNESS);
        }
        if (masked) {
            BitBlt(out.dc(), 0, 0, cx, cy, mask.dc(), sx, sy, SRCAND);
        }

        // The image's own pixels, black under the mask.
        BitBlt(own.dc(), 0, 0, cx, cy, image.dc(), sx, sy, SRCCOPY);
        if (masked) {
            BitBlt(own.dc(), 0, 0, cx, cy, mask.dc(), sx, sy, kAndNotSource);
        }
        if (blend) {
            OwnedBitmap pattern(make_blend_pattern(cx, cy, (fStyle & ILD_SELECTED) != 0));
            Scratch pdc(pattern.handle);
            if (!pdc.ok()) {
                return FALSE;
            }
            if (masked) {
                BitBlt(pdc.dc(), 0, 0, cx, cy, mask.dc(), sx, sy, kAndNotSource);
            }
            BitBlt(own.dc(), 0, 0, cx, cy, pdc.dc(), 0, 0, kAndNotSource);
            SetBkColor(own.dc(), GetSysColor(COLOR_HIGHLIGHT));
            BitBlt(own.dc(), 0, 0, cx, cy, pdc.dc(), 0, 0, SRCPAINT);
        }

        BitBlt(out.dc(), 0, 0, cx, cy, own.dc(), 0, 0, SRCPAINT);
        return BitBlt(hdcDst, x, y, cx, cy, out.dc(), 0, 0, SRCCOPY);
    });
}

extern "C" COLORREF WINAPI ImageList_SetBkColor(HIMAGELIST himl, COLORREF clrBk) {
    ImageList* il = find(himl);
    if (il == nullptr) {
        return CLR_NONE;
    }
    const COLORREF old = il->bk;
    il->bk = clrBk;
    return old;
}

extern "C" COLORREF WINAPI ImageList_GetBkColor(HIMAGELIST himl) {
    const ImageList* il = find(himl);
    return il != nullptr ? il->bk : CLR_NONE;
}

extern "C" int WINAPI ImageList_GetImageCount(HIMAGELIST himl) {
    const ImageList* il = find(himl);
    return il != nullptr ? il->count : 0;
}

extern "C" BOOL WINAPI ImageList_GetIconSize(HIMAGELIST himl, int* cx, int* cy) {
    const ImageList* il = find(himl);
    if (il == nullptr || cx == nullptr || cy == nullptr) {
        return FALSE;
    }
    *cx = il->cx;
    *cy = il->cy;
    return TRUE;
}

// The bitmaps stay the list's: the caller may read them but must not delete them.
extern "C" BOOL WINAPI ImageList_GetImageInfo(HIMAGELIST himl, int i, IMAGEINFO* pImageInfo) {
    const ImageList* il = find(himl);
    if (il == nullptr || pImageInfo == nullptr || i < 0 || i >= il->count) {
        return FALSE;
    }
    *pImageInfo = IMAGEINFO{};
    pImageInfo->hbmImage = il->image;
    pImageInfo->hbmMask = il->mask;
    pImageInfo->rcImage =
        RECT{il->slot_x(i), il->slot_y(i), il->slot_x(i) + il->cx, il->slot_y(i) + il->cy};
    return TRUE;
}
