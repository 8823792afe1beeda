// The modules the loader knows and the resources they carry, shared by the loader and the
// resource calls.
#pragma once

#include "common/handle_table.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// A resource type or name: a number (MAKEINTRESOURCE, or "#123") or an upper-cased string, as
// Windows compares names without regard to case.
struct ResourceName {
    bool is_number = true;
    WORD number = 0;
    std::string text;

    static ResourceName from(LPCSTR name);
    bool operator<(const ResourceName& o) const {
        if (is_number != o.is_number) {
            return is_number;
        }
        return is_number ? number < o.number : text < o.text;
    }
    bool operator==(const ResourceName& o) const {
        return is_number == o.is_number && (is_number ? number == o.number : text == o.text);
    }
};

struct Resource {
    std::vector<BYTE> data;
    std::uintptr_t handle = 0; // its HRSRC
};

// type -> name -> language -> resource. Languages are in ascending order, so "the first
// language present" is the lowest LANGID, as in a Windows resource directory.
using ResourceTree =
    std::map<ResourceName, std::map<ResourceName, std::map<LANGID, std::unique_ptr<Resource>>>>;

struct Module {
    std::string name; // file name as registered ("TALVO.dll"); "" for the program
    std::string path; // what GetModuleFileNameA reports
    DLLMAIN_PROC entry = nullptr;
    void* dl_handle = nullptr; // set when the loader dlopen()ed it
    int load_count = 0;
    std::uint64_t attach_order = 0; // for detaching in reverse order at exit
    ResourceTree resources;
    // Strings as given, by id and language; the RT_STRING blocks are built from them.
    std::map<UINT, std::map<LANGID, std::u16string>> strings;
};

// Where an HRSRC leads.
struct ResourceRef {
    Module* module;
    Resource* resource;
};

struct ModuleRegistry {
    HandleTable<Module> modules{kTagModule};
    HandleTable<ResourceRef> resources{kTagResource};
    std::uintptr_t program = 0;
    std::uint64_t next_attach = 1;
};

// Never destroyed: modules are detached from an exit handler, and resource handles may be used
// from other objects' destructors.
ModuleRegistry& registry();

// The program's own module, created on first use.
std::uintptr_t program_module();

// The module a handle names, NULL meaning the program.
Module* module_of(HMODULE module);

// The language list that a neutral look-up tries: the user's language, US English, then
// whatever comes first.
LANGID user_language();

} // namespace platform
