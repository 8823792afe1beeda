// The GDI handle table, live-object counts and stock objects; DeleteObject, GetObjectA,
// GetObjectType and GetStockObject.
#include "common/handle_table.h"
#include "internal/faults.h"
#include "internal/gdi_internal.h"
#include "platform/host.h"

#include <cstring>

namespace platform::gdi {
namespace {

constexpr int kStockCount = 20;
constexpr int kTypeCount = 16;

struct ObjectTable {
    HandleTable<Object> table{kTagGdi};
    int counts[kTypeCount] = {};
    HGDIOBJ stock[kStockCount] = {};
    HBITMAP mono_bitmap = nullptr;
};

HGDIOBJ to_handle(std::uintptr_t value) {
    return reinterpret_cast<HGDIOBJ>(value);
}

std::unique_ptr<Brush> make_stock_brush(UINT style, COLORREF color) {
    auto brush = std::make_unique<Brush>();
    brush->style = style;
    brush->color = color;
    brush->stock = true;
    return brush;
}

struct Pen : Object {
    Pen() : Object(OBJ_PEN) {}
};

std::unique_ptr<Object> make_stock_pen() {
    auto pen = std::make_unique<Pen>();
    pen->stock = true;
    return pen;
}

void create_stock_objects(ObjectTable& t) {
    auto add = [&](int index, std::unique_ptr<Object> obj) {
        t.stock[index] = to_handle(t.table.insert(std::move(obj)));
    };
    add(WHITE_BRUSH, make_stock_brush(BS_SOLID, RGB(255, 255, 255)));
    add(LTGRAY_BRUSH, make_stock_brush(BS_SOLID, RGB(192, 192, 192)));
    add(GRAY_BRUSH, make_stock_brush(BS_SOLID, RGB(128, 128, 128)));
    add(DKGRAY_BRUSH, make_stock_brush(BS_SOLID, RGB(64, 64, 64)));
    add(BLACK_BRUSH, make_stock_brush(BS_SOLID, RGB(0, 0, 0)));
    add(NULL_BRUSH, make_stock_brush(BS_NULL, 0));
    add(DC_BRUSH, make_stock_brush(BS_SOLID, RGB(255, 255, 255)));
    add(WHITE_PEN, make_stock_pen());
    add(BLACK_PEN, make_stock_pen());
    add(NULL_PEN, make_stock_pen());

    // The 20 static colours, in the order of the system palette's ends.
    static const BYTE kDefault[20][3] = {
        {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
        {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xc0, 0xc0, 0xc0},
        {0xc0, 0xdc, 0xc0}, {0xa6, 0xca, 0xf0}, {0xff, 0xfb, 0xf0}, {0xa0, 0xa0, 0xa4},
        {0x80, 0x80, 0x80}, {0xff, 0x00, 0x00}, {0x00, 0xff, 0x00}, {0xff, 0xff, 0x00},
        {0x00, 0x00, 0xff}, {0xff, 0x00, 0xff}, {0x00, 0xff, 0xff}, {0xff, 0xff, 0xff}};
    auto pal = std::make_unique<Palette>();
    pal->stock = true;
    for (const auto& c : kDefault) {
        pal->entries.push_back(PALETTEENTRY{c[0], c[1], c[2], 0});
    }
    // The default palette is the static colours: its entries are realized by definition.
    for (int i = 0; i < 20; ++i) {
        pal->system_index.push_back(static_cast<BYTE>(i < 10 ? i : 236 + i));
    }
    add(DEFAULT_PALETTE, std::move(pal));

    auto mono = make_ddb(1, 1, 1);
    mono->stock = true;
    t.mono_bitmap = static_cast<HBITMAP>(to_handle(t.table.insert(std::move(mono))));
}

ObjectTable* g_objects = nullptr; // set on first use

ObjectTable& make_objects() {
    // Never destroyed: programs may release GDI objects from their own static destructors.
    static ObjectTable* t = [] {
        auto* table = new ObjectTable();
        create_stock_objects(*table);
        return table;
    }();
    g_objects = t;
    return *t;
}

// Every GDI call looks handles up, several times: the table is one load away once made.
inline ObjectTable& objects() {
    return g_objects != nullptr ? *g_objects : make_objects();
}

inline Object* find(const void* handle) {
    return handle != nullptr ? objects().table.get(handle) : nullptr;
}

} // namespace

HGDIOBJ insert_object(std::unique_ptr<Object> object) {
    ObjectTable& t = objects();
    const DWORD type = object->type;
    const bool stock = object->stock;
    const bool dc = type == OBJ_DC || type == OBJ_MEMDC;
    if (!stock && creation_fails(dc ? host::device_context : host::gdi_object)) {
        return nullptr;
    }
    std::uintptr_t h = t.table.insert(std::move(object));
    if (h != 0 && !stock && type < kTypeCount) {
        ++t.counts[type];
    }
    return to_handle(h);
}

Object* lookup(const void* handle) {
    return find(handle);
}

template <class T> static T* lookup_typed(const void* handle, DWORD type) {
    Object* obj = find(handle);
    return obj != nullptr && obj->type == type ? static_cast<T*>(obj) : nullptr;
}

Bitmap* lookup_bitmap_as_is(const void* handle) {
    return lookup_typed<Bitmap>(handle, OBJ_BITMAP);
}
Bitmap* lookup_bitmap(const void* handle) {
    Bitmap* bmp = lookup_typed<Bitmap>(handle, OBJ_BITMAP);
    if (bmp != nullptr) {
        bmp->settle();
    }
    return bmp;
}
Palette* lookup_palette(const void* handle) {
    return lookup_typed<Palette>(handle, OBJ_PAL);
}
Brush* lookup_brush(const void* handle) {
    return lookup_typed<Brush>(handle, OBJ_BRUSH);
}
Dc* lookup_dc(const void* handle) {
    Object* obj = find(handle);
    return obj != nullptr && (obj->type == OBJ_DC || obj->type == OBJ_MEMDC) ? static_cast<Dc*>(obj)
                                                                             : nullptr;
}

Dc* dc_or_error(const void* handle) {
    Dc* dc = lookup_dc(handle);
    if (dc == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return dc;
}

void destroy_object(const void* handle) {
    ObjectTable& t = objects();
    Object* obj = t.table.get(handle);
    if (obj == nullptr || obj->stock) {
        return;
    }
    const DWORD type = obj->type;
    if (type == OBJ_PAL) {
        forget_palette(static_cast<Palette*>(obj));
    }
    t.table.remove(handle);
    if (type < kTypeCount) {
        --t.counts[type];
    }
}

void release_selection(HGDIOBJ handle) {
    Object* obj = lookup(handle);
    if (obj == nullptr || obj->stock) {
        return;
    }
    if (obj->select_count > 0) {
        --obj->select_count;
    }
    if (obj->select_count == 0 && obj->delete_pending) {
        destroy_object(handle);
    }
}

HBITMAP stock_bitmap() {
    return objects().mono_bitmap;
}
HPALETTE default_palette() {
    return static_cast<HPALETTE>(objects().stock[DEFAULT_PALETTE]);
}

} // namespace platform::gdi

using namespace platform::gdi;

namespace host {

int live_gdi_objects(DWORD obj_type) {
    return obj_type < kTypeCount ? objects().counts[obj_type] : 0;
}

int live_gdi_objects_total() {
    int total = 0;
    for (int n : objects().counts) {
        total += n;
    }
    return total;
}

} // namespace host

extern "C" {

HGDIOBJ WINAPI GetStockObject(int i) {
    if (i < 0 || i >= kStockCount) {
        return nullptr;
    }
    return objects().stock[i];
}

DWORD WINAPI GetObjectType(HGDIOBJ h) {
    Object* obj = lookup(h);
    if (obj == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return obj->type;
}

BOOL WINAPI DeleteObject(HGDIOBJ ho) {
    Object* obj = lookup(ho);
    if (obj == nullptr) {
        return FALSE;
    }
    if (obj->type == OBJ_DC || obj->type == OBJ_MEMDC) {
        return DeleteDC(static_cast<HDC>(ho));
    }
    if (obj->stock) {
        return TRUE;
    }
    if (obj->type == OBJ_BITMAP) {
        // Windows documents failure for a bitmap still selected into a DC.
        if (static_cast<Bitmap*>(obj)->selected_into != nullptr) {
            return FALSE;
        }
    } else if (obj->select_count > 0) {
        // Brushes and palettes still selected go when their last DC lets them go.
        obj->delete_pending = true;
        return TRUE;
    }
    destroy_object(ho);
    return TRUE;
}

int WINAPI GetObjectA(HANDLE h, int c, LPVOID pv) {
    Object* obj = lookup(h);
    if (obj == nullptr || c < 0) {
        return 0;
    }
    switch (obj->type) {
    case OBJ_BITMAP: {
        const auto& bmp = *static_cast<Bitmap*>(obj);
        BITMAP bm{};
        bm.bmType = 0;
        bm.bmWidth = bmp.width;
        bm.bmHeight = bmp.height;
        bm.bmWidthBytes = bmp.stride;
        bm.bmPlanes = 1;
        bm.bmBitsPixel = static_cast<WORD>(bmp.bpp);
        bm.bmBits = bmp.is_dib_section ? bmp.user_bits : nullptr;
        if (pv == nullptr) {
            return sizeof(BITMAP); // also for DIB sections: only a buffer asks for more
        }
        if (bmp.is_dib_section && c >= static_cast<int>(sizeof(DIBSECTION))) {
            DIBSECTION ds{};
            ds.dsBm = bm;
            ds.dsBmih = bmp.info;
            std::memcpy(ds.dsBitfields, bmp.masks, sizeof(ds.dsBitfields));
            ds.dshSection = bmp.section;
            ds.dsOffset = bmp.section_offset;
            std::memcpy(pv, &ds, sizeof(ds));
            return sizeof(DIBSECTION);
        }
        if (c < static_cast<int>(sizeof(BITMAP))) {
            return 0;
        }
        std::memcpy(pv, &bm, sizeof(bm));
        return sizeof(BITMAP);
    }
    case OBJ_PAL: {
        if (pv == nullptr) {
            return sizeof(WORD);
        }
        if (c < static_cast<int>(sizeof(WORD))) {
            return 0;
        }
        WORD n = static_cast<WORD>(static_cast<Palette*>(obj)->entries.size());
        std::memcpy(pv, &n, sizeof(n));
        return sizeof(WORD);
    }
    case OBJ_BRUSH: {
        if (pv == nullptr) {
            return sizeof(LOGBRUSH);
        }
        if (c < static_cast<int>(sizeof(LOGBRUSH))) {
            return 0;
        }
        const auto& brush = *static_cast<Brush*>(obj);
        LOGBRUSH lb{};
        lb.lbStyle = brush.style;
        lb.lbColor = brush.style == BS_SOLID ? brush.color : 0;
        lb.lbHatch = brush.hatch;
        std::memcpy(pv, &lb, sizeof(lb));
        return sizeof(LOGBRUSH);
    }
    default:
        return 0;
    }
}

} // extern "C"
