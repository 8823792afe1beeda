// The maps of GDI object and DC wrappers, shared by the GDI object and DC sources.
#pragma once

#include "handle_map.h"

#include <afxwin.h>

namespace afx_internal {

struct GdiTraits {
    using Handle = HGDIOBJ;
    using Base = CGdiObject;
    static void assign(CGdiObject* w, HGDIOBJ h) { w->m_hObject = h; }
    static bool alive(HGDIOBJ h) { return ::GetObjectType(h) != 0; }
};

struct DcTraits {
    using Handle = HDC;
    using Base = CDC;
    static void assign(CDC* w, HDC h) { w->m_hDC = w->m_hAttribDC = h; }
    static bool alive(HDC h) { return ::GetObjectType(h) != 0; }
};

using GdiMap = HandleMap<GdiTraits>;
using DcMap = HandleMap<DcTraits>;

} // namespace afx_internal
