// Ownership of the objects copies of a CImageEx share. A copy takes the source's handles and
// image-list pointer as they are; this table counts the holders beyond the first, keyed by the
// object's identity. An object without an entry has a single holder. The table is consulted on
// every release, so an object is deleted exactly once, by whichever holder lets go of it last.
#include "imageex_internal.h"

#include <afxcmn.h>

#include <new>
#include <unordered_map>

namespace {

// Extra holders of each shared object; objects held once have no entry. Never destroyed, so that
// a CImageEx with static storage may still release its objects at exit.
std::unordered_map<const void*, int>& ExtraHolders() {
    static auto* table = new std::unordered_map<const void*, int>;
    return *table;
}

} // namespace

bool ShareObject(const void* object) {
    try {
        ++ExtraHolders()[object];
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool DropHolder(const void* object) {
    auto& table = ExtraHolders();
    const auto it = table.find(object);
    if (it == table.end()) {
        return true;
    }
    if (--it->second == 0) {
        table.erase(it);
    }
    return false;
}

void ReleaseHeld(CImageList*& pImageList) {
    if (pImageList != nullptr) {
        if (DropHolder(pImageList)) {
            delete pImageList;
        }
        pImageList = nullptr;
    }
}
