// The table of open files. An HFILE is an int, and programs pass file handles between the
// CreateFileA family and the OpenFile/_l* family by casting, so every handle value must fit in
// 31 bits: bits 0..15 slot + 1, bits 16..23 generation, bits 24..30 the file tag. The wider
// generic handle table does not fit there.
#pragma once

#include "common/handle_table.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include <sys/types.h>

namespace platform {

struct FileObject {
    int fd = -1;
    DWORD access = 0;
    DWORD share = 0;
    dev_t dev = 0;
    ino_t ino = 0;
};

class FileTable {
public:
    // Room for one more file, so that the insert after an open needs no memory; throws
    // std::bad_alloc before anything is opened.
    void reserve_one() {
        if (free_.empty() && slots_.size() == slots_.capacity()) {
            slots_.reserve(2 * slots_.size() + 16);
        }
        if (free_.capacity() <= slots_.size()) {
            free_.reserve(2 * slots_.size() + 16);
        }
    }

    // Null when 65535 files are open.
    HANDLE insert(std::unique_ptr<FileObject> object) {
        std::size_t index;
        if (!free_.empty()) {
            index = free_.back();
            free_.pop_back();
        } else {
            if (slots_.size() >= kMaxSlots) {
                return nullptr;
            }
            index = slots_.size();
            // Room in the free list for every slot, so that remove() (CloseHandle) never
            // allocates.
            if (free_.capacity() <= slots_.size()) {
                free_.reserve(2 * slots_.size() + 16);
            }
            slots_.push_back(Slot{});
        }
        slots_[index].object = std::move(object);
        ++live_;
        const std::uintptr_t value =
            (index + 1) | (slots_[index].generation << 16) | (std::uintptr_t{kTagFile} << 24);
        return reinterpret_cast<HANDLE>(value);
    }

    FileObject* get(HANDLE handle) const {
        const Slot* slot = find(handle);
        return slot != nullptr ? slot->object.get() : nullptr;
    }

    std::unique_ptr<FileObject> remove(HANDLE handle) {
        Slot* slot = const_cast<Slot*>(find(handle));
        if (slot == nullptr) {
            return nullptr;
        }
        std::unique_ptr<FileObject> object = std::move(slot->object);
        slot->generation = slot->generation == 0xFF ? 1 : slot->generation + 1;
        free_.push_back(static_cast<std::size_t>(slot - slots_.data()));
        --live_;
        return object;
    }

    template <class F> void for_each(F&& f) const {
        for (const Slot& slot : slots_) {
            if (slot.object) {
                f(*slot.object);
            }
        }
    }

    std::size_t live() const { return live_; }

private:
    static constexpr std::size_t kMaxSlots = 0xFFFF;

    struct Slot {
        std::unique_ptr<FileObject> object;
        std::uintptr_t generation = 1;
    };

    const Slot* find(HANDLE handle) const {
        const auto value = reinterpret_cast<std::uintptr_t>(handle);
        if ((value >> 24) != kTagFile) {
            return nullptr;
        }
        const std::uintptr_t index = value & 0xFFFF;
        if (index == 0 || index > slots_.size()) {
            return nullptr;
        }
        const Slot& slot = slots_[index - 1];
        if (!slot.object || slot.generation != ((value >> 16) & 0xFF)) {
            return nullptr;
        }
        return &slot;
    }

    std::vector<Slot> slots_;
    std::vector<std::size_t> free_;
    std::size_t live_ = 0;
};

} // namespace platform
