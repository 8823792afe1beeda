// The program's resource module chain: extension modules, resource look-up and string loading.
#include <afxwin.h>

#include <vector>

namespace {

// The program's module state. One per process, on the heap and never destroyed: extension
// modules may leave the chain while the process exits.
struct ModuleState {
    HINSTANCE instance = NULL;
    HINSTANCE resource = NULL;
    bool resource_set = false;
    CDynLinkLibrary* libraries = nullptr; // the chain, newest first
    std::string app_name;
    bool app_name_known = false;
};

ModuleState& state() {
    static ModuleState* s = new ModuleState;
    return *s;
}

void link(CDynLinkLibrary* dll) {
    dll->m_pNextDLL = state().libraries;
    state().libraries = dll;
}

void unlink(CDynLinkLibrary* dll) {
    for (CDynLinkLibrary** p = &state().libraries; *p != nullptr; p = &(*p)->m_pNextDLL) {
        if (*p == dll) {
            *p = dll->m_pNextDLL;
            return;
        }
    }
}

// The modules to search, in order: the program's resource module, then the non-system
// extension modules, then the system ones.
std::vector<HINSTANCE> search_order() {
    std::vector<HINSTANCE> modules;
    modules.push_back(AfxGetResourceHandle());
    for (int system = 0; system < 2; ++system) {
        for (CDynLinkLibrary* dll = state().libraries; dll != nullptr; dll = dll->m_pNextDLL) {
            if ((dll->m_bSystem != FALSE) == (system != 0) && dll->m_hResource != NULL) {
                modules.push_back(dll->m_hResource);
            }
        }
    }
    return modules;
}

} // namespace

// ---- Program module --------------------------------------------------------------------------

HINSTANCE AFXAPI AfxGetInstanceHandle() {
    if (state().instance == NULL) {
        state().instance = ::GetModuleHandleA(NULL);
    }
    return state().instance;
}

HINSTANCE AFXAPI AfxGetResourceHandle() {
    return state().resource_set ? state().resource : AfxGetInstanceHandle();
}

void AFXAPI AfxSetResourceHandle(HINSTANCE hInstResource) {
    state().resource = hInstResource;
    state().resource_set = true;
}

LPCTSTR AFXAPI AfxGetAppName() {
    ModuleState& s = state();
    if (!s.app_name_known) {
        char path[MAX_PATH] = "";
        const DWORD n = ::GetModuleFileNameA(NULL, path, sizeof path);
        std::string name(path, n < sizeof path ? n : 0);
        const std::size_t slash = name.find_last_of("\\/");
        if (slash != std::string::npos) {
            name.erase(0, slash + 1);
        }
        const std::size_t dot = name.rfind('.');
        if (dot != std::string::npos && dot > 0) {
            name.erase(dot);
        }
        s.app_name = name;
        s.app_name_known = true;
    }
    return s.app_name.c_str();
}

// ---- Extension modules -----------------------------------------------------------------------

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem)
    : m_hModule(state.hModule), m_hResource(state.hResource), m_bSystem(bSystem),
      m_pNextDLL(nullptr) {
    link(this);
}

CDynLinkLibrary::CDynLinkLibrary(HINSTANCE hModule, HINSTANCE hResource)
    : m_hModule(hModule), m_hResource(hResource), m_bSystem(FALSE), m_pNextDLL(nullptr) {
    link(this);
}

CDynLinkLibrary::~CDynLinkLibrary() {
    unlink(this);
}

BOOL AFXAPI AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule) {
    if (hModule == NULL) {
        return FALSE;
    }
    if (!state.bInitialized) {
        state.bInitialized = TRUE;
        state.hModule = hModule;
        state.hResource = hModule;
    }
    return TRUE;
}

void AFXAPI AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll) {
    if (!state.bInitialized) {
        return;
    }
    for (CDynLinkLibrary* dll = ::state().libraries; dll != nullptr;) {
        CDynLinkLibrary* next = dll->m_pNextDLL;
        if (bAll || dll->m_hModule == state.hModule) {
            delete dll; // leaves the chain
        }
        dll = next;
    }
    // The record stays with the module's static data; a module unloaded and loaded again
    // registers again with the handle it then has.
    state.bInitialized = FALSE;
}

// ---- Resources -------------------------------------------------------------------------------

HINSTANCE AFXAPI AfxFindResourceHandle(LPCTSTR lpszName, LPCTSTR lpszType) {
    for (HINSTANCE module : search_order()) {
        if (::FindResourceA(module, lpszName, lpszType) != NULL) {
            return module;
        }
    }
    return AfxGetResourceHandle();
}

int AFXAPI AfxLoadString(UINT nID, LPTSTR lpszBuf, UINT nMaxBuf) {
    if (lpszBuf == NULL || nMaxBuf == 0) {
        return 0;
    }
    // Strings are stored in blocks of 16: a module may hold the block but not this string, so
    // the search goes on until a module actually gives a non-empty string.
    LPCTSTR block = MAKEINTRESOURCE((nID >> 4) + 1);
    for (HINSTANCE module : search_order()) {
        if (::FindResourceA(module, block, RT_STRING) == NULL) {
            continue;
        }
        const int n = ::LoadStringA(module, nID, lpszBuf, static_cast<int>(nMaxBuf));
        if (n > 0) {
            return n;
        }
    }
    lpszBuf[0] = '\0';
    return 0;
}

BOOL CString::LoadString(UINT nID) {
    // Grow the buffer until the string fits with room to spare: LoadStringA truncates silently.
    // The last size holds any string table entry (65535 UTF-16 units, 3 bytes each at most).
    for (UINT size = 256;; size *= 2) {
        std::string buffer(size, '\0');
        const int n = AfxLoadString(nID, buffer.data(), size);
        if (static_cast<UINT>(n) < size - 1 || size >= (1u << 18)) {
            m_str.assign(buffer.data(), static_cast<std::size_t>(n));
            return n > 0;
        }
    }
}
