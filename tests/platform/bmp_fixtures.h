// BMP files of every layout the reader takes, made on the fly from a seed: core and info
// headers of each size, 1 to 32 bits, BI_RGB, BI_BITFIELDS (masks after a 40-byte header or
// inside a larger one), RLE8 and RLE4, bottom-up and top-down. Header-only (no platform
// internals) so that the Windows build of the tests can use it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace bmp_fixtures {

struct Variant {
    const char* label;
    int header_size; // 12, 40, 52, 56, 108 or 124
    int width;
    int height;
    int bits;
    std::uint32_t compression; // 0 RGB, 1 RLE8, 2 RLE4, 3 BITFIELDS
    bool top_down;
    std::uint32_t masks[3]; // red, green, blue for BITFIELDS
    int colors_used;        // biClrUsed (0: the full table for <= 8 bits)
    int gap;                // bytes between the colour table and the pixels
    bool rle_delta;         // start the RLE stream with a delta (leaves pixels unwritten)
};

class Writer {
public:
    void u8(std::uint32_t v) { bytes.push_back(static_cast<std::uint8_t>(v)); }
    void u16(std::uint32_t v) {
        u8(v & 0xFF);
        u8((v >> 8) & 0xFF);
    }
    void u32(std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void zeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); }
    std::vector<std::uint8_t> bytes;
};

