// What the animation tests share: a shown window to play in, a strip whose frames tell
// themselves apart, and the per-pixel model of what each animation mode leaves. Written against
// windows.h and the library header only, so that it serves the tests of both foundations.
#pragma once

#include "imageex/imageex_fixture.h"

#include <string>

namespace animation_test {

using imageex_test::Picture;

constexpr int kFrames = 4;
constexpr int kW = 8; // frame width
constexpr int kH = 6;
constexpr COLORREF kKey = RGB(255, 0, 255); // shown exactly at every depth

// A popup window at the top-left of the screen, shown, with the given client size.
class Window {
public:
    Window(int w, int h) : m_w(w), m_h(h) {
        m_hwnd = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, w, h, nullptr,
                                 nullptr, nullptr, nullptr);
        // Painted now, so that its WM_PAINT does not come later over what a test draws.
        UpdateWindow(m_hwnd);
    }
    ~Window() {
        if (m_hwnd != nullptr) {
            DestroyWindow(m_hwnd);
        }
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND hwnd() const { return m_hwnd; }

    // Puts the picture on the window and returns what the window shows afterwards.
    Picture Paint(const Picture& p) const {
        imageex_test::Canvas canvas(p);
        HDC dc = GetDC(m_hwnd);
        BitBlt(dc, 0, 0, m_w, m_h, canvas.dc(), 0, 0, SRCCOPY);
        ReleaseDC(m_hwnd, dc);
        return Read();
    }
    Picture Read() const {
        imageex_test::Canvas canvas(m_w, m_h);
        HDC dc = GetDC(m_hwnd);
        BitBlt(canvas.dc(), 0, 0, m_w, m_h, dc, 0, 0, SRCCOPY);
        ReleaseDC(m_hwnd, dc);
        return canvas.Read();
    }

private:
    HWND m_hwnd = nullptr;
    int m_w, m_h;
};

// Colours every display shows exactly, save the key and the frame markers below.
inline std::vector<COLORREF> PlainColours() {
    std::vector<COLORREF> colours = imageex_test::ExactColours();
    colours.erase(colours.begin(), colours.begin() + kFrames);
    std::erase(colours, kKey);
    return colours;
}

// kFrames frames of kW x kH. The top-left pixel of frame k has a colour of its own (never the
// key, never in a Background), a quarter of the other pixels have the key.
inline Picture StripPicture(unsigned seed) {
    Picture p = imageex_test::RandomPicture(kW * kFrames, kH, PlainColours(), seed);
    for (size_t i = 0; i < p.pixels.size(); i += 1 + (i * seed) % 7) {
        p.pixels[i] = kKey;
    }
    for (int k = 0; k < kFrames; ++k) {
        p.at(k * kW, 0) = imageex_test::ExactColours()[static_cast<size_t>(k)];
    }
    return p;
}

// A window background.
inline Picture Background(int w, int h, unsigned seed) {
    return imageex_test::RandomPicture(w, h, PlainColours(), seed);
}

// Writes the strip as a 24-bit file in the current directory.
inline std::string WriteStrip(const std::string& name, const Picture& p) {
    return imageex_test::WriteFile(name, imageex_test::StripFile(p, 24));
}

// The frame of `strip` whose top-left pixel the window shows at (x, y), -1 for none of them.
inline int ShownFrame(const Window& window, const Picture& strip, int x, int y) {
    const COLORREF shown = window.Read().at(x, y);
    for (int k = 0; k < kFrames; ++k) {
        if (shown == strip.at(k * kW, 0)) {
            return k;
        }
    }
    return -1;
}

// What one pixel of a slot's rectangle shows after a frame in `mode`: `f` is the frame's pixel,
// `under` the window's pixel when the slot was taken (saved for the modes from 11 on; below 11
// the frame is composed on black).
inline COLORREF ModeModel(int mode, int param, COLORREF f, COLORREF under) {
    const COLORREF tint = static_cast<COLORREF>(param);
    const bool key = f == kKey;
    switch (mode) {
    case 1:
        return f;
    case 2:
        return imageex_test::AlphaModel(f, 0, param);
    case 3:
        return imageex_test::TintModel(f, tint);
    case 11:
        return key ? under : f;
    case 12:
        return key ? under : imageex_test::AlphaModel(f, under, param);
    case 13:
        return key ? under : imageex_test::TintModel(f, tint);
    case 14:
        return imageex_test::TintModel(key ? under : f, tint);
    default:
        return mode >= 11 ? under : RGB(0, 0, 0);
    }
}

} // namespace animation_test
