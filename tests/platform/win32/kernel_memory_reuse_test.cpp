// Large global and local blocks freed and taken again, as drawing calls do with their scratch
// copies: whatever memory comes back, zero-initialised requests read zero, reallocation keeps the
// old contents and zeroes only the new tail, and sizes are the ones asked for.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

bool AllBytes(const void* p, SIZE_T n, unsigned char value) {
    const auto* b = static_cast<const unsigned char*>(p);
    for (SIZE_T i = 0; i < n; ++i) {
        if (b[i] != value) {
            return false;
        }
    }
    return true;
}

// Sizes around the frame copies of 256x256 and 64x64 drawing, and neighbours of each other so
// that one freed block could serve the next request.
const SIZE_T kSizes[] = {256 << 10, 200 << 10, 300 << 10, 1 << 20, 64 << 10, 65 << 10, 16 << 10};

} // namespace

TEST(KernelMemoryReuse, ZeroInitialisedAfterDirtyFrees) {
    for (UINT kind : {UINT{GMEM_FIXED}, UINT{GMEM_MOVEABLE}}) {
        for (int round = 0; round < 3; ++round) {
            std::vector<HGLOBAL> dirty;
            for (SIZE_T size : kSizes) {
                HGLOBAL h = GlobalAlloc(kind, size);
                ASSERT_NE(h, nullptr);
                std::memset(GlobalLock(h), 0xCD, size);
                GlobalUnlock(h);
                dirty.push_back(h);
            }
            for (HGLOBAL h : dirty) {
                ASSERT_EQ(GlobalFree(h), nullptr);
            }
            for (SIZE_T size : kSizes) {
                SCOPED_TRACE(testing::Message() << "flags " << kind << ", " << size << " bytes");
                HGLOBAL h = GlobalAlloc(kind | GMEM_ZEROINIT, size);
                ASSERT_NE(h, nullptr);
                EXPECT_EQ(GlobalSize(h), size);
                void* p = GlobalLock(h);
                EXPECT_TRUE(AllBytes(p, size, 0));
                GlobalUnlock(h);
                EXPECT_EQ(GlobalFree(h), nullptr);
            }
        }
    }
}

TEST(KernelMemoryReuse, ReallocationKeepsContentsAndZeroesTheTail) {
    // A freed dirty block that a grown one may land in.
    HGLOBAL dirty = GlobalAlloc(GMEM_FIXED, 600 << 10);
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xEE, 600 << 10);
    ASSERT_EQ(GlobalFree(dirty), nullptr);

    const SIZE_T small = 300 << 10, large = 500 << 10;
    for (UINT kind : {UINT{GMEM_FIXED}, UINT{GMEM_MOVEABLE}}) {
        SCOPED_TRACE(testing::Message() << "flags " << kind);
        HGLOBAL h = GlobalAlloc(kind, small);
        ASSERT_NE(h, nullptr);
        std::memset(GlobalLock(h), 0x5A, small);
        GlobalUnlock(h);
        HGLOBAL grown = GlobalReAlloc(h, large, GMEM_MOVEABLE | GMEM_ZEROINIT);
        ASSERT_NE(grown, nullptr);
        EXPECT_EQ(GlobalSize(grown), large);
        auto* p = static_cast<unsigned char*>(GlobalLock(grown));
        EXPECT_TRUE(AllBytes(p, small, 0x5A));
        EXPECT_TRUE(AllBytes(p + small, large - small, 0));
        GlobalUnlock(grown);
        EXPECT_EQ(GlobalFree(grown), nullptr);
    }
}

TEST(KernelMemoryReuse, LiveBlocksNeverShareMemory) {
    // Blocks taken while others of the same size are alive, some freed between, are all distinct
    // and keep what was written in them.
    struct Written {
        HLOCAL block;
        unsigned char value;
    };
    std::vector<Written> blocks;
    for (int i = 0; i < 12; ++i) {
        if (i % 3 == 2) {
            ASSERT_EQ(LocalFree(blocks.back().block), nullptr);
            blocks.pop_back();
        }
        HLOCAL h = LocalAlloc(LMEM_FIXED, 256 << 10);
        ASSERT_NE(h, nullptr);
        const auto value = static_cast<unsigned char>(i + 1);
        std::memset(h, value, 256 << 10);
        blocks.push_back({h, value});
    }
    for (const Written& w : blocks) {
        EXPECT_TRUE(AllBytes(w.block, 256 << 10, w.value)) << "block written with " << +w.value;
        EXPECT_EQ(LocalFree(w.block), nullptr);
    }
}
