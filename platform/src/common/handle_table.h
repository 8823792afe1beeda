// A table of objects behind opaque handles, shared by every kind of handle the platform hands
// out (GDI objects, windows, memory blocks, files, modules, image lists).
//
// A handle value packs a slot index, a tag that names the table, and the slot's generation. The
// layout is a parameter of the table; most tables use WideHandles:
//   bits 0..23 slot index + 1, bits 24..31 tag, bits 32..55 generation.
// A handle of another table, a freed slot (stale generation), NULL or any made-up value is
// simply not found; nothing is ever dereferenced through a handle value.
//
// The platform is used from one thread at a time (the program's user-interface thread), as the
// library is; the table takes no locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

enum HandleTag : std::uint8_t {
    kTagGdi = 0x47,
    kTagWindow = 0x57,
    kTagGlobal = 0x4d,
    kTagLocal = 0x4c,
    kTagFile = 0x46,
    kTagModule = 0x44,
    kTagImageList = 0x49,
    kTagResource = 0x52,
};

// The handle layout of most tables. A layout names the mask of the slot index + 1 (the low bits),
// the place and mask of the generation, the mask of what lies above bit 24 that must equal the
// tag, and how many slots the table may have.
struct WideHandles {
    static constexpr std::uintptr_t kIndexMask = 0xFFFFFF;
    static constexpr unsigned kGenerationShift = 32;
    static constexpr std::uintptr_t kGenerationMask = 0xFFFFFF;
    static constexpr std::uintptr_t kTagMask = 0xFF;
    static constexpr std::size_t kMaxSlots = kIndexMask - 1;
};

template <class T, class Layout = WideHandles> class HandleTable {
public:
    explicit HandleTable(HandleTag tag) : tag_(tag) {}
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    // Room for one more object, so that the next insert needs no memory; throws std::bad_alloc.
    void reserve_one() {
        if (free_.empty() && slots_.size() == slots_.capacity()) {
            slots_.reserve(2 * slots_.size() + 16);
        }
        if (free_.capacity() <= slots_.size()) {
            free_.reserve(2 * slots_.size() + 16);
        }
    }

    // Takes ownership and returns the new handle value (never 0). Returns 0 when the table is
    // full (Layout::kMaxSlots live objects), which callers report as their Win32 failure result.
    // The object is taken only on success: when the table is full or its growth throws, it stays
    // with the caller.
    std::uintptr_t insert(std::unique_ptr<T>&& object) {
        std::size_t index;
        if (!free_.empty()) {
            index = free_.back();
            free_.pop_back();
        } else {
            if (slots_.size() >= kMaxSlots) {
                return 0;
            }
            index = slots_.size();
            // The free list gets room for every slot now, so that remove() never allocates:
            // releasing an object cannot fail for want of memory.
            if (free_.capacity() <= slots_.size()) {
                free_.reserve(2 * slots_.size() + 16);
            }
            slots_.push_back(Slot{});
        }
        Slot& slot = slots_[index];
        slot.object = std::move(object);
        ++live_;
        return encode(index, slot.generation);
    }

    // The object behind a handle, or nullptr for anything that is not a live handle of this table.
    T* get(std::uintptr_t handle) const {
        const Slot* slot = find(handle);
        return slot != nullptr ? slot->object.get() : nullptr;
    }
    T* get(const void* handle) const { return get(reinterpret_cast<std::uintptr_t>(handle)); }

    // Removes the object and hands it back (nullptr when the handle is not live). The slot's
    // generation moves on so the old value stays invalid even when the slot is reused.
    std::unique_ptr<T> remove(std::uintptr_t handle) {
        Slot* slot = const_cast<Slot*>(find(handle));
        if (slot == nullptr) {
            return nullptr;
        }
        std::unique_ptr<T> object = std::move(slot->object);
        slot->generation = (slot->generation + 1) & kGenerationMask;
        if (slot->generation == 0) {
            slot->generation = 1;
        }
        free_.push_back(static_cast<std::size_t>((handle & kIndexMask) - 1));
        --live_;
        return object;
    }
    std::unique_ptr<T> remove(const void* handle) {
        return remove(reinterpret_cast<std::uintptr_t>(handle));
    }

    std::size_t live() const { return live_; }

    // Calls f(handle, object&) for every live object.
    template <class F> void for_each(F&& f) const {
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            if (slots_[i].object) {
                f(encode(i, slots_[i].generation), *slots_[i].object);
            }
        }
    }

private:
    static constexpr std::uintptr_t kIndexMask = Layout::kIndexMask;
    static constexpr std::uintptr_t kGenerationMask = Layout::kGenerationMask;
    static constexpr std::size_t kMaxSlots = Layout::kMaxSlots;

    struct Slot {
        std::unique_ptr<T> object;
        std::uintptr_t generation = 1;
    };

    std::uintptr_t encode(std::size_t index, std::uintptr_t generation) const {
        return (static_cast<std::uintptr_t>(index) + 1) | (std::uintptr_t{tag_} << 24) |
               (generation << Layout::kGenerationShift);
    }

    const Slot* find(std::uintptr_t handle) const {
        if (((handle >> 24) & Layout::kTagMask) != tag_) {
            return nullptr;
        }
        std::uintptr_t index = handle & kIndexMask;
        if (index == 0 || index > slots_.size()) {
            return nullptr;
        }
        const Slot& slot = slots_[index - 1];
        if (!slot.object ||
            slot.generation != ((handle >> Layout::kGenerationShift) & kGenerationMask)) {
            return nullptr;
        }
        return &slot;
    }

    HandleTag tag_;
    std::vector<Slot> slots_;
    std::vector<std::size_t> free_;
    std::size_t live_ = 0;
};

} // namespace platform
