// Failure sweeps for native tests: make each creation an operation performs fail in turn, and
// check the result and that nothing made along the way outlives the run.
//
//   const unsigned n = sweep_creations(
//       [&] { strip.emplace(); },                    // setup: fresh state for every run
//       [&] { result = strip->Create(...); },        // the operation under test
//       [&](unsigned failed) { ...; strip.reset(); } // check (0: the run without a fault)
//   );
//
// The operation first runs once without a fault, to count its creations of `kinds` (check(0)
// then sees the successful result). Then for n = 1 .. count: setup(), the n-th creation armed to
// fail, the operation, check(n). After every check the live GDI objects (per type), global and
// local blocks, open files and image lists must be back where they were before setup, so check
// releases what setup and a successful operation leave behind. Setup's own creations are not
// counted and never fail. Returns the number of creations swept.
//
// In a program that watches the platform's heap (tests/faults/heap_hook.cpp), its allocations are
// swept too and the blocks it holds must come back as well; the operation then first runs once
// more beforehand, so that what the platform keeps for good (grown tables) is in place.
#pragma once

#include "platform/host.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>

namespace fault_sweep {

// Every kind of creation but the platform's heap allocations.
inline constexpr unsigned objects = host::all & ~host::heap;

// The platform's live heap blocks, where the program watches the heap; else null.
inline long (*live_heap_blocks)() = nullptr;
// Failure points swept so far by the program, for its report.
inline unsigned swept_total = 0;

struct LiveCounts {
    std::array<int, 13> gdi{}; // by object type, OBJ_PEN (1) to OBJ_COLORSPACE (12)
    int global_blocks = 0;
    int local_blocks = 0;
    int files = 0;
    int image_lists = 0;
    long heap_blocks = 0;

    static LiveCounts now() {
        LiveCounts c;
        for (DWORD type = 1; type < c.gdi.size(); ++type) {
            c.gdi[type] = host::live_gdi_objects(type);
        }
        c.global_blocks = host::live_global_blocks();
        c.local_blocks = host::live_local_blocks();
        c.files = host::live_files();
        c.image_lists = host::live_image_lists();
        c.heap_blocks = live_heap_blocks != nullptr ? live_heap_blocks() : 0;
        return c;
    }
    bool operator==(const LiveCounts&) const = default;

    std::string describe() const {
        std::ostringstream out;
        out << "gdi";
        for (std::size_t type = 1; type < gdi.size(); ++type) {
            if (gdi[type] != 0) {
                out << " type " << type << ": " << gdi[type];
            }
        }
        out << ", global " << global_blocks << ", local " << local_blocks << ", files " << files
            << ", image lists " << image_lists << ", heap blocks " << heap_blocks;
        return out.str();
    }
};

template <class Setup, class Operation, class Check>
unsigned sweep_creations(Setup&& setup, Operation&& operation, Check&& check,
                         unsigned kinds = host::all) {
    host::clear_faults();
    if (live_heap_blocks != nullptr) {
        setup();
        operation();
        check(0u);
    }
    const LiveCounts before = LiveCounts::now();

    setup();
    host::reset_creation_count();
    operation();
    const unsigned count = host::creations_counted(kinds);
    check(0u);
    EXPECT_EQ(LiveCounts::now(), before) << "without a fault: " << LiveCounts::now().describe()
                                         << " instead of " << before.describe();

    for (unsigned n = 1; n <= count; ++n) {
        SCOPED_TRACE("creation " + std::to_string(n) + " of " + std::to_string(count) + " fails");
        setup();
        host::fail_creation(n, kinds);
        operation();
        const bool fell = !host::fault_pending();
        host::clear_faults();
        EXPECT_TRUE(fell) << "the operation made fewer creations than in its first run";
        check(n);
        ++swept_total;
        const LiveCounts after = LiveCounts::now();
        EXPECT_EQ(after, before) << after.describe() << " instead of " << before.describe();
    }
    return count;
}

} // namespace fault_sweep

using fault_sweep::sweep_creations;
