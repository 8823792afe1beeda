// Handle-based file access on top of POSIX descriptors: CreateFileA, ReadFile, WriteFile,
// SetFilePointer, GetFileSize, SetEndOfFile, CloseHandle, DeleteFileA and the current directory.
//
// File handles share one table with the old HFILE family (OpenFile, _lopen, ...), and an HFILE
// is an int: every handle value therefore fits in 31 bits (see FileTable).
//
// Sharing follows Win32: a second open of the same file must be allowed by the share mode of
// every open that is already there and must itself allow theirs; DeleteFileA fails on a file
// that is open without FILE_SHARE_DELETE. That is what a program that runs on Windows relies on.
#include "internal/faults.h"
#include "internal/kernel_internal.h"
#include "kernel/file_table.h"

#include <platform/host.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr DWORD kFileReadData = 0x0001;
constexpr DWORD kFileWriteData = 0x0002;
constexpr DWORD kFileAppendData = 0x0004;
constexpr DWORD kGenericAll = 0x10000000;

bool wants_read(DWORD access) {
    return (access & (GENERIC_READ | kGenericAll | kFileReadData)) != 0;
}
bool wants_write(DWORD access) {
    return (access & (GENERIC_WRITE | kGenericAll | kFileWriteData | kFileAppendData)) != 0;
}

FileTable& files() {
    // Never destroyed: handles may still be closed from other objects' destructors at exit.
    static FileTable* table = new FileTable(kTagFile);
    return *table;
}

