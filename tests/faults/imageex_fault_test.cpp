// CImageEx when the platform runs out of objects or memory: each GDI object, device context, image
// list, memory block, file and platform heap allocation that Create or a drawing operation makes
// is made to fail in turn. Nothing may leak; Create returns 0 and leaves the object as it was (or,
// when only the image list failed, with the new bitmaps and no list); a drawing operation returns
// what it returns without faults (the image-list path: what ImageList_Draw returned) and leaves
// either the whole picture or an untouched destination (or, when a reload for another depth
// failed, what the old strip draws), never part of one.
//
// Heap allocations are swept apart, with the leak checks and results only: the library does not
// check every step it draws or converts through (a BitBlt that fails for want of memory goes
// unnoticed), so there a failure may leave a strip loaded or a picture half drawn.
#include "imageex/imageex_fixture.h"
#include "fault_sweep.h"

#include <afxcmn.h>
#include <platform/host.h>

#include <functional>
#include <memory>
#include <optional>

using namespace imageex_test;

namespace {

class ImageExFaults : public ::testing::Test {
protected:
    void TearDown() override {
        host::clear_faults();
        host::reset_display();
    }
};

void SetDepth(int bits) {
    host::DisplayMode mode;
    mode.bits_per_pixel = bits;
    ASSERT_TRUE(host::set_display_mode(mode));
}

const std::vector<COLORREF> kTable = {RGB(0, 0, 0), RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255),
                                      RGB(255, 255, 255)};

} // namespace

TEST_F(ImageExFaults, CreateFailsCleanly) {
    const Picture picture = RandomPicture(12, 3, kTable, 4);
    const std::string files[] = {WriteFile("fault8.bmp", StripFile(picture, 8, kTable)),
                                 WriteFile("fault24.bmp", StripFile(picture, 24))};
    const std::string earlier =
        WriteFile("earlier.bmp", StripFile(RandomPicture(4, 2, kTable, 1), 24));
    for (int depth : {32, 24, 16, 8, 4}) {
        SetDepth(depth);
        for (const std::string& file : files) {
            for (int listMode : {0, 1}) {
                for (const auto& run :
                     {std::pair(false, fault_sweep::objects), std::pair(true, fault_sweep::objects),
                      std::pair(false, unsigned(host::heap))}) {
                    const bool loaded = run.first;
                    const unsigned kinds = run.second;
                    SCOPED_TRACE(testing::Message()
                                 << depth << " bpp, " << file << ", list " << listMode
                                 << ", loaded " << loaded << (kinds == host::heap ? ", heap" : ""));
                    std::unique_ptr<CImageEx> image;
                    HBITMAP hOld = nullptr;
                    HPALETTE hOldPalette = nullptr;
                    int result = -1;
                    sweep_creations(
                        [&] {
                            image = std::make_unique<CImageEx>();
                            if (loaded) {
                                ASSERT_EQ(image->Create(nullptr, earlier.c_str(), 2, 0, 0, 0), 1);
                            }
                            hOld = CImageExProbe::Bitmap(*image);
                            hOldPalette = CImageExProbe::Palette(*image);
                        },
                        [&] {
                            result =
                                image->Create(nullptr, file.c_str(), 3, kTable[1], 0, listMode);
                        },
                        [&](unsigned failed) {
                            if (failed == 0) {
                                EXPECT_EQ(result, 1);
                            } else if (kinds == host::heap) {
                                EXPECT_TRUE(result == 0 || result == 1);
                            } else if (CImageExProbe::Bitmap(*image) != hOld) {
                                // The strip loaded; only the image list could not be built.
                                EXPECT_EQ(result, 0);
                                EXPECT_EQ(listMode, 1);
                                EXPECT_EQ(CImageExProbe::ImageList(*image), nullptr);
                                EXPECT_EQ(CImageExProbe::Width(*image), 4);
                            } else {
                                EXPECT_EQ(result, 0);
                                EXPECT_EQ(CImageExProbe::Palette(*image), hOldPalette);
                                EXPECT_EQ(CImageExProbe::Width(*image), loaded ? 2 : 0);
                            }
                            image.reset();
                        },
                        kinds);
                }
            }
        }
    }
}

