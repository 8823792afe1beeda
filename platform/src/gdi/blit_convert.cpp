// Source and brush pixels as raw values of the destination's format: the same value between
// identical layouts, a table for indexed and monochrome sources, the background-colour key for
// colour-to-monochrome, and through the colour otherwise.
#include "blit_internal.h"

#include <algorithm>
#include <cstring>

namespace platform::gdi {

// Indexed bitmaps of one format: device-dependent ones share the device's table, sections
// bring their own.
bool same_colour_table(const Bitmap& a, const Bitmap& b) {
    if (!a.is_dib_section && !b.is_dib_section) {
        return true;
    }
    if (a.is_dib_section != b.is_dib_section || a.colors.size() != b.colors.size()) {
        return false;
    }
    return a.colors.empty() ||
           std::memcmp(a.colors.data(), b.colors.data(), a.colors.size() * sizeof(RGBQUAD)) == 0;
}

DWORD mono_zero_value(const Dc* dst_dc, const Bitmap& dst) {
    return color_to_pixel(dst_dc, dst, dst_dc != nullptr ? dst_dc->state.text_color : RGB(0, 0, 0));
}

DWORD mono_one_value(const Dc* dst_dc, const Bitmap& dst) {
    return color_to_pixel(dst_dc, dst,
                          dst_dc != nullptr ? dst_dc->state.bk_color : RGB(255, 255, 255));
}

DWORD mono_key_value(const Dc* src_dc, const Bitmap& src) {
    return color_to_pixel(src_dc, src,
                          src_dc != nullptr ? src_dc->state.bk_color : RGB(255, 255, 255));
}

Converter::Converter(const Bitmap& src, const Dc* src_dc, const Bitmap& dst, const Dc* dst_dc)
    : s_(src), d_(dst), dst_dc_(dst_dc) {
    if (same_layout(src, dst)) {
        kind_ = identity;
    } else if (dst.bpp == 1 && !dst.is_dib_section) {
        // Colour to monochrome (a 1-bit DIB section instead takes the nearest colour of its
        // table, like any indexed section): 1 exactly where the raw value is the source DC's
        // background colour in the source's own format.
        key_ = mono_key_value(src_dc, src);
        kind_ = key;
        if (src.format->indexed) {
            build_table([&](DWORD i) { return i == key_ ? 1u : 0u; });
        }
    } else if (src.bpp == 1 && !src.is_dib_section) {
        // Monochrome to colour: 0 is the destination's text colour, 1 its background.
        lut_[0] = mono_zero_value(dst_dc, dst);
        lut_[1] = mono_one_value(dst_dc, dst);
        kind_ = table;
    } else if (src.format->indexed) {
        build_table([&](DWORD i) { return color_to_pixel(dst_dc, dst, pixel_to_color(src, i)); });
    } else if (!dst.format->indexed) {
        kind_ = direct;
    } else {
        kind_ = to_indexed;
    }
}

template <class F> void Converter::build_table(F f) {
    const int count = 1 << std::min(s_.bpp, 8);
    for (int i = 0; i < count; ++i) {
        lut_[i] = f(static_cast<DWORD>(i));
    }
    kind_ = table;
}

DWORD Converter::convert(DWORD v) {
    switch (kind_) {
    case identity:
        return v;
    case table:
        return lut_[v & 0xFF];
    case key:
        return v == key_ ? 1u : 0u;
    case direct:
        return d_.format->from_rgb(d_, s_.format->to_rgb(s_, v));
    case to_indexed:
        break;
    }
    auto it = cache_.find(v);
    if (it == cache_.end()) {
        it = cache_.emplace(v, color_to_pixel(dst_dc_, d_, s_.format->to_rgb(s_, v))).first;
    }
    return it->second;
}

void Converter::values(const DWORD* in, int n, DWORD* out) {
    for (int k = 0; k < n; ++k) {
        out[k] = convert(in[k]);
    }
}

void Converter::row(const BYTE* src_row, const int* xs, int n, DWORD* out) {
    const auto read = s_.format->read;
    if (kind_ == identity) {
        for (int k = 0; k < n; ++k) {
            out[k] = read(src_row, xs[k]);
        }
    } else if (kind_ == table) {
        for (int k = 0; k < n; ++k) {
            out[k] = lut_[read(src_row, xs[k]) & 0xFF];
        }
    } else {
        for (int k = 0; k < n; ++k) {
            out[k] = convert(read(src_row, xs[k]));
        }
    }
}

void Pattern::row(int y, int x0, int n, DWORD* out) const {
    if (width == 1 && height == 1) {
        std::fill(out, out + n, values[0]);
        return;
    }
    const int py = ((y - org_y) % height + height) % height;
    const DWORD* line = values.data() + static_cast<std::size_t>(py) * width;
    int px = ((x0 - org_x) % width + width) % width;
    for (int k = 0; k < n; ++k) {
        out[k] = line[px];
        if (++px == width) {
            px = 0;
        }
    }
}

bool make_pattern(const Dc& dc, const Target& t, const Brush* brush, Pattern& out) {
    out.null = false;
    out.width = 1;
    out.height = 1;
    out.values.clear();
    out.org_x = 0;
    out.org_y = 0;
    if (brush == nullptr) {
        return false;
    }
    if (brush->style == BS_NULL) {
        out.null = true;
        return true;
    }
    if (brush->pattern) {
        const Bitmap& p = *brush->pattern;
        Converter conv(p, &dc, *t.surface, &dc);
        out.width = p.width;
        out.height = p.height;
        // The brush origin may be anywhere (INT_MAX too): only where it falls within a tile
        // matters, which keeps the arithmetic of each row inside an int.
        const auto phase = [](long long v, int n) { return static_cast<int>((v % n + n) % n); };
        out.org_x = phase(static_cast<long long>(dc.state.brush_org.x) + t.origin_x, p.width);
        out.org_y = phase(static_cast<long long>(dc.state.brush_org.y) + t.origin_y, p.height);
        out.values.resize(static_cast<std::size_t>(p.width) * p.height);
        std::vector<int> xs(p.width);
        for (int x = 0; x < p.width; ++x) {
            xs[x] = x;
        }
        for (int y = 0; y < p.height; ++y) {
            conv.row(p.row(y), xs.data(), p.width,
                     out.values.data() + static_cast<std::size_t>(y) * p.width);
        }
        return true;
    }
    out.values.assign(1, color_to_pixel(&dc, *t.surface, brush->color));
    return true;
}

} // namespace platform::gdi