std::string parent_of(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// `path` without the separators at its end ("a/b/" is "a/b"; "/" stays as it is).
std::string without_trailing_separators(const std::string& path) {
    const std::size_t end = path.find_last_not_of('/');
    return end == std::string::npos ? path : path.substr(0, end + 1);
}

bool names_non_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// The Win32 error for a failed POSIX call on `path`. A name that ends with a separator but is
// not a directory (a file's name, or a new name to create) is an invalid name there.
DWORD error_from_errno(int err, const std::string& path) {
    const std::string bare = without_trailing_separators(path);
    const bool trailing = bare.size() != path.size();
    switch (err) {
    case ENOENT:
        // Win32 tells a missing file from a missing directory on the way to it.
        return is_directory(parent_of(bare)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
        return trailing && names_non_directory(bare) ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND;
    case EISDIR:
        return trailing ? ERROR_INVALID_NAME : ERROR_ACCESS_DENIED;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// Whether a directory call failed with `err` because `path` itself, written without a separator
// at its end, names something that is not a directory.
bool names_non_directory_itself(int err, const std::string& path) {
    return err == ENOTDIR && !path.empty() && path.back() != '/' && names_non_directory(path);
}

// Whether an open with (access, share) may join the opens of the same file already there.
bool sharing_allows(dev_t dev, ino_t ino, DWORD access, DWORD share) {
    bool ok = true;
    files().for_each([&](std::uintptr_t, FileObject& f) {
        if (f.dev != dev || f.ino != ino) {
            return;
        }
        if ((wants_read(access) && !(f.share & FILE_SHARE_READ)) ||
            (wants_write(access) && !(f.share & FILE_SHARE_WRITE)) ||
            (wants_read(f.access) && !(share & FILE_SHARE_READ)) ||
            (wants_write(f.access) && !(share & FILE_SHARE_WRITE))) {
            ok = false;
        }
    });
    return ok;
}

FileObject* file_of(HANDLE handle) {
    FileObject* f = files().get(handle);
    if (f == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return f;
}

// ReadFile (kRead) and WriteFile: the count of bytes moved is cleared first; then the handle, the
// access it was opened with and the buffer are checked, and the bytes move until all have gone.
// An interrupted call is repeated; a failure sets the last error and reports the bytes moved so
// far. Only reading stops early, at the end of the file (success with fewer bytes). A buffer
// that is not there (null, or memory the system cannot reach) has an error of its own, which
// differs between the two directions.
template <bool kRead>
BOOL transfer(HANDLE hFile, std::conditional_t<kRead, void*, const void*> buffer, DWORD count,
              LPDWORD moved) {
    if (moved != nullptr) {
        *moved = 0;
    }
    FileObject* f = file_of(hFile);
    if (f == nullptr) {
        return FALSE;
    }
    if (!(kRead ? wants_read(f->access) : wants_write(f->access))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    constexpr DWORD kBadBuffer = kRead ? ERROR_NOACCESS : ERROR_INVALID_USER_BUFFER;
    if (buffer == nullptr && count != 0) {
        SetLastError(kBadBuffer);
        return FALSE;
    }
    DWORD total = 0;
    while (total < count) {
        ssize_t n;
        if constexpr (kRead) {
            n = ::read(f->fd, static_cast<unsigned char*>(buffer) + total, count - total);
        } else {
            n = ::write(f->fd, static_cast<const unsigned char*>(buffer) + total, count - total);
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            SetLastError(errno == EFAULT   ? kBadBuffer
                         : kRead           ? ERROR_READ_FAULT
                         : errno == ENOSPC ? ERROR_DISK_FULL
                                           : ERROR_WRITE_FAULT);
            if (moved != nullptr) {
                *moved = total;
            }
            return FALSE;
        }
        if (kRead && n == 0) {
            break;
        }
        total += static_cast<DWORD>(n);
    }
    if (moved != nullptr) {
        *moved = total;
    }
    return TRUE;
}

} // namespace

std::string host_path(const char* win32_path) {
    std::string path = win32_path != nullptr ? win32_path : "";
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return path;
}

bool read_whole_file(const char* win32_path, std::vector<unsigned char>& out,
                     std::size_t max_size) {
    HANDLE h = CreateFileA(win32_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD high = 0;
    DWORD low = GetFileSize(h, &high);
    std::size_t size = (static_cast<std::size_t>(high) << 32) | low;
    if (high != 0 || size > max_size) {
        CloseHandle(h);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    try {
        out.resize(size);
    } catch (const std::bad_alloc&) {
        CloseHandle(h);
        throw;
    }
    DWORD got = 0;
    bool ok = ReadFile(h, out.data(), static_cast<DWORD>(size), &got, nullptr) && got == size;
    CloseHandle(h);
    if (!ok) {
        out.clear();
    }
    return ok;
}

} // namespace platform

using platform::file_of;
using platform::files;

extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD,
                                     HANDLE) {
    return platform::no_throw<HANDLE>(INVALID_HANDLE_VALUE, [&]() -> HANDLE {
        if (lpFileName == nullptr) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        const std::string path = platform::host_path(lpFileName);
        if (path.empty()) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        const bool read = platform::wants_read(dwDesiredAccess);
        const bool write = platform::wants_write(dwDesiredAccess);
        int flags = O_CLOEXEC | (write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY);
        switch (dwCreationDisposition) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case OPEN_EXISTING:
            break;
        case TRUNCATE_EXISTING:
            if (!write) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return INVALID_HANDLE_VALUE;
            }
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }

        struct stat before;
        const bool existed = ::stat(path.c_str(), &before) == 0;
        if (existed) {
            if (S_ISDIR(before.st_mode)) {
                SetLastError(ERROR_ACCESS_DENIED);
                return INVALID_HANDLE_VALUE;
            }
            if (dwCreationDisposition == CREATE_NEW) {
                SetLastError(ERROR_FILE_EXISTS);
                return INVALID_HANDLE_VALUE;
            }
            // Check sharing before truncating anything another open holds.
            if (!platform::sharing_allows(before.st_dev, before.st_ino, dwDesiredAccess,
                                          dwShareMode)) {
                SetLastError(ERROR_SHARING_VIOLATION);
                return INVALID_HANDLE_VALUE;
            }
        }

        // A file that is missing and would not be created fails on its own below; anything else
        // is an open that may be made to fail.
        const bool creates = (flags & O_CREAT) != 0;
        if ((existed || creates) &&
            platform::creation_fails(host::file_open, ERROR_TOO_MANY_OPEN_FILES)) {
            return INVALID_HANDLE_VALUE;
        }
        // Everything the open needs in memory is taken before it: past it nothing can fail for
        // want of memory, with a file made or truncated.
        auto object = std::make_unique<platform::FileObject>();
        files().reserve_one();
        int fd = ::open(path.c_str(), flags, 0666);
        if (fd < 0) {
            SetLastError(platform::error_from_errno(errno, path));
            return INVALID_HANDLE_VALUE;
        }
        struct stat st;
        if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
            ::close(fd);
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        if (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING) {
            if (::ftruncate(fd, 0) != 0) {
                int err = errno;
                ::close(fd);
                SetLastError(platform::error_from_errno(err, path));
                return INVALID_HANDLE_VALUE;
            }
        }

        object->fd = fd;
        object->access = dwDesiredAccess;
        object->share = dwShareMode;
        object->dev = st.st_dev;
        object->ino = st.st_ino;
        HANDLE handle = reinterpret_cast<HANDLE>(files().insert(std::move(object)));
        if (handle == nullptr) {
            ::close(fd);
            SetLastError(ERROR_TOO_MANY_OPEN_FILES);
            return INVALID_HANDLE_VALUE;
        }
        // Win32 reports through the last error whether an "always" disposition found the file.
        const bool reports_existing =
            dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;
        SetLastError(existed && reports_existing ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return handle;
    });
}

extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                LPDWORD lpNumberOfBytesRead, LPOVERLAPPED) {
    return platform::transfer<true>(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead);
}

extern "C" BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
    return platform::transfer<false>(hFile, lpBuffer, nNumberOfBytesToWrite,
                                     lpNumberOfBytesWritten);
}

extern "C" DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove,
                                       LONG* lpDistanceToMoveHigh, DWORD dwMoveMethod) {
    platform::FileObject* f = file_of(hFile);
    if (f == nullptr) {
        return INVALID_SET_FILE_POINTER;
    }
    // Without a high part the distance is a signed 32-bit value; with one, the two halves
    // make a signed 64-bit distance.
    long long distance = lDistanceToMove;
    if (lpDistanceToMoveHigh != nullptr) {
        distance = static_cast<long long>(
            (static_cast<unsigned long long>(static_cast<DWORD>(*lpDistanceToMoveHigh)) << 32) |
            static_cast<DWORD>(lDistanceToMove));
    }
    long long base;
    switch (dwMoveMethod) {
    case FILE_BEGIN:
        base = 0;
        break;
    case FILE_CURRENT:
        base = ::lseek(f->fd, 0, SEEK_CUR);
        break;
    case FILE_END: {
        struct stat st;
        base = ::fstat(f->fd, &st) == 0 ? st.st_size : -1;
        break;
    }
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (base < 0) {
        SetLastError(ERROR_GEN_FAILURE);
        return INVALID_SET_FILE_POINTER;
    }
    if ((distance < 0 && base + distance < 0)) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (distance > 0 && base > LLONG_MAX - distance) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    long long target = base + distance;
    if (lpDistanceToMoveHigh == nullptr && target > 0xFFFFFFFFLL) {
        // The caller could not see the position's high part.
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (::lseek(f->fd, static_cast<off_t>(target), SEEK_SET) < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh != nullptr) {
        *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<unsigned long long>(target) >> 32);
    }
    const DWORD low = static_cast<DWORD>(target & 0xFFFFFFFF);
    if (low == INVALID_SET_FILE_POINTER) {
        // The only way a caller can tell this position from a failure.
        SetLastError(ERROR_SUCCESS);
    }
    return low;
}

extern "C" DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    platform::FileObject* f = file_of(hFile);
    struct stat st;
    if (f == nullptr || ::fstat(f->fd, &st) != 0) {
        if (f != nullptr) {
            SetLastError(ERROR_GEN_FAILURE);
        }
        return INVALID_FILE_SIZE;
    }
    const auto size = static_cast<unsigned long long>(st.st_size);
    if (lpFileSizeHigh != nullptr) {
        *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    }
    const DWORD low = static_cast<DWORD>(size & 0xFFFFFFFF);
    if (low == INVALID_FILE_SIZE) {
        SetLastError(ERROR_SUCCESS);
    }
    return low;
}

extern "C" BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    platform::FileObject* f = file_of(hFile);
    if (f == nullptr) {
        return FALSE;
    }
    if (!platform::wants_write(f->access)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    off_t pos = ::lseek(f->fd, 0, SEEK_CUR);
    if (pos < 0 || ::ftruncate(f->fd, pos) != 0) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject) {
    std::unique_ptr<platform::FileObject> f = files().remove(hObject);
    if (!f) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ::close(f->fd);
    return TRUE;
}

extern "C" BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        const std::string path = platform::host_path(lpFileName);
        struct stat st;
        if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
            SetLastError(path.empty() ? ERROR_PATH_NOT_FOUND
                                      : platform::error_from_errno(errno, path));
            return FALSE;
        }
        if (S_ISDIR(st.st_mode)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        bool in_use = false;
        files().for_each([&](std::uintptr_t, platform::FileObject& f) {
            if (f.dev == st.st_dev && f.ino == st.st_ino && !(f.share & FILE_SHARE_DELETE)) {
                in_use = true;
            }
        });
        if (in_use) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return FALSE;
        }
        if (::unlink(path.c_str()) != 0) {
            SetLastError(platform::error_from_errno(errno, path));
            return FALSE;
        }
        return TRUE;
    });
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        const std::string path = platform::host_path(lpPathName);
        if (path.empty()) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return FALSE;
        }
        if (::mkdir(path.c_str(), 0777) != 0) {
            SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS
                                         : platform::error_from_errno(errno, path));
            return FALSE;
        }
        return TRUE;
    });
}

extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        const std::string path = platform::host_path(lpPathName);
        if (path.empty() || ::rmdir(path.c_str()) != 0) {
            const int err = errno;
            SetLastError(path.empty()                                      ? ERROR_PATH_NOT_FOUND
                         : platform::names_non_directory_itself(err, path) ? ERROR_DIRECTORY
                         : err == ENOTEMPTY                                ? ERROR_DIR_NOT_EMPTY
                                            : platform::error_from_errno(err, path));
            return FALSE;
        }
        return TRUE;
    });
}

extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    return platform::no_throw<DWORD>(0, [&]() -> DWORD {
        std::string cwd;
        std::vector<char> buf(PATH_MAX);
        if (::getcwd(buf.data(), buf.size()) == nullptr) {
            SetLastError(ERROR_GEN_FAILURE);
            return 0;
        }
        cwd = buf.data();
        const auto length = static_cast<DWORD>(cwd.size());
        // Too small a buffer: the size it needs, terminator included, and nothing written.
        if (lpBuffer == nullptr || nBufferLength <= length) {
            return length + 1;
        }
        std::memcpy(lpBuffer, cwd.c_str(), cwd.size() + 1);
        return length;
    });
}

// The first of TMP, TEMP and TMPDIR that is set, else /tmp; a relative one is taken from the
// current directory, and the result ends with a separator. As on Windows, the directory is not
// checked for existence.
extern "C" DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    return platform::no_throw<DWORD>(0, [&]() -> DWORD {
        std::string path = "/tmp";
        for (const char* name : {"TMP", "TEMP", "TMPDIR"}) {
            const char* value = std::getenv(name);
            if (value != nullptr && *value != '\0') {
                path = value;
                break;
            }
        }
        if (path[0] != '/' && path[0] != '\\') {
            char cwd[PATH_MAX];
            if (::getcwd(cwd, sizeof cwd) == nullptr) {
                SetLastError(ERROR_GEN_FAILURE);
                return 0;
            }
            path = std::string(cwd) + "/" + path;
        }
        if (path.back() != '/' && path.back() != '\\') {
            path += '/';
        }
        const auto length = static_cast<DWORD>(path.size());
        // Too small a buffer: the size it needs, terminator included, and nothing written.
        if (lpBuffer == nullptr || nBufferLength <= length) {
            return length + 1;
        }
        std::memcpy(lpBuffer, path.c_str(), path.size() + 1);
        return length;
    });
}

extern "C" BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
    return platform::no_throw<BOOL>(FALSE, [&]() -> BOOL {
        const std::string path = platform::host_path(lpPathName);
        if (path.empty()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (::chdir(path.c_str()) != 0) {
            const int err = errno;
            SetLastError(platform::names_non_directory_itself(err, path)
                             ? ERROR_DIRECTORY
                             : platform::error_from_errno(err, path));
            return FALSE;
        }
        return TRUE;
    });
}

int host::live_files() {
    return static_cast<int>(platform::files().live());
}
