// talvo demo: the scene. A window covering the screen, painted with a gradient and a grid of
// tiles; in the grid every CImage drawing mode in both storage modes and every CImageEx mode,
// each on its own tile; below them animations in slots, and a meadow where the walkers walk and
// a click drops a spinning coin.
#include "demo.h"

#include <Image.h>
#include <ImageEx.h>
#include <afxwin.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

namespace demo {
namespace {

const char kClassName[] = "TalvoDemo";
constexpr int kWalkerFrame = 1; // the stride pose, for the still cells
constexpr int kSlots = 32;
constexpr int kFirstClickSlot = 16;

// Walker cells: row, column and what is drawn there (see the README for the table).
enum Op {
    kDraw,
    kTransparent,
    kSemi,
    kSelected,
    kFocused,
    kOnColor,
    kTransparentBack,
    kTransparentBkColor,
    kSemiBack,
    kSemiBkColor,
};
const char* const kOpNames[] = {"Draw",
                                "DrawTransparent",
                                "DrawSemiTransparent",
                                "DrawSelected",
                                "DrawFocused",
                                "DrawOnColor",
                                "DrawTransparentSetBackground",
                                "DrawTransparentSetBkColor",
                                "DrawSemiTransparentSetBackground",
                                "DrawSemiTransparentSetBkColor"};
constexpr COLORREF kOnColour = RGB(250, 220, 60);
constexpr COLORREF kBkColour = RGB(60, 160, 90);

int g_moves = 0;

bool file_exists(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(h);
    return true;
}
int g_clicks = 0;

} // namespace

COLORREF TileColour(int row, int column) {
    return (row + column) % 2 == 0 ? RGB(206, 200, 184) : RGB(172, 192, 214);
}

struct Scene::Parts {
    CImage walker;     // bitmap mode, half-transparent strip made
    CImage walkerList; // image-list mode
    CImageEx exWalker, exCoin, exOrb;
    CBitmap bricks; // the background of the "over a background" cells
    std::string samples;
    int nextClickSlot = kFirstClickSlot;
};

namespace {

Scene::Parts* g_parts = nullptr; // the scene the window procedure serves

// A click drops a coin turning in the next free slot of the click range; the oldest is
// replaced when all are taken.
LRESULT CALLBACK DemoProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_MOUSEMOVE:
        ++g_moves;
        return 0;
    case WM_LBUTTONDOWN: {
        ++g_clicks;
        if (g_parts != nullptr) {
            const int x = static_cast<short>(LOWORD(lParam)) - 16;
            const int y = static_cast<short>(HIWORD(lParam)) - 16;
            int& slot = g_parts->nextClickSlot;
            g_parts->exCoin.StopAni(slot);
            g_parts->exCoin.PlayAni(slot, 50, hwnd, x, y, 11, 0);
            slot = slot + 1 < kSlots ? slot + 1 : kFirstClickSlot;
        }
        return 0;
    }
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

void PaintBackground(CDC& dc) {
    // A dusk sky in bands of four rows, green meadow below the grid.
    for (int y = 0; y < kScreenHeight; y += 4) {
        const int t = y * 255 / kScreenHeight;
        const COLORREF c = y < kTop + 4 * kCell + 6 ? RGB(40 + t / 2, 50 + t / 4, 120 - t / 4)
                                                    : RGB(50 + t / 8, 110 + t / 6, 50);
        dc.FillSolidRect(0, y, kScreenWidth, 4, c);
    }
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const POINT o = CellOrigin(row, column);
            dc.FillSolidRect(o.x + 2, o.y + 2, kCell - 4, kCell - 4, TileColour(row, column));
        }
    }
}

// Red bricks with grey mortar, a cell in size.
void MakeBricks(CDC& dc, CBitmap& bricks) {
    bricks.CreateCompatibleBitmap(&dc, kCell, kCell);
    CDC mem;
    mem.CreateCompatibleDC(&dc);
    CBitmap* old = mem.SelectObject(&bricks);
    mem.FillSolidRect(0, 0, kCell, kCell, RGB(150, 150, 140));
    for (int y = 0; y < kCell; y += 12) {
        const int shift = (y / 12) % 2 == 0 ? 0 : 12;
        for (int x = -shift; x < kCell; x += 24) {
            mem.FillSolidRect(x + 1, y + 1, 22, 10, RGB(170, 60, 40));
        }
    }
    mem.SelectObject(old);
}

