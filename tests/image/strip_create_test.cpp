// Creating a strip: its sources (a client bitmap, a bitmap file found by name), its geometry,
// the palette-display route, and the failures that leave it empty.
#include "image/strip_fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace strip_fixtures;

namespace {

// The objects a created strip holds, by mode and semi-transparency.
void ExpectCreated(const StripProbe& strip, bool semi, int mode) {
    EXPECT_EQ(strip.m_pBitmap != nullptr, mode == 0);
    EXPECT_EQ(strip.m_pSemiBitmap != nullptr, semi && mode == 0);
    EXPECT_EQ(strip.m_pImageList != nullptr, mode != 0);
    EXPECT_EQ(strip.m_pSemiImageList != nullptr, semi && mode != 0);
    EXPECT_EQ(strip.m_pDitherDib != nullptr, PaletteDisplay());
    EXPECT_EQ(strip.m_bImageListMethod, mode);
}

} // namespace

TEST(StripCreate, GeometryFollowsTheFrameCountInBothModes) {
    struct Case {
        int width, height, frames, frameWidth, images;
    };
    const Case cases[] = {
        {100, 6, 3, 33, 3}, // the last column belongs to no frame
        {10, 4, 4, 2, 5},   // the lists take one image more than the frame count
        {40, 10, 4, 10, 4},
        {7, 3, 1, 7, 1},
    };
    for (const Case& c : cases) {
        CBitmap client;
        client.Attach(MakeClientSection(c.width, c.height, BusyStrip(kBlue)));
        for (int semi : {0, 1}) {
            for (int mode : {0, 1}) {
                SCOPED_TRACE(testing::Message()
                             << c.width << "/" << c.frames << " semi " << semi << " mode " << mode);
                StripProbe strip;
                ASSERT_EQ(strip.Create(&client, c.frames, kBlue, semi, mode), 1);
                ExpectCreated(strip, semi, mode);
                EXPECT_EQ(strip.GetImageNum(), c.frames);
                EXPECT_EQ(strip.GetBitmapSize(), CSize(c.width, c.height));
                EXPECT_EQ(strip.GetImageSize(), CSize(c.frameWidth, c.height));
                EXPECT_EQ(strip.IsReadySemiTransparent(), semi && mode ? 1 : 0);
                EXPECT_EQ(strip.GetBitmap(), mode != 0 ? nullptr : strip.m_pBitmap);
                // The lists store frame-sized images at the display's depth (ILC_COLORDDB on
                // palette displays).
                for (CImageList* list : {strip.m_pImageList, strip.m_pSemiImageList}) {
                    if (list == nullptr) {
                        continue;
                    }
                    EXPECT_EQ(list->GetImageCount(), c.images);
                    IMAGEINFO info = {};
                    ASSERT_TRUE(list->GetImageInfo(0, &info));
                    BITMAP record = {};
                    ASSERT_NE(GetObjectA(info.hbmImage, sizeof(BITMAP), &record), 0);
                    EXPECT_EQ(record.bmBitsPixel, DisplayBits());
                    EXPECT_EQ(CRect(info.rcImage).Size(), CSize(c.frameWidth, c.height));
                }
            }
        }
    }
    // More frames than columns: frames 0 pixels wide, still a strip in bitmap mode.
    CBitmap narrow;
    narrow.Attach(MakeClientSection(3, 2, BusyStrip(kBlue)));
    StripProbe strip;
    EXPECT_EQ(strip.Create(&narrow, 5, kBlue, 1, 0), 1);
    EXPECT_EQ(strip.GetImageSize(), CSize(0, 2));
}

