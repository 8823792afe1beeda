// Global and local memory. Both heaps behave alike: a fixed block's handle is its own address;
// a movable block has a handle from the handle table and an address only while locked, with a
// lock count in the low byte of its flags. A movable block of zero bytes is "discarded": it has
// a handle but no memory until it is reallocated.
//
// Blocks are limited to 2 GiB, as a 32-bit Windows program's would be, so that an absurd size
// from bad input fails cleanly instead of exhausting the host.
#include "common/block_cache.h"
#include "common/handle_table.h"
#include "internal/faults.h"

#include <platform/host.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>

namespace platform {

namespace {

constexpr SIZE_T kMaxBlock = SIZE_T{1} << 31;
constexpr unsigned kMaxLocks = 0xFF;

// Large blocks are kept for reuse after they are freed: a caller that takes and frees the same
// scratch memory on every call would otherwise touch fresh pages every time. Never destroyed,
// like the heaps.
BlockCache& block_cache() {
    static BlockCache* cache = new BlockCache();
    return *cache;
}

// New memory of at least `bytes` bytes (its real size in `capacity`), or null.
unsigned char* take_memory(SIZE_T bytes, SIZE_T& capacity) {
    return block_cache().take(bytes, capacity);
}

struct Block {
    unsigned char* data = nullptr; // null for a discarded movable block
    SIZE_T size = 0;
    SIZE_T capacity = 0; // of `data`, which may be larger than `size`
    unsigned locks = 0;
    bool discardable = false;
    ~Block() { release(); }
    // Gives the memory back; the block is then discarded.
    void release() {
        block_cache().give(data, capacity);
        data = nullptr;
        capacity = 0;
    }
    // Takes `memory` of `memoryCapacity` in place of what the block had.
    void replace(unsigned char* memory, SIZE_T memoryCapacity) {
        release();
        data = memory;
        capacity = memoryCapacity;
    }
};

class Heap {
public:
    // `unlock_fixed_ok`: GlobalUnlock accepts a fixed block (TRUE), LocalUnlock refuses it.
    // `discardable_flag`: how the heap's Flags call reports a discardable block (GMEM_DISCARDABLE,
    // or LMEM_DISCARDABLE, which is wider).
    Heap(HandleTag tag, bool unlock_fixed_ok, UINT discardable_flag)
        : movable_(tag), unlock_fixed_ok_(unlock_fixed_ok), discardable_flag_(discardable_flag) {}

    HANDLE alloc(UINT flags, SIZE_T bytes) {
        if (bytes > kMaxBlock || creation_fails(host::memory)) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        auto block = std::make_unique<Block>();
        block->size = bytes;
        block->discardable = (flags & GMEM_DISCARDABLE) != 0;
        const bool movable = (flags & GMEM_MOVEABLE) != 0;
        if (!movable || bytes != 0) {
            // A fixed block of zero bytes still needs an address of its own to be its handle.
            block->data = take_memory(bytes, block->capacity);
            if (block->data == nullptr) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            if (flags & GMEM_ZEROINIT) {
                std::memset(block->data, 0, bytes);
            }
        }
        if (!movable) {
            void* address = block->data;
            fixed_.emplace(address, std::move(block));
            return address;
        }
        unsigned char* data = block->data;
        const std::uintptr_t handle = movable_.insert(std::move(block));
        if (handle == 0) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        if (data != nullptr) {
            try {
                by_address_[data] = handle;
            } catch (const std::bad_alloc&) {
                movable_.remove(handle); // the block goes with it
                throw;
            }
        }
        return reinterpret_cast<HANDLE>(handle);
    }

