// talvo demo: what its files share. demo.cpp runs the command (options, display depths,
// captures), demo_scene.cpp paints the window and starts the animations, demo_window.cpp shows
// the screen in a real window when the program is built with SDL2.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace demo {

// The simulated screen the demo runs on, and its window, which covers it.
constexpr int kScreenWidth = 800;
constexpr int kScreenHeight = 600;

// The grid: cells of kCell pixels from (kLeft, kTop), ten to a row.
constexpr int kCell = 76;
constexpr int kLeft = 20;
constexpr int kTop = 20;
constexpr int kColumns = 10;
// Where a sprite sits in its cell: the walker (32 x 48) centred.
constexpr int kSpriteX = 22;
constexpr int kSpriteY = 14;
constexpr COLORREF kKey = RGB(255, 0, 255);

inline POINT CellOrigin(int row, int column) {
    return POINT{kLeft + column * kCell, kTop + row * kCell};
}

// The plain colour of a cell's tile (what shows through a sprite's key pixels), row and column.
COLORREF TileColour(int row, int column);

// One scene on one display: the window, its painted background, the grid of every drawing
// mode, and the animations in their slots. Everything is released by the destructor.
class Scene {
public:
    // `samples`: the folder of coin.bmp, walker.bmp and orb.bmp.
    explicit Scene(const std::string& samples);
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    // False (with the reason in error()) when a sample or the window could not be made.
    bool ok() const { return m_error.empty(); }
    const std::string& error() const { return m_error; }
    HWND hwnd() const { return m_hwnd; }

    // Paints the background and the grid, then starts the animations; stops, with the reason in
    // error(), at a strip the effect images cannot read.
    void Show();
    // Mouse input seen by the window so far.
    int moves() const;
    int clicks() const;

    // The grid's cells as Show painted them: what each shows ("CImage-bitmap-DrawSemiTransparent",
    // "CImageEx-DrawAlphaTransparent-192", "PlayAni-11-coin", ...) and where, in window
    // coordinates (the window covers the screen). talvo demo --layout writes them out.
    struct Cell {
        std::string name;
        RECT rect;
    };
    const std::vector<Cell>& cells() const { return m_cells; }

    struct Parts; // the images and bitmaps of the scene (demo_scene.cpp)

private:
    Parts* m_parts = nullptr;
    HWND m_hwnd = nullptr;
    std::string m_error;
    std::vector<Cell> m_cells;
    void AddCell(const std::string& name, int row, int column);
};

// The screen as 8-bit red, green, blue rows, top row first, as the display shows it (demo.cpp).
std::vector<BYTE> ScreenRgb();

// ---- The live window (demo_window.cpp) --------------------------------------------------------

// Whether this program was built with a live window.
bool LiveWindowAvailable();

// Shows the platform screen in a real window, scaled by 1, for as long as `run` runs (a message
// loop): frames are presented as they reach the screen, the clock follows real time, mouse
// moves and clicks go to the window under the pointer, and closing the window or Escape posts
// WM_QUIT. False with a message when no window could be opened.
bool RunInLiveWindow(const std::function<void()>& run, std::string& error);

} // namespace demo
