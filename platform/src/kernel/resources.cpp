// Module resources: bitmaps and string tables given through the host, found with
// FindResourceA/FindResourceExA and read with LoadResource/LockResource/SizeofResource, and the
// user's language.
//
// Resources are kept as Windows keeps them in a module: a bitmap is a packed DIB (the file
// header dropped), and strings live in RT_STRING blocks of sixteen counted UTF-16 strings,
// block id / 16 + 1 holding string id, so that code that looks for a string's block (MFC's
// search through its resource modules) finds it.
#include "internal/faults.h"
#include "internal/bmp_internal.h"
#include "internal/kernel_internal.h"
#include "kernel/module_table.h"

#include <platform/host.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

LANGID current_language = MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT);
constexpr LANGID kUsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT);

// Decodes UTF-8, refusing malformed sequences, overlong forms and surrogates.
bool utf8_to_utf16(const char* s, std::u16string& out) {
    out.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    while (*p != 0) {
        std::uint32_t c = *p++;
        int extra = 0;
        std::uint32_t min = 0;
        if (c >= 0xF0 && c <= 0xF4) {
            extra = 3, c &= 0x07, min = 0x10000;
        } else if (c >= 0xE0) {
            extra = 2, c &= 0x0F, min = 0x800;
        } else if (c >= 0xC2 && c < 0xE0) {
            extra = 1, c &= 0x1F, min = 0x80;
        } else if (c >= 0x80) {
            return false;
        }
        for (int i = 0; i < extra; ++i) {
            if ((*p & 0xC0) != 0x80) {
                return false;
            }
            c = (c << 6) | (*p++ & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            return false;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return true;
}

std::uintptr_t add_resource(Module* m, const ResourceName& type, const ResourceName& name,
                            LANGID lang, std::vector<BYTE> data) {
    std::unique_ptr<Resource>& slot = m->resources[type][name][lang];
    if (!slot) {
        slot = std::make_unique<Resource>();
        slot->handle =
            registry().resources.insert(std::make_unique<ResourceRef>(ResourceRef{m, slot.get()}));
    }
    slot->data = std::move(data);
    return slot->handle;
}

// Rebuilds the RT_STRING block that holds `id` in `lang`.
void rebuild_string_block(Module* m, UINT id, LANGID lang) {
    const UINT block = id / 16 + 1;
    std::vector<BYTE> data;
    for (UINT i = (block - 1) * 16; i < block * 16; ++i) {
        std::u16string text;
        auto by_id = m->strings.find(i);
        if (by_id != m->strings.end()) {
            auto by_lang = by_id->second.find(lang);
            if (by_lang != by_id->second.end()) {
                text = by_lang->second;
            }
        }
        const WORD length = static_cast<WORD>(text.size());
        data.push_back(static_cast<BYTE>(length & 0xFF));
        data.push_back(static_cast<BYTE>(length >> 8));
        for (char16_t c : text) {
            data.push_back(static_cast<BYTE>(c & 0xFF));
            data.push_back(static_cast<BYTE>(c >> 8));
        }
    }
    ResourceName type{true, 6, {}};
    ResourceName name{true, static_cast<WORD>(block), {}};
    add_resource(m, type, name, lang, std::move(data));
}

// The language of `langs` that a neutral look-up picks.
template <class Map> typename Map::const_iterator pick_language(const Map& langs) {
    auto it = langs.find(current_language);
    if (it == langs.end()) {
        it = langs.find(kUsEnglish);
    }
    if (it == langs.end()) {
        it = langs.begin();
    }
    return it;
}

} // namespace

ResourceName ResourceName::from(LPCSTR name) {
    ResourceName r;
    if (IS_INTRESOURCE(name)) {
        r.number = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
        return r;
    }
    // "#123" is the number 123.
    if (name[0] == '#' && name[1] != '\0') {
        char* end = nullptr;
        const unsigned long n = std::strtoul(name + 1, &end, 10);
        if (*end == '\0' && n <= 0xFFFF) {
            r.number = static_cast<WORD>(n);
            return r;
        }
    }
    r.is_number = false;
    r.text = name;
    std::transform(r.text.begin(), r.text.end(), r.text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return r;
}

LANGID user_language() {
    return current_language;
}

bool find_string(HINSTANCE module, UINT id, std::u16string& out) {
    Module* m = module_of(module);
    if (m == nullptr) {
        return false;
    }
    auto by_id = m->strings.find(id);
    if (by_id == m->strings.end() || by_id->second.empty()) {
        return false;
    }
    out = pick_language(by_id->second)->second;
    return true;
}

} // namespace platform

using platform::registry;
using platform::ResourceName;

void host::set_user_language(LANGID lang) {
    platform::current_language = lang;
}

bool host::add_bitmap_resource(HMODULE module, LPCSTR name, const void* bmp_file,
                               std::size_t size) {
    platform::Module* m = platform::module_of(module);
    if (m == nullptr || name == nullptr || bmp_file == nullptr) {
        return false;
    }
    platform::BmpImage image;
    if (!platform::read_bmp_file(static_cast<const BYTE*>(bmp_file), size, image)) {
        return false;
    }
    // Packed: the header and colour table, the pixels right after them.
    std::vector<BYTE> packed(image.header, image.header + image.info.bits_offset);
    packed.insert(packed.end(), image.bits, image.bits + image.bits_size);
    platform::add_resource(m, ResourceName{true, 2, {}}, ResourceName::from(name), LANG_NEUTRAL,
                           std::move(packed));
    return true;
}

bool host::add_bitmap_resource_from_file(HMODULE module, LPCSTR name, const char* path) {
    std::vector<unsigned char> bytes;
    if (path == nullptr || !platform::read_whole_file(path, bytes, platform::kMaxBmpFileSize)) {
        return false;
    }
    return add_bitmap_resource(module, name, bytes.data(), bytes.size());
}

bool host::add_string_resource(HMODULE module, UINT id, LANGID lang, const char* utf8) {
    platform::Module* m = platform::module_of(module);
    std::u16string text;
    if (m == nullptr || utf8 == nullptr || id > 0xFFFF || !platform::utf8_to_utf16(utf8, text) ||
        text.size() > 0xFFFF) {
        return false;
    }
    m->strings[id][lang] = std::move(text);
    platform::rebuild_string_block(m, id, lang);
    return true;
}

void host::clear_resources(HMODULE module) {
    platform::Module* m = platform::module_of(module);
    if (m == nullptr) {
        return;
    }
    for (auto& type : m->resources) {
        for (auto& name : type.second) {
            for (auto& lang : name.second) {
                registry().resources.remove(lang.second->handle);
            }
        }
    }
    m->resources.clear();
    m->strings.clear();
}

extern "C" HRSRC WINAPI FindResourceExA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName,
                                        WORD wLanguage) {
    return platform::no_throw<HRSRC>(nullptr, [&]() -> HRSRC {
        platform::Module* m = platform::module_of(hModule);
        if (m == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        if (lpType == nullptr || lpName == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        auto type = m->resources.find(ResourceName::from(lpType));
        if (type == m->resources.end()) {
            SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
            return nullptr;
        }
        auto name = type->second.find(ResourceName::from(lpName));
        if (name == type->second.end() || name->second.empty()) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return nullptr;
        }
        // A neutral request takes the user's language, US English or the first one there; a
        // specific language must be there.
        auto lang = PRIMARYLANGID(wLanguage) == LANG_NEUTRAL ? platform::pick_language(name->second)
                                                             : name->second.find(wLanguage);
        if (lang == name->second.end()) {
            SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
            return nullptr;
        }
        return reinterpret_cast<HRSRC>(lang->second->handle);
    });
}

extern "C" HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
    return FindResourceExA(hModule, lpType, lpName, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
}

// As on Windows, the "global handle" of a loaded resource is simply its data's address; it
// needs no freeing and LockResource hands it back.
extern "C" HGLOBAL WINAPI LoadResource(HMODULE, HRSRC hResInfo) {
    platform::ResourceRef* ref = registry().resources.get(hResInfo);
    if (ref == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return ref->resource->data.data();
}

extern "C" LPVOID WINAPI LockResource(HGLOBAL hResData) {
    return hResData;
}

extern "C" DWORD WINAPI SizeofResource(HMODULE, HRSRC hResInfo) {
    platform::ResourceRef* ref = registry().resources.get(hResInfo);
    if (ref == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return static_cast<DWORD>(ref->resource->data.size());
}

extern "C" LANGID WINAPI GetUserDefaultLangID(void) {
    return platform::current_language;
}
extern "C" LANGID WINAPI GetUserDefaultUILanguage(void) {
    return platform::current_language;
}
