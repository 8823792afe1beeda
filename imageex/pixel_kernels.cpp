// The per-pixel loops of alpha and colorize drawing, on device-independent rows: the portable
// set of kernels, and the choice of the set the drawing operations run. Integer only:
// the alpha mix is one subtraction, multiplication, arithmetic shift and addition a channel; the
// tint divides by the constants 100 and 255. At 16 bits the 5-bit channels are mixed as they
// are (never widened), so alpha results are quantised to 32 levels a channel.
#include "imageex_internal.h"

namespace {

constexpr DWORD kRgbMask = 0x00FFFFFF;

inline int Mix(int f, int d, int a) {
    // A signed product shifted arithmetically: the quotient rounds toward minus infinity, so the
    // result always lies between f and d.
    return f + (((d - f) * a) >> 8);
}

// The key as a frame pixel reads at 16 bits: each channel cut to its top five bits.
inline DWORD Key16(COLORREF crKey) {
    return ((static_cast<DWORD>(GetRValue(crKey)) >> 3) << 10) |
           ((static_cast<DWORD>(GetGValue(crKey)) >> 3) << 5) |
           (static_cast<DWORD>(GetBValue(crKey)) >> 3);
}

inline WORD ReadWord(const BYTE* p) {
    return static_cast<WORD>(p[0] | (p[1] << 8));
}

inline void WriteWord(BYTE* p, DWORD v) {
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}

// A B, G, R pixel as a COLORREF (0x00BBGGRR), to compare with the key.
inline DWORD ColourOf(const BYTE* p) {
    return (static_cast<DWORD>(p[0]) << 16) | (static_cast<DWORD>(p[1]) << 8) | p[2];
}

struct Tint {
    DWORD red, green, blue;
    explicit Tint(COLORREF crTint)
        : red(crTint & 0xFF), green((crTint >> 8) & 0xFF), blue((crTint >> 16) & 0xFF) {}
};

inline DWORD Grey(DWORD red, DWORD green, DWORD blue) {
    return (30 * red + 59 * green + 11 * blue) / 100;
}

// Writes the tint of the grey of (red, green, blue) into a B, G, R pixel.
inline void TintBgr(BYTE* out, DWORD red, DWORD green, DWORD blue, const Tint& t) {
    const DWORD grey = Grey(red, green, blue);
    out[0] = static_cast<BYTE>(grey * t.blue / 255);
    out[1] = static_cast<BYTE>(grey * t.green / 255);
    out[2] = static_cast<BYTE>(grey * t.red / 255);
}

// The tint of the grey of a 16-bit word, its channels widened by a plain shift (0 to 248).
inline DWORD TintWord(DWORD word, const Tint& t) {
    const DWORD grey = Grey(((word >> 10) & 31) << 3, ((word >> 5) & 31) << 3, (word & 31) << 3);
    return ((grey * t.red / 255 >> 3) << 10) | ((grey * t.green / 255 >> 3) << 5) |
           (grey * t.blue / 255 >> 3);
}

void Mix16(const BYTE* frame, BYTE* dest, int width, int a, BOOL bTransparent, DWORD key) {
    for (int x = 0; x < width; ++x, frame += 2, dest += 2) {
        const int f = ReadWord(frame);
        if (bTransparent && static_cast<DWORD>(f) == key) {
            continue;
        }
        const int d = ReadWord(dest);
        const int red = Mix((f >> 10) & 31, (d >> 10) & 31, a);
        const int green = Mix((f >> 5) & 31, (d >> 5) & 31, a);
        const int blue = Mix(f & 31, d & 31, a);
        WriteWord(dest, static_cast<DWORD>((red << 10) | (green << 5) | blue));
    }
}

template <int kBytes>
void MixBgr(const BYTE* frame, BYTE* dest, int width, int a, BOOL bTransparent, DWORD key) {
    for (int x = 0; x < width; ++x, frame += kBytes, dest += kBytes) {
        if (bTransparent && ColourOf(frame) == key) {
            continue;
        }
        dest[0] = static_cast<BYTE>(Mix(frame[0], dest[0], a));
        dest[1] = static_cast<BYTE>(Mix(frame[1], dest[1], a));
        dest[2] = static_cast<BYTE>(Mix(frame[2], dest[2], a));
        if constexpr (kBytes == 4) {
            dest[3] = 0;
        }
    }
}

void Colorize16(const BYTE* frame, BYTE* dest, int width, const Tint& t, BOOL bTransparent,
                BOOL bWithBack, DWORD key) {
    for (int x = 0; x < width; ++x, frame += 2, dest += 2) {
        const DWORD f = ReadWord(frame);
        if (bTransparent && f == key) {
            if (bWithBack) {
                WriteWord(dest, TintWord(ReadWord(dest), t));
            }
            continue;
        }
        WriteWord(dest, TintWord(f, t));
    }
}

template <int kBytes>
void ColorizeBgr(const BYTE* frame, BYTE* dest, int width, const Tint& t, BOOL bTransparent,
                 BOOL bWithBack, DWORD key) {
    for (int x = 0; x < width; ++x, frame += kBytes, dest += kBytes) {
        const BYTE* from = frame;
        if (bTransparent && ColourOf(frame) == key) {
            if (!bWithBack) {
                continue;
            }
            from = dest;
        }
        TintBgr(dest, from[2], from[1], from[0], t);
        if constexpr (kBytes == 4) {
            dest[3] = 0;
        }
    }
}

void PortableMixAlphaRows(int bpp, const BYTE* frame, BYTE* dest, int width, int height,
                          int rowBytes, int nAlpha, BOOL bTransparent, COLORREF crKey) {
    for (int y = 0; y < height; ++y) {
        const BYTE* f = frame + static_cast<size_t>(y) * rowBytes;
        BYTE* d = dest + static_cast<size_t>(y) * rowBytes;
        switch (bpp) {
        case 16:
            Mix16(f, d, width, nAlpha, bTransparent, Key16(crKey));
            break;
        case 24:
            MixBgr<3>(f, d, width, nAlpha, bTransparent, crKey);
            break;
        case 32:
            MixBgr<4>(f, d, width, nAlpha, bTransparent, crKey);
            break;
        default:
            return;
        }
    }
}

void PortableColorizeRows(int bpp, const BYTE* frame, BYTE* dest, int width, int height,
                          int rowBytes, COLORREF crTint, BOOL bTransparent, BOOL bWithBack,
                          COLORREF crKey) {
    const Tint t(crTint & kRgbMask);
    for (int y = 0; y < height; ++y) {
        const BYTE* f = frame + static_cast<size_t>(y) * rowBytes;
        BYTE* d = dest + static_cast<size_t>(y) * rowBytes;
        switch (bpp) {
        case 16:
            Colorize16(f, d, width, t, bTransparent, bWithBack, Key16(crKey));
            break;
        case 24:
            ColorizeBgr<3>(f, d, width, t, bTransparent, bWithBack, crKey);
            break;
        case 32:
            ColorizeBgr<4>(f, d, width, t, bTransparent, bWithBack, crKey);
            break;
        default:
            return;
        }
    }
}

} // namespace