    LPVOID lock(HANDLE h) {
        if (h == nullptr) {
            return nullptr;
        }
        bool movable = false;
        Block* b = find(h, movable);
        if (b == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        if (!movable) {
            return b->data;
        }
        if (b->data == nullptr) {
            SetLastError(ERROR_DISCARDED);
            return nullptr;
        }
        if (b->locks < kMaxLocks) {
            ++b->locks;
        }
        return b->data;
    }

    BOOL unlock(HANDLE h) {
        bool movable = false;
        Block* b = find(h, movable);
        if (b == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (!movable) {
            if (unlock_fixed_ok_) {
                return TRUE;
            }
            SetLastError(ERROR_NOT_LOCKED);
            return FALSE;
        }
        if (b->locks == 0) {
            SetLastError(ERROR_NOT_LOCKED);
            return FALSE;
        }
        if (--b->locks > 0) {
            return TRUE;
        }
        // FALSE with no error: the block is now unlocked.
        SetLastError(NO_ERROR);
        return FALSE;
    }

    SIZE_T size(HANDLE h) {
        bool movable = false;
        Block* b = find(h, movable);
        if (b == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
        return b->size;
    }

    UINT flags(HANDLE h) {
        bool movable = false;
        Block* b = find(h, movable);
        if (b == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return GMEM_INVALID_HANDLE;
        }
        if (!movable) {
            return 0;
        }
        return b->locks | (b->data == nullptr ? GMEM_DISCARDED : 0) |
               (b->discardable ? discardable_flag_ : 0);
    }

    HANDLE handle(LPCVOID address) {
        if (address == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        void* key = const_cast<void*>(address);
        if (fixed_.count(key) != 0) {
            return key;
        }
        auto it = by_address_.find(key);
        if (it != by_address_.end()) {
            return reinterpret_cast<HANDLE>(it->second);
        }
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }

    // NULL when freed; the handle itself when it is not one (Win32's failure result).
    HANDLE free(HANDLE h) {
        if (h == nullptr) {
            return nullptr;
        }
        if (std::unique_ptr<Block> b = movable_.remove(h)) {
            if (b->data != nullptr) {
                by_address_.erase(b->data);
            }
            return nullptr;
        }
        if (fixed_.erase(h) != 0) {
            return nullptr;
        }
        SetLastError(ERROR_INVALID_HANDLE);
        return h;
    }

    HANDLE realloc(HANDLE h, SIZE_T bytes, UINT flags) {
        bool movable = false;
        Block* b = find(h, movable);
        if (b == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        if (flags & GMEM_MODIFY) {
            return modify(h, b, movable, flags);
        }
        // The discardable attribute changes only with GMEM_MODIFY; asked for along with a new
        // size it is a bad request, not one to half carry out.
        if (flags & GMEM_DISCARDABLE) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        // A failed reallocation leaves the block as it was.
        if (bytes > kMaxBlock || creation_fails(host::memory)) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        if (!movable) {
            // A fixed block can only move when the caller allows it; its handle then changes.
            if (bytes <= b->size) {
                b->size = bytes;
                return h;
            }
            if (!(flags & GMEM_MOVEABLE)) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            SIZE_T capacity = 0;
            unsigned char* data = resized(b, bytes, flags, capacity);
            if (data == nullptr) {
                return nullptr;
            }
            // The new entry first: running out of memory for it leaves the old block as it was.
            try {
                fixed_.emplace(data, nullptr);
            } catch (const std::bad_alloc&) {
                block_cache().give(data, capacity);
                throw;
            }
            std::unique_ptr<Block> block = std::move(fixed_.find(h)->second);
            fixed_.erase(h);
            block->replace(data, capacity);
            block->size = bytes;
            fixed_[data] = std::move(block);
            return data;
        }
        if (bytes == 0) {
            // Shrinking to nothing discards the block, which the caller must allow with
            // GMEM_MOVEABLE; its memory cannot go while locked.
            if (!(flags & GMEM_MOVEABLE) || b->locks > 0) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
            }
            if (b->data != nullptr) {
                by_address_.erase(b->data);
                b->release();
            }
            b->size = 0;
            return h;
        }
        if (b->data != nullptr && bytes <= b->size) {
            b->size = bytes;
            return h;
        }
        // A locked block may still move when the caller says so; its old address is then
        // stale, as on Windows.
        if (b->locks > 0 && !(flags & GMEM_MOVEABLE)) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        SIZE_T capacity = 0;
        unsigned char* data = resized(b, bytes, flags, capacity);
        if (data == nullptr) {
            return nullptr;
        }
        try {
            by_address_[data] = reinterpret_cast<std::uintptr_t>(h);
        } catch (const std::bad_alloc&) {
            block_cache().give(data, capacity);
            throw;
        }
        if (b->data != nullptr) {
            by_address_.erase(b->data);
        }
        b->replace(data, capacity);
        b->size = bytes;
        return h;
    }

    int live() const { return static_cast<int>(movable_.live() + fixed_.size()); }

private:
    Block* find(HANDLE h, bool& movable) {
        if (Block* b = movable_.get(h)) {
            movable = true;
            return b;
        }
        auto it = fixed_.find(h);
        if (it != fixed_.end()) {
            movable = false;
            return it->second.get();
        }
        return nullptr;
    }

    // New memory of `bytes` holding the block's contents. Always another allocation rather than
    // realloc(), so that a caller still using the old address is caught by the sanitizers.
    static unsigned char* resized(const Block* b, SIZE_T bytes, UINT flags, SIZE_T& capacity) {
        unsigned char* data = take_memory(bytes, capacity);
        if (data == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        const SIZE_T keep = b->data != nullptr ? std::min(bytes, b->size) : 0;
        if (keep != 0) {
            std::memcpy(data, b->data, keep);
        }
        if (flags & GMEM_ZEROINIT) {
            std::memset(data + keep, 0, bytes - keep);
        }
        return data;
    }

    // GMEM_MODIFY changes attributes only: it makes a movable block discardable (a block once
    // discardable stays so), or a fixed block movable (same memory, new handle).
    HANDLE modify(HANDLE h, Block* b, bool movable, UINT flags) {
        if (movable) {
            if (flags & GMEM_DISCARDABLE) {
                b->discardable = true;
            }
            return h;
        }
        if (!(flags & GMEM_MOVEABLE)) {
            return h;
        }
        // Both table entries are made before the block leaves the fixed ones: running out of
        // memory for either leaves the fixed block as it was.
        const auto fixed = fixed_.find(h);
        unsigned char* data = b->data;
        const auto address = by_address_.emplace(data, 0).first;
        std::uintptr_t handle = 0;
        try {
            handle = movable_.insert(std::move(fixed->second));
        } catch (const std::bad_alloc&) {
            by_address_.erase(address);
            throw;
        }
        if (handle == 0) {
            by_address_.erase(address);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        fixed_.erase(fixed);
        b->discardable = (flags & GMEM_DISCARDABLE) != 0;
        address->second = handle;
        return reinterpret_cast<HANDLE>(handle);
    }

    HandleTable<Block> movable_;
    std::unordered_map<void*, std::unique_ptr<Block>> fixed_;
    std::unordered_map<void*, std::uintptr_t> by_address_; // movable blocks' memory
    bool unlock_fixed_ok_;
    UINT discardable_flag_;
};

// Never destroyed: blocks may be freed from other objects' destructors at exit.
Heap& global_heap() {
    static Heap* heap = new Heap(kTagGlobal, true, GMEM_DISCARDABLE);
    return *heap;
}
Heap& local_heap() {
    static Heap* heap = new Heap(kTagLocal, false, LMEM_DISCARDABLE);
    return *heap;
}

} // namespace

} // namespace platform

using platform::global_heap;
using platform::local_heap;

extern "C" HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    return platform::no_throw<HANDLE>(nullptr,
                                      [&] { return global_heap().alloc(uFlags, dwBytes); });
}
extern "C" HGLOBAL WINAPI GlobalReAlloc(HGLOBAL hMem, SIZE_T dwBytes, UINT uFlags) {
    return platform::no_throw<HANDLE>(nullptr,
                                      [&] { return global_heap().realloc(hMem, dwBytes, uFlags); });
}
extern "C" LPVOID WINAPI GlobalLock(HGLOBAL hMem) {
    return global_heap().lock(hMem);
}
extern "C" BOOL WINAPI GlobalUnlock(HGLOBAL hMem) {
    return global_heap().unlock(hMem);
}
extern "C" SIZE_T WINAPI GlobalSize(HGLOBAL hMem) {
    return global_heap().size(hMem);
}
extern "C" UINT WINAPI GlobalFlags(HGLOBAL hMem) {
    return global_heap().flags(hMem);
}
extern "C" HGLOBAL WINAPI GlobalHandle(LPCVOID pMem) {
    return global_heap().handle(pMem);
}
extern "C" HGLOBAL WINAPI GlobalFree(HGLOBAL hMem) {
    return global_heap().free(hMem);
}

extern "C" HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    return platform::no_throw<HANDLE>(nullptr, [&] { return local_heap().alloc(uFlags, uBytes); });
}
extern "C" HLOCAL WINAPI LocalReAlloc(HLOCAL hMem, SIZE_T uBytes, UINT uFlags) {
    return platform::no_throw<HANDLE>(nullptr,
                                      [&] { return local_heap().realloc(hMem, uBytes, uFlags); });
}
extern "C" LPVOID WINAPI LocalLock(HLOCAL hMem) {
    return local_heap().lock(hMem);
}
extern "C" BOOL WINAPI LocalUnlock(HLOCAL hMem) {
    return local_heap().unlock(hMem);
}
extern "C" SIZE_T WINAPI LocalSize(HLOCAL hMem) {
    return local_heap().size(hMem);
}
extern "C" UINT WINAPI LocalFlags(HLOCAL hMem) {
    return local_heap().flags(hMem);
}
extern "C" HLOCAL WINAPI LocalHandle(LPCVOID pMem) {
    return local_heap().handle(pMem);
}
extern "C" HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    return local_heap().free(hMem);
}

int host::live_global_blocks() {
    return global_heap().live();
}
int host::live_local_blocks() {
    return local_heap().live();
}
