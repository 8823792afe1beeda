// Ownership, temporary wrappers and selection of the GDI wrappers, checked through the handles
// themselves (GetObjectType is 0 once a handle is destroyed) so that the same test runs on the
// real system; natively the live-object counts check for leaks as well.
#include <afxwin.h>

#include "afx_testing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#ifndef _WIN32
#include <platform/host.h>
#endif

namespace {

bool alive(HGDIOBJ h) {
    return ::GetObjectType(h) != 0;
}

// Counts live GDI objects natively; on the real system there is no portable count, and the
// handle checks stand alone.
int live_objects() {
#ifndef _WIN32
    return host::live_gdi_objects_total();
#else
    return 0;
#endif
}

std::unique_ptr<CPalette> make_palette() {
    // Red, green and blue.
    struct {
        LOGPALETTE head;
        PALETTEENTRY more[2];
    } lp = {{0x300, 3, {{255, 0, 0, 0}}}, {{0, 255, 0, 0}, {0, 0, 255, 0}}};
    auto p = std::make_unique<CPalette>();
    return p->CreatePalette(&lp.head) ? std::move(p) : nullptr;
}

struct Kind {
    const char* name;
    UINT type;
    std::function<std::unique_ptr<CGdiObject>()> make;
};

// A kind whose wrapper class T makes its object with create(wrapper).
template <class T, class Create> Kind kind(const char* name, UINT type, Create create) {
    return {name, type, [create]() -> std::unique_ptr<CGdiObject> {
                auto w = std::make_unique<T>();
                return create(*w) ? std::move(w) : nullptr;
            }};
}

std::vector<Kind> kinds() {
    return {
        kind<CBitmap>("bitmap", OBJ_BITMAP,
                      [](CBitmap& b) { return b.CreateBitmap(8, 8, 1, 1, nullptr); }),
        kind<CBitmap>("bitmap from a record", OBJ_BITMAP,
                      [](CBitmap& b) {
                          BITMAP bm = {0, 16, 4, 2, 1, 1, nullptr};
                          return b.CreateBitmapIndirect(&bm);
                      }),
        kind<CBitmap>("compatible bitmap", OBJ_BITMAP,
                      [](CBitmap& b) {
                          CClientDC screen(NULL);
                          return b.CreateCompatibleBitmap(&screen, 5, 3);
                      }),
        kind<CBrush>("solid brush", OBJ_BRUSH,
                     [](CBrush& b) { return b.CreateSolidBrush(RGB(1, 2, 3)); }),
        kind<CBrush>("pattern brush", OBJ_BRUSH,
                     [](CBrush& b) {
                         CBitmap pattern;
                         pattern.CreateBitmap(8, 8, 1, 1, nullptr);
                         return b.CreatePatternBrush(&pattern);
                     }),
        {"palette", OBJ_PAL, make_palette},
    };
}

TEST(GdiObjectOwnership, AWrapperDestroysWhatItOwnsExactlyOnce) {
    for (const Kind& kind : kinds()) {
        SCOPED_TRACE(kind.name);
        const int before = live_objects();

        // The destructor destroys the object.
        std::unique_ptr<CGdiObject> w = kind.make();
        ASSERT_NE(w, nullptr);
        HGDIOBJ h = w->GetSafeHandle();
        EXPECT_EQ(kind.type, w->GetObjectType());
        EXPECT_EQ(w.get(), CGdiObject::FromHandle(h)) << "the owner is the handle's wrapper";
        CGdiObject other;
        EXPECT_FALSE(other.Attach(h)) << "a handle has one owner";
        w.reset();
        EXPECT_FALSE(alive(h));

        // DeleteObject destroys it once; the second call has nothing left to do.
        w = kind.make();
        h = w->GetSafeHandle();
        EXPECT_TRUE(w->DeleteObject());
        EXPECT_FALSE(alive(h));
        EXPECT_EQ(nullptr, w->m_hObject);
        EXPECT_FALSE(w->DeleteObject());
        w.reset();

        // Detach gives the object up; a new owner destroys it.
        w = kind.make();
        h = w->Detach();
        w.reset();
        EXPECT_TRUE(alive(h));
        {
            CGdiObject adopter;
            EXPECT_TRUE(adopter.Attach(h));
            EXPECT_EQ(&adopter, CGdiObject::FromHandle(h));
            EXPECT_FALSE(adopter.Attach(h)) << "a wrapper holds one handle";
        }
        EXPECT_FALSE(alive(h));
        EXPECT_EQ(before, live_objects());
    }
}

TEST(GdiObjectOwnership, CreatingIntoAFullWrapperFailsAndMakesNothing) {
    CClientDC screen(NULL);
    CBitmap bitmap;
    ASSERT_TRUE(bitmap.CreateBitmap(4, 4, 1, 1, nullptr));
    HGDIOBJ h = bitmap.GetSafeHandle();
    const int before = live_objects();
    BITMAP bm = {0, 4, 4, 2, 1, 1, nullptr};
    EXPECT_FALSE(bitmap.CreateBitmap(4, 4, 1, 1, nullptr));
    EXPECT_FALSE(bitmap.CreateBitmapIndirect(&bm));
    EXPECT_FALSE(bitmap.CreateCompatibleBitmap(&screen, 4, 4));
    EXPECT_EQ(h, bitmap.GetSafeHandle());
    EXPECT_EQ(before, live_objects());

    CBrush brush;
    ASSERT_TRUE(brush.CreateSolidBrush(RGB(9, 9, 9)));
    EXPECT_FALSE(brush.CreateSolidBrush(RGB(9, 9, 9)));
    EXPECT_FALSE(brush.CreatePatternBrush(&bitmap));
    auto palette = make_palette();
    ASSERT_NE(palette, nullptr);
    LOGPALETTE one = {0x300, 1, {{1, 2, 3, 0}}};
    EXPECT_FALSE(palette->CreatePalette(&one));

    CGdiObject empty;
    EXPECT_FALSE(empty.Attach(NULL));
    HBITMAP dead = ::CreateBitmap(1, 1, 1, 1, nullptr);
    ::DeleteObject(dead);
    EXPECT_FALSE(empty.Attach(dead)) << "a destroyed handle is refused";
    EXPECT_EQ(nullptr, empty.GetSafeHandle());
}

TEST(GdiObjectOwnership, StockObjectsCanBeHeldByManyWrappers) {
    CBrush a;
    CBrush b;
    ASSERT_TRUE(a.CreateStockObject(BLACK_BRUSH));
    ASSERT_TRUE(b.CreateStockObject(BLACK_BRUSH));
    EXPECT_EQ(::GetStockObject(BLACK_BRUSH), a.GetSafeHandle());
    a.DeleteObject();
    b.DeleteObject();
    EXPECT_TRUE(alive(::GetStockObject(BLACK_BRUSH)));
}

// What an MFC program's idle processing does: reclaims every temporary.
void idle() {
    AfxLockTempMaps();
    AfxUnlockTempMaps();
}

TEST(TemporaryWrappers, OneTemporaryPerHandleOfTheObjectsOwnClass) {
    idle();
    const std::size_t before = afx_internal::live_temporaries();
    EXPECT_EQ(0u, before);
    HBITMAP bitmap = ::CreateBitmap(2, 2, 1, 1, nullptr);
    HBRUSH brush = ::CreateSolidBrush(RGB(10, 20, 30));
    HPALETTE palette = static_cast<HPALETTE>(make_palette()->Detach());

    CBitmap* b = CBitmap::FromHandle(bitmap);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(bitmap, b->GetSafeHandle());
    EXPECT_EQ(b, CBitmap::FromHandle(bitmap)) << "the same temporary for the same handle";
    // The generic look-up gives the wrapper of the object's own class, the same one.
    EXPECT_EQ(b, CGdiObject::FromHandle(bitmap));
    EXPECT_NE(nullptr, dynamic_cast<CBrush*>(CGdiObject::FromHandle(brush)));
    EXPECT_NE(nullptr, dynamic_cast<CPalette*>(CGdiObject::FromHandle(palette)));
    EXPECT_EQ(CGdiObject::FromHandle(palette), CPalette::FromHandle(palette));
    EXPECT_EQ(nullptr, CGdiObject::FromHandle(NULL));
    EXPECT_EQ(before + 3, afx_internal::live_temporaries());

    // Temporaries never own: deleting them leaves the objects alone.
    CGdiObject::DeleteTempMap();
    EXPECT_EQ(before, afx_internal::live_temporaries());
    for (HGDIOBJ h : {static_cast<HGDIOBJ>(bitmap), static_cast<HGDIOBJ>(brush),
                      static_cast<HGDIOBJ>(palette)}) {
        EXPECT_TRUE(alive(h));
        ::DeleteObject(h);
    }
}

TEST(TemporaryWrappers, TheLastUnlockReclaimsThem) {
    EXPECT_FALSE(AfxUnlockTempMaps()) << "nothing to unlock";
    const std::size_t before = afx_internal::live_temporaries();
    HBRUSH brush = ::CreateSolidBrush(RGB(1, 1, 1));
    HDC dc = ::CreateCompatibleDC(NULL);
    AfxLockTempMaps();
    AfxLockTempMaps();
    CBrush::FromHandle(brush);
    CDC::FromHandle(dc);
    EXPECT_EQ(before + 2, afx_internal::live_temporaries());
    EXPECT_FALSE(AfxUnlockTempMaps());
    EXPECT_EQ(before + 2, afx_internal::live_temporaries()) << "still locked once";
    EXPECT_TRUE(AfxUnlockTempMaps());
    EXPECT_EQ(before, afx_internal::live_temporaries());
    EXPECT_TRUE(alive(brush));
    EXPECT_TRUE(alive(dc));
    ::DeleteObject(brush);
    ::DeleteDC(dc);
}

TEST(TemporaryWrappers, ThoseOfDestroyedHandlesDoNotPileUp) {
    // A program that never idles: a temporary for each of many short-lived handles.
    for (int i = 0; i < 2000; ++i) {
        HBRUSH brush = ::CreateSolidBrush(RGB(i & 255, 0, 0));
        ASSERT_NE(nullptr, CBrush::FromHandle(brush));
        ::DeleteObject(brush);
    }
    EXPECT_LT(afx_internal::live_temporaries(), 300u);
    CGdiObject::DeleteTempMap();
}

TEST(CDCTest, OwnsItsDCUnlessDetached) {
    const int before = live_objects();
    HDC h = NULL;
    {
        CDC dc;
        ASSERT_TRUE(dc.CreateCompatibleDC(NULL));
        h = dc.GetSafeHdc();
        EXPECT_EQ(&dc, CDC::FromHandle(h));
        EXPECT_FALSE(dc.CreateCompatibleDC(NULL)) << "one DC per wrapper";
        CDC other;
        EXPECT_FALSE(other.Attach(h));
        EXPECT_EQ(h, dc.GetSafeHdc());
    }
    EXPECT_FALSE(alive(h));

    CDC dc;
    ASSERT_TRUE(dc.CreateCompatibleDC(NULL));
    h = dc.Detach();
    EXPECT_TRUE(alive(h));
    CDC* temp = CDC::FromHandle(h);
    ASSERT_NE(nullptr, temp);
    EXPECT_EQ(h, temp->m_hDC);
    CDC::DeleteTempMap();
    EXPECT_TRUE(alive(h)) << "a temporary does not own its DC";
    ASSERT_TRUE(dc.Attach(h));
    EXPECT_TRUE(dc.DeleteDC());
    EXPECT_FALSE(dc.DeleteDC());
    EXPECT_FALSE(alive(h));

    // Window DCs are released, not deleted, when their wrapper goes.
    {
        CClientDC client(NULL);
        CWindowDC window(NULL);
        EXPECT_NE(nullptr, client.GetSafeHdc());
        EXPECT_NE(nullptr, window.GetSafeHdc());
        EXPECT_GT(client.GetDeviceCaps(HORZRES), 0);
    }
    EXPECT_EQ(before, live_objects());
}

TEST(CDCTest, SelectionReturnsThePreviousObjectsWrapper) {
    CDC dc;
    ASSERT_TRUE(dc.CreateCompatibleDC(NULL));
    HGDIOBJ stock_bitmap = ::GetCurrentObject(dc, OBJ_BITMAP);
    CBitmap a;
    CBitmap b;
    ASSERT_TRUE(a.CreateBitmap(4, 4, 1, 1, nullptr));
    ASSERT_TRUE(b.CreateBitmap(4, 4, 1, 1, nullptr));

    CBitmap* original = dc.SelectObject(&a);
    ASSERT_NE(nullptr, original);
    EXPECT_EQ(stock_bitmap, original->GetSafeHandle());
    EXPECT_EQ(&a, dc.SelectObject(&b)) << "the owning wrapper, not a copy";
    CGdiObject* generic = dc.SelectObject(static_cast<CGdiObject*>(&a));
    EXPECT_EQ(static_cast<CGdiObject*>(&b), generic);
    EXPECT_EQ(&a, dc.SelectObject(original));
    EXPECT_EQ(stock_bitmap, ::GetCurrentObject(dc, OBJ_BITMAP));

    // A failed selection gives NULL: a bitmap can be in one DC at a time.
    CDC second;
    ASSERT_TRUE(second.CreateCompatibleDC(NULL));
    ASSERT_NE(nullptr, dc.SelectObject(&a));
    EXPECT_EQ(nullptr, second.SelectObject(&a));
    EXPECT_EQ(nullptr, dc.SelectObject(static_cast<CBitmap*>(nullptr)));
    dc.SelectObject(original);

    CBrush red(RGB(255, 0, 0));
    CBrush* original_brush = dc.SelectObject(&red);
    ASSERT_NE(nullptr, original_brush);
    EXPECT_EQ(::GetStockObject(WHITE_BRUSH), original_brush->GetSafeHandle());
    EXPECT_EQ(&red, dc.SelectObject(original_brush));
    CGdiObject* stock = dc.SelectStockObject(BLACK_BRUSH);
    ASSERT_NE(nullptr, stock);
    EXPECT_NE(nullptr, dynamic_cast<CBrush*>(stock)) << "a brush's wrapper is a CBrush";

    auto palette = make_palette();
    CPalette* original_palette = dc.SelectPalette(palette.get(), FALSE);
    ASSERT_NE(nullptr, original_palette);
    EXPECT_EQ(::GetStockObject(DEFAULT_PALETTE), original_palette->GetSafeHandle());
    EXPECT_EQ(palette.get(), dc.SelectPalette(original_palette, FALSE));
}

// Each member reaches the DC with its arguments in order (what the calls draw in detail: the
// Win32 GDI tests); FillSolidRect is the wrapper's own.
TEST(CDCTest, DrawingMembersReachTheDC) {
    CClientDC screen(NULL);
    CDC mem;
    ASSERT_TRUE(mem.CreateCompatibleDC(&screen));
    CBitmap canvas;
    ASSERT_TRUE(canvas.CreateCompatibleBitmap(&screen, 8, 8));
    CBitmap* original = mem.SelectObject(&canvas);
    const COLORREF white = RGB(255, 255, 255);
    const COLORREF red = RGB(255, 0, 0);
    const COLORREF blue = RGB(0, 0, 255);
    const COLORREF green = RGB(0, 255, 0);

    ASSERT_TRUE(mem.PatBlt(0, 0, 8, 8, WHITENESS));
    mem.SetBkColor(blue);
    mem.FillSolidRect(2, 2, 3, 3, red);
    EXPECT_EQ(red, mem.GetBkColor()) << "FillSolidRect leaves the background colour changed";
    EXPECT_EQ(red, mem.GetPixel(2, 2));
    EXPECT_EQ(red, mem.GetPixel(4, 4));
    EXPECT_EQ(white, mem.GetPixel(5, 4)) << "the right edge is outside";
    EXPECT_EQ(white, mem.GetPixel(4, 5)) << "the bottom edge is outside";
    EXPECT_EQ(white, mem.GetPixel(1, 1));

    CBrush brush(blue);
    CRect left_column(0, 0, 1, 8);
    mem.FillRect(&left_column, &brush);
    EXPECT_EQ(blue, mem.GetPixel(0, 7));
    EXPECT_EQ(green, mem.SetPixel(7, 0, green));
    EXPECT_EQ(green, mem.GetPixel(CPoint(7, 0)));

    CDC copy;
    ASSERT_TRUE(copy.CreateCompatibleDC(&screen));
    CBitmap copy_canvas;
    ASSERT_TRUE(copy_canvas.CreateCompatibleBitmap(&screen, 8, 8));
    CBitmap* copy_original = copy.SelectObject(&copy_canvas);
    ASSERT_TRUE(copy.BitBlt(0, 0, 8, 8, &mem, 0, 0, SRCCOPY));
    EXPECT_EQ(blue, copy.GetPixel(0, 0));
    // Twice the size from (2,2): the red square fills the top-left 6x6.
    ASSERT_TRUE(copy.StretchBlt(0, 0, 8, 8, &mem, 2, 2, 4, 4, SRCCOPY));
    EXPECT_EQ(red, copy.GetPixel(5, 5));
    EXPECT_EQ(white, copy.GetPixel(6, 6));

    EXPECT_EQ(MM_TEXT, mem.SetMapMode(MM_ANISOTROPIC));
    EXPECT_EQ(MM_ANISOTROPIC, mem.GetMapMode());
    mem.SelectObject(original);
    copy.SelectObject(copy_original);
}

TEST(GdiObjectMembers, ReportTheirObjects) {
    CBitmap mono;
    ASSERT_TRUE(mono.CreateBitmap(16, 2, 1, 1, nullptr));
    BITMAP bm = {};
    ASSERT_EQ(static_cast<int>(sizeof(BITMAP)), mono.GetBitmap(&bm));
    EXPECT_EQ((std::vector<LONG>{16, 2, 2, 1}),
              (std::vector<LONG>{bm.bmWidth, bm.bmHeight, bm.bmWidthBytes, bm.bmBitsPixel}));
    const BYTE bits[4] = {0xAA, 0x55, 0x0F, 0xF0};
    EXPECT_EQ(4u, mono.SetBitmapBits(4, bits));
    BYTE back[4] = {};
    EXPECT_EQ(4u, mono.GetBitmapBits(4, back));
    EXPECT_EQ(0, memcmp(bits, back, 4));

    auto palette = make_palette();
    ASSERT_NE(nullptr, palette);
    EXPECT_EQ(3, palette->GetEntryCount());
    PALETTEENTRY entries[3] = {};
    EXPECT_EQ(3u, palette->GetPaletteEntries(0, 3, entries));
    EXPECT_EQ(255, entries[0].peRed);
    EXPECT_EQ(255, entries[2].peBlue);
    EXPECT_EQ(1u, palette->GetNearestPaletteIndex(RGB(10, 240, 10)));

    CBrush brush(RGB(7, 8, 9));
    LOGBRUSH lb = {};
    EXPECT_EQ(static_cast<int>(sizeof(LOGBRUSH)), brush.GetLogBrush(&lb));
    EXPECT_EQ(static_cast<UINT>(BS_SOLID), lb.lbStyle);
    EXPECT_EQ(RGB(7, 8, 9), lb.lbColor);
}

} // namespace
