// talvo demo --window: the platform's screen in a real window (SDL2), at real speed.
//
// The platform presents through host::set_presenter whenever a frame may have reached the
// screen (between messages, after a window context was released); the frame is converted to
// 8-bit RGB and copied to the window's surface. While the message loop has nothing to do, the
// platform's waiter waits on SDL's event queue instead of sleeping, so mouse input and closing
// the window arrive at once. Without SDL2 the option reports that it is unavailable.
//
// SDL2 is loaded when a window is asked for, not linked: the other commands start without it
// and the dozens of libraries it brings, as small and quick as a plain program.
#include "demo.h"

#include <platform/host.h>

#ifdef TALVO_HAVE_SDL2
#include "output_file.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <csignal>
#endif

namespace demo {

#ifndef TALVO_HAVE_SDL2

bool LiveWindowAvailable() {
    return false;
}

bool RunInLiveWindow(const std::function<void()>& /*run*/, std::string& error) {
    error = "--window is unavailable: this talvo was built without SDL2";
    return false;
}

#else

bool LiveWindowAvailable() {
    return true;
}

namespace {

// The SDL2 calls the window makes, looked up in the library when it is loaded.
struct Sdl {
#define TALVO_SDL_CALLS(X)                                                                         \
    X(SDL_Init)                                                                                    \
    X(SDL_Quit)                                                                                    \
    X(SDL_GetError)                                                                                \
    X(SDL_CreateWindow)                                                                            \
    X(SDL_DestroyWindow)                                                                           \
    X(SDL_GetWindowSurface)                                                                        \
    X(SDL_UpdateWindowSurface)                                                                     \
    X(SDL_CreateRGBSurfaceWithFormat)                                                              \
    X(SDL_FreeSurface)                                                                             \
    X(SDL_LockSurface)                                                                             \
    X(SDL_UnlockSurface)                                                                           \
    X(SDL_UpperBlit)                                                                               \
    X(SDL_PollEvent)                                                                               \
    X(SDL_WaitEventTimeout)
#define TALVO_SDL_MEMBER(name) decltype(&::name) name = nullptr;
    TALVO_SDL_CALLS(TALVO_SDL_MEMBER)
#undef TALVO_SDL_MEMBER
};

Sdl sdl;

// Loads SDL2 once; false with the reason when it is not there.
bool LoadSdl(std::string& error) {
    static void* library = nullptr;
    if (library != nullptr) {
        return true;
    }
    void* lib = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        error = std::string("cannot open a window: ") + dlerror();
        return false;
    }
    Sdl loaded;
    bool ok = true;
#define TALVO_SDL_LOOKUP(name)                                                                     \
    loaded.name = reinterpret_cast<decltype(loaded.name)>(dlsym(lib, #name));                      \
    ok = ok && loaded.name != nullptr;
    TALVO_SDL_CALLS(TALVO_SDL_LOOKUP)
#undef TALVO_SDL_LOOKUP
    if (!ok) {
        error = "cannot open a window: the SDL2 library lacks a call it needs";
        dlclose(lib);
        return false;
    }
    sdl = loaded;
    library = lib;
    return true;
}

struct Live {
    SDL_Window* window = nullptr;
    SDL_Surface* frame = nullptr; // the screen in RGB24, blitted onto the window's surface
};

// Hands SDL's events to the platform: the pointer to the window under it, closing and Escape
// as WM_QUIT.
void translate(const SDL_Event& e) {
    switch (e.type) {
    case SDL_QUIT:
        PostQuitMessage(0);
        break;
    case SDL_KEYDOWN:
        if (e.key.keysym.sym == SDLK_ESCAPE) {
            PostQuitMessage(0);
        }
        break;
    case SDL_MOUSEMOTION:
        host::post_mouse_input(WM_MOUSEMOVE, e.motion.x, e.motion.y,
                               (e.motion.state & SDL_BUTTON_LMASK) != 0 ? MK_LBUTTON : 0);
        break;
    case SDL_MOUSEBUTTONDOWN:
        if (e.button.button == SDL_BUTTON_LEFT) {
            host::post_mouse_input(WM_LBUTTONDOWN, e.button.x, e.button.y, MK_LBUTTON);
        }
        break;
    default:
        break;
    }
}

void pump() {
    SDL_Event e;
    while (sdl.SDL_PollEvent(&e)) {
        translate(e);
    }
}

void show(Live& live) {
    const std::vector<BYTE> rgb = ScreenRgb();
    const host::Framebuffer fb = host::screen_framebuffer();
    if (live.frame == nullptr || live.frame->w != fb.width || live.frame->h != fb.height) {
        sdl.SDL_FreeSurface(live.frame);
        live.frame =
            sdl.SDL_CreateRGBSurfaceWithFormat(0, fb.width, fb.height, 24, SDL_PIXELFORMAT_RGB24);
        if (live.frame == nullptr) {
            return;
        }
    }
    sdl.SDL_LockSurface(live.frame);
    for (int y = 0; y < fb.height; ++y) {
        std::copy_n(&rgb[static_cast<size_t>(y) * fb.width * 3], static_cast<size_t>(fb.width) * 3,
                    static_cast<BYTE*>(live.frame->pixels) +
                        static_cast<size_t>(y) * live.frame->pitch);
    }
    sdl.SDL_UnlockSurface(live.frame);
    SDL_Surface* target = sdl.SDL_GetWindowSurface(live.window);
    if (target != nullptr) {
        sdl.SDL_UpperBlit(live.frame, nullptr, target, nullptr);
        sdl.SDL_UpdateWindowSurface(live.window);
    }
    // A slow frame must not keep input waiting.
    pump();
}

} // namespace

bool RunInLiveWindow(const std::function<void()>& run, std::string& error) {
    // Interrupting the program (SIGINT, SIGTERM) closes the window like its close button, through
    // the message loop: SDL turns those signals into SDL_QUIT when it finds them unhandled.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (!LoadSdl(error)) {
        InstallOutputSignalHandlers();
        return false;
    }
    const bool started = sdl.SDL_Init(SDL_INIT_VIDEO) == 0;
    if (!started) {
        InstallOutputSignalHandlers();
        error = std::string("cannot open a window: ") + sdl.SDL_GetError();
        return false;
    }
    Live live;
    // At the top-left corner of the display, so that the window shows screen (x, y) at (x, y).
    live.window = sdl.SDL_CreateWindow("talvo demo", 0, 0, kScreenWidth, kScreenHeight, 0);
    if (live.window == nullptr) {
        error = std::string("cannot open a window: ") + sdl.SDL_GetError();
        sdl.SDL_Quit();
        InstallOutputSignalHandlers();
        return false;
    }
    host::set_presenter([&live](const host::Framebuffer&) { show(live); });
    host::set_waiter([](DWORD max_ms) {
        SDL_Event e;
        // Short waits: the platform looks at its queue again after each.
        const int wait = static_cast<int>(std::min<DWORD>(max_ms, 50));
        if (sdl.SDL_WaitEventTimeout(&e, wait) != 0) {
            translate(e);
            pump();
        }
    });
    host::set_real_time(true);
    run();
    host::set_real_time(false);
    host::set_waiter(nullptr);
    host::set_presenter(nullptr);
    sdl.SDL_FreeSurface(live.frame);
    sdl.SDL_DestroyWindow(live.window);
    sdl.SDL_Quit();
    InstallOutputSignalHandlers();
    return true;
}

#endif

} // namespace demo
