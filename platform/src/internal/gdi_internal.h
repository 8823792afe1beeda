// The GDI object model shared by the GDI layer's files and by USER (window contexts, FillRect).
//
// Every GDI object lives behind one handle table; device contexts share it, so GetObjectType
// answers for any handle. Objects are plain structs: the entry points in platform/src/gdi/ own
// the rules (selection, deletion, colour mapping), this header only describes the data.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace platform::gdi {

struct Bitmap;
struct Dc;
struct Target;
struct Palette;
struct Brush;

// ---- Objects -----------------------------------------------------------------------------------

struct Object {
    explicit Object(DWORD t) : type(t) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    DWORD type;                  // OBJ_BITMAP, OBJ_BRUSH, OBJ_PAL, OBJ_PEN, OBJ_DC, OBJ_MEMDC
    bool stock = false;          // never deleted, never counted
    int select_count = 0;        // brushes and palettes: how many DCs hold it
    bool delete_pending = false; // DeleteObject while selected: freed on the last deselection
};

// Adds an object to the table and counts it (stock objects are not counted). Returns 0, the
// object freed, when the table is full or an injected fault falls on this creation.
HGDIOBJ insert_object(std::unique_ptr<Object> object);
// The object behind a handle, or nullptr for anything that is not a live GDI object.
Object* lookup(const void* handle);
// Typed look-ups: nullptr for a handle of another type. A bitmap looked up may be read or
// written, so it is settled first (Bitmap::settle: a blank one cleared, a waiting copy made, the
// copies waiting on it made); lookup_bitmap_as_is leaves it as it is, for callers that only look
// at its description or settle it themselves.
Bitmap* lookup_bitmap(const void* handle);
Bitmap* lookup_bitmap_as_is(const void* handle);
Palette* lookup_palette(const void* handle);
Brush* lookup_brush(const void* handle);
Dc* lookup_dc(const void* handle);
// lookup_dc for the DC a call works on: a handle that is not a DC sets ERROR_INVALID_HANDLE.
Dc* dc_or_error(const void* handle);
// Removes and frees an object that is not stock (bookkeeping of counts included).
void destroy_object(const void* handle);
// Drops one selection of a brush or palette; frees it when a deletion was waiting for that.
void release_selection(HGDIOBJ handle);

// The stock 1x1 monochrome bitmap every new memory DC holds.
HBITMAP stock_bitmap();
HPALETTE default_palette();

// ---- Pixel formats
// -------------------------------------------------------------------------------

// Raw pixel values travel as DWORDs in the bitmap's own layout: palette index, 5-6-5 word,
// 0x00RRGGBB for 24 and 32 bits (bytes B, G, R[, X] in memory).
struct PixelFormat {
    int bpp;
    bool indexed;     // 1, 4, 8: values are colour-table indices
    DWORD value_mask; // bits of a raw value that exist in memory
    DWORD (*read)(const BYTE* row, int x);
    void (*write)(BYTE* row, int x, DWORD value);
    // Direct formats only (indexed formats go through a colour table).
    DWORD (*from_rgb)(const Bitmap& bmp, COLORREF rgb);
    COLORREF (*to_rgb)(const Bitmap& bmp, DWORD value);
};

enum class FormatId {
    mono,
    index4,
    index8,
    rgb565,
    rgb555,
    bitfields16,
    rgb24,
    rgb32,
    bitfields32
};
const PixelFormat& pixel_format(FormatId id);
// The device-dependent format of a depth (16 bits is 5-6-5, as display drivers give it).
const PixelFormat* ddb_format(int bpp);

// ---- Bitmaps
// ---------------------------------------------------------------------------------------

struct FreeDeleter {
    void operator()(BYTE* p) const;
};

struct Bitmap : Object {
    Bitmap() : Object(OBJ_BITMAP) {}

    int width = 0;
    int height = 0;
    int bpp = 0;
    int stride = 0; // bytes per row: WORD-aligned for DDBs, DWORD-aligned for DIB sections
    const PixelFormat* format = nullptr;

