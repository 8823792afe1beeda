// Nearest palette colour: the palette sorted by red, a start position per red value, and a walk
// outward from it that stops in each direction as soon as the red difference alone is farther
// than the best match so far. The exact shape of the sort and of the walk decides which of two
// equally near entries wins, and the lookup files on disk were made with it, so both follow
// their original step by step.
#include <DitherDib.h>

#include <array>
#include <cstdlib>

namespace {

constexpr std::array<long, 256> make_squares() {
    std::array<long, 256> s{};
    for (int i = 0; i < 256; ++i) {
        s[i] = static_cast<long>(i) * i;
    }
    return s;
}
constexpr std::array<long, 256> kSquares = make_squares();

} // namespace

void CDitherDib::InitTransPal(imgPal* pal, int* redIndex, int count, const RGBQUAD* colours) {
    if (s_bSortedPal) {
        return;
    }
    s_bSortedPal = 1;
    for (int i = 0; i < count; ++i) {
        pal[i].index = i;
        pal[i].red = colours[i].rgbRed;
        pal[i].green = colours[i].rgbGreen;
        pal[i].blue = colours[i].rgbBlue;
        pal[i].spare = 0;
    }
    QuickPalSort(pal, 0, count - 1);

    int p = 0;
    for (int v = 0; v < 256; ++v) {
        while (p < count && pal[p].red < v) {
            ++p;
        }
        if (p >= count) {
            p = count - 1;
        }
        redIndex[v] = p;
    }
}

void CDitherDib::QuickPalSort(imgPal* pal, int lo, int hi) {
    for (;;) {
        int i = lo;
        while (i < hi && pal[i].red < pal[i + 1].red) {
            ++i;
        }
        if (i >= hi) {
            return;
        }
        // The pivot ends the ascending run, so it is at least as red as all before it.
        const imgPal pivot = pal[i];
        int j = hi;
        while (i < j) {
            while (i < j && pivot.red < pal[j].red) {
                --j;
            }
            if (i < j) {
                pal[i] = pal[j];
                ++i;
            }
            while (i < j && pal[i].red < pivot.red) {
                ++i;
            }
            if (i < j) {
                pal[j] = pal[i];
                --j;
            }
        }
        pal[i] = pivot;
        if (lo < j) {
            QuickPalSort(pal, lo, j - 1);
        }
        if (i >= hi) {
            return;
        }
        lo = i + 1;
    }
}

long CDitherDib::ColorDist(const imgPal* pal, int red, int green, int blue, int i) {
    return kSquares[std::abs(red - pal[i].red)] + kSquares[std::abs(green - pal[i].green)] +
           kSquares[std::abs(blue - pal[i].blue)];
}

int CDitherDib::Closest(const imgPal* pal, const int* redIndex, int count, int red, int green,
                        int blue) {
    const int s = redIndex[red];
    int best = s;
    long bestDist = ColorDist(pal, red, green, blue, s);
    int down = s;
    int up = s;
    while (down >= 0 || up < count) {
        if (--down >= 0) {
            if (kSquares[std::abs(red - pal[down].red)] > bestDist) {
                down = -1;
            } else {
                const long d = ColorDist(pal, red, green, blue, down);
                if (d < bestDist) {
                    best = down;
                    bestDist = d;
                }
            }
        }
        if (++up < count) {
            if (kSquares[std::abs(red - pal[up].red)] > bestDist) {
                up = count;
            } else {
                const long d = ColorDist(pal, red, green, blue, up);
                if (d < bestDist) {
                    best = up;
                    bestDist = d;
                }
            }
        }
    }
    return pal[best].index;
}
