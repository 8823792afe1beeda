// Loading and unloading of the library. At load it decides once whether the display needs the
// dither palette and joins the client's chain of resource modules; at unload it undoes both.
#include <DitherDib.h>
#include <Image.h>

#include "module/dither_palette.h"
#include "resources/library_resources.h"

#include <new>

#ifndef _WIN32
#include <platform/host.h>
#endif

CPalette* g_pDitherPalette = nullptr;

namespace {

AFX_EXTENSION_MODULE g_extensionModule = {};

BOOL ProcessAttach(HINSTANCE hInstance) {
    if (CImage::GetSystemBitCount() <= 8 && g_pDitherPalette == nullptr) {
        g_pDitherPalette = CDitherDib::CreateDitherPalette();
        if (g_pDitherPalette == nullptr) {
            return 0;
        }
    }
    // A failed attach is followed by a detach, which deletes the palette.
    if (!AfxInitExtensionModule(g_extensionModule, hInstance)) {
        return 0;
    }
    // Joins the resource chain and stays there until the process ends; the load succeeds even
    // when this allocation does not.
    new (std::nothrow) CDynLinkLibrary(g_extensionModule, FALSE);
    return 1;
}

void ProcessDetach() {
    if (g_pDitherPalette != nullptr) {
        delete g_pDitherPalette;
        g_pDitherPalette = nullptr;
    }
    AfxTermExtensionModule(g_extensionModule, FALSE);
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
    switch (dwReason) {
    case DLL_PROCESS_ATTACH:
        return ProcessAttach(hInstance);
    case DLL_PROCESS_DETACH:
        ProcessDetach();
        return 1;
    default:
        return 1;
    }
}

#ifndef _WIN32
// Here the host's loader stands in for the system's: the library registers its entry point and
// its resources when the shared object is initialised, which attaches it at once, as Windows
// attaches a DLL a program is linked against.
namespace {

struct ModuleRegistration {
    ModuleRegistration() {
        HMODULE module = host::register_module("TALVO.dll", &DllMain);
        if (module != nullptr) {
            AddLibraryResources(module);
        }
    }
};

const ModuleRegistration g_registration;

} // namespace
#endif