inline std::uint32_t next_random(std::uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// One stored row (bottom-up order unless top-down) of palette indices, RLE-encoded.
inline void encode_rle_row(Writer& w, const std::vector<int>& row, bool four) {
    const std::size_t n = row.size();
    std::size_t i = 0;
    auto run_at = [&](std::size_t at) {
        std::size_t r = 1;
        while (at + r < n && row[at + r] == row[at] && r < 255) {
            ++r;
        }
        return r;
    };
    while (i < n) {
        std::size_t run = run_at(i);
        if (run >= 2) {
            w.u8(static_cast<std::uint32_t>(run));
            w.u8(four ? static_cast<std::uint32_t>((row[i] << 4) | row[i]) : row[i]);
            i += run;
            continue;
        }
        std::size_t j = i;
        while (j < n && run_at(j) < 2 && j - i < 254) {
            ++j;
        }
        std::size_t len = j - i;
        if (four && len >= 3 && len % 2 == 1) {
            // Absolute RLE4 runs are kept even: some readers mishandle odd ones, and the
            // tests want every reader to agree on these files.
            --j;
            --len;
        }
        if (len < 3) {
            for (std::size_t k = i; k < j; ++k) {
                w.u8(1);
                w.u8(four ? static_cast<std::uint32_t>(row[k] << 4) : row[k]);
            }
        } else {
            w.u8(0);
            w.u8(static_cast<std::uint32_t>(len));
            std::size_t data = 0;
            if (four) {
                for (std::size_t k = i; k < j; k += 2) {
                    w.u8(static_cast<std::uint32_t>((row[k] << 4) | (k + 1 < j ? row[k + 1] : 0)));
                    ++data;
                }
            } else {
                for (std::size_t k = i; k < j; ++k) {
                    w.u8(row[k]);
                    ++data;
                }
            }
            if (data & 1) {
                w.u8(0);
            }
        }
        i = j;
    }
}

// A 5-, 6- or 8-bit channel widened to 8 bits by repeating its high bits, as Windows does.
inline std::uint32_t widen(std::uint32_t v, int bits) {
    return bits >= 8 ? v : (v << (8 - bits)) | (v >> (2 * bits - 8));
}

inline std::uint32_t channel(std::uint32_t pixel, std::uint32_t mask) {
    int shift = 0, bits = 0;
    while (mask != 0 && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    while (mask & 1) {
        mask >>= 1;
        ++bits;
    }
    return widen((pixel >> shift) & ((1u << bits) - 1), bits);
}

inline std::uint32_t rgb_of(std::uint32_t pixel, std::uint32_t r, std::uint32_t g,
                            std::uint32_t b) {
    return (channel(pixel, r) << 16) | (channel(pixel, g) << 8) | channel(pixel, b);
}

// The BMP file of a variant, with pixels and colours drawn from `seed`. When `rgb` is given it
// receives the colour every pixel stands for, 0x00RRGGBB, rows top-down (pixels an RLE delta
// skips are left as colour-table entry 0).
inline std::vector<std::uint8_t> make(const Variant& s, std::uint32_t seed = 1,
                                      std::vector<std::uint32_t>* rgb = nullptr) {
    std::uint32_t rnd = seed * 2654435761u + 7;
    const bool core = s.header_size == 12;
    const bool rle = s.compression == 1 || s.compression == 2;
    const int table =
        s.bits <= 8 ? (s.colors_used != 0 ? s.colors_used : 1 << s.bits) : s.colors_used;
    const std::size_t entry = core ? 3 : 4;
    const bool masks_after = s.compression == 3 && s.header_size == 40;
    const std::size_t bits_offset =
        14 + static_cast<std::size_t>(s.header_size) + (masks_after ? 12 : 0) +
        static_cast<std::size_t>(table) * entry + static_cast<std::size_t>(s.gap);

    // The colour table as 0x00RRGGBB.
    std::vector<std::uint32_t> colors(static_cast<std::size_t>(table));
    for (std::uint32_t& c : colors) {
        c = next_random(rnd) & 0xFFFFFF;
    }
    // Colours of the stored rows, bottom-up unless top-down; turned top-down at the end.
    std::vector<std::uint32_t> stored(static_cast<std::size_t>(s.width) * s.height,
                                      table > 0 ? colors[0] : 0);
    auto set = [&](int x, int y, std::uint32_t c) {
        stored[static_cast<std::size_t>(y) * s.width + x] = c;
    };

    // Pixels: indices below the table size, or random raw values of the depth.
    const std::size_t stride = ((static_cast<std::size_t>(s.width) * s.bits + 31) / 32) * 4;
    Writer pixels;
    if (rle) {
        int palette = table > 0 ? table : 1;
        if (s.rle_delta) {
            pixels.u8(0);
            pixels.u8(2);
            pixels.u8(1);
            pixels.u8(1);
        }
        for (int y = 0; y < s.height; ++y) {
            std::vector<int> row(static_cast<std::size_t>(s.width));
            int current = static_cast<int>(next_random(rnd) % palette);
            for (int& v : row) {
                // Mix runs and noise so that both kinds of code appear.
                if (next_random(rnd) % 3 == 0) {
                    current = static_cast<int>(next_random(rnd) % palette);
                }
                v = next_random(rnd) % 4 == 0 ? static_cast<int>(next_random(rnd) % palette)
                                              : current;
            }
            if (s.rle_delta && y == 1) {
                // The delta moved to (1, 1): this row's stream starts at x = 1.
                row.erase(row.begin());
            }
            if (s.rle_delta && y == 0) {
                continue; // skipped entirely by the delta
            }
            for (std::size_t x = 0; x < row.size(); ++x) {
                const int at = static_cast<int>(x) + (s.rle_delta && y == 1 ? 1 : 0);
                set(at, y, colors[static_cast<std::size_t>(row[x])]);
            }
            encode_rle_row(pixels, row, s.compression == 2);
            pixels.u8(0);
            pixels.u8(y + 1 == s.height ? 1 : 0);
        }
    } else {
        for (int y = 0; y < s.height; ++y) {
            std::vector<std::uint8_t> row(stride, 0);
            for (int x = 0; x < s.width; ++x) {
                std::uint32_t v = next_random(rnd);
                switch (s.bits) {
                case 1:
                case 4:
                case 8: {
                    const std::uint32_t index = v % static_cast<std::uint32_t>(table);
                    const int per = 8 / s.bits;
                    const int shift = 8 - s.bits * (x % per + 1);
                    row[static_cast<std::size_t>(x / per)] |=
                        static_cast<std::uint8_t>(index << shift);
                    set(x, y, colors[index]);
                    break;
                }
                case 16:
                    if (s.compression == 0) {
                        v &= 0x7FFF; // x5-5-5 keeps its top bit clear
                    }
                    row[2 * x] = v & 0xFF;
                    row[2 * x + 1] = (v >> 8) & 0xFF;
                    v &= 0xFFFF;
                    if (s.compression == 0) {
                        set(x, y, rgb_of(v, 0x7C00, 0x03E0, 0x001F));
                    } else {
                        set(x, y, rgb_of(v, s.masks[0], s.masks[1], s.masks[2]));
                    }
                    break;
                case 24:
                    row[3 * x] = v & 0xFF;
                    row[3 * x + 1] = (v >> 8) & 0xFF;
                    row[3 * x + 2] = next_random(rnd) & 0xFF;
                    set(x, y,
                        (std::uint32_t{row[3 * x + 2]} << 16) | (row[3 * x + 1] << 8) | row[3 * x]);
                    break;
                case 32:
                    for (int k = 0; k < 4; ++k) {
                        row[4 * x + k] = static_cast<std::uint8_t>(next_random(rnd));
                    }
                    {
                        const std::uint32_t p = row[4 * x] | (row[4 * x + 1] << 8) |
                                                (row[4 * x + 2] << 16) |
                                                (std::uint32_t{row[4 * x + 3]} << 24);
                        set(x, y,
                            s.compression == 0 ? (p & 0xFFFFFF)
                                               : rgb_of(p, s.masks[0], s.masks[1], s.masks[2]));
                    }
                    break;
                }
            }
            pixels.bytes.insert(pixels.bytes.end(), row.begin(), row.end());
        }
    }

    Writer w;
    w.u8('B');
    w.u8('M');
    w.u32(static_cast<std::uint32_t>(bits_offset + pixels.bytes.size()));
    w.u32(0);
    w.u32(static_cast<std::uint32_t>(bits_offset));
    if (core) {
        w.u32(12);
        w.u16(static_cast<std::uint32_t>(s.width));
        w.u16(static_cast<std::uint32_t>(s.height));
        w.u16(1);
        w.u16(static_cast<std::uint32_t>(s.bits));
    } else {
        w.u32(static_cast<std::uint32_t>(s.header_size));
        w.u32(static_cast<std::uint32_t>(s.width));
        w.u32(static_cast<std::uint32_t>(s.top_down ? -s.height : s.height));
        w.u16(1);
        w.u16(static_cast<std::uint32_t>(s.bits));
        w.u32(s.compression);
        w.u32(rle ? static_cast<std::uint32_t>(pixels.bytes.size()) : 0);
        w.u32(2835);
        w.u32(2835);
        w.u32(static_cast<std::uint32_t>(s.colors_used));
        w.u32(0);
        if (s.header_size >= 52) {
            const bool bf = s.compression == 3;
            w.u32(bf ? s.masks[0] : 0);
            w.u32(bf ? s.masks[1] : 0);
            w.u32(bf ? s.masks[2] : 0);
        }
        if (s.header_size >= 56) {
            w.u32(0); // no alpha
        }
        if (s.header_size >= 108) {
            w.u32(0x73524742); // sRGB
            w.zeros(36 + 12);
        }
        if (s.header_size >= 124) {
            w.u32(4); // LCS_GM_IMAGES
            w.u32(0);
            w.u32(0);
            w.u32(0);
        }
        if (masks_after) {
            w.u32(s.masks[0]);
            w.u32(s.masks[1]);
            w.u32(s.masks[2]);
        }
    }
    for (int i = 0; i < table; ++i) {
        w.u8(colors[static_cast<std::size_t>(i)] & 0xFF);
        w.u8((colors[static_cast<std::size_t>(i)] >> 8) & 0xFF);
        w.u8((colors[static_cast<std::size_t>(i)] >> 16) & 0xFF);
        if (!core) {
            w.u8(0);
        }
    }
    w.zeros(static_cast<std::size_t>(s.gap));
    w.bytes.insert(w.bytes.end(), pixels.bytes.begin(), pixels.bytes.end());
    if (rgb != nullptr) {
        rgb->clear();
        for (int y = 0; y < s.height; ++y) {
            const int from = s.top_down ? y : s.height - 1 - y;
            rgb->insert(rgb->end(), stored.begin() + static_cast<std::ptrdiff_t>(from) * s.width,
                        stored.begin() + static_cast<std::ptrdiff_t>(from + 1) * s.width);
        }
    }
    return w.bytes;
}

// The variants the reader must take, small enough to compare pixel by pixel.
inline std::vector<Variant> all_variants() {
    return {
        {"core 1 bit", 12, 13, 5, 1, 0, false, {}, 0, 0, false},
        {"core 4 bit", 12, 7, 6, 4, 0, false, {}, 0, 0, false},
        {"core 8 bit", 12, 9, 4, 8, 0, false, {}, 0, 0, false},
        {"core 24 bit", 12, 5, 3, 24, 0, false, {}, 0, 0, false},
        {"info 1 bit", 40, 33, 7, 1, 0, false, {}, 0, 0, false},
        {"info 4 bit, 5 colours", 40, 11, 5, 4, 0, false, {}, 5, 0, false},
        {"info 8 bit", 40, 17, 9, 8, 0, false, {}, 0, 0, false},
        {"info 8 bit, 20 colours, gap", 40, 6, 6, 8, 0, false, {}, 20, 10, false},
        {"info 8 bit top-down", 40, 7, 5, 8, 0, true, {}, 0, 0, false},
        {"info 16 bit 555", 40, 9, 4, 16, 0, false, {}, 0, 0, false},
        {"info 16 bit 565 fields", 40, 9, 4, 16, 3, false, {0xF800, 0x07E0, 0x001F}, 0, 0, false},
        {"info 16 bit 555 fields", 40, 3, 3, 16, 3, true, {0x7C00, 0x03E0, 0x001F}, 0, 0, false},
        {"info 24 bit", 40, 7, 5, 24, 0, false, {}, 0, 0, false},
        {"info 24 bit top-down", 40, 6, 4, 24, 0, true, {}, 0, 0, false},
        {"info 24 bit with unused table", 40, 4, 4, 24, 0, false, {}, 3, 0, false},
        {"info 32 bit", 40, 5, 5, 32, 0, false, {}, 0, 0, false},
        {"info 32 bit fields", 40, 5, 3, 32, 3, false, {0xFF0000, 0xFF00, 0xFF}, 0, 0, false},
        {"info 8 bit RLE8", 40, 23, 7, 8, 1, false, {}, 0, 0, false},
        {"info 8 bit RLE8 delta", 40, 12, 4, 8, 1, false, {}, 16, 0, true},
        {"info 4 bit RLE4", 40, 19, 6, 4, 2, false, {}, 0, 0, false},
        {"v2 (52) 16 bit 565", 52, 8, 3, 16, 3, false, {0xF800, 0x07E0, 0x001F}, 0, 0, false},
        {"v3 (56) 32 bit fields", 56, 4, 4, 32, 3, true, {0xFF0000, 0xFF00, 0xFF}, 0, 0, false},
        {"v4 (108) 8 bit", 108, 10, 3, 8, 0, false, {}, 0, 0, false},
        {"v4 (108) 16 bit 565", 108, 6, 5, 16, 3, false, {0xF800, 0x07E0, 0x001F}, 0, 0, false},
        {"v5 (124) 24 bit", 124, 5, 5, 24, 0, false, {}, 0, 0, false},
        {"v5 (124) 32 bit fields", 124, 6, 2, 32, 3, false, {0xFF0000, 0xFF00, 0xFF}, 0, 0, false},
        {"v5 (124) 4 bit RLE4", 124, 9, 5, 4, 2, false, {}, 0, 4, false},
    };
}

} // namespace bmp_fixtures