    std::unique_ptr<BYTE, FreeDeleter> owned; // pixel memory when the bitmap owns it
    BYTE* memory = nullptr;                   // first row in memory (owned or external)
    bool top_down = true;                     // DDBs are top-down; DIB sections say so by height

    // DIB sections (filled by the DIB layer).
    bool is_dib_section = false;
    BITMAPINFOHEADER info{};     // what GetObjectA reports in dsBmih
    DWORD masks[3] = {0, 0, 0};  // red, green, blue bit fields (16 and 32 bits)
    std::vector<RGBQUAD> colors; // colour table of a <= 8 bpp section
    void* user_bits = nullptr;   // bmBits as the program sees it
    HANDLE section = nullptr;
    DWORD section_offset = 0;

    HDC selected_into = nullptr; // the one DC holding it, if any

    // A new device-dependent bitmap whose memory has not been cleared yet: it reads as zero,
    // as a new bitmap does on Windows. Its memory is cleared when something may read it, or
    // taken as it is by a blit that writes every pixel without reading them (sprite drawing's
    // scratch bitmaps), which saves clearing memory that is overwritten at once.
    bool blank = false;
    void clear_if_blank();

    // Copies not made yet (deferred_copy.cpp): a blit that copied another bitmap's rectangle
    // 1:1 into the whole of a new one may record where the pixels are instead of copying them.
    // `waiting`: this bitmap is such a copy; `copied_from`: copies wait on this one. The record
    // is kept in a small table there, so that a bitmap is no larger for it (the heap's size
    // classes, and what a soak of thousands of scratch bitmaps holds, stay the same).
    bool waiting = false;
    bool copied_from = false;
    // Nothing pending: the memory holds the pixels as they are, and no copy waits on them.
    // Blits between such bitmaps may take the short way (blit.cpp), which prepares neither side.
    bool settled() const { return !blank && !waiting && !copied_from; }
    ~Bitmap() override;
    // Makes a waiting copy real (its memory then holds its pixels).
    void make_real() {
        if (waiting) {
            copy_now();
        }
    }
    // Makes every copy waiting on this bitmap real: called before its pixels change.
    void release_copies() {
        if (copied_from) {
            release_now();
        }
    }
    // Before anything may read or write the memory as it is: the bitmap's own pixels in it,
    // no copy waiting on it.
    void settle() {
        make_real();
        clear_if_blank();
        release_copies();
    }
    // Around a write that replaces every pixel without reading any (see Overwrite): before it,
    // copies waiting on the bitmap are made real and the bytes past each row's last pixel
    // (which no drawing writes) of a blank one are cleared; after it, a waiting copy is dropped
    // and a blank bitmap is taken as written.
    void prepare_overwrite();
    void finish_overwrite();

    // Row y counted from the top of the image, whatever the order in memory.
    BYTE* row(int y) const {
        return top_down ? memory + static_cast<std::ptrdiff_t>(y) * stride
                        : memory + static_cast<std::ptrdiff_t>(height - 1 - y) * stride;
    }
    // Signed distance in bytes from row y to row y + 1.
    std::ptrdiff_t pitch() const {
        return top_down ? stride : -static_cast<std::ptrdiff_t>(stride);
    }
    std::size_t byte_size() const { return static_cast<std::size_t>(stride) * height; }

private:
    void copy_now();
    void release_now();
};

// The span of a write that replaces every pixel of a bitmap without reading any. Copies waiting
// on the bitmap are made real at once; a blank bitmap or a waiting copy stays so until done(),
// and is then taken as written, neither cleared nor copied. A write that fails part way (the
// heap running out) settles it instead, so that uncleared or uncopied memory is never read: the
// bitmap keeps what it showed before. A bitmap already settled is written as it is.
class Overwrite {
public:
    explicit Overwrite(Bitmap& bmp) : bmp_(&bmp) {
        if (bmp.blank || bmp.copied_from) {
            bmp.prepare_overwrite();
        }
    }
    Overwrite(const Overwrite&) = delete;
    Overwrite& operator=(const Overwrite&) = delete;
    ~Overwrite() {
        if (bmp_ != nullptr) {
            bmp_->settle();
        }
    }
    void done() {
        if (bmp_->blank || bmp_->waiting) {
            bmp_->finish_overwrite();
        }
        bmp_ = nullptr;
    }

private:
    Bitmap* bmp_;
};

