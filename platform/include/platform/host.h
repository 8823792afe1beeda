// The host API: what an operating system would set up for a program and what tests need to
// drive. It is not Win32; nothing in the library calls it except its own module registration.
//
//  - display:   the mode of the simulated screen (size, depth, work area) and its framebuffer
//  - objects:   live GDI object counts, for leak tests
//  - faults:    making the n-th creation of an object fail, and counting creations
//  - clock:     a manual millisecond clock behind GetTickCount and the timers
//  - live:      real time, a presenter and mouse input, to show the screen in a real window
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
// stock objects are not counted. Also live windows, timers, global/local memory blocks, open
// files and image lists, so that a test can assert an operation leaks nothing.
int live_gdi_objects(DWORD obj_type);
int live_gdi_objects_total();
int live_global_blocks();
int live_local_blocks();
int live_files();
int live_image_lists();
int live_windows();
int live_timers();

// ---- Fault injection -----------------------------------------------------------------------

// Kinds of creation a test can make fail, as bit flags:
//  - gdi_object:     bitmaps (CreateBitmap, CreateCompatibleBitmap, CreateDIBSection,
//                    CreateDIBitmap, LoadImageA, LoadBitmapA), brushes, palettes
//  - device_context: CreateCompatibleDC, CreateDCA, GetDC, GetWindowDC
//  - image_list:     ImageList_Create
//  - memory:         GlobalAlloc, LocalAlloc, GlobalReAlloc, LocalReAlloc (not GMEM_MODIFY)
//  - file_open:      CreateFileA, and what opens through it (OpenFile, _lopen, _lcreat, CFile,
//                    LoadImageA from a file); an open of a missing file that would not create
//                    it is not counted
// A creation is counted where the object would be made, after the call's own checks of its
// arguments: a call refused for bad input, or one that hands out a stock object, makes nothing.
// Calls that build on others count what those make: an image list counts its own bitmaps and
// the scratch contexts it works through, LoadImageA its file and the screen DC it converts
// through. Only the platform's creations count.
//  - heap:           the platform's own C++ heap allocations (its buffers, tables, strings), made
//                    inside a Win32 or MFC call; counted only while the heap is watched
//                    (watch_heap below). A failed one fails the call that made it with its
//                    failure result and ERROR_NOT_ENOUGH_MEMORY.
enum FaultKind : unsigned {
    gdi_object = 1u << 0,
    device_context = 1u << 1,
    image_list = 1u << 2,
    memory = 1u << 3,
    file_open = 1u << 4,
    heap = 1u << 5,
    all = (1u << 6) - 1,
};

// Arms a fault: the n-th creation of one of `kinds` from now fails the way Win32 fails for
// want of resources (NULL, 0, INVALID_HANDLE_VALUE or HFILE_ERROR, with GetLastError
// ERROR_NOT_ENOUGH_MEMORY, or ERROR_TOO_MANY_OPEN_FILES for a file). Only that one fails:
// the fault is then spent and later creations succeed. n = 0 disarms, as does clear_faults.
// What a failed call releases and leaves behind is what it would on Windows: nothing made, a
// reallocated block left as it was, an image list call that made part of its work undone.
void fail_creation(unsigned n, unsigned kinds = all);
void clear_faults();
// True while an armed fault has not yet fallen on a creation.
bool fault_pending();

// Creations of `kinds` since the last reset (or the start), the ones made to fail included:
// running an operation once between reset_creation_count and creations_counted tells a test
// how many creations it can make fail one by one.
unsigned creations_counted(unsigned kinds = all);
void reset_creation_count();

// The heap watch, off until turned on. While on, the platform counts its own heap allocations
// as `heap` creations: the pixel buffers of bitmaps, and what it allocates through operator new,
// which it cannot see by itself. So a program that watches the heap also replaces the global
// operator new (every form) with one that asks heap_allocation() first: `fail` means throw
// std::bad_alloc (the armed fault fell on it), `platform` that the allocation is made inside a
// platform call (counted), `outside` that it is the program's own (or the watch is off).
// heap_allocation never allocates.
enum class HeapAnswer { outside, platform, fail };
void watch_heap(bool on);
HeapAnswer heap_allocation();

// ---- Blit loops ------------------------------------------------------------------------------

