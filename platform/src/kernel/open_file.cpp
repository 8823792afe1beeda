// The old HFILE family: OpenFile with its search for bare names, _lcreat, _lopen, _lread,
// _lwrite, _llseek and _lclose. An HFILE is the value of the file's HANDLE, so handles from
// either family work with the other's calls.
#include "internal/faults.h"
#include "internal/kernel_internal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

HANDLE to_handle(HFILE file) {
    return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(file));
}

HFILE to_hfile(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? HFILE_ERROR
                                          : static_cast<HFILE>(reinterpret_cast<INT_PTR>(handle));
}

DWORD share_of(UINT style) {
    switch (style & 0x70) {
    case OF_SHARE_EXCLUSIVE:
        return 0;
    case OF_SHARE_DENY_WRITE:
        return FILE_SHARE_READ;
    case OF_SHARE_DENY_READ:
        return FILE_SHARE_WRITE;
    default: // compatibility mode and deny-none share both ways
        return FILE_SHARE_READ | FILE_SHARE_WRITE;
    }
}

DWORD access_of(UINT style) {
    switch (style & 0x3) {
    case OF_WRITE:
        return GENERIC_WRITE;
    case OF_READWRITE:
        return GENERIC_READ | GENERIC_WRITE;
    default:
        return GENERIC_READ;
    }
}

bool is_regular_file(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string current_directory() {
    char buf[4096];
    return ::getcwd(buf, sizeof buf) != nullptr ? std::string(buf) : std::string(".");
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') {
        return path;
    }
    return current_directory() + "/" + path;
}

// A name with no directory part is searched for: in the program's directory, then the current
// directory, then each directory on PATH. Any other name is taken as it stands. Returns the
// absolute path found, or the path in the current directory when there is none.
std::string search_file(const std::string& name, bool& found) {
    found = false;
    if (name.find_first_of("/:") != std::string::npos) {
        found = is_regular_file(name);
        return absolute(name);
    }
    std::string candidate = platform::program_directory() + "/" + name;
    if (!platform::program_directory().empty() && is_regular_file(candidate)) {
        found = true;
        return candidate;
    }
    const std::string in_cwd = absolute(name);
    if (is_regular_file(in_cwd)) {
        found = true;
        return in_cwd;
    }
    if (const char* path_env = std::getenv("PATH")) {
        std::string dirs = path_env;
        std::size_t start = 0;
        while (start <= dirs.size()) {
            std::size_t end = dirs.find(':', start);
            if (end == std::string::npos) {
                end = dirs.size();
            }
            if (end > start) {
                candidate = dirs.substr(start, end - start) + "/" + name;
                if (is_regular_file(candidate)) {
                    found = true;
                    return absolute(candidate);
                }
            }
            start = end + 1;
        }
    }
    return in_cwd;
}

// OFSTRUCT holds 127 characters of path; a longer path is cut there, which only matters to a
// later OF_REOPEN.
void fill_ofstruct(LPOFSTRUCT ofs, const std::string& path, DWORD error) {
    ofs->cBytes = static_cast<BYTE>(sizeof(OFSTRUCT));
    ofs->fFixedDisk = 1;
    ofs->nErrCode = static_cast<WORD>(error);
    const std::size_t n = std::min(path.size(), sizeof ofs->szPathName - 1);
    std::memcpy(ofs->szPathName, path.data(), n);
    ofs->szPathName[n] = '\0';
}

} // namespace