// Off (tests only): blits copy at once, as if no copy could wait.
extern bool deferred_copies;
// The bitmap to read `bmp`'s pixels from without settling it: `bmp` itself (cleared if blank),
// or for a waiting copy `view`, described like it, over the rectangle of the bitmap it shows.
const Bitmap& readable(Bitmap& bmp, Bitmap& view);
// Turns the target of a waiting copy into the rectangle of the bitmap it shows.
void resolve_waiting_source(Target& out);

// Largest pixel memory a bitmap may have; bigger requests fail as Windows fails them when it
// runs out of memory (a 1<<20 x 1<<20 bitmap must fail cleanly, not abort).
constexpr std::size_t kMaxBitmapBytes = std::size_t{1} << 30;

int ddb_stride(int width, int bpp); // WORD-aligned
int dib_stride(int width, int bpp); // DWORD-aligned
// A zero-filled device-dependent bitmap (not in the table), or nullptr for a bad size/depth or
// when memory runs out. Depths 1, 4, 8, 16, 24, 32. `blank`: the memory is left uncleared and
// the bitmap marked blank instead.
std::unique_ptr<Bitmap> make_ddb(int width, int height, int bpp, bool blank = false);
// Allocates zero-filled pixel memory of `bytes` (nullptr when too big or out of memory); not
// cleared for a caller that writes every byte before anything reads them.
std::unique_ptr<BYTE, FreeDeleter> allocate_pixels(std::size_t bytes, bool cleared = true);
// CreateDIBSection, with the pixels left uncleared for a caller that writes every byte of them
// before the handle is handed out (`cleared` false).
HBITMAP create_dib_section(HDC hdc, const BITMAPINFO* bmi, UINT usage, void** bits, HANDLE section,
                           bool cleared);
// A zero-filled bitmap with its own pixel memory, rows `row_align` bytes aligned (2 for DDBs,
// 4 for DIBs), and its size, depth and format set; everything else is the caller's. nullptr for
// a negative size, pixel memory over kMaxBitmapBytes, or when memory runs out.
std::unique_ptr<Bitmap> allocate_bitmap(int width, int height, int bpp, int row_align,
                                        const PixelFormat* format);

// Colour table of an indexed bitmap as the colour mapping sees it: a DIB section's own table,
// black/white for monochrome DDBs, the 16 standard colours for 4-bit DDBs, the system palette
// for 8-bit DDBs. Empty for direct formats.
struct ColorTable {
    const RGBQUAD* entries = nullptr;
    int count = 0;
};
ColorTable color_table(const Bitmap& bmp);

// ---- Palettes
// ----------------------------------------------------------------------------------------

struct Palette : Object {
    Palette() : Object(OBJ_PAL) {}
    std::vector<PALETTEENTRY> entries;
    // System palette index each entry was realized to; empty until realized.
    std::vector<BYTE> system_index;
    // Realization number of the system palette when this palette was last realized; a
    // realization that finds it current maps nothing new.
    std::uint64_t realized_epoch = 0;
};

// The system palette of an 8-bit display (at other depths the 20 static colours stay put).
const PALETTEENTRY* system_palette();
const RGBQUAD* system_palette_rgbquad();
// Nearest entry by squared RGB distance, first one on ties.
int nearest_entry(const PALETTEENTRY* entries, int count, COLORREF rgb);
int nearest_entry(const RGBQUAD* entries, int count, COLORREF rgb);
// Realizes a palette into the system palette; returns the number of entries newly mapped.
UINT realize_palette(Palette& pal, bool foreground);
// The system index a logical palette entry stands for (realized, or nearest system colour).
BYTE palette_entry_system_index(const Palette& pal, int entry);
// Resets the system palette to the static colours (mode changes).
void reset_system_palette();
// Forgets a palette that is being destroyed (it may have been the foreground palette).
void forget_palette(const Palette* pal);
// The 16 colours of a 4-bit display and of 4-bit DDBs, in index order.
const RGBQUAD* standard16_colors();

// ---- Brushes -----------------------------------------------------------------------------------

