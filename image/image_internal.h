// Steps shared by the files of CImage: ownership of the objects a strip holds, the colour format
// of its image lists, and the working set from which both half-transparent builders make the
// checkerboard strip. Internal to the library.
#pragma once

#include <Image.h>

#include "module/holder_table.h"

#include <afxcmn.h>
#include <afxwin.h>

namespace image_internal {

// ---- Ownership (lifecycle.cpp) ---------------------------------------------------------------
// Copies of a strip share its objects. Each object is released through Release: the last strip
// that holds it deletes it.

// The holders of the objects strips share; every hold and release goes through it.
HolderTable& Holders();

// Releases the object a field holds (deleting it when no other strip holds it) and clears the
// field.
template <class T> void Release(T*& field) {
    if (field != nullptr) {
        if (Holders().Drop(field)) {
            delete field;
        }
        field = nullptr;
    }
}

// ---- The colour-key blit (transparent_blit.cpp) ------------------------------------------------

// The whole-bitmap colour-key blit: `size` pixels of `source` from its top left drawn at (x, y)
// of `dest`, pixels of `key` left out. True only when the destination received the finished
// picture; DrawBitmapTransparent does not report that, the half-transparent strip needs it.
bool DrawWholeKeyed(CBitmap* source, CDC* dest, int x, int y, CSize size, COLORREF key);

// ---- Image lists (image_lists.cpp) -----------------------------------------------------------

// ILC_COLOR16/24/32 for displays of that many bits per pixel, ILC_COLORDDB for any other depth.
UINT ImageListColorFlag();

// ---- The checkerboard strip (image_lists.cpp) ------------------------------------------------

constexpr UINT kPatternBitmap = 11101;
constexpr COLORREF kCheckerRed = 0x000000FF;   // where x + y is even
constexpr COLORREF kCheckerGreen = 0x0000FF00; // where x + y is odd

// The three scratch bitmaps (S1 the copy, S2 the key, S3 the checker), made in the semi bitmap's
// format, the four memory contexts D1 to D4 (D1 for the semi bitmap itself) and the pattern
// brush. The destructor selects back what is still selected, then destroys the brush, the pattern
// bitmap, the contexts and the bitmaps, in that order.
class CheckerWorkspace {
public:
    enum Slot { kSemi = 0, kCopy = 1, kKey = 2, kChecker = 3 };

    CheckerWorkspace() = default;
    CheckerWorkspace(const CheckerWorkspace&) = delete;
    CheckerWorkspace& operator=(const CheckerWorkspace&) = delete;
    ~CheckerWorkspace();

    // S1, S2, S3 from the semi bitmap's record, then D1 to D4; false at the first that fails.
    bool Create(const BITMAP& record);
    // The semi bitmap into D1, S1 into D2, S2 into D3, S3 into D4; false at the first selection
    // that fails (those already made are undone by Deselect or the destructor).
    bool SelectAll(CBitmap* semi);
    // Selects back into the slot's context what it held before; nothing when not selected.
    void Deselect(Slot slot);
    // The library's pattern bitmap and a pattern brush made from it.
    bool LoadPattern();

    CBitmap* Bitmap(Slot slot) { return &m_bitmaps[slot - 1]; } // S1 to S3 only
    CDC* Context(Slot slot) { return &m_contexts[slot]; }
    CBrush* PatternBrush() { return &m_brush; }

private:
    CBitmap m_bitmaps[3];
    CDC m_contexts[4];
    HGDIOBJ m_previous[4] = {};
    CBitmap m_pattern;
    CBrush m_brush;
};

} // namespace image_internal