extern "C" HFILE WINAPI OpenFile(LPCSTR lpFileName, LPOFSTRUCT lpReOpenBuff, UINT uStyle) {
    return platform::no_throw<HFILE>(HFILE_ERROR, [&]() -> HFILE {
        if (lpReOpenBuff == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return HFILE_ERROR;
        }
        std::string name;
        if (uStyle & OF_REOPEN) {
            // The struct may be uninitialised garbage from the caller's point of view: never read
            // past its buffer.
            name.assign(lpReOpenBuff->szPathName,
                        strnlen(lpReOpenBuff->szPathName, sizeof lpReOpenBuff->szPathName));
        } else {
            if (lpFileName == nullptr) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return HFILE_ERROR;
            }
            name = platform::host_path(lpFileName);
        }
        if (name.empty()) {
            fill_ofstruct(lpReOpenBuff, name, ERROR_PATH_NOT_FOUND);
            SetLastError(ERROR_PATH_NOT_FOUND);
            return HFILE_ERROR;
        }

        if (uStyle & OF_PARSE) {
            fill_ofstruct(lpReOpenBuff, absolute(name), ERROR_SUCCESS);
            return 0;
        }
        if (uStyle & OF_CREATE) {
            // Created where the name says (relative names in the current directory), never
            // searched.
            const std::string path = absolute(name);
            HANDLE h = CreateFileA(path.c_str(), access_of(uStyle), share_of(uStyle), nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD error = h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
            fill_ofstruct(lpReOpenBuff, path, error);
            if (h == INVALID_HANDLE_VALUE) {
                return HFILE_ERROR;
            }
            SetLastError(ERROR_SUCCESS);
            return to_hfile(h);
        }

        bool found = false;
        const std::string path = search_file(name, found);
        if (!found) {
            fill_ofstruct(lpReOpenBuff, path, ERROR_FILE_NOT_FOUND);
            SetLastError(ERROR_FILE_NOT_FOUND);
            return HFILE_ERROR;
        }
        if (uStyle & OF_DELETE) {
            BOOL ok = DeleteFileA(path.c_str());
            fill_ofstruct(lpReOpenBuff, path, ok ? ERROR_SUCCESS : GetLastError());
            return ok ? 1 : HFILE_ERROR;
        }
        HANDLE h = CreateFileA(path.c_str(), access_of(uStyle), share_of(uStyle), nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            fill_ofstruct(lpReOpenBuff, path, GetLastError());
            return HFILE_ERROR;
        }
        fill_ofstruct(lpReOpenBuff, path, ERROR_SUCCESS);
        if (uStyle & OF_EXIST) {
            // Opened to prove it can be, then closed: the result is only a success flag.
            CloseHandle(h);
            return 1;
        }
        return to_hfile(h);
    });
}

extern "C" HFILE WINAPI _lcreat(LPCSTR lpPathName, int) {
    return platform::no_throw<HFILE>(HFILE_ERROR, [&]() -> HFILE {
        // The attribute (read-only, hidden, system) has no meaning on this host and is ignored.
        return to_hfile(CreateFileA(lpPathName, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    });
}

extern "C" HFILE WINAPI _lopen(LPCSTR lpPathName, int iReadWrite) {
    return platform::no_throw<HFILE>(HFILE_ERROR, [&]() -> HFILE {
        const UINT style = static_cast<UINT>(iReadWrite);
        return to_hfile(CreateFileA(lpPathName, access_of(style), share_of(style), nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    });
}

extern "C" UINT WINAPI _lread(HFILE hFile, LPVOID lpBuffer, UINT uBytes) {
    DWORD done = 0;
    if (!ReadFile(to_handle(hFile), lpBuffer, uBytes, &done, nullptr)) {
        return static_cast<UINT>(HFILE_ERROR);
    }
    return done;
}

extern "C" UINT WINAPI _lwrite(HFILE hFile, LPCSTR lpBuffer, UINT uBytes) {
    // Writing nothing cuts the file at the current position, as it always has.
    if (uBytes == 0) {
        return SetEndOfFile(to_handle(hFile)) ? 0 : static_cast<UINT>(HFILE_ERROR);
    }
    DWORD done = 0;
    if (!WriteFile(to_handle(hFile), lpBuffer, uBytes, &done, nullptr)) {
        return static_cast<UINT>(HFILE_ERROR);
    }
    return done;
}

extern "C" LONG WINAPI _llseek(HFILE hFile, LONG lOffset, int iOrigin) {
    DWORD pos = SetFilePointer(to_handle(hFile), lOffset, nullptr, static_cast<DWORD>(iOrigin));
    if (pos == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
        return HFILE_ERROR;
    }
    return static_cast<LONG>(pos);
}

extern "C" HFILE WINAPI _lclose(HFILE hFile) {
    return CloseHandle(to_handle(hFile)) ? 0 : HFILE_ERROR;
}
