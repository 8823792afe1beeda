// The host API: what an operating system would set up for a program and what tests need to
// drive. It is not Win32; nothing in the library calls it except its own module registration.
//
//  - display:   the mode of the simulated screen (size, depth, work area) and its framebuffer
//  - objects:   live GDI object counts, for leak tests
//  - clock:     a manual millisecond clock behind GetTickCount and the timers
//  - dialogs:   where MessageBoxA goes
//  - language:  the user's language for string resources
//  - modules:   module registration (entry points, resources) for LoadLibraryA and friends
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace host {

// ---- Display ---------------------------------------------------------------------------------

struct DisplayMode {
    int width = 1024;
    int height = 768;
    int bits_per_pixel = 32; // 4, 8, 16, 24 or 32
    // Work area (SPI_GETWORKAREA). An empty rectangle means the whole screen.
    RECT work_area = {0, 0, 0, 0};
};

// Sets the mode of the screen. The framebuffer is recreated (black) and, at 8 and 4 bits, the
// system palette is reset to its static colours. Returns false for an unsupported mode (size
// not positive or above 16384, depth not one of the five). Objects created for the previous
// mode stay valid; screen contexts obtained earlier draw into the new framebuffer.
bool set_display_mode(const DisplayMode& mode);
DisplayMode display_mode();
// Restores the default mode: 1024 x 768 at 32 bits, the whole screen as work area.
void reset_display();

// Raw access to the screen framebuffer, for tests: rows top-down, each `stride` bytes, in the
// display's device format (16 bpp is 5-6-5; 8 and 4 bpp hold system palette indices).
struct Framebuffer {
    BYTE* bits;
    int width;
    int height;
    int bits_per_pixel;
    int stride;
};
Framebuffer screen_framebuffer();

// ---- Live objects ------------------------------------------------------------------------------

// Number of live GDI objects of a type (OBJ_BITMAP, OBJ_BRUSH, OBJ_PAL, OBJ_DC, OBJ_MEMDC, ...);
// stock objects are not counted. Also live windows, timers, global/local memory blocks and
// open files, so that a test can assert an operation leaks nothing.
int live_gdi_objects(DWORD obj_type);
int live_gdi_objects_total();
int live_global_blocks();
int live_local_blocks();
int live_files();
int live_windows();
int live_timers();

// ---- Clock -----------------------------------------------------------------------------------

// GetTickCount reads a manual clock that moves only when told to (it starts at 0). Timers whose
// time has come post WM_TIMER when the message loop next looks; advancing by a long step makes
// each due timer fire once, as Windows coalesces WM_TIMER.
void set_tick_count(DWORD ms);
void advance_clock(DWORD ms);
// While GetTickCount is being read in a busy loop (a blocking animation), a test may want the
// clock to move by itself: each call to GetTickCount then advances it by `step` ms first (0 off).
void set_auto_advance(DWORD step);

// ---- Message boxes
// -------------------------------------------------------------------------------

// Receives every MessageBoxA call and returns its answer. Without a handler the text goes to
// standard error and the answer is IDOK.
using MessageBoxHandler =
    std::function<int(HWND owner, const char* text, const char* caption, UINT type)>;
void set_message_box_handler(MessageBoxHandler handler);

// ---- Language
// ------------------------------------------------------------------------------------

// The user's language (GetUserDefaultLangID, GetUserDefaultUILanguage), 1033 unless set.
// LoadStringA and neutral resource look-ups take a resource in this language, else in US
// English (1033), else in the first (lowest) language the resource has.
void set_user_language(LANGID lang);

// ---- Modules and resources
// -----------------------------------------------------------------------

// A module known to the loader. The program itself is the module GetModuleHandleA(NULL) gives.
//
// A shared library registers itself from a static initializer with its file name ("TALVO.dll")
// and entry point. Registered while the program starts (the program is linked against it), the
// module is attached at once, as Windows attaches implicitly linked DLLs: its entry is called
// with DLL_PROCESS_ATTACH and its load count is 1. Registered from inside LoadLibraryA (which
// dlopen()s "name" as given, then lib<name>.so in lower case without ".dll" from the program's
// directory), LoadLibraryA attaches it. Names match without regard to case, with or without
// ".dll".
//
// The entry is called with DLL_PROCESS_ATTACH when the load count goes from 0 to 1, and with
// DLL_PROCESS_DETACH when FreeLibrary takes it back to 0. A failed attach (the entry returns
// FALSE) is followed by a detach and leaves the module unloaded; LoadLibraryA then returns NULL.
// A host may free a module, change the display mode and load it again: it attaches anew. The
// shared object itself stays mapped. At exit, modules still loaded are detached in reverse order
// of attachment (with a non-NULL reserved pointer), before the destructors of the statics they
// built while attaching.
//
// Registering a name again (its library loaded anew) keeps the module's handle and resources and
// takes the new entry point. unregister_module detaches a loaded module and forgets it.
HMODULE register_module(const char* name, DLLMAIN_PROC entry);
void unregister_module(HMODULE module);

// Resources of a module (NULL: the program). Names are numbers (MAKEINTRESOURCE, or "#123") or
// strings (compared without regard to case). Bitmaps are given as the bytes of a BMP file (the
// 14-byte file header included) and stored without it, as Windows stores them; a file that the
// BMP reader refuses is not added (false). Adding a name again replaces it. Strings are UTF-8
// (false when not valid) and are converted to the ANSI code page the program sees when loaded
// (this platform's ANSI code page is UTF-8); they are also found as RT_STRING blocks
// (block id / 16 + 1) through FindResourceA, as on Windows.
bool add_bitmap_resource(HMODULE module, LPCSTR name, const void* bmp_file, std::size_t size);
bool add_bitmap_resource_from_file(HMODULE module, LPCSTR name, const char* path);
bool add_string_resource(HMODULE module, UINT id, LANGID lang, const char* utf8);
void clear_resources(HMODULE module);

} // namespace host
