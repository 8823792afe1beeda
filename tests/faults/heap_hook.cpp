// The heap watch for a test program: the global operator new and delete replaced, so that the
// platform's allocations are counted and can be made to fail (host::heap_allocation), and the
// blocks it still holds are counted for the sweeps' leak checks.
//
// Every block carries a header in front: its offset from the start of what malloc gave, and
// whether the platform allocated it, so that delete knows wherever it is called from.
#include "fault_sweep.h"

#include <platform/host.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> g_platform_blocks{0};

struct Header {
    std::uint32_t offset;
    std::uint32_t platform;
};

void* allocate(std::size_t size, std::size_t align, bool nothrow) {
    const host::HeapAnswer answer = host::heap_allocation();
    if (answer == host::HeapAnswer::fail) {
        if (nothrow) {
            return nullptr;
        }
        throw std::bad_alloc();
    }
    const std::size_t offset =
        align > alignof(std::max_align_t) ? align : alignof(std::max_align_t);
    void* raw = align > alignof(std::max_align_t)
                    ? std::aligned_alloc(align, (size + offset + align - 1) / align * align)
                    : std::malloc(size + offset);
    if (raw == nullptr) {
        if (nothrow) {
            return nullptr;
        }
        throw std::bad_alloc();
    }
    char* block = static_cast<char*>(raw) + offset;
    const bool platform = answer == host::HeapAnswer::platform;
    reinterpret_cast<Header*>(block)[-1] = Header{static_cast<std::uint32_t>(offset), platform};
    if (platform) {
        ++g_platform_blocks;
    }
    return block;
}

void release(void* p) noexcept {
    if (p == nullptr) {
        return;
    }
    const Header h = static_cast<Header*>(p)[-1];
    if (h.platform != 0) {
        --g_platform_blocks;
    }
    std::free(static_cast<char*>(p) - h.offset);
}

const bool g_watching = [] {
    host::watch_heap(true);
    fault_sweep::live_heap_blocks = [] { return g_platform_blocks.load(); };
    return true;
}();

} // namespace

void* operator new(std::size_t n) {
    return allocate(n, 0, false);
}
void* operator new[](std::size_t n) {
    return allocate(n, 0, false);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return allocate(n, 0, true);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return allocate(n, 0, true);
}
void* operator new(std::size_t n, std::align_val_t a) {
    return allocate(n, static_cast<std::size_t>(a), false);
}
void* operator new[](std::size_t n, std::align_val_t a) {
    return allocate(n, static_cast<std::size_t>(a), false);
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate(n, static_cast<std::size_t>(a), true);
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate(n, static_cast<std::size_t>(a), true);
}

void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    release(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    release(p);
}
