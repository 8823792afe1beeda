// The module loader: LoadLibraryA, FreeLibrary, GetModuleHandleA, GetModuleFileNameA,
// GetProcAddress, and the host's module registration.
//
// A module is a shared library that registers its name and entry point from a static
// initializer. When the program is linked against it, that happens before main() and the
// module is attached at once, as Windows attaches implicitly linked DLLs. When LoadLibraryA
// dlopen()s it, the registration happens inside dlopen() and LoadLibraryA attaches it.
//
// FreeLibrary to a count of zero detaches a module but leaves the shared object mapped, so
// that anything of it still referenced (a callback, a string) stays valid; loading it again
// attaches it again. Modules still loaded at exit are detached in reverse order of attachment.
#include "internal/faults.h"
#include "internal/kernel_internal.h"
#include "kernel/module_table.h"

#include <platform/host.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <dlfcn.h>

namespace platform {

namespace {

// Set while LoadLibraryA is inside dlopen(): registrations then wait for LoadLibraryA to attach
// them instead of attaching at once.
int dlopen_depth = 0;
std::vector<std::uintptr_t> registered_during_dlopen;

HMODULE to_hmodule(std::uintptr_t h) {
    return reinterpret_cast<HMODULE>(h);
}

// The name modules are matched by: the file name without its directory, lower case, without
// ".dll".
std::string match_key(const std::string& name) {
    std::size_t slash = name.find_last_of("/\\");
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    std::transform(base.begin(), base.end(), base.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".dll") == 0) {
        base.resize(base.size() - 4);
    }
    return base;
}

std::uintptr_t find_module(const std::string& name) {
    const std::string key = match_key(name);
    std::uintptr_t found = 0;
    registry().modules.for_each([&](std::uintptr_t h, Module& m) {
        if (found == 0 && h != registry().program && match_key(m.name) == key) {
            found = h;
        }
    });
    return found;
}

// The shared object an entry point lives in.
std::string object_path_of(DLLMAIN_PROC entry, const char* fallback) {
    Dl_info info;
    if (entry != nullptr && ::dladdr(reinterpret_cast<void*>(entry), &info) != 0 &&
        info.dli_fname != nullptr && info.dli_fname[0] != '\0') {
        return info.dli_fname;
    }
    return fallback;
}

void detach_all_at_exit();

// Calls the entry to attach. A failed attach is followed by a detach, as Windows does before
// it unloads the DLL, and leaves the module unloaded.
bool attach(std::uintptr_t h, LPVOID reserved) {
    const ProgramCall program; // the entry point is the module's code
    Module* m = registry().modules.get(h);
    if (m->entry != nullptr && !m->entry(to_hmodule(h), DLL_PROCESS_ATTACH, reserved)) {
        if ((m = registry().modules.get(h)) != nullptr && m->entry != nullptr) {
            m->entry(to_hmodule(h), DLL_PROCESS_DETACH, reserved);
        }
        return false;
    }
    if ((m = registry().modules.get(h)) == nullptr) {
        return false; // the entry unregistered its own module
    }
    m->load_count = 1;
    m->attach_order = registry().next_attach++;
    // Registered after the attach, so it runs before the destructors of anything the module
    // set up while attaching.
    std::atexit(detach_all_at_exit);
    return true;
}

void detach(std::uintptr_t h, LPVOID reserved) {
    const ProgramCall program;
    Module* m = registry().modules.get(h);
    if (m == nullptr) {
        return;
    }
    m->load_count = 0;
    if (m->entry != nullptr) {
        m->entry(to_hmodule(h), DLL_PROCESS_DETACH, reserved);
    }
}

void detach_all_at_exit() {
    std::vector<std::pair<std::uint64_t, std::uintptr_t>> loaded;
    registry().modules.for_each([&](std::uintptr_t h, Module& m) {
        if (m.load_count > 0) {
            loaded.emplace_back(m.attach_order, h);
        }
    });
    std::sort(loaded.rbegin(), loaded.rend());
    // A non-NULL reserved pointer tells the entry that the process is ending.
    static int process_ending;
    for (const auto& entry : loaded) {
        detach(entry.second, &process_ending);
    }
}

std::uintptr_t new_module(const std::string& name, const std::string& path, DLLMAIN_PROC entry) {
    auto m = std::make_unique<Module>();
    m->name = name;
    m->path = path;
    m->entry = entry;
    return registry().modules.insert(std::move(m));
}

} // namespace

ModuleRegistry& registry() {
    static ModuleRegistry* r = new ModuleRegistry();
    return *r;
}

std::uintptr_t program_module() {
    ModuleRegistry& r = registry();
    if (r.modules.get(r.program) == nullptr) {
        r.program = new_module("", program_path(), nullptr);
        r.modules.get(r.program)->load_count = 1;
    }
    return r.program;
}

Module* module_of(HMODULE module) {
    if (module == nullptr) {
        return registry().modules.get(program_module());
    }
    return registry().modules.get(module);
}

} // namespace platform

using platform::registry;

