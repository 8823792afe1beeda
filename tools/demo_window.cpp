// talvo demo --window: the platform's screen in a real window (SDL2), at real speed.
//
// The platform presents through host::set_presenter whenever a frame may have reached the
// screen (between messages, after a window context was released); the frame is converted to
// 8-bit RGB and copied to the window's surface. While the message loop has nothing to do, the
// platform's waiter waits on SDL's event queue instead of sleeping, so mouse input and closing
// the window arrive at once. Without SDL2 the option reports that it is unavailable.
#include "demo.h"

#include <platform/host.h>

#ifdef TALVO_HAVE_SDL2
#include "output_file.h"

#include <SDL.h>

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
    while (SDL_PollEvent(&e)) {
        translate(e);
    }
}

void show(Live& live) {
    const std::vector<BYTE> rgb = ScreenRgb();
    const host::Framebuffer fb = host::screen_framebuffer();
    if (live.frame == nullptr || live.frame->w != fb.width || live.frame->h != fb.height) {
        SDL_FreeSurface(live.frame);
        live.frame =
            SDL_CreateRGBSurfaceWithFormat(0, fb.width, fb.height, 24, SDL_PIXELFORMAT_RGB24);
        if (live.frame == nullptr) {
            return;
        }
    }
    SDL_LockSurface(live.frame);
    for (int y = 0; y < fb.height; ++y) {
        std::copy_n(&rgb[static_cast<size_t>(y) * fb.width * 3], static_cast<size_t>(fb.width) * 3,
                    static_cast<BYTE*>(live.frame->pixels) +
                        static_cast<size_t>(y) * live.frame->pitch);
    }
    SDL_UnlockSurface(live.frame);
    SDL_Surface* target = SDL_GetWindowSurface(live.window);
    if (target != nullptr) {
        SDL_BlitSurface(live.frame, nullptr, target, nullptr);
        SDL_UpdateWindowSurface(live.window);
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
    const bool started = SDL_Init(SDL_INIT_VIDEO) == 0;
    if (!started) {
        InstallOutputSignalHandlers();
        error = std::string("cannot open a window: ") + SDL_GetError();
        return false;
    }
    Live live;
    // At the top-left corner of the display, so that the window shows screen (x, y) at (x, y).
    live.window = SDL_CreateWindow("talvo demo", 0, 0, kScreenWidth, kScreenHeight, 0);
    if (live.window == nullptr) {
        error = std::string("cannot open a window: ") + SDL_GetError();
        SDL_Quit();
        InstallOutputSignalHandlers();
        return false;
    }
    host::set_presenter([&live](const host::Framebuffer&) { show(live); });
    host::set_waiter([](DWORD max_ms) {
        SDL_Event e;
        // Short waits: the platform looks at its queue again after each.
        const int wait = static_cast<int>(std::min<DWORD>(max_ms, 50));
        if (SDL_WaitEventTimeout(&e, wait) != 0) {
            translate(e);
            pump();
        }
    });
    host::set_real_time(true);
    run();
    host::set_real_time(false);
    host::set_waiter(nullptr);
    host::set_presenter(nullptr);
    SDL_FreeSurface(live.frame);
    SDL_DestroyWindow(live.window);
    SDL_Quit();
    InstallOutputSignalHandlers();
    return true;
}

#endif

} // namespace demo
