// Every drawing operation of CImage behind one signature, with what each one needs, so that a
// test (or a benchmark) can walk all of them. Operations that take a frame index draw `frame`;
// the animations play every frame with no delay. DrawOnColor draws on black, the colour
// operations on kBackColour, the rectangle copy takes the rectangle of frame `frame`.
#pragma once

#include <Image.h>

#include <functional>
#include <vector>

namespace drawtest {

constexpr COLORREF kBackColour = RGB(128, 0, 128);

struct DrawOperation {
    enum Modes { kBoth, kImageListOnly, kBitmapOnly };

    const char* name;
    Modes modes = kBoth;
    bool semi = false;       // draws the half-transparent frames
    bool background = false; // takes a background bitmap, drawn from (20, 10)
    bool animation = false;  // plays all frames; no frame index
    bool rectangle = false;  // copies a rectangle; no frame index either
    bool offscreen = false;  // composes in a frame- or strip-sized bitmap before drawing
    // Creations it makes itself in bitmap mode before anything reaches the destination (the
    // memory contexts, the off-screen bitmap, the brush); what the frame draws make after them
    // belongs to the image list or the colour-key blit.
    unsigned own = 0;
    std::function<int(CImage&, CDC*, int x, int y, int frame, CBitmap* background)> run;

    bool TakesFrameIndex() const { return !animation && !rectangle; }
    bool RunsIn(bool imageList) const {
        return modes == kBoth || (modes == kImageListOnly) == imageList;
    }
};

// An operation of the common signature: the destination, the place and the frame.
inline auto Frame(int (CImage::*draw)(CDC*, int, int, int)) {
    return [draw](CImage& s, CDC* dc, int x, int y, int f, CBitmap*) {
        return (s.*draw)(dc, x, y, f);
    };
}

inline const std::vector<DrawOperation>& DrawOperations() {
    using Op = DrawOperation;
    static const std::vector<DrawOperation> operations = {
        {.name = "Draw", .own = 1, .run = Frame(&CImage::Draw)},
        {.name = "Draw rectangle",
         .modes = Op::kBitmapOnly,
         .rectangle = true,
         .own = 1,
         .run =
             [](CImage& s, CDC* dc, int x, int y, int f, CBitmap*) {
                 const CSize size = s.GetImageSize();
                 return s.Draw(dc, x, y, CPoint(size.cx, size.cy), f * size.cx, 0);
             }},
        {.name = "DrawTransparent", .run = Frame(&CImage::DrawTransparent)},
        {.name = "DrawSemiTransparent", .semi = true, .run = Frame(&CImage::DrawSemiTransparent)},
        {.name = "DrawSelected", .modes = Op::kImageListOnly, .run = Frame(&CImage::DrawSelected)},
        {.name = "DrawFocused", .modes = Op::kImageListOnly, .run = Frame(&CImage::DrawFocused)},
        {.name = "DrawOnColor",
         .modes = Op::kImageListOnly,
         .run = [](CImage& s, CDC* dc, int x, int y, int f,
                   CBitmap*) { return s.DrawOnColor(dc, x, y, f, RGB(0, 0, 0)); }},
        {.name = "DrawTransparentSetBackground",
         .background = true,
         .offscreen = true,
         .own = 3,
         .run =
             [](CImage& s, CDC* dc, int x, int y, int f, CBitmap* bg) {
                 return s.DrawTransparentSetBackground(dc, x, y, f, bg, 20, 10);
             }},
        {.name = "DrawTransparentSetBkColor",
         .offscreen = true,
         .own = 3,
         .run = [](CImage& s, CDC* dc, int x, int y, int f,
                   CBitmap*) { return s.DrawTransparentSetBkColor(dc, x, y, f, kBackColour); }},
        {.name = "DrawSemiTransparentSetBackground",
         .semi = true,
         .background = true,
         .offscreen = true,
         .own = 3,
         .run =
             [](CImage& s, CDC* dc, int x, int y, int f, CBitmap* bg) {
                 return s.DrawSemiTransparentSetBackground(dc, x, y, f, bg, 20, 10);
             }},
        {.name = "DrawSemiTransparentSetBkColor",
         .semi = true,
         .offscreen = true,
         .own = 3,
         .run = [](CImage& s, CDC* dc, int x, int y, int f,
                   CBitmap*) { return s.DrawSemiTransparentSetBkColor(dc, x, y, f, kBackColour); }},
        {.name = "Animate",
         .animation = true,
         .own = 1,
         .run = [](CImage& s, CDC* dc, int x, int y, int,
                   CBitmap*) { return s.Animate(dc, x, y, 0); }},
        {.name = "AnimateTransparent",
         .animation = true,
         .offscreen = true,
         .own = 2,
         .run = [](CImage& s, CDC* dc, int x, int y, int,
                   CBitmap*) { return s.AnimateTransparent(dc, x, y, 0); }},
        {.name = "AnimateTransparentSetBackground",
         .background = true,
         .animation = true,
         .offscreen = true,
         .own = 3,
         .run =
             [](CImage& s, CDC* dc, int x, int y, int, CBitmap* bg) {
                 return s.AnimateTransparentSetBackground(dc, x, y, bg, 20, 10, 0);
             }},
    };
    return operations;
}

} // namespace drawtest
