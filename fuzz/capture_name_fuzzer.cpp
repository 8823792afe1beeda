// CaptureWindowToFile's file-name handling on any name: on an 8-bit palette display the name is
// split, given the extension "bmp" and joined again before the file is written. Names of any
// length and shape (drive letters, backslashes, dots, no extension) must never overrun the
// path buffers; a name that cannot be written gives "write error" and result 1. The names are
// kept inside a private directory: a slash in the input becomes an underscore.
#include <Image.h>

#include <afxwin.h>
#include <platform/host.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <dirent.h>
#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    HMODULE library = GetModuleHandleA("TALVO.dll");
    FreeLibrary(library);
    host::DisplayMode mode;
    mode.width = 64;
    mode.height = 48;
    mode.bits_per_pixel = 8;
    host::set_display_mode(mode);
    if (LoadLibraryA("TALVO.dll") == nullptr) {
        std::abort();
    }
    host::set_message_box_handler([](HWND, const char*, const char*, UINT) { return IDOK; });
    char dir[] = "/tmp/capture_name_fuzz_XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string name(reinterpret_cast<const char*>(data), size);
    for (char& c : name) {
        if (c == '/' || c == '\0') {
            c = '_';
        }
    }
    const int files = host::live_files();
    RECT rect = {0, 0, 8, 4};
    if (CImage::CaptureWindowToFile(nullptr, &rect, name.data()) != 1 ||
        host::live_files() != files) {
        std::abort();
    }
    // Clear the directory for the next name (nothing but plain files is ever made there).
    if (DIR* dir = opendir(".")) {
        while (const dirent* entry = readdir(dir)) {
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") {
                unlink(entry->d_name);
            }
        }
        closedir(dir);
    }
    return 0;
}
