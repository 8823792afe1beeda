// Copies that wait. Drawing with effects copies a rectangle of a bitmap into a new scratch
// bitmap, reads the scratch bitmap out once and deletes it; a straight blit of that kind only
// records which rectangle the new bitmap shows (Bitmap::copy_of), and the pixels are copied
// when something needs them in the new bitmap's own memory, or never.
//
// The rules that keep a waiting copy equal to the copy it stands for:
//  - only a 1:1 SRCCOPY of a real device-dependent bitmap (not blank, not waiting, not a DIB
//    section, whose bits the program may write at any time) into the whole of a blank
//    device-dependent bitmap of the same layout waits; the screen never takes part;
//  - reading a waiting copy through GetDIBits or as a blit's source reads the rectangle it
//    shows (readable, resolve_target with Access::blit_src);
//  - every other look-up of it makes it real (Bitmap::settle, from lookup_bitmap and
//    resolve_target), except a write that replaces every pixel, which drops it;
//  - before the bitmap it shows is written (every writer looks it up through lookup_bitmap or
//    resolve_target) or deleted, the copies waiting on it are made real.
// Nothing here allocates: the waiting copies of a bitmap are an intrusive list, and making one
// real copies into the memory it was made with.
#include "blit_internal.h"

#include <cstring>

namespace platform::gdi {

bool deferred_copies = true;

namespace {

std::size_t row_bytes(const Bitmap& bmp) {
    return static_cast<std::size_t>(bmp.width) * static_cast<std::size_t>(bmp.bpp) / 8;
}

// Clears the bytes of each row past its last pixel, which no drawing writes.
void clear_padding(Bitmap& bmp) {
    const std::size_t used = row_bytes(bmp);
    const std::size_t stride = static_cast<std::size_t>(bmp.stride);
    if (used < stride) {
        for (int y = 0; y < bmp.height; ++y) {
            std::memset(bmp.row(y) + used, 0, stride - used);
        }
    }
}

// Takes a waiting copy off its source's list (its memory is left as it is).
void unlink(Bitmap& copy) {
    Bitmap** link = &copy.copy_of->copies;
    while (*link != &copy) {
        link = &(*link)->next_copy;
    }
    *link = copy.next_copy;
    copy.next_copy = nullptr;
    copy.copy_of = nullptr;
}

} // namespace

Bitmap::~Bitmap() {
    if (copy_of != nullptr) {
        unlink(*this);
    }
    release_copies();
}

void Bitmap::copy_now() {
    // The blit that waited, run now through the same fast path and row loops it would have
    // taken at once. (With the fast paths off, for tests, the rows are copied here: the general
    // engine gives the same bytes, and may need memory, which a deletion must not.)
    static const BlitRequest request{};
    Blit b{};
    b.request = &request;
    b.rop3 = kSrcCopy;
    b.use_src = true;
    b.dst = this;
    b.src = copy_of;
    b.x.count = width;
    b.x.src_start = copy_x;
    b.y.count = height;
    b.y.src_start = copy_y;
    if (!fast_blit(b)) {
        const std::size_t used = row_bytes(*this);
        for (int y = 0; y < height; ++y) {
            std::memcpy(row(y), copy_of->row(copy_y + y) + std::size_t{1} * copy_x * (bpp / 8),
                        used);
        }
    }
    unlink(*this);
}

void Bitmap::release_now() {
    while (copies != nullptr) {
        copies->copy_now();
    }
}

void Bitmap::prepare_overwrite() {
    release_copies();
    if (copy_of != nullptr) {
        unlink(*this); // the padding was cleared when the copy began to wait
    } else if (blank) {
        clear_padding(*this);
        blank = false;
    }
}

const Bitmap& readable(Bitmap& bmp, Bitmap& view) {
    if (bmp.copy_of == nullptr) {
        bmp.clear_if_blank();
        return bmp;
    }
    const Bitmap& from = *bmp.copy_of;
    view.width = bmp.width;
    view.height = bmp.height;
    view.bpp = bmp.bpp;
    view.format = bmp.format;
    view.stride = from.stride;
    view.top_down = from.top_down;
    view.memory = from.row(bmp.copy_y) + static_cast<std::size_t>(bmp.copy_x) * (bmp.bpp / 8);
    if (!view.top_down) {
        view.memory -= static_cast<std::ptrdiff_t>(bmp.height - 1) * from.stride;
    }
    view.info = bmp.info;
    std::memcpy(view.masks, bmp.masks, sizeof view.masks);
    return view;
}

void resolve_waiting_source(Target& out) {
    const Bitmap& copy = *out.surface;
    out.surface = copy.copy_of;
    out.origin_x = copy.copy_x;
    out.origin_y = copy.copy_y;
    out.clip = RECT{copy.copy_x, copy.copy_y, copy.copy_x + copy.width, copy.copy_y + copy.height};
}

bool defer_copy(const Blit& b) {
    Bitmap& d = *b.dst;
    const Bitmap* s = b.src;
    if (!deferred_copies || b.rop3 != kSrcCopy || s == nullptr || s == &d || !d.blank ||
        d.is_dib_section || d.stock || s->is_dib_section || s->stock || s->blank ||
        s->copy_of != nullptr || b.request->dst_dc->kind != DcKind::memory ||
        b.request->src_dc->kind != DcKind::memory || d.bpp < 8 || !same_layout(*s, d) ||
        !b.x.contiguous || !b.y.contiguous || b.x.start != 0 || b.y.start != 0 ||
        b.x.count != d.width || b.y.count != d.height) {
        return false;
    }
    clear_padding(d);
    d.blank = false;
    Bitmap& from = const_cast<Bitmap&>(*s);
    d.copy_of = &from;
    d.copy_x = b.x.src_start;
    d.copy_y = b.y.src_start;
    d.next_copy = from.copies;
    from.copies = &d;
    return true;
}

} // namespace platform::gdi
