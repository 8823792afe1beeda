// A few large blocks kept after they are freed, handed out again for the next request of about
// the same size. A drawing call that makes and frees the same scratch memory every time (the DIB
// copies of an alpha draw, for instance) otherwise gets fresh pages from the system each time and
// pays a page fault for every 4 KiB on first touch, which costs far more than the pixel work done
// in them. Small blocks are left to malloc, which reuses them anyway.
//
// The contents of a block taken from the cache are whatever its last user left there: callers that
// promise zeroed memory clear it themselves. In sanitizer builds nothing is kept, so that a use
// after free is still caught. Not thread-safe, like the rest of the platform's object tables.
#pragma once

#include <cstddef>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define PLATFORM_BLOCK_CACHE_OFF 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLATFORM_BLOCK_CACHE_OFF 1
#endif
#endif

namespace platform {

class BlockCache {
public:
    static constexpr std::size_t kMinBytes = std::size_t{64} << 10; // smaller ones go to malloc
    static constexpr std::size_t kMaxKeptBytes = std::size_t{32} << 20;
    static constexpr int kMaxKept = 8;
    static constexpr std::size_t kAlignFrom = kMinBytes;

    // At least `bytes` bytes (at least 1), or null; `capacity` receives the block's real size,
    // to be given back with it. A kept block is used when it is no more than twice as large.
    unsigned char* take(std::size_t bytes, std::size_t& capacity) {
        const std::size_t wanted = bytes != 0 ? bytes : 1;
        int best = -1;
        for (int i = 0; i < count_; ++i) {
            const std::size_t size = kept_[i].capacity;
            if (size >= wanted && size / 2 <= wanted && (best < 0 || size < kept_[best].capacity)) {
                best = i;
            }
        }
        if (best >= 0) {
            unsigned char* block = kept_[best].block;
            capacity = kept_[best].capacity;
            kept_bytes_ -= capacity;
            kept_[best] = kept_[--count_];
            return block;
        }
        capacity = wanted;
        // Large blocks start on a cache line, so that wide loads and stores in them do not
        // straddle two lines.
        void* block = nullptr;
        if (wanted < kAlignFrom) {
            block = std::malloc(wanted);
        } else if (posix_memalign(&block, 64, wanted) != 0) {
            block = nullptr;
        }
        return static_cast<unsigned char*>(block);
    }

    // Keeps a large block while there is room (kept blocks make way for it), frees
    // anything else. Null is ignored.
    void give(unsigned char* block, std::size_t capacity) {
        if (block == nullptr) {
            return;
        }
#ifndef PLATFORM_BLOCK_CACHE_OFF
        if (capacity >= kMinBytes && capacity <= kMaxKeptBytes) {
            while (count_ > 0 && (count_ == kMaxKept || kept_bytes_ + capacity > kMaxKeptBytes)) {
                std::free(kept_[0].block);
                kept_bytes_ -= kept_[0].capacity;
                kept_[0] = kept_[--count_];
            }
            kept_[count_++] = {block, capacity};
            kept_bytes_ += capacity;
            return;
        }
#else
        (void)capacity;
#endif
        std::free(block);
    }

    ~BlockCache() {
        for (int i = 0; i < count_; ++i) {
            std::free(kept_[i].block);
        }
    }

private:
    struct Kept {
        unsigned char* block;
        std::size_t capacity;
    };
    Kept kept_[kMaxKept] = {};
    int count_ = 0;
    std::size_t kept_bytes_ = 0;
};

} // namespace platform
