#include "dither_fixture.h"

namespace {

// The first dither of a process builds the shared tables and loads the lookup cache: a
// one-pixel dither does just that.
void PrepareTables(int bits) {
    BYTE header[40 + 1024 + 12] = {};
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(header);
    *h = BITMAPINFOHEADER{40, 1, 1, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    BYTE pixel[4] = {};
    HGLOBAL block = CDitherDibAccess::DitherDIB(h, pixel, bits);
    ASSERT_NE(block, nullptr);
    GlobalFree(block);
}

} // namespace

class LookUpFile : public FreshDitherProcess {};

// Created on the first run with every entry a nearest colour of its level's top value, 65536
// bytes little-endian (pinned by a checksum taken once every entry was checked nearest against a
// full scan; the search itself is held to a full scan in nearest_colour_test.cpp); read back, not
// recomputed, by the next process.
TEST_F(LookUpFile, IsCreatedOnceAndReadAfterwards) {
    const struct {
        int bits;
        const char* name;
        std::uint32_t checksum; // of the whole file
    } cases[] = {{8, "256lkup.dat", 0x5C24F80Bu}, {4, "16lkup.dat", 0x9A4D6AF5u}};
    for (const auto& c : cases) {
        Forget();
        PrepareTables(c.bits); // first dither: creates the file
        const std::vector<BYTE> file = bmpfile::ReadAll(c.name);
        ASSERT_EQ(file.size(), 65536u) << c.name;
        EXPECT_EQ(Fnv1a(file.data(), file.size()), c.checksum) << c.name;
        for (int e = 0; e < 32768; ++e) {
            ASSERT_EQ(CDitherDibAccess::LookUpCache()[e], file[2 * e] | file[2 * e + 1] << 8) << e;
        }
        // The next process reads what the file says, even where it is not the nearest colour.
        std::vector<BYTE> edited = file;
        edited[2 * 1234] = 3;
        edited[2 * 1234 + 1] = 0;
        bmpfile::write(c.name, edited);
        CDitherDibAccess::ForgetProcessTables();
        PrepareTables(c.bits);
        EXPECT_EQ(CDitherDibAccess::LookUpCache()[1234], 3);
        EXPECT_EQ(bmpfile::ReadAll(c.name), edited); // not rewritten
    }
}

// A short file fills what it holds and leaves the rest empty; other bit counts read no file and
// touch nothing.
TEST_F(LookUpFile, ShortFileLeavesTheRestEmptyAndOtherBitCountsTouchNothing) {
    std::vector<WORD> table(32768, 0xFFFF);
    for (int bits : {1, 2, 16, 24, 0}) {
        EXPECT_EQ(CDitherDibAccess::LoadLookUpTable(table.data(), bits, 32768), 0);
    }
    EXPECT_EQ(std::count(table.begin(), table.end(), 0xFFFF), 32768);
    EXPECT_TRUE(bmpfile::ReadAll("256lkup.dat").empty());
    EXPECT_TRUE(bmpfile::ReadAll("16lkup.dat").empty());

    PrepareTables(8);
    bmpfile::write("256lkup.dat", std::vector<BYTE>(101, 0x02)); // 50 entries and a half
    EXPECT_EQ(CDitherDibAccess::LoadLookUpTable(table.data(), 8, 32768), 1);
    EXPECT_EQ(table[0], 0x0202);
    EXPECT_EQ(table[49], 0x0202);
    EXPECT_EQ(table[51], 0xFFFF);
    EXPECT_EQ(table[32767], 0xFFFF);
}

// The first dither's palette and lookup file stay in force for the whole process.
TEST_F(LookUpFile, FirstDitherOfTheProcessDecidesTheTables) {
    PrepareTables(8);
    const std::vector<BYTE> before = bmpfile::ReadAll("256lkup.dat");
    PrepareTables(4);
    EXPECT_TRUE(bmpfile::ReadAll("16lkup.dat").empty());
    EXPECT_EQ(bmpfile::ReadAll("256lkup.dat"), before);
}