// The row loops behind the fast blits (straight copies and the AND / OR / XOR / AND-NOT steps,
// colour-to-monochrome masks, monochrome-to-colour expansion) come in sets for the processor's
// vector instructions: "portable", "sse2", "avx2", "avx512". The fastest one the processor runs
// is used. For tests, which run every set and compare:
//  - blit_kernel_sets: the names of the sets this processor runs, "portable" first;
//  - use_blit_kernels: forces one of them (an empty name restores the automatic choice);
//    false, nothing changed, for a name not in that list;
//  - blit_kernels_in_use: the name of the set in use;
//  - set_blit_fast_paths(false): every blit goes through the general pixel-by-pixel engine
//    (on by default), which the fast paths must equal byte for byte.
std::vector<std::string> blit_kernel_sets();
bool use_blit_kernels(const std::string& name);
std::string blit_kernels_in_use();
void set_blit_fast_paths(bool on);

// ---- Clock -----------------------------------------------------------------------------------

// GetTickCount reads a manual clock that moves only when told to; it starts at 0 and wraps at
// 2^32 like the real tick count. Time passes through advance_clock, Sleep (which returns at
// once, the clock moved on by its argument) and a GetMessageA that has to wait: with nothing in
// the queue it moves the clock to the moment the next timer falls due and returns that WM_TIMER,
// so a message loop runs timed code instantly. When nothing can ever arrive (no timer matching
// its filter), GetMessageA writes a line to standard error and returns 0 with WM_QUIT instead of
// blocking for good.
//
// A timer falls due one period after it was set or last retrieved. A due timer gives one
// WM_TIMER when the message loop next looks, however many periods went by: advancing the clock
// by a long step makes each due timer fire once, as Windows coalesces WM_TIMER. Timers are
// scheduled on the time that passed, not on the reading, so they fire on time across the wrap.

// Sets the reading without letting time pass: timers keep the time they had left.
void set_tick_count(DWORD ms);
// Lets `ms` milliseconds pass.
void advance_clock(DWORD ms);
// While a program reads GetTickCount in a busy loop (a blocking animation), a test may want the
// clock to move by itself: each call to GetTickCount then lets `step` ms pass before reading
// (0, the default, turns this off). The platform's own reads (message times, the time given to
// timer callbacks) do not move it.
void set_auto_advance(DWORD step);

// ---- A live screen -----------------------------------------------------------------------------
//
// What a program needs to show the simulated screen in a real window and let it play at real
// speed. All of it is off until turned on.

// Real time: while on, the clock also moves with the machine's steady clock (from the reading it
// has, no jump); Sleep really sleeps, and a GetMessageA with nothing to retrieve really waits
// until the next timer falls due, or hands the wait to the waiter. advance_clock and
// set_tick_count keep working. Turning it off keeps the time that passed.
void set_real_time(bool on);
bool real_time();

// Called in real time when GetMessageA has nothing to retrieve, with the longest it may wait in
// milliseconds (INFINITE when no timer is pending). It waits for outside events (a window system's
// event queue) and may post messages (post_mouse_input, PostQuitMessage) before it returns;
// GetMessageA then looks again. Without a waiter GetMessageA sleeps until the next timer, and
// with no timer returns WM_QUIT as it does on the manual clock.
using Waiter = std::function<void(DWORD max_ms)>;
void set_waiter(Waiter waiter);

// Receives the framebuffer when a frame may have reached the screen: GetMessageA and PeekMessageA
// call it on entry when a window or screen context was released (ReleaseDC) since the last
// presentation, which is how drawing through GetDC ends; so a message loop presents at most once
// per message, after the handler or timer callback that drew. present() calls it at once.
// Setting a presenter makes the next look at the queue present.
using Presenter = std::function<void(const Framebuffer& screen)>;
void set_presenter(Presenter presenter);
void present();

// Mouse input from a real window: posts `msg` (WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP) to
// the window under the screen point (WindowFromPoint), with the point in that window's client
// coordinates in lParam and `keys` (MK_LBUTTON, ...) in wParam. Returns that window, or NULL when
// no window but the desktop is there (nothing is posted).
HWND post_mouse_input(UINT msg, int x, int y, WPARAM keys);

// ---- Message boxes
// -------------------------------------------------------------------------------

// Receives every MessageBoxA call and returns its answer; the box is modal, so the call
// returns only when the handler does. Without a handler (or after set_message_box_handler with
// an empty function) the caption and text go to standard error and the box is answered with its
// default button: IDOK for MB_OK, the first button unless MB_DEFBUTTON2/3 names another.
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