// Every drawing operation, on both paths, with the depth unchanged and across a change of depth
// (where the reload's creations are swept too).
TEST_F(ImageExFaults, DrawingFailsCleanly) {
    const std::vector<BYTE> bytes = StripFile(RandomPicture(12, 3, kTable, 4), 24);
    const std::string file = WriteFile("draw24.bmp", bytes);
    using Op = std::function<int(CImageEx&, HDC)>;
    const struct {
        const char* name;
        Op op;
    } ops[] = {
        {"Draw", [](CImageEx& i, HDC dc) { return i.Draw(dc, 1, 1, 1); }},
        {"DrawTransparent", [](CImageEx& i, HDC dc) { return i.DrawTransparent(dc, 1, 1, 1); }},
        {"DrawAlpha", [](CImageEx& i, HDC dc) { return i.DrawAlpha(dc, 1, 1, 1, 90); }},
        {"DrawAlphaTransparent",
         [](CImageEx& i, HDC dc) { return i.DrawAlphaTransparent(dc, 1, 1, 1, 90); }},
        {"DrawColorize",
         [](CImageEx& i, HDC dc) { return i.DrawColorize(dc, 1, 1, 1, RGB(255, 128, 0)); }},
        {"DrawColorizeTransparent",
         [](CImageEx& i, HDC dc) {
             return i.DrawColorizeTransparent(dc, 1, 1, 1, RGB(255, 128, 0));
         }},
        {"DrawColorizeWithBack",
         [](CImageEx& i, HDC dc) { return i.DrawColorizeWithBack(dc, 1, 1, 1, RGB(255, 128, 0)); }},
    };
    for (int depth : {32, 24, 16, 8, 4}) {
        for (bool depthChange : {false, true}) {
            for (int listMode : {0, 1}) {
                for (const auto& o : ops) {
                    SCOPED_TRACE(testing::Message() << depth << " bpp, change " << depthChange
                                                    << ", list " << listMode << ", " << o.name);
                    std::unique_ptr<CImageEx> image;
                    std::unique_ptr<Canvas> canvas;
                    const Picture background = RandomPicture(8, 5, kTable, 9);
                    const auto prepare = [&] {
                        SetDepth(depthChange ? (depth == 32 ? 16 : 32) : depth);
                        image = std::make_unique<CImageEx>();
                        ASSERT_EQ(image->Create(nullptr, file.c_str(), 3, kTable[1], 0, listMode),
                                  1);
                        SetDepth(depth);
                        canvas = std::make_unique<Canvas>(8, 5);
                        canvas->Fill(background);
                    };
                    // What the strip built for the other depth draws when the reload fails (it
                    // goes on with the old bitmaps).
                    Picture stale = background;
                    if (depthChange) {
                        prepare();
                        DeleteFileA(file.c_str());
                        o.op(*image, canvas->dc());
                        stale = canvas->Read();
                        WriteFile(file, bytes);
                        canvas.reset();
                        image.reset();
                    }
                    for (const unsigned kinds : {fault_sweep::objects, unsigned(host::heap)}) {
                        SCOPED_TRACE(kinds == host::heap ? "heap" : "objects");
                        Picture whole, untouched;
                        int expected = -1, result = -1;
                        sweep_creations(
                            [&] {
                                prepare();
                                untouched = canvas->Read();
                            },
                            [&] { result = o.op(*image, canvas->dc()); },
                            [&](unsigned failed) {
                                const Picture now = canvas->Read();
                                if (failed == 0) {
                                    expected = result;
                                    whole = now;
                                } else if (kinds == host::heap) {
                                    EXPECT_TRUE(result == 0 || result == expected);
                                } else if (listMode == 1 &&
                                           (std::string(o.name) == "Draw" ||
                                            std::string(o.name) == "DrawTransparent")) {
                                    // The image-list path returns what ImageList_Draw returned.
                                    EXPECT_TRUE(result == 0 || result == expected);
                                } else {
                                    EXPECT_EQ(result, expected);
                                }
                                if (failed != 0 && kinds != host::heap) {
                                    EXPECT_TRUE(SamePicture(whole, now) ||
                                                SamePicture(untouched, now) ||
                                                SamePicture(stale, now))
                                        << "a part of the picture was drawn";
                                }
                                canvas.reset();
                                image.reset();
                            },
                            kinds);
                    }
                }
            }
        }
    }
}
