// Every creation of the colour-key blit, made to fail in turn (native only): which failures it
// reports, in the order of its working contexts, and that the destination stays untouched. At
// 32, 16 and 8 bits per pixel. (Create and its other steps, which the blit serves: what they
// report and absorb is pinned in the API fault sweep.)
#include "image/strip_host_fixture.h"

#include "fault_sweep.h"

#include <gtest/gtest.h>

#include <optional>

using strip_fixtures::Canvas;
using strip_fixtures::KeyedBlitModel;
using strip_fixtures::PixelsOf;
using strip_fixtures::StoredColour;
using strip_fixtures::StripProbe;
using namespace strip_host;

namespace {

constexpr COLORREF kMagenta = RGB(255, 0, 255);

class FaultSweep : public AtDepth {
protected:
    void SetUp() override {
        AtDepth::SetUp();
        m_ddb.Attach(strip_fixtures::MakeDdb(kWidth, kHeight, BusyStrip(kBlue)));
    }
    void TearDown() override {
        host::clear_faults();
        m_ddb.DeleteObject();
        AtDepth::TearDown();
    }

    CBitmap m_ddb;
};

} // namespace

// The frame draw stops with 0 at a working context it cannot create, in the order image, mask,
// cut-out, composite; a working bitmap it cannot make goes unreported (1). Either way the
// destination is untouched. The whole-bitmap draw reports nothing.
TEST_P(FaultSweep, DrawBitmapTransparent) {
    const int frameWidth = kWidth / 3;
    for (bool wholeBitmap : {false, true}) {
        SCOPED_TRACE(wholeBitmap ? "whole bitmap" : "frame 1");
        const int w = wholeBitmap ? kWidth : frameWidth;
        std::optional<Canvas> canvas;
        std::vector<COLORREF> before;
        int result = -1;
        StripProbe strip;
        strip.m_sizeImage = CSize(frameWidth, kHeight);
        strip.m_sizeBitmap = CSize(kWidth, kHeight);
        strip.m_crTransparent = kBlue;
        const std::vector<COLORREF> source = PixelsOf(&m_ddb);
        const unsigned count = sweep_creations(
            [&] {
                canvas.emplace(w + 4, kHeight + 2, BusyStrip(kMagenta));
                before = canvas->Pixels();
            },
            [&] {
                result = wholeBitmap ? strip.DrawBitmapTransparent(&m_ddb, canvas->dc(), 2, 1)
                                     : strip.DrawBitmapTransparent(&m_ddb, canvas->dc(), 2, 1, 1);
            },
            [&](unsigned failed) {
                if (failed == 0) {
                    EXPECT_EQ(result, 1);
                    EXPECT_EQ(canvas->Pixels(),
                              KeyedBlitModel(source, kWidth, wholeBitmap ? 0 : frameWidth, before,
                                             w + 4, 2, 1, w, kHeight, StoredColour(kBlue)));
                } else {
                    const bool context = failed == 1 || failed == 2 || failed == 4 || failed == 6;
                    EXPECT_EQ(result, wholeBitmap || !context ? 1 : 0);
                    EXPECT_EQ(canvas->Pixels(), before);
                }
                canvas.reset();
            });
        EXPECT_EQ(count, 7u);
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, FaultSweep, ::testing::Values(32, 16, 8), DepthName);
