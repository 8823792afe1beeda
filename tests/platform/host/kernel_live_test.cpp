// Live counts of memory blocks and open files, which leak tests elsewhere rely on.
#include <windows.h>
#include <platform/host.h>

#include <gtest/gtest.h>

TEST(KernelLiveCounts, BlocksAndFilesAreCountedUntilReleased) {
    const int global = host::live_global_blocks();
    const int local = host::live_local_blocks();
    const int files = host::live_files();

    HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 8);
    HGLOBAL movable = GlobalAlloc(GMEM_MOVEABLE, 0);
    HLOCAL l = LocalAlloc(LMEM_MOVEABLE, 8);
    EXPECT_EQ(host::live_global_blocks(), global + 2);
    EXPECT_EQ(host::live_local_blocks(), local + 1);

    // Moving a fixed block replaces it; it is not a second block.
    fixed = GlobalReAlloc(fixed, 1 << 16, GMEM_MOVEABLE);
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(host::live_global_blocks(), global + 2);
    // Making it movable keeps the count too.
    HGLOBAL converted = GlobalReAlloc(fixed, 0, GMEM_MODIFY | GMEM_MOVEABLE);
    ASSERT_NE(converted, nullptr);
    EXPECT_EQ(GlobalHandle(GlobalLock(converted)), converted);
    EXPECT_EQ(host::live_global_blocks(), global + 2);

    HANDLE f = CreateFileA("kernel_live.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    HFILE g = _lopen("kernel_live.bin", OF_READ | OF_SHARE_DENY_NONE);
    EXPECT_EQ(g, HFILE_ERROR) << "the writer shares nothing";
    EXPECT_EQ(host::live_files(), files + 1);

    EXPECT_EQ(GlobalFree(converted), nullptr);
    EXPECT_EQ(GlobalFree(movable), nullptr);
    EXPECT_EQ(LocalFree(l), nullptr);
    EXPECT_TRUE(CloseHandle(f));
    EXPECT_TRUE(DeleteFileA("kernel_live.bin"));
    EXPECT_EQ(host::live_global_blocks(), global);
    EXPECT_EQ(host::live_local_blocks(), local);
    EXPECT_EQ(host::live_files(), files);
}
