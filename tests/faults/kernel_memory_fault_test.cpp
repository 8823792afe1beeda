// Global and local memory when the platform's own heap runs out inside the call: a fixed block
// made movable (GMEM_MODIFY) either gets its movable handle or stays the fixed block it was, with
// its contents; it is never lost between the two.
#include "fault_sweep.h"

#include <platform/host.h>
#include <windows.h>

#include <cstring>

TEST(KernelMemoryFaults, AFixedBlockMadeMovableSurvivesTheHeapRunningOut) {
    struct Heap {
        const char* name;
        HANDLE (*alloc)(UINT, SIZE_T);
        HANDLE (*realloc)(HANDLE, SIZE_T, UINT);
        LPVOID (*lock)(HANDLE);
        BOOL (*unlock)(HANDLE);
        HANDLE (*free)(HANDLE);
        UINT modify;
        UINT movable;
    };
    const Heap heaps[] = {
        {"global", GlobalAlloc, GlobalReAlloc, GlobalLock, GlobalUnlock, GlobalFree, GMEM_MODIFY,
         GMEM_MOVEABLE},
        {"local", LocalAlloc, LocalReAlloc, LocalLock, LocalUnlock, LocalFree, LMEM_MODIFY,
         LMEM_MOVEABLE},
    };
    const char kContents[] = "fixed block contents";
    for (const Heap& heap : heaps) {
        SCOPED_TRACE(heap.name);
        HANDLE fixed = nullptr, result = nullptr;
        DWORD error = 0;
        const unsigned swept = sweep_creations(
            [&] {
                fixed = heap.alloc(0, sizeof kContents);
                ASSERT_NE(fixed, nullptr);
                std::memcpy(fixed, kContents, sizeof kContents);
            },
            [&] {
                SetLastError(0);
                result = heap.realloc(fixed, 0, heap.modify | heap.movable);
                error = GetLastError();
            },
            [&](unsigned failed) {
                if (failed == 0) {
                    ASSERT_NE(result, nullptr);
                }
                HANDLE held = result != nullptr ? result : fixed;
                if (result == nullptr) {
                    EXPECT_EQ(error, DWORD(ERROR_NOT_ENOUGH_MEMORY));
                } else {
                    EXPECT_NE(result, fixed) << "a movable handle is not the block's address";
                }
                const void* data = heap.lock(held);
                ASSERT_NE(data, nullptr);
                EXPECT_EQ(std::memcmp(data, kContents, sizeof kContents), 0);
                heap.unlock(held);
                EXPECT_EQ(heap.free(held), nullptr);
            },
            host::heap);
        EXPECT_GT(swept, 0u) << "the conversion makes no heap allocation to fail";
    }
}
