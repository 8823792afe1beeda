// The general blit engine: for each destination row, read the mapped source pixels and convert
// them to destination raw values, take the pattern's row, read the destination, apply the rop
// bitwise, write back. Every format pair, rop, stretch, mirror and overlap goes through here
// when no fast path takes it, and the fast paths must give exactly its bytes.
#include "blit_internal.h"

namespace platform::gdi {
namespace {

void read_row(const Bitmap& bmp, const BYTE* row, int x0, int n, DWORD* out) {
    const auto read = bmp.format->read;
    for (int i = 0; i < n; ++i) {
        out[i] = read(row, x0 + i);
    }
}

void write_row(Bitmap& bmp, BYTE* row, int x0, int n, const DWORD* in) {
    const auto write = bmp.format->write;
    for (int i = 0; i < n; ++i) {
        write(row, x0 + i, in[i]);
    }
}

// Source values (converted), pattern values and destination values of one row.
struct RowBuffers {
    explicit RowBuffers(std::size_t n) : s(n, 0), d(n, 0), p(n, 0) {}
    std::vector<DWORD> s, d, p;
};

// Applies the rop to row y of the destination with the source values in buf.s.
void rop_into_row(const Blit& b, int y, RowBuffers& buf) {
    Bitmap& D = *b.dst;
    const int x0 = b.x.start;
    const int n = b.x.count;
    BYTE* drow = D.row(y);
    if (b.use_pat && !b.pat.solid()) {
        b.pat.row(y, x0, n, buf.p.data());
    }
    if (rop_uses_dst(b.rop3)) {
        read_row(D, drow, x0, n, buf.d.data());
    }
    rop_row(b.rop3)(buf.d.data(), buf.s.data(), buf.p.data(), n);
    write_row(D, drow, x0, n, buf.d.data());
}

// The shrinking path of BLACKONWHITE / WHITEONBLACK: each destination pixel gets the AND / OR
// of the raw source values in its span, converted like any other source value.
void combine_spans(const Blit& b, Converter& conv, bool use_and, RowBuffers& buf) {
    const Bitmap& S = *b.src;
    const Axis& ax = b.x;
    const Axis& ay = b.y;
    const int n = ax.count;
    std::vector<DWORD> acc(static_cast<std::size_t>(n));
    const auto read = S.format->read;
    auto combine = [use_and](DWORD a, DWORD v) { return use_and ? (a & v) : (a | v); };
    for (int k = 0; k < ay.count; ++k) {
        const int y1 = ay.at(k);
        const int y0 = ay.first.empty() ? y1 : ay.first[static_cast<std::size_t>(k)];
        for (int sy = y0; sy <= y1; ++sy) {
            const BYTE* srow = S.row(sy);
            for (int i = 0; i < n; ++i) {
                const int x1 = ax.at(i);
                const int x0 = ax.first.empty() ? x1 : ax.first[static_cast<std::size_t>(i)];
                DWORD v = read(srow, x0);
                for (int sx = x0 + 1; sx <= x1; ++sx) {
                    v = combine(v, read(srow, sx));
                }
                acc[i] = sy == y0 ? v : combine(acc[i], v);
            }
        }
        conv.values(acc.data(), n, buf.s.data());
        rop_into_row(b, ay.start + k, buf);
    }
}

} // namespace

void general_blit(const Blit& b) {
    const int n = b.x.count;
    const int rows = b.y.count;
    RowBuffers buf(static_cast<std::size_t>(n));
    if (b.use_pat && b.pat.solid()) {
        b.pat.row(0, b.x.start, n, buf.p.data());
    }
    if (!b.use_src) {
        for (int k = 0; k < rows; ++k) {
            rop_into_row(b, b.y.start + k, buf);
        }
        return;
    }

    const Bitmap& S = *b.src;
    Converter conv(S, b.request->src_dc, *b.dst, b.request->dst_dc);
    if (!b.x.first.empty() || !b.y.first.empty()) {
        combine_spans(b, conv, b.request->dst_dc->state.stretch_mode == BLACKONWHITE, buf);
        return;
    }
    std::vector<int> xs;
    if (b.x.contiguous) {
        xs.resize(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            xs[static_cast<std::size_t>(i)] = b.x.src_start + i;
        }
    }
    const int* xmap = b.x.contiguous ? xs.data() : b.x.src.data();
    const bool bottom_up = b.bottom_up();
    for (int k = 0; k < rows; ++k) {
        // The whole source row is read before the destination row is written, so rows that
        // overlap within one surface work too.
        const int idx = bottom_up ? rows - 1 - k : k;
        conv.row(S.row(b.y.at(idx)), xmap, n, buf.s.data());
        rop_into_row(b, b.y.start + idx, buf);
    }
}

} // namespace platform::gdi