void DrawWalkerCell(CImage& image, CDC& dc, CBitmap& bricks, int row, int column, Op op) {
    const POINT o = CellOrigin(row, column);
    const int x = o.x + kSpriteX;
    const int y = o.y + kSpriteY;
    const int n = kWalkerFrame;
    switch (op) {
    case kDraw:
        image.Draw(&dc, x, y, n);
        break;
    case kTransparent:
        image.DrawTransparent(&dc, x, y, n);
        break;
    case kSemi:
        image.DrawSemiTransparent(&dc, x, y, n);
        break;
    case kSelected:
        image.DrawSelected(&dc, x, y, n);
        break;
    case kFocused:
        image.DrawFocused(&dc, x, y, n);
        break;
    case kOnColor:
        image.DrawOnColor(&dc, x, y, n, kOnColour);
        break;
    case kTransparentBack:
        image.DrawTransparentSetBackground(&dc, x, y, n, &bricks, kSpriteX, kSpriteY);
        break;
    case kTransparentBkColor:
        image.DrawTransparentSetBkColor(&dc, x, y, n, kBkColour);
        break;
    case kSemiBack:
        image.DrawSemiTransparentSetBackground(&dc, x, y, n, &bricks, kSpriteX, kSpriteY);
        break;
    case kSemiBkColor:
        image.DrawSemiTransparentSetBkColor(&dc, x, y, n, kBkColour);
        break;
    }
}

} // namespace

Scene::Scene(const std::string& samples) {
    m_parts = new Parts;
    g_moves = 0;
    g_clicks = 0;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DemoProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);
    m_hwnd = CreateWindowExA(0, kClassName, "talvo demo", WS_POPUP | WS_VISIBLE, 0, 0, kScreenWidth,
                             kScreenHeight, nullptr, nullptr, wc.hInstance, nullptr);
    if (m_hwnd == nullptr) {
        m_error = "cannot create the window";
        return;
    }
    const std::string walker = samples + "/walker.bmp";
    const std::string coin = samples + "/coin.bmp";
    const std::string orb = samples + "/orb.bmp";
    Parts& p = *m_parts;
    const bool loaded = p.walker.Create(walker.c_str(), 8, kKey, 1, 0) &&
                        p.walkerList.Create(walker.c_str(), 8, kKey, 1, 1);
    // On a palette display a CImageEx takes its palette from the system palette as it is when
    // the file is read: the strips are read after the CImage cells have put the library's
    // dither palette there (Show), so that both draw with the same colours.
    p.samples = samples;
    if (!loaded || !file_exists(coin) || !file_exists(orb)) {
        m_error = "cannot load the sprite strips from " + samples;
    }
}

Scene::~Scene() {
    TerminateAnimation(); // stops the slots still running
    g_parts = nullptr;
    delete m_parts;
    if (m_hwnd != nullptr) {
        DestroyWindow(m_hwnd);
    }
    UnregisterClassA(kClassName, GetModuleHandleA(nullptr));
}

int Scene::moves() const {
    return g_moves;
}

int Scene::clicks() const {
    return g_clicks;
}

void Scene::AddCell(const std::string& name, int row, int column) {
    const POINT o = CellOrigin(row, column);
    m_cells.push_back({name, RECT{o.x, o.y, o.x + kCell, o.y + kCell}});
}

