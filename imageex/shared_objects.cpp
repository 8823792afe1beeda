// Ownership of the objects copies of a CImageEx share. A copy takes the source's handles and
// image-list pointer as they are; the table of holders is consulted on every release, so an
// object is deleted exactly once, by whichever holder lets go of it last.
#include "imageex_internal.h"

#include <afxcmn.h>

// Never destroyed, so that a CImageEx with static storage may still release its objects at exit.
HolderTable& SharedHolders() {
    static auto* table = new HolderTable;
    return *table;
}

void ReleaseHeld(CImageList*& pImageList) {
    if (pImageList != nullptr) {
        if (SharedHolders().Drop(pImageList)) {
            delete pImageList;
        }
        pImageList = nullptr;
    }
}
