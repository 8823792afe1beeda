// Copies that wait. Drawing with effects copies a rectangle of a bitmap into a new scratch
// bitmap, reads the scratch bitmap out once and deletes it; a straight blit of that kind only
// records which rectangle the new bitmap shows (Bitmap::waiting), and the pixels are copied
// when something needs them in the new bitmap's own memory, or never.
//
// The rules that keep a waiting copy equal to the copy it stands for:
//  - only a 1:1 SRCCOPY of a real device-dependent bitmap (not blank, not waiting, not a DIB
//    section, whose bits the program may write at any time) into the whole of a blank
//    device-dependent bitmap of the same layout waits; the screen never takes part;
//  - reading a waiting copy through GetDIBits or as a blit's source reads the rectangle it
//    shows (readable, resolve_target with Access::blit_src);
//  - every other look-up of it makes it real (Bitmap::settle, from lookup_bitmap and
//    resolve_target), except a write that replaces every pixel, which drops it, and a 1:1 blit
//    onto it through a fast path that can read the pixels from where they are, which makes it
//    as it goes (fold_copy; drawing with effects clears the key pixels of its copies so);
//  - before the bitmap it shows is written (every writer looks it up through lookup_bitmap or
//    resolve_target) or deleted, the copies waiting on it are made real.
// Nothing here allocates: the records live in a fixed table (a copy made when it is full is
// made at once), and making a copy real copies into the memory it was made with.
#include "blit_internal.h"

#include <cstring>

namespace platform::gdi {

bool deferred_copies = true;

namespace {

// What a waiting copy shows: the rectangle at (x, y) of `from`, of the copy's size. A drawing
// call has one or two copies waiting at a time.
struct Record {
    Bitmap* copy;
    Bitmap* from;
    int x, y;
};
constexpr int kMaxWaiting = 8;
Record g_records[kMaxWaiting];
int g_count = 0;

Record& record_of(const Bitmap& copy) {
    int i = 0;
    while (g_records[i].copy != &copy) {
        ++i;
    }
    return g_records[i];
}

// Forgets a waiting copy (its memory is left as it is).
void forget(Bitmap& copy) {
    Record& r = record_of(copy);
    Bitmap& from = *r.from;
    r = g_records[--g_count];
    copy.waiting = false;
    from.copied_from = false;
    for (int i = 0; i < g_count; ++i) {
        if (g_records[i].from == &from) {
            from.copied_from = true;
        }
    }
}

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

} // namespace

Bitmap::~Bitmap() {
    if (waiting) {
        forget(*this);
    }
    release_copies();
}

void Bitmap::copy_now() {
    const Record& r = record_of(*this);
    // The blit that waited, run now through the same fast path and row loops it would have
    // taken at once. (With the fast paths off, for tests, the rows are copied here: the general
    // engine gives the same bytes, and may need memory, which a deletion must not.)
    static const BlitRequest request{};
    Blit b{};
    b.request = &request;
    b.rop3 = kSrcCopy;
    b.use_src = true;
    b.dst = this;
    b.src = r.from;
    b.x.count = width;
    b.x.src_start = r.x;
    b.y.count = height;
    b.y.src_start = r.y;
    if (!fast_blit(b)) {
        const std::size_t used = row_bytes(*this);
        const std::size_t skip = static_cast<std::size_t>(r.x) * (bpp / 8);
        for (int y = 0; y < height; ++y) {
            std::memcpy(row(y), r.from->row(r.y + y) + skip, used);
        }
    }
    forget(*this);
}

void Bitmap::release_now() {
    for (int i = g_count - 1; i >= 0; --i) {
        if (i < g_count && g_records[i].from == this) {
            g_records[i].copy->copy_now();
        }
    }
}

void Bitmap::prepare_overwrite() {
    release_copies();
    if (blank) {
        clear_padding(*this);
    }
}

void Bitmap::finish_overwrite() {
    if (waiting) {
        forget(*this); // the padding was cleared when the copy began to wait
    }
    blank = false;
}

const Bitmap& readable(Bitmap& bmp, Bitmap& view) {
    if (!bmp.waiting) {
        bmp.clear_if_blank();
        return bmp;
    }
    const Record& r = record_of(bmp);
    const Bitmap& from = *r.from;
    view.width = bmp.width;
    view.height = bmp.height;
    view.bpp = bmp.bpp;
    view.format = bmp.format;
    view.stride = from.stride;
    view.top_down = from.top_down;
    view.memory = from.row(r.y) + static_cast<std::size_t>(r.x) * (bmp.bpp / 8);
    if (!view.top_down) {
        view.memory -= static_cast<std::ptrdiff_t>(bmp.height - 1) * from.stride;
    }
    view.info = bmp.info;
    std::memcpy(view.masks, bmp.masks, sizeof view.masks);
    return view;
}

void resolve_waiting_source(Target& out) {
    const Bitmap& copy = *out.surface;
    const Record& r = record_of(copy);
    out.surface = r.from;
    out.origin_x = r.x;
    out.origin_y = r.y;
    out.clip = RECT{r.x, r.y, r.x + copy.width, r.y + copy.height};
}

bool fold_copy(const Blit& b) {
    Bitmap& copy = *b.dst;
    Bitmap view;
    if (!fold_blit(b, readable(copy, view))) {
        return false;
    }
    forget(copy);
    return true;
}

bool defer_copy(const Blit& b) {
    Bitmap& d = *b.dst;
    const Bitmap* s = b.src;
    if (!deferred_copies || g_count == kMaxWaiting || b.rop3 != kSrcCopy || s == nullptr ||
        s == &d || !d.blank || d.is_dib_section || d.stock || s->is_dib_section || s->stock ||
        s->blank || s->waiting || b.request->dst_dc->kind != DcKind::memory ||
        b.request->src_dc->kind != DcKind::memory || d.bpp < 8 || !same_layout(*s, d) ||
        !b.x.contiguous || !b.y.contiguous || b.x.start != 0 || b.y.start != 0 ||
        b.x.count != d.width || b.y.count != d.height) {
        return false;
    }
    clear_padding(d);
    d.blank = false;
    d.waiting = true;
    // The table is bookkeeping beside the source's pixels, which stay as they are.
    Bitmap& from = const_cast<Bitmap&>(*s);
    from.copied_from = true;
    g_records[g_count++] = Record{&d, &from, b.x.src_start, b.y.src_start};
    return true;
}

} // namespace platform::gdi
