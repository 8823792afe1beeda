// Every creation of Create's steps, made to fail in turn (native only): the result and the
// strip's state are what the step promises for that failure, and nothing made along the way
// outlives it. At 32, 16 and 8 bits per pixel. (Create itself: in the API fault sweep.)
#include "image/strip_host_fixture.h"

#include "fault_sweep.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using strip_fixtures::Canvas;
using strip_fixtures::KeyedBlitModel;
using strip_fixtures::PixelsOf;
using strip_fixtures::SemiStripModel;
using strip_fixtures::StoredColour;
using strip_fixtures::StripProbe;
using namespace strip_host;

namespace {

constexpr COLORREF kMagenta = RGB(255, 0, 255);

class FaultSweep : public AtDepth {
protected:
    void SetUp() override {
        AtDepth::SetUp();
        m_section.Attach(strip_fixtures::MakeClientSection(kWidth, kHeight, BusyStrip(kBlue)));
        m_ddb.Attach(strip_fixtures::MakeDdb(kWidth, kHeight, BusyStrip(kBlue)));
        // The first dither of the process reads or writes the lookup-table file and keeps the
        // table: done here, so that every run of a sweep makes the same creations.
        StripProbe warm;
        ASSERT_EQ(warm.Create(&m_section, 3, kBlue, 0, 0), 1);
    }
    void TearDown() override {
        host::clear_faults();
        m_section.DeleteObject();
        m_ddb.DeleteObject();
        AtDepth::TearDown();
    }

    // A strip in bitmap mode with an untouched second copy in m_pSemiBitmap, as Create has it
    // before the half-transparent step.
    void LoadWithSemiCopy(StripProbe& strip) {
        ASSERT_EQ(strip.Create(&m_section, 3, kBlue, 0, 0), 1);
        ASSERT_NE(strip.CopySemiBitmap(&m_section), 0);
    }

    CBitmap m_section;
    CBitmap m_ddb;
};

} // namespace

// MakeSemiBitmap fails (0) for every failed creation of its own working set and pattern, with
// the semi bitmap's pixels untouched; the two colour-key draws report nothing. The transparent
// colour is back in every case.
TEST_P(FaultSweep, MakeSemiBitmap) {
    // The creations of one whole-bitmap colour-key draw (the DrawBitmapTransparent sweep's count).
    constexpr unsigned kPerDraw = 7;
    std::optional<StripProbe> strip;
    CBitmap* semi = nullptr;
    std::vector<COLORREF> untouched;
    int result = -1;
    std::vector<COLORREF> model;
    unsigned count = 0;
    sweep_creations(
        [&] {
            strip.emplace();
            LoadWithSemiCopy(*strip);
            semi = strip->m_pSemiBitmap;
            untouched = PixelsOf(semi);
            if (model.empty()) {
                model = SemiStripModel(untouched, kWidth, kHeight, StoredColour(kBlue),
                                       StoredColour(0x000000FF));
            }
        },
        [&] { result = strip->MakeSemiBitmap(); },
        [&](unsigned failed) {
            EXPECT_EQ(strip->m_crTransparent, kBlue);
            EXPECT_EQ(strip->m_pSemiBitmap, semi);
            if (failed == 0) {
                count = host::creations_counted();
                EXPECT_EQ(result, 1);
                EXPECT_EQ(PixelsOf(semi), model);
            } else if (failed + 2 * kPerDraw <= count) {
                EXPECT_EQ(result, 0);
                EXPECT_EQ(PixelsOf(semi), untouched);
            } else {
                EXPECT_EQ(result, 1);
            }
            strip.reset();
        });
    EXPECT_GT(count, 2 * kPerDraw);
}

// Every failure of CreateSemiImageList is reported, the semi bitmap staying and no list left,
// except the first creation: the screen DC through which it asks the display's depth. Without it
// the lists are made in the device-dependent format.
TEST_P(FaultSweep, CreateSemiImageList) {
    std::optional<StripProbe> strip;
    CBitmap* semi = nullptr;
    int result = -1;
    sweep_creations(
        [&] {
            strip.emplace();
            LoadWithSemiCopy(*strip);
            semi = strip->m_pSemiBitmap;
        },
        [&] { result = strip->CreateSemiImageList(); },
        [&](unsigned failed) {
            if (failed <= 1) {
                EXPECT_EQ(result, 1);
                EXPECT_EQ(strip->m_pSemiBitmap, nullptr);
                EXPECT_NE(strip->m_pSemiImageList, nullptr);
            } else {
                EXPECT_EQ(result, 0);
                EXPECT_EQ(strip->m_pSemiBitmap, semi);
                EXPECT_EQ(strip->m_pSemiImageList, nullptr);
            }
            strip.reset();
        });
}

TEST_P(FaultSweep, CreateImageList) {
    std::optional<StripProbe> strip;
    CBitmap* bitmap = nullptr;
    int result = -1;
    sweep_creations(
        [&] {
            strip.emplace();
            ASSERT_EQ(strip->Create(&m_section, 3, kBlue, 0, 0), 1);
            bitmap = strip->m_pBitmap;
        },
        [&] { result = strip->CreateImageList(); },
        [&](unsigned failed) {
            // The first creation is the screen DC of the depth query (see above).
            const bool made = failed <= 1;
            EXPECT_EQ(result, made ? 1 : 0);
            EXPECT_EQ(strip->m_pBitmap, made ? nullptr : bitmap);
            EXPECT_EQ(strip->m_pImageList != nullptr, made);
            strip.reset();
        });
}

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