struct Brush : Object {
    Brush() : Object(OBJ_BRUSH) {}
    UINT style = BS_SOLID;
    COLORREF color = 0;
    ULONG_PTR hatch = 0;
    // A pattern brush keeps its own copy of the bitmap, so it outlives the one it was made from.
    std::unique_ptr<Bitmap> pattern;
};

// ---- Device contexts ---------------------------------------------------------------------------

enum class DcKind {
    memory,  // CreateCompatibleDC: draws into the selected bitmap
    screen,  // GetDC / window DCs: draws into the framebuffer, maybe restricted to an area
    display, // CreateDCA("DISPLAY"): the whole screen
};

struct DcState {
    HBITMAP bitmap = nullptr;
    HBRUSH brush = nullptr;
    HGDIOBJ pen = nullptr;
    HPALETTE palette = nullptr;
    bool palette_background = false;
    COLORREF bk_color = RGB(255, 255, 255);
    COLORREF text_color = RGB(0, 0, 0);
    int map_mode = MM_TEXT;
    int bk_mode = OPAQUE;
    int stretch_mode = BLACKONWHITE;
    POINT brush_org = {0, 0};
};

struct Dc : Object {
    explicit Dc(DcKind k) : Object(k == DcKind::memory ? OBJ_MEMDC : OBJ_DC), kind(k) {}
    DcKind kind;
    bool whole_screen = true; // screen DCs: the whole framebuffer, else `area`
    RECT area = {0, 0, 0, 0}; // window DCs: the window's rectangle on the screen
    bool clipped = false;     // screen DCs: drawing also kept inside `clip` (screen coordinates)
    RECT clip = {0, 0, 0, 0};
    DcState state;
    std::vector<DcState> saved; // SaveDC stack
};

// Where a DC draws: the surface, the device origin of the DC's (0,0) on it and the clip
// rectangle in surface coordinates (never larger than the surface).
struct Target {
    Bitmap* surface = nullptr;
    int origin_x = 0;
    int origin_y = 0;
    RECT clip = {0, 0, 0, 0};
};
// What a caller of resolve_target does with the surface of a memory DC.
enum class Access {
    any,      // reads or writes anything: the bitmap is settled (Bitmap::settle)
    blit_dst, // the blit engine draws on it: copies waiting on it are made real, and a blank or
              // waiting bitmap stays so (the blit makes it real, or overwrites it)
    blit_src, // the blit engine reads it: a waiting copy resolves to the rectangle it shows
};
bool resolve_target(const Dc& dc, Target& out, Access access = Access::any);

// Window and screen contexts for USER: `area` is the window's rectangle on the screen, or null
// for the whole screen; the DC's origin is the area's top-left and drawing is clipped to it.
HDC create_screen_dc(const RECT* area);
// Releases a DC from create_screen_dc; false for any other handle.
bool release_screen_dc(HDC hdc);
// Keeps the drawing of a DC from create_screen_dc inside `clip` (screen coordinates) as well,
// as a window's paint context is kept inside its update region.
void clip_screen_dc(HDC hdc, const RECT& clip);

// ---- Colours
// ----------------------------------------------------------------------------------------

// A colour as a raw pixel of a bitmap drawn through a DC (dc may be null: no palette selected).
// Handles PALETTEINDEX, PALETTERGB and the 8-bit mapping through the DC's palette.
DWORD color_to_pixel(const Dc* dc, const Bitmap& bmp, COLORREF color);
// The colour a raw pixel of a bitmap shows.
COLORREF pixel_to_color(const Bitmap& bmp, DWORD value);
// The palette a DC maps colours through (its selected palette or DEFAULT_PALETTE).
const Palette* dc_palette(const Dc* dc);

// ---- The screen
// --------------------------------------------------------------------------------------

// The framebuffer of the current display mode (top-down, device format).
Bitmap& screen_surface();
int display_bpp();

// ---- Drawing
// -----------------------------------------------------------------------------------------

// Fills a rectangle in DC coordinates with a brush (PATCOPY); used by FillRect and ExtTextOutA.
bool fill_rect(Dc& dc, const RECT& rect, const Brush& brush);

} // namespace platform::gdi
