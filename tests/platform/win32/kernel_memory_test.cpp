// Global and local memory blocks: fixed and movable, lock counts, reallocation and discarding;
// large blocks freed and taken again, as drawing calls do with their scratch copies.
#include <windows.h>

#include "platform/last_error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

bool all_bytes(const void* p, std::size_t n, unsigned char value) {
    const auto* b = static_cast<const unsigned char*>(p);
    return std::all_of(b, b + n, [&](unsigned char c) { return c == value; });
}

// A global block's size and flags.
using Block = std::vector<SIZE_T>;
Block block(HGLOBAL h) {
    return {GlobalSize(h), GlobalFlags(h)};
}

// Sizes around the frame copies of 256x256 and 64x64 drawing, and neighbours of each other so
// that one freed block could serve the next request.
const SIZE_T kSizes[] = {256 << 10, 200 << 10, 300 << 10, 1 << 20, 64 << 10, 65 << 10, 16 << 10};

} // namespace

TEST(KernelMemory, FixedBlockIsItsOwnAddress) {
    HGLOBAL h = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(all_bytes(h, 16, 0));
    EXPECT_EQ(GlobalLock(h), h);
    EXPECT_TRUE(GlobalUnlock(h));
    EXPECT_EQ(GlobalFlags(h), 0u);
    EXPECT_EQ(GlobalHandle(h), h);
    std::memset(h, 0xAB, 16);

    // Shrinking stays in place; growing needs permission to move, and the handle changes.
    EXPECT_EQ(GlobalReAlloc(h, 8, 0), h);
    EXPECT_EQ(block(h), (Block{8, 0}));
    EXPECT_FAILS_WITH(GlobalReAlloc(h, 1 << 20, 0), nullptr, ERROR_NOT_ENOUGH_MEMORY);
    HGLOBAL moved = GlobalReAlloc(h, 1 << 20, GMEM_MOVEABLE | GMEM_ZEROINIT);
    ASSERT_NE(moved, nullptr);
    EXPECT_NE(moved, h);
    EXPECT_EQ(block(moved), (Block{1 << 20, 0})) << "still a fixed block";
    EXPECT_TRUE(all_bytes(moved, 8, 0xAB));
    EXPECT_TRUE(all_bytes(static_cast<char*>(moved) + 8, (1 << 20) - 8, 0));

    EXPECT_EQ(GlobalFree(moved), nullptr);
    EXPECT_FAILS_WITH(GlobalFree(moved), moved, ERROR_INVALID_HANDLE);
}

TEST(KernelMemory, MovableBlockLockCounts) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalFlags(h), 0u);
    EXPECT_FAILS_WITH(GlobalUnlock(h), FALSE, ERROR_NOT_LOCKED);

    void* p = GlobalLock(h);
    ASSERT_NE(p, nullptr);
    EXPECT_NE(p, static_cast<void*>(h));
    EXPECT_EQ(GlobalHandle(p), h);
    EXPECT_EQ(GlobalFlags(h), 1u);
    EXPECT_EQ(GlobalLock(h), p);
    EXPECT_EQ(GlobalFlags(h), 2u);

    // Unlocking reports TRUE while still locked, then FALSE with no error, then an error.
    EXPECT_TRUE(GlobalUnlock(h));
    SetLastError(77);
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    EXPECT_FAILS_WITH(GlobalUnlock(h), FALSE, ERROR_NOT_LOCKED);

    // The count stops at 255.
    for (int i = 0; i < 300; ++i) {
        GlobalLock(h);
    }
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 255u);
    // A locked block can still be freed.
    EXPECT_EQ(GlobalFree(h), nullptr);

    HGLOBAL d = GlobalAlloc(GMEM_MOVEABLE | GMEM_DISCARDABLE, 10);
    EXPECT_EQ(GlobalFlags(d), static_cast<UINT>(GMEM_DISCARDABLE));
    // GMEM_MODIFY can make a block discardable but never takes that back.
    EXPECT_EQ(GlobalReAlloc(d, 0, GMEM_MODIFY), d);
    EXPECT_EQ(GlobalFlags(d), static_cast<UINT>(GMEM_DISCARDABLE));
    GlobalFree(d);
}

TEST(KernelMemory, ReallocatingALockedMovableBlock) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
    auto* p = static_cast<unsigned char*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    std::memset(p, 0x5A, 16);

    // Locked: it may not move unless the caller allows it, and it cannot be discarded.
    EXPECT_FAILS_WITH(GlobalReAlloc(h, 1 << 20, 0), nullptr, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(GlobalReAlloc(h, 0, GMEM_MOVEABLE), nullptr);
    EXPECT_EQ(block(h), (Block{16, 1}));

    // With GMEM_MOVEABLE it moves: same handle, same lock count, contents kept.
    EXPECT_EQ(GlobalReAlloc(h, 1 << 20, GMEM_MOVEABLE), h);
    EXPECT_EQ(block(h), (Block{1 << 20, 1}));
    auto* q = static_cast<unsigned char*>(GlobalLock(h));
    ASSERT_NE(q, nullptr);
    EXPECT_TRUE(all_bytes(q, 16, 0x5A));
    EXPECT_EQ(GlobalHandle(q), h);
    GlobalUnlock(h);
    GlobalUnlock(h);
    EXPECT_EQ(GlobalFlags(h), 0u);
    GlobalFree(h);
}

