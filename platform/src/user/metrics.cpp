// System metrics, parameters and colours, taken from the host's display mode.
#include "internal/user_internal.h"

#include <platform/host.h>

namespace {

// The default scheme's colours, indexed by COLOR_*, as Wine reports them (COLORREF values).
const COLORREF kSysColors[] = {
    0xFFFFFF, // COLOR_SCROLLBAR
    0x956F25, // COLOR_BACKGROUND
    0xFA9632, // COLOR_ACTIVECAPTION
    0x808080, // COLOR_INACTIVECAPTION
    0xFFFFFF, // COLOR_MENU
    0xFFFFFF, // COLOR_WINDOW
    0x9E9E9E, // COLOR_WINDOWFRAME
    0x000000, // COLOR_MENUTEXT
    0x000000, // COLOR_WINDOWTEXT
    0x000000, // COLOR_CAPTIONTEXT
    0xFFFFFF, // COLOR_ACTIVEBORDER
    0xFFFFFF, // COLOR_INACTIVEBORDER
    0x808080, // COLOR_APPWORKSPACE
    0xFA9630, // COLOR_HIGHLIGHT: RGB(48, 150, 250)
    0xFFFFFF, // COLOR_HIGHLIGHTTEXT
    0xF5F5F5, // COLOR_BTNFACE
    0xA6A6A6, // COLOR_BTNSHADOW
    0xA6A6A6, // COLOR_GRAYTEXT
    0x000000, // COLOR_BTNTEXT
    0xC8C8C8, // COLOR_INACTIVECAPTIONTEXT
    0xFFFFFF, // COLOR_BTNHIGHLIGHT
    0x6A6A6A, // COLOR_3DDKSHADOW
    0xE3E3E3, // COLOR_3DLIGHT
    0x000000, // COLOR_INFOTEXT
    0xFFFFFF, // COLOR_INFOBK
    0xFFFFFF, // 25: unused
    0xE0E0E0, // COLOR_HOTLIGHT
    0xFA9632, // COLOR_GRADIENTACTIVECAPTION
    0x808080, // COLOR_GRADIENTINACTIVECAPTION
    0xFA9630, // COLOR_MENUHILIGHT
    0xFFFFFF, // COLOR_MENUBAR
};

// Height of a caption bar, which SM_CYFULLSCREEN leaves out of the work area.
constexpr int kCaptionHeight = 19;

} // namespace

RECT platform::user::work_area() {
    const host::DisplayMode mode = host::display_mode();
    const RECT& wa = mode.work_area;
    if (wa.right <= wa.left || wa.bottom <= wa.top) {
        return RECT{0, 0, mode.width, mode.height};
    }
    return wa;
}

// Metrics this platform does not model read 0, as Win32 answers an unknown index.
extern "C" int WINAPI GetSystemMetrics(int nIndex) {
    const host::DisplayMode mode = host::display_mode();
    const RECT wa = platform::user::work_area();
    switch (nIndex) {
    case SM_CXSCREEN:
    case SM_CXVIRTUALSCREEN:
        return mode.width;
    case SM_CYSCREEN:
    case SM_CYVIRTUALSCREEN:
        return mode.height;
    case SM_CYCAPTION:
        return kCaptionHeight;
    case SM_CXFULLSCREEN:
        return wa.right - wa.left;
    case SM_CYFULLSCREEN:
        return wa.bottom - wa.top - kCaptionHeight;
    case SM_CMONITORS:
        return 1;
    default:
        return 0;
    }
}

// Only SPI_GETWORKAREA is known; every other action fails without touching pvParam.
extern "C" BOOL WINAPI SystemParametersInfoA(UINT uiAction, UINT uiParam, PVOID pvParam,
                                             UINT fWinIni) {
    (void)uiParam;
    (void)fWinIni;
    if (uiAction != SPI_GETWORKAREA || pvParam == nullptr) {
        return FALSE;
    }
    *static_cast<RECT*>(pvParam) = platform::user::work_area();
    return TRUE;
}

extern "C" DWORD WINAPI GetSysColor(int nIndex) {
    if (nIndex < 0 || nIndex >= static_cast<int>(sizeof(kSysColors) / sizeof(kSysColors[0]))) {
        return 0;
    }
    return kSysColors[nIndex];
}