const EffectKernels& PortableEffectKernels() {
    static const EffectKernels kernels = {"portable", PortableMixAlphaRows, PortableColorizeRows};
    return kernels;
}

std::vector<const EffectKernels*> EffectKernelSets() {
    std::vector<const EffectKernels*> sets = {&PortableEffectKernels()};
    for (const EffectKernels* set :
         {VectorEffectKernels(), Avx2EffectKernels(), Avx512EffectKernels()}) {
        if (set != nullptr) {
            sets.push_back(set);
        }
    }
    return sets;
}

// The widest vector loops the processor has; chosen once.
const EffectKernels& ActiveEffectKernels() {
    static const EffectKernels& active = *EffectKernelSets().back();
    return active;
}

void MixAlphaRows(int bpp, const BYTE* frame, BYTE* dest, int width, int height, int rowBytes,
                  int nAlpha, BOOL bTransparent, COLORREF crKey) {
    ActiveEffectKernels().mixAlpha(bpp, frame, dest, width, height, rowBytes, nAlpha, bTransparent,
                                   crKey);
}

void ColorizeRows(int bpp, const BYTE* frame, BYTE* dest, int width, int height, int rowBytes,
                  COLORREF crTint, BOOL bTransparent, BOOL bWithBack, COLORREF crKey) {
    ActiveEffectKernels().colorize(bpp, frame, dest, width, height, rowBytes, crTint & kRgbMask,
                                   bTransparent, bWithBack, crKey);
}

COLORREF TintOfGrey(int red, int green, int blue, COLORREF crTint) {
    const Tint t(crTint & kRgbMask);
    const DWORD grey =
        Grey(static_cast<DWORD>(red), static_cast<DWORD>(green), static_cast<DWORD>(blue));
    return RGB(grey * t.red / 255, grey * t.green / 255, grey * t.blue / 255);
}