// The client's bitmap is copied: it keeps its pixels, stays alive after the strip is gone and
// can still be selected. On a palette display only DIB sections are taken.
TEST(StripCreate, FromAClientBitmapWhichStaysTheClients) {
    const int w = 24;
    const int h = 5;
    struct Case {
        const char* name;
        bool section;
    };
    for (const Case& c : {Case{"device bitmap", false}, Case{"DIB section", true}}) {
        SCOPED_TRACE(c.name);
        CBitmap client;
        client.Attach(c.section ? MakeClientSection(w, h, BusyStrip(kBlue))
                                : MakeDdb(w, h, BusyStrip(kBlue)));
        const HBITMAP handle = static_cast<HBITMAP>(client.GetSafeHandle());
        const std::vector<COLORREF> before = colours_of(handle);
        ASSERT_FALSE(before.empty());
        const bool taken = c.section || !PaletteDisplay();
        for (int mode : {0, 1}) {
            // Also while the client keeps it selected in a DC of its own: it is only read.
            for (bool held : {false, true}) {
                SCOPED_TRACE(held ? "held by the client" : "free");
                CDC clientDC;
                ASSERT_TRUE(clientDC.CreateCompatibleDC(nullptr));
                HGDIOBJ previous = held ? ::SelectObject(clientDC.GetSafeHdc(), handle) : nullptr;
                StripProbe strip;
                const int created = strip.Create(&client, 3, kBlue, 1, mode);
                if (previous != nullptr) {
                    ::SelectObject(clientDC.GetSafeHdc(), previous);
                }
                ASSERT_EQ(created, taken ? 1 : 0);
                if (!taken) {
                    EXPECT_TRUE(strip.Empty());
                    continue;
                }
                ExpectCreated(strip, true, mode);
                if (mode == 0 && !PaletteDisplay() && !c.section) {
                    // A device bitmap is copied byte for byte.
                    EXPECT_EQ(PixelsOf(strip.m_pBitmap), before);
                }
            }
            // The strip is gone; the client's bitmap is as it was and can be selected.
            EXPECT_EQ(colours_of(handle), before);
            CDC dc;
            ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
            HGDIOBJ previous = ::SelectObject(dc.GetSafeHdc(), handle);
            EXPECT_NE(previous, nullptr);
            ::SelectObject(dc.GetSafeHdc(), previous);
        }
    }
}

// A strip created again from its own bitmap (GetBitmap) copies it before letting it go, for the
// strip bitmap and for the second copy the half-transparent strip is made from. On a palette
// display a strip's bitmap is a device bitmap, which the dithering refuses.
TEST(StripCreate, AgainFromItsOwnBitmap) {
    for (int semi : {0, 1}) {
        for (int mode : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "semi " << semi << " mode " << mode);
            CBitmap client;
            client.Attach(MakeClientSection(24, 5, BusyStrip(kBlue)));
            StripProbe strip;
            ASSERT_EQ(strip.Create(&client, 4, kBlue, 0, 0), 1);
            const std::vector<COLORREF> before = PixelsOf(strip.GetBitmap());
            const int created = strip.Create(strip.GetBitmap(), 2, kBlue, semi, mode);
            if (PaletteDisplay()) {
                EXPECT_EQ(created, 0);
                EXPECT_TRUE(strip.Empty());
                continue;
            }
            ASSERT_EQ(created, 1);
            ExpectCreated(strip, semi, mode);
            EXPECT_EQ(strip.GetImageSize(), CSize(12, 5));
            if (mode == 0) {
                EXPECT_EQ(PixelsOf(strip.GetBitmap()), before);
            }
        }
    }
}

// Every failure returns 0 and leaves the strip empty. The geometry stays as the last strip set
// it when the failure comes before the new geometry is set.
TEST(StripCreate, FailuresLeaveTheStripEmpty) {
    const char* garbage = "strip_garbage.bmp";
    ASSERT_TRUE(bmpfile::write(garbage, {'B', 'M', 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    CBitmap client;
    client.Attach(MakeClientSection(30, 3, BusyStrip(kBlue)));
    CBitmap empty; // no handle

    // Create from `source` with `frames` frames.
    const auto from = [](auto source, int frames) {
        return [source, frames](StripProbe& s, int semi, int mode) {
            return s.Create(source, frames, kBlue, semi, mode);
        };
    };
    const struct Case {
        const char* name;
        std::function<int(StripProbe&, int semi, int mode)> create;
    } cases[] = {
        {"missing resource number", from(UINT{54321}, 3)},
        {"missing resource number as a name", from(MAKEINTRESOURCE(54321), 3)},
        {"missing name and file", from("no_such.bmp", 3)},
        {"undecodable file", from(garbage, 3)},
        {"null name", from(LPCSTR{}, 3)},
        {"null bitmap", from(static_cast<CBitmap*>(nullptr), 3)},
        {"bitmap without handle", from(&empty, 3)},
        {"no frames", from(&client, 0)},
        {"negative frames", from(&client, -3)},
    };
    for (const Case& c : cases) {
        for (int semi : {0, 1}) {
            for (int mode : {0, 1}) {
                SCOPED_TRACE(testing::Message() << c.name << " semi " << semi << " mode " << mode);
                StripProbe strip;
                ASSERT_EQ(strip.Create(&client, 2, RGB(7, 7, 7), 1, 1), 1);
                EXPECT_EQ(c.create(strip, semi, mode), 0);
                EXPECT_TRUE(strip.Empty());
                EXPECT_EQ(strip.GetImageNum(), 2);
                EXPECT_EQ(strip.GetImageSize(), CSize(15, 3));
                EXPECT_EQ(strip.m_crTransparent, RGB(7, 7, 7));
                EXPECT_EQ(strip.IsImageListMethod(), 1);
            }
        }
    }
    std::remove(garbage);
}