TEST(KernelMemory, DiscardedBlocks) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
    // Discarding needs GMEM_MOVEABLE, and GMEM_DISCARDABLE goes only with GMEM_MODIFY: either
    // mistake is refused and the block keeps its memory.
    for (UINT flags : {0u, UINT{GMEM_ZEROINIT}, UINT{GMEM_MOVEABLE | GMEM_DISCARDABLE}}) {
        SCOPED_TRACE(flags);
        EXPECT_FAILS_WITH(GlobalReAlloc(h, 0, flags), nullptr, ERROR_INVALID_PARAMETER);
        EXPECT_EQ(block(h), (Block{16, 0}));
    }
    EXPECT_FAILS_WITH(GlobalReAlloc(h, 32, GMEM_MOVEABLE | GMEM_DISCARDABLE), nullptr,
                      ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GlobalReAlloc(h, 0, GMEM_MOVEABLE), h);
    EXPECT_EQ(block(h), (Block{0, GMEM_DISCARDED}));
    EXPECT_FAILS_WITH(GlobalLock(h), nullptr, ERROR_DISCARDED);

    // Reallocating brings it back, zeroed when asked.
    EXPECT_EQ(GlobalReAlloc(h, 32, GMEM_MOVEABLE | GMEM_ZEROINIT), h);
    EXPECT_EQ(block(h), (Block{32, 0}));
    void* p = GlobalLock(h);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(all_bytes(p, 32, 0));
    GlobalUnlock(h);
    GlobalFree(h);

    // A movable block of zero bytes starts out discarded.
    HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(GlobalLock(empty), nullptr);
    EXPECT_EQ(block(empty), (Block{0, GMEM_DISCARDED}));
    EXPECT_EQ(GlobalFree(empty), nullptr);
}

TEST(KernelMemory, FreedAndBogusHandlesFail) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 8);
    ASSERT_EQ(GlobalFree(h), nullptr);
    EXPECT_FAILS_WITH(GlobalLock(h), nullptr, ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(GlobalSize(h), 0u, ERROR_INVALID_HANDLE);
    EXPECT_EQ(GlobalFlags(h), UINT{GMEM_INVALID_HANDLE});
    EXPECT_EQ(GlobalReAlloc(h, 16, GMEM_MOVEABLE), nullptr);
    EXPECT_EQ(GlobalFree(h), h);

    EXPECT_EQ(GlobalFree(nullptr), nullptr);
    EXPECT_EQ(GlobalLock(nullptr), nullptr);
    EXPECT_EQ(GlobalSize(nullptr), 0u);
    EXPECT_FALSE(GlobalUnlock(nullptr));
    EXPECT_FAILS_WITH(GlobalHandle(nullptr), nullptr, ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(LocalHandle(nullptr), nullptr, ERROR_INVALID_PARAMETER);

    EXPECT_FAILS_WITH(GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(1) << 60), nullptr,
                      ERROR_NOT_ENOUGH_MEMORY);
}

TEST(KernelMemory, LocalBlocks) {
    HLOCAL m = LocalAlloc(LHND, 4);
    ASSERT_NE(m, nullptr);
    EXPECT_FAILS_WITH(LocalUnlock(m), FALSE, ERROR_NOT_LOCKED);
    void* p = LocalLock(m);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(all_bytes(p, 4, 0));
    SetLastError(77);
    EXPECT_FALSE(LocalUnlock(m));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(LocalSize(m), 4u);
    EXPECT_FAILS_WITH(LocalReAlloc(m, 0, 0), nullptr, ERROR_INVALID_PARAMETER);
    ASSERT_NE(LocalLock(m), nullptr);
    EXPECT_FAILS_WITH(LocalReAlloc(m, 0, LMEM_MOVEABLE), nullptr, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(LocalFlags(m), 1u);
    EXPECT_EQ(LocalFree(m), nullptr);
    EXPECT_FAILS_WITH(LocalFree(m), m, ERROR_INVALID_HANDLE);

    // Unlike GlobalUnlock, LocalUnlock refuses a fixed block.
    HLOCAL f = LocalAlloc(LPTR, 4);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(LocalLock(f), f);
    EXPECT_FAILS_WITH(LocalUnlock(f), FALSE, ERROR_NOT_LOCKED);
    EXPECT_EQ(LocalFree(f), nullptr);

    // A discardable local block reports all the bits of LMEM_DISCARDABLE.
    HLOCAL d = LocalAlloc(LMEM_MOVEABLE | LMEM_DISCARDABLE, 4);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(LocalFlags(d), static_cast<UINT>(LMEM_DISCARDABLE));
    EXPECT_EQ(LocalFree(d), nullptr);
}

// Whatever memory comes back, zero-initialised requests read zero, reallocation keeps the old
// contents and zeroes only the new tail, and sizes are the ones asked for.
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
                EXPECT_TRUE(all_bytes(GlobalLock(h), size, 0));
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
        EXPECT_TRUE(all_bytes(p, small, 0x5A));
        EXPECT_TRUE(all_bytes(p + small, large - small, 0));
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
        EXPECT_TRUE(all_bytes(w.block, 256 << 10, w.value)) << "block written with " << +w.value;
        EXPECT_EQ(LocalFree(w.block), nullptr);
    }
}
