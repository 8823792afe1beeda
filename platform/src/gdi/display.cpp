// The simulated screen: display mode, framebuffer and the system palette of palette displays.
#include "internal/gdi_internal.h"
#include "platform/host.h"

#include <cstring>

namespace platform::gdi {
namespace {

// The 20 static colours: the first ten sit at 0-9, the last ten at 246-255.
const BYTE kStatic[20][3] = {
    {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xc0, 0xc0, 0xc0},
    {0xc0, 0xdc, 0xc0}, {0xa6, 0xca, 0xf0}, {0xff, 0xfb, 0xf0}, {0xa0, 0xa0, 0xa4},
    {0x80, 0x80, 0x80}, {0xff, 0x00, 0x00}, {0x00, 0xff, 0x00}, {0xff, 0xff, 0x00},
    {0x00, 0x00, 0xff}, {0xff, 0x00, 0xff}, {0x00, 0xff, 0xff}, {0xff, 0xff, 0xff}};

constexpr int kFirstFree = 10;
constexpr int kLastFree = 245;

struct Screen {
    host::DisplayMode mode;
    std::unique_ptr<Bitmap> surface;
    PALETTEENTRY palette[256] = {};
    RGBQUAD quads[256] = {};
    bool used[256] = {};
    std::uint64_t epoch = 1;             // moves on whenever realized mappings become stale
    const Palette* foreground = nullptr; // last palette realized in the foreground
};

void set_entry(Screen& s, int i, BYTE r, BYTE g, BYTE b) {
    s.palette[i] = PALETTEENTRY{r, g, b, 0};
    s.quads[i] = RGBQUAD{b, g, r, 0};
}

void reset_palette(Screen& s) {
    for (int i = 0; i < 256; ++i) {
        set_entry(s, i, 0, 0, 0);
        s.used[i] = false;
    }
    for (int i = 0; i < 20; ++i) {
        const int slot = i < 10 ? i : 236 + i;
        set_entry(s, slot, kStatic[i][0], kStatic[i][1], kStatic[i][2]);
        s.used[slot] = true;
    }
    ++s.epoch;
    s.foreground = nullptr;
}

bool make_surface(Screen& s, const host::DisplayMode& mode) {
    auto surface = make_ddb(mode.width, mode.height, mode.bits_per_pixel);
    if (!surface) {
        return false;
    }
    surface->stock = true;
    s.surface = std::move(surface);
    s.mode = mode;
    reset_palette(s);
    return true;
}

Screen& screen() {
    static Screen* s = [] {
        auto* scr = new Screen();
        make_surface(*scr, host::DisplayMode{});
        return scr;
    }();
    return *s;
}

int distance(int r1, int g1, int b1, int r2, int g2, int b2) {
    return (r1 - r2) * (r1 - r2) + (g1 - g2) * (g1 - g2) + (b1 - b2) * (b1 - b2);
}
int distance(int r, int g, int b, const PALETTEENTRY& e) {
    return distance(r, g, b, e.peRed, e.peGreen, e.peBlue);
}
int distance(int r, int g, int b, const RGBQUAD& e) {
    return distance(r, g, b, e.rgbRed, e.rgbGreen, e.rgbBlue);
}

// Index of the entry nearest (r, g, b) among the `count` entries that `usable` admits, the first
// of equally near ones; 0 when none is admitted.
template <class Entry, class Usable>
int nearest_of(const Entry* entries, int count, int r, int g, int b, Usable usable) {
    int best = 0;
    int best_d = 1 << 30;
    for (int i = 0; i < count; ++i) {
        if (!usable(i)) {
            continue;
        }
        const int d = distance(r, g, b, entries[i]);
        if (d < best_d) {
            best_d = d;
            best = i;
        }
    }
    return best;
}

// Nearest colour among the system palette's occupied slots.
int nearest_used(const Screen& s, BYTE r, BYTE g, BYTE b) {
    return nearest_of(s.palette, 256, r, g, b, [&](int i) { return s.used[i]; });
}

const RGBQUAD kStandard16[16] = {
    {0x00, 0x00, 0x00, 0}, {0x00, 0x00, 0x80, 0}, {0x00, 0x80, 0x00, 0}, {0x00, 0x80, 0x80, 0},
    {0x80, 0x00, 0x00, 0}, {0x80, 0x00, 0x80, 0}, {0x80, 0x80, 0x00, 0}, {0xc0, 0xc0, 0xc0, 0},
    {0x80, 0x80, 0x80, 0}, {0x00, 0x00, 0xff, 0}, {0x00, 0xff, 0x00, 0}, {0x00, 0xff, 0xff, 0},
    {0xff, 0x00, 0x00, 0}, {0xff, 0x00, 0xff, 0}, {0xff, 0xff, 0x00, 0}, {0xff, 0xff, 0xff, 0}};
const RGBQUAD kMono[2] = {{0, 0, 0, 0}, {0xff, 0xff, 0xff, 0}};

} // namespace

Bitmap& screen_surface() {
    return *screen().surface;
}
int display_bpp() {
    return screen().mode.bits_per_pixel;
}
const PALETTEENTRY* system_palette() {
    return screen().palette;
}
const RGBQUAD* system_palette_rgbquad() {
    return screen().quads;
}
void reset_system_palette() {
    reset_palette(screen());
}
void forget_palette(const Palette* pal) {
    if (screen().foreground == pal) {
        screen().foreground = nullptr;
    }
}
const RGBQUAD* standard16_colors() {
    return kStandard16;
}

ColorTable color_table(const Bitmap& bmp) {
    if (!bmp.format->indexed) {
        return {};
    }
    if (bmp.is_dib_section) {
        return {bmp.colors.data(), static_cast<int>(bmp.colors.size())};
    }
    switch (bmp.bpp) {
    case 1:
        return {kMono, 2};
    case 4:
        return {kStandard16, 16};
    default:
        return {screen().quads, 256};
    }
}

int nearest_entry(const PALETTEENTRY* entries, int count, COLORREF rgb) {
    return nearest_of(entries, count, GetRValue(rgb), GetGValue(rgb), GetBValue(rgb),
                      [](int) { return true; });
}

int nearest_entry(const RGBQUAD* entries, int count, COLORREF rgb) {
    return nearest_of(entries, count, GetRValue(rgb), GetGValue(rgb), GetBValue(rgb),
                      [](int) { return true; });
}

UINT realize_palette(Palette& pal, bool foreground) {
    Screen& s = screen();
    const int n = static_cast<int>(pal.entries.size());
    if (pal.stock) {
        return 0; // the static colours are always in place
    }
    if (s.mode.bits_per_pixel != 8) {
        // Nothing to realize on a display without a palette: entries map to the nearest
        // system colour, which is what palette_entry_system_index gives for an empty mapping.
        return 0;
    }
    if (pal.realized_epoch == s.epoch && pal.system_index.size() == pal.entries.size()) {
        return 0;
    }
    if (foreground && s.foreground != &pal) {
        // The foreground palette gets every free slot: earlier realizations give theirs up.
        for (int i = kFirstFree; i <= kLastFree; ++i) {
            s.used[i] = false;
            set_entry(s, i, 0, 0, 0);
        }
        ++s.epoch;
    }
    if (foreground) {
        s.foreground = &pal;
    }
    pal.system_index.assign(n, 0);
    int next_free = kFirstFree;
    for (int i = 0; i < n; ++i) {
        const PALETTEENTRY& e = pal.entries[i];
        int slot = -1;
        if (!(e.peFlags & (PC_NOCOLLAPSE | PC_RESERVED))) {
            for (int j = 0; j < 256 && slot < 0; ++j) {
                if (s.used[j] && s.palette[j].peRed == e.peRed &&
                    s.palette[j].peGreen == e.peGreen && s.palette[j].peBlue == e.peBlue) {
                    slot = j;
                }
            }
        }
        while (slot < 0 && next_free <= kLastFree) {
            if (!s.used[next_free]) {
                slot = next_free;
                s.used[slot] = true;
                set_entry(s, slot, e.peRed, e.peGreen, e.peBlue);
            }
            ++next_free;
        }
        if (slot < 0) {
            slot = nearest_used(s, e.peRed, e.peGreen, e.peBlue);
        }
        pal.system_index[i] = static_cast<BYTE>(slot);
    }
    pal.realized_epoch = s.epoch;
    return static_cast<UINT>(n);
}

BYTE palette_entry_system_index(const Palette& pal, int entry) {
    const Screen& s = screen();
    if (entry < 0 || entry >= static_cast<int>(pal.entries.size())) {
        return 0;
    }
    if (pal.stock ||
        (pal.realized_epoch == s.epoch && static_cast<int>(pal.system_index.size()) > entry)) {
        return pal.system_index[entry];
    }
    const PALETTEENTRY& e = pal.entries[entry];
    return static_cast<BYTE>(nearest_used(s, e.peRed, e.peGreen, e.peBlue));
}

} // namespace platform::gdi

using namespace platform::gdi;

namespace host {

bool set_display_mode(const DisplayMode& mode) {
    const int bpp = mode.bits_per_pixel;
    if (mode.width <= 0 || mode.height <= 0 || mode.width > 16384 || mode.height > 16384 ||
        (bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)) {
        return false;
    }
    return make_surface(screen(), mode);
}

DisplayMode display_mode() {
    return screen().mode;
}

void reset_display() {
    set_display_mode(DisplayMode{});
}

Framebuffer screen_framebuffer() {
    Bitmap& s = screen_surface();
    return Framebuffer{s.memory, s.width, s.height, s.bpp, s.stride};
}

} // namespace host
