// Runtime-library functions of the Windows C runtime that glibc does not have.
#include <windows.h>

#include <cstring>

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

// Copies [begin, end) into out (if given), truncated to cap - 1 characters.
void copy_part(char* out, std::size_t cap, const char* begin, const char* end) {
    if (out == nullptr) {
        return;
    }
    std::size_t n = static_cast<std::size_t>(end - begin);
    if (n >= cap) {
        n = cap - 1;
    }
    std::memcpy(out, begin, n);
    out[n] = '\0';
}

} // namespace

extern "C" void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext) {
    if (path == nullptr) {
        path = "";
    }
    const char* p = path;
    if (p[0] != '\0' && p[1] == ':') {
        copy_part(drive, _MAX_DRIVE, p, p + 2);
        p += 2;
    } else {
        copy_part(drive, _MAX_DRIVE, p, p);
    }
    const char* last_sep = nullptr;
    const char* last_dot = nullptr;
    for (const char* q = p; *q != '\0'; ++q) {
        if (is_separator(*q)) {
            last_sep = q;
        } else if (*q == '.') {
            last_dot = q;
        }
    }
    const char* name = last_sep != nullptr ? last_sep + 1 : p;
    copy_part(dir, _MAX_DIR, p, name);
    const char* end = p + std::strlen(p);
    // A dot before the last separator belongs to a directory, not to an extension.
    const char* dot = (last_dot != nullptr && last_dot >= name) ? last_dot : end;
    copy_part(fname, _MAX_FNAME, name, dot);
    copy_part(ext, _MAX_EXT, dot, end);
}

extern "C" void _makepath(char* path, const char* drive, const char* dir, const char* fname,
                          const char* ext) {
    if (path == nullptr) {
        return;
    }
    std::size_t n = 0;
    char* out = path;
    auto put = [&](char c) {
        if (n + 1 < _MAX_PATH) {
            out[n++] = c;
        }
    };
    auto put_str = [&](const char* s) {
        for (; *s != '\0'; ++s) {
            put(*s);
        }
    };
    if (drive != nullptr && drive[0] != '\0') {
        put(drive[0]);
        put(':');
    }
    if (dir != nullptr && dir[0] != '\0') {
        put_str(dir);
        if (!is_separator(dir[std::strlen(dir) - 1])) {
            put('\\');
        }
    }
    if (fname != nullptr) {
        put_str(fname);
    }
    if (ext != nullptr && ext[0] != '\0') {
        if (ext[0] != '.') {
            put('.');
        }
        put_str(ext);
    }
    out[n] = '\0';
}

extern "C" int _mbscmp(const unsigned char* s1, const unsigned char* s2) {
    for (;; ++s1, ++s2) {
        if (*s1 != *s2) {
            return *s1 < *s2 ? -1 : 1;
        }
        if (*s1 == '\0') {
            return 0;
        }
    }
}