HMODULE host::register_module(const char* name, DLLMAIN_PROC entry) {
    if (name == nullptr || name[0] == '\0') {
        return nullptr;
    }
    std::uintptr_t h = platform::find_module(name);
    if (h != 0) {
        // Registered again (its library was loaded anew): the entry may have moved.
        platform::Module* m = registry().modules.get(h);
        m->entry = entry;
        m->path = platform::object_path_of(entry, name);
    } else {
        h = platform::new_module(name, platform::object_path_of(entry, name), entry);
        if (h == 0) {
            return nullptr;
        }
    }
    if (platform::dlopen_depth > 0) {
        platform::registered_during_dlopen.push_back(h);
        return platform::to_hmodule(h);
    }
    if (registry().modules.get(h)->load_count == 0 && !platform::attach(h, nullptr)) {
        // Windows would end a process whose implicitly linked DLL fails to attach; here the
        // module just stays unloaded, and the program finds out through GetModuleHandleA.
        std::fprintf(stderr, "module %s failed to initialize\n", name);
    }
    return platform::to_hmodule(h);
}

void host::unregister_module(HMODULE module) {
    platform::Module* m = registry().modules.get(module);
    if (m == nullptr || reinterpret_cast<std::uintptr_t>(module) == registry().program) {
        return;
    }
    if (m->load_count > 0) {
        platform::detach(reinterpret_cast<std::uintptr_t>(module), nullptr);
    }
    host::clear_resources(module);
    registry().modules.remove(module);
}

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    return platform::no_throw<HMODULE>(nullptr, [&]() -> HMODULE {
        if (lpLibFileName == nullptr || lpLibFileName[0] == '\0') {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        std::uintptr_t h = platform::find_module(lpLibFileName);
        if (h == 0) {
            // Not registered yet: load the shared object, which registers itself. First the name as
            // given, then lib<name>.so beside the program.
            const std::string stem = platform::match_key(lpLibFileName);
            const std::string candidates[] = {
                platform::host_path(lpLibFileName),
                platform::program_directory() + "/lib" + stem + ".so",
            };
            void* dl = nullptr;
            ++platform::dlopen_depth;
            platform::registered_during_dlopen.clear();
            for (const std::string& candidate : candidates) {
                dl = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
                if (dl != nullptr) {
                    break;
                }
            }
            --platform::dlopen_depth;
            if (dl == nullptr) {
                SetLastError(ERROR_MOD_NOT_FOUND);
                return nullptr;
            }
            h = platform::find_module(lpLibFileName);
            if (h == 0 && !platform::registered_during_dlopen.empty()) {
                h = platform::registered_during_dlopen.front();
            }
            if (h == 0) {
                // A plain shared library with no entry point: a module all the same.
                std::string base = platform::host_path(lpLibFileName);
                base = base.substr(base.find_last_of('/') + 1);
                h = platform::new_module(base, platform::host_path(lpLibFileName), nullptr);
            }
            platform::registered_during_dlopen.clear();
            platform::Module* m = registry().modules.get(h);
            if (m == nullptr) {
                SetLastError(ERROR_MOD_NOT_FOUND);
                return nullptr;
            }
            m->dl_handle = dl;
        }
        platform::Module* m = registry().modules.get(h);
        if (m->load_count == 0) {
            if (!platform::attach(h, nullptr)) {
                SetLastError(ERROR_DLL_INIT_FAILED);
                return nullptr;
            }
        } else {
            ++m->load_count;
        }
        return platform::to_hmodule(h);
    });
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    platform::Module* m = registry().modules.get(hLibModule);
    if (m == nullptr || m->load_count == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (reinterpret_cast<std::uintptr_t>(hLibModule) == registry().program) {
        return TRUE; // the program cannot be unloaded
    }
    if (--m->load_count == 0) {
        m->load_count = 1; // detach() sets it to 0 before calling the entry
        platform::detach(reinterpret_cast<std::uintptr_t>(hLibModule), nullptr);
    }
    return TRUE;
}

extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    return platform::no_throw<HMODULE>(nullptr, [&]() -> HMODULE {
        if (lpModuleName == nullptr) {
            return platform::to_hmodule(platform::program_module());
        }
        const std::uintptr_t h = platform::find_module(lpModuleName);
        platform::Module* m = registry().modules.get(h);
        if (m == nullptr || m->load_count == 0) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        return platform::to_hmodule(h);
    });
}

extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    platform::Module* m = platform::module_of(hModule);
    if (m == nullptr || (hModule != nullptr && m->load_count == 0)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (lpFilename == nullptr || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const std::string& path = m->path;
    if (path.size() >= nSize) {
        // Cut and terminated; the full size is the sign that it was cut.
        std::memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    platform::Module* m = registry().modules.get(hModule);
    if (m == nullptr || m->load_count == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (lpProcName == nullptr || IS_INTRESOURCE(lpProcName)) {
        // Exports by ordinal do not exist on this host.
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* dl = m->dl_handle;
    if (dl == nullptr && reinterpret_cast<std::uintptr_t>(hModule) != registry().program) {
        dl = ::dlopen(m->path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (dl != nullptr) {
            ::dlclose(dl); // only to drop the reference just taken; the object stays
        }
    }
    void* symbol = ::dlsym(dl != nullptr ? dl : RTLD_DEFAULT, lpProcName);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}