void Scene::Show() {
    Parts& p = *m_parts;
    {
        CClientDC dc(CWnd::FromHandle(m_hwnd));
        PaintBackground(dc);
        MakeBricks(dc, p.bricks);

        // Row 0: CImage in bitmap mode (selected, focused and on-colour draw only from image
        // lists, so they have no cell here). Row 1: the same strip in image-list mode.
        const Op bitmapOps[] = {
            kDraw,     kTransparent, kSemi, kTransparentBack, kTransparentBkColor,
            kSemiBack, kSemiBkColor};
        int column = 0;
        for (Op op : bitmapOps) {
            AddCell(std::string("CImage-bitmap-") + kOpNames[op], 0, column);
            DrawWalkerCell(p.walker, dc, p.bricks, 0, column++, op);
        }
        const Op listOps[] = {kDraw,
                              kTransparent,
                              kSemi,
                              kSelected,
                              kFocused,
                              kOnColor,
                              kTransparentBack,
                              kTransparentBkColor,
                              kSemiBack,
                              kSemiBkColor};
        column = 0;
        for (Op op : listOps) {
            AddCell(std::string("CImage-list-") + kOpNames[op], 1, column);
            DrawWalkerCell(p.walkerList, dc, p.bricks, 1, column++, op);
        }
    }

    // Row 2: CImageEx, plain, keyed, keyed alpha 0, 64, 128, 192, and the three colorizes.
    for (auto strip :
         {std::make_pair(&p.exWalker, "walker.bmp"), std::make_pair(&p.exCoin, "coin.bmp"),
          std::make_pair(&p.exOrb, "orb.bmp")}) {
        const std::string path = p.samples + "/" + strip.second;
        if (!strip.first->Create(m_hwnd, path.c_str(), 8, kKey, 0, 0)) {
            m_error = "cannot read the sprite strip " + path;
            return;
        }
    }
    HDC hdc = GetDC(m_hwnd);
    const auto at = [](int column) {
        const POINT o = CellOrigin(2, column);
        return POINT{o.x + kSpriteX, o.y + kSpriteY};
    };
    const char* const exCells[] = {"Draw",
                                   "DrawTransparent",
                                   "DrawAlphaTransparent-0",
                                   "DrawAlphaTransparent-64",
                                   "DrawAlphaTransparent-128",
                                   "DrawAlphaTransparent-192",
                                   "DrawColorize",
                                   "DrawColorizeTransparent",
                                   "DrawColorizeWithBack"};
    for (int i = 0; i < 9; ++i) {
        AddCell(std::string("CImageEx-") + exCells[i], 2, i);
    }
    POINT c = at(0);
    p.exWalker.Draw(hdc, c.x, c.y, kWalkerFrame);
    c = at(1);
    p.exWalker.DrawTransparent(hdc, c.x, c.y, kWalkerFrame);
    const int alphas[] = {0, 64, 128, 192};
    for (int i = 0; i < 4; ++i) {
        c = at(2 + i);
        p.exWalker.DrawAlphaTransparent(hdc, c.x, c.y, kWalkerFrame, alphas[i]);
    }
    const COLORREF tint = RGB(255, 190, 60);
    c = at(6);
    p.exWalker.DrawColorize(hdc, c.x, c.y, kWalkerFrame, tint);
    c = at(7);
    p.exWalker.DrawColorizeTransparent(hdc, c.x, c.y, kWalkerFrame, tint);
    c = at(8);
    p.exWalker.DrawColorizeWithBack(hdc, c.x, c.y, kWalkerFrame, tint);
    ReleaseDC(m_hwnd, hdc);

    // Row 3: one animation in each mode; the meadow: walkers and orbs in the keyed modes.
    InitializeAnimation(kSlots);
    g_parts = m_parts;
    struct Slot {
        CImageEx* image;
        int x, y; // in the window; a row-3 cell when y is 0
        int column;
        int mode, param, interval;
    };
    const Slot slots[] = {
        {&p.exCoin, 0, 0, 0, 1, 0, 60},
        {&p.exCoin, 0, 0, 1, 11, 0, 60},
        {&p.exOrb, 0, 0, 2, 2, 64, 80},
        {&p.exOrb, 0, 0, 3, 12, 96, 80},
        {&p.exCoin, 0, 0, 4, 3, static_cast<int>(RGB(80, 220, 255)), 60},
        {&p.exWalker, 0, 0, 5, 13, static_cast<int>(RGB(255, 200, 80)), 100},
        {&p.exOrb, 0, 0, 6, 14, static_cast<int>(RGB(255, 120, 200)), 80},
        {&p.exWalker, 0, 0, 7, 11, 0, 100},
        {&p.exWalker, 120, 440, 0, 11, 0, 90},
        {&p.exWalker, 260, 470, 0, 12, 64, 120},
        {&p.exWalker, 420, 430, 0, 13, static_cast<int>(RGB(160, 255, 160)), 110},
        {&p.exOrb, 600, 380, 0, 12, 32, 60},
        {&p.exOrb, 680, 450, 0, 11, 0, 70},
        {&p.exCoin, 540, 500, 0, 11, 0, 40},
    };
    int n = 0;
    for (const Slot& s : slots) {
        int x = s.x, y = s.y;
        if (y == 0) {
            const POINT o = CellOrigin(3, s.column);
            const bool tall = s.image == &p.exWalker;
            x = o.x + kSpriteX;
            y = o.y + (tall ? kSpriteY : kSpriteX);
            const char* what = s.image == &p.exCoin ? "coin" : tall ? "walker" : "orb";
            AddCell("PlayAni-" + std::to_string(s.mode) + "-" + what, 3, s.column);
        }
        s.image->PlayAni(n++, s.interval, m_hwnd, x, y, s.mode, s.param);
    }
}

} // namespace demo
