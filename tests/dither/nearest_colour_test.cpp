#include "dither_fixture.h"

#include <algorithm>
#include <climits>
#include <random>

namespace {

using Pal = CDitherDibAccess::imgPal;

struct Sorted {
    std::vector<Pal> pal = std::vector<Pal>(256);
    std::vector<int> redIndex = std::vector<int>(256);
};

// A sorted palette and red index of our own, built the way the first dither builds the shared ones.
Sorted Build(const RGBQUAD* colours, int count) {
    Sorted s;
    CDitherDibAccess::ForgetProcessTables();
    CDitherDibAccess::InitTransPal(s.pal.data(), s.redIndex.data(), count, colours);
    CDitherDibAccess::ForgetProcessTables();
    return s;
}

std::vector<RGBQUAD> RandomPalette(unsigned seed, int count, int redLevels) {
    std::mt19937 rng(seed);
    std::vector<RGBQUAD> p(count);
    for (auto& q : p) {
        // Few red levels make many ties in the sort and in the walk.
        q = RGBQUAD{static_cast<BYTE>(rng()), static_cast<BYTE>(rng()),
                    static_cast<BYTE>(rng() % redLevels * (255 / std::max(1, redLevels - 1))), 0};
    }
    return p;
}

} // namespace

// Every value of both tables matters to the dithered output and the lookup files: checksums of
// their bytes (blue, green, red, 0), computed from the published tables.
TEST(FixedPalettes, HoldThePublishedColours) {
    EXPECT_EQ(Fnv1a(CDitherDib::Win256Palette, 256 * sizeof(RGBQUAD)), 0x6FA719E6u);
    EXPECT_EQ(Fnv1a(CDitherDib::Win16Palette, 16 * sizeof(RGBQUAD)), 0xA28BA141u);
}

// Entries of equal red come out in the order the partition leaves them, which is not the input
// order; worked through by hand for this input.
TEST(QuickPalSort, OrdersEqualRedsAsThePartitionLeavesThem) {
    Pal pal[4] = {{0, 5, 0, 0, 0}, {1, 9, 0, 0, 0}, {2, 5, 0, 0, 0}, {3, 5, 0, 0, 0}};
    CDitherDibAccess::QuickPalSort(pal, 0, 3);
    EXPECT_EQ(pal[0].index, 2);
    EXPECT_EQ(pal[1].index, 0);
    EXPECT_EQ(pal[2].index, 3);
    EXPECT_EQ(pal[3].index, 1);
}

TEST(RedIndex, PointsAtTheFirstEntryAtLeastThatRed) {
    // No entry has red 255: the search for it starts at the last entry.
    const RGBQUAD colours[] = {{0, 0, 10, 0}, {0, 0, 200, 0}, {0, 0, 10, 0}, {0, 0, 90, 0}};
    const Sorted s = Build(colours, 4);
    const int want[][2] = {{0, 0},  {10, 0},  {11, 2},  {90, 2},
                           {91, 3}, {200, 3}, {201, 3}, {255, 3}};
    for (const auto& w : want) {
        EXPECT_EQ(s.redIndex[w[0]], w[1]) << "red " << w[0];
    }
    // In the 256-colour set, red 255 exists and the index finds its first entry.
    const Sorted full = Build(CDitherDib::Win256Palette, 256);
    EXPECT_EQ(full.pal[full.redIndex[255]].red, 255);
    EXPECT_LT(full.pal[full.redIndex[255] - 1].red, 255);
}

// The pruned walk over the sorted palette finds a nearest entry for every colour: the same
// distance as a full scan (a sort that lost or misplaced an entry shows here too).
TEST(Closest, FindsANearestEntryLikeAFullScan) {
    std::vector<std::vector<RGBQUAD>> palettes = {
        std::vector<RGBQUAD>(CDitherDib::Win256Palette, CDitherDib::Win256Palette + 256),
        std::vector<RGBQUAD>(CDitherDib::Win16Palette, CDitherDib::Win16Palette + 16),
        RandomPalette(7, 256, 4),
        RandomPalette(8, 37, 256),
        RandomPalette(9, 1, 256),
    };
    std::mt19937 rng(99);
    for (const auto& colours : palettes) {
        const int count = static_cast<int>(colours.size());
        const Sorted s = Build(colours.data(), count);
        for (int probe = 0; probe < 40000; ++probe) {
            int r, g, b;
            if (probe < 32768) { // every lookup-table colour
                EntryColour(probe, r, g, b);
            } else {
                r = rng() & 255;
                g = rng() & 255;
                b = rng() & 255;
            }
            long best = LONG_MAX;
            for (const auto& q : colours) {
                best = std::min(best, Dist(q, r, g, b));
            }
            const int got =
                CDitherDibAccess::Closest(s.pal.data(), s.redIndex.data(), count, r, g, b);
            ASSERT_GE(got, 0);
            ASSERT_LT(got, count);
            ASSERT_EQ(Dist(colours[got], r, g, b), best) << r << "," << g << "," << b;
        }
    }
}

TEST(Closest, TiesKeepTheEntryFoundFirst) {
    // Start entry B at distance 10000; A below and C above both at 100: the downward step comes
    // first at each step, and an equal distance never replaces the best.
    {
        const RGBQUAD colours[] = {{0, 0, 30, 0}, {0, 100, 20, 0}, {0, 0, 10, 0}}; // C, B, A
        const Sorted s = Build(colours, 3);
        EXPECT_EQ(CDitherDibAccess::Closest(s.pal.data(), s.redIndex.data(), 3, 20, 0, 0), 2);
    }
    // The start entry wins a tie with an entry reached later.
    {
        const RGBQUAD colours[] = {{0, 0, 25, 0}, {0, 5, 20, 0}}; // Q (25,0,0), P (20,5,0)
        const Sorted s = Build(colours, 2);
        EXPECT_EQ(CDitherDibAccess::Closest(s.pal.data(), s.redIndex.data(), 2, 20, 0, 0), 1);
    }
    // A colour held twice (48,48,48 at 187 and 197): the walk meets 187 first and keeps it, and
    // that is the entry the dithering writes for that grey.
    const Sorted s = Build(CDitherDib::Win256Palette, 256);
    const int got = CDitherDibAccess::Closest(s.pal.data(), s.redIndex.data(), 256, 48, 48, 48);
    EXPECT_EQ(got, 187);
    EXPECT_EQ(s.pal[s.redIndex[48]].index, got);
}
