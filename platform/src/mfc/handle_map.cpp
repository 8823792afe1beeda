#include "handle_map.h"

#include <afxwin.h>

#include <vector>

namespace afx_internal {
namespace {

struct TempMaps {
    std::vector<DeleteTemporaries> deleters;
    std::vector<CountTemporaries> counters;
    int lock_count = 0;

    void delete_all() const {
        for (DeleteTemporaries fn : deleters) {
            fn();
        }
    }
};

TempMaps& temp_maps() {
    static TempMaps* maps = new TempMaps; // never destroyed: see HandleMap::instance
    return *maps;
}

// Deletes the temporaries at process exit, so that none is left over for leak checkers.
struct ExitCleanup {
    ~ExitCleanup() { temp_maps().delete_all(); }
} exit_cleanup;

} // namespace

void register_temporaries(DeleteTemporaries delete_fn, CountTemporaries count_fn) {
    temp_maps().deleters.push_back(delete_fn);
    temp_maps().counters.push_back(count_fn);
}

std::size_t live_temporaries() {
    std::size_t n = 0;
    for (CountTemporaries fn : temp_maps().counters) {
        n += fn();
    }
    return n;
}

} // namespace afx_internal

void AFXAPI AfxLockTempMaps() {
    ++afx_internal::temp_maps().lock_count;
}

BOOL AFXAPI AfxUnlockTempMaps(BOOL bDeleteTemps) {
    auto& maps = afx_internal::temp_maps();
    if (maps.lock_count == 0) {
        return FALSE;
    }
    if (--maps.lock_count != 0) {
        return FALSE;
    }
    if (bDeleteTemps) {
        maps.delete_all();
    }
    return TRUE;
}
