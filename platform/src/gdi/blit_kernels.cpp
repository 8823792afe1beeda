// The portable set of blit row loops, the choice of a set for this processor (once, the fastest
// it runs), and the host calls through which tests force a set or turn the fast paths off.
#include "blit_internal.h"
#include "platform/host.h"

namespace platform::gdi {
namespace {

using kernels::bytes;
using kernels::expand;
using kernels::mask;

const BlitKernels kPortable = {
    "portable",
    {nullptr, &bytes<RowOp::and_>, &bytes<RowOp::or_>, &bytes<RowOp::xor_>, &bytes<RowOp::and_not>},
    {&mask<1>, &mask<2>, &mask<3>, &mask<4>},
    {&expand<RowOp::copy, 2>, &expand<RowOp::and_, 2>, &expand<RowOp::or_, 2>,
     &expand<RowOp::xor_, 2>, &expand<RowOp::and_not, 2>},
    {&expand<RowOp::copy, 4>, &expand<RowOp::and_, 4>, &expand<RowOp::or_, 4>,
     &expand<RowOp::xor_, 4>, &expand<RowOp::and_not, 4>},
    &kernels::convert16<kernels::rgb555_to_565>,
    &kernels::convert16<kernels::rgb565_to_555>,
    &kernels::copy_masked,
};

// The sets this processor runs, slowest first.
std::vector<const BlitKernels*> available_sets() {
    std::vector<const BlitKernels*> sets{&kPortable};
    for (const BlitKernels* k : {sse2_blit_kernels(), avx2_blit_kernels(), avx512_blit_kernels()}) {
        if (k != nullptr) {
            sets.push_back(k);
        }
    }
    return sets;
}

const BlitKernels* g_forced = nullptr;

} // namespace

bool blit_fast_paths = true;

const BlitKernels& portable_blit_kernels() {
    return kPortable;
}

const BlitKernels* g_blit_kernels = nullptr;

const BlitKernels& choose_blit_kernels() {
    static const BlitKernels* const best = available_sets().back();
    g_blit_kernels = g_forced != nullptr ? g_forced : best;
    return *g_blit_kernels;
}

} // namespace platform::gdi

namespace host {

std::vector<std::string> blit_kernel_sets() {
    std::vector<std::string> names;
    for (const auto* k : platform::gdi::available_sets()) {
        names.emplace_back(k->name);
    }
    return names;
}

bool use_blit_kernels(const std::string& name) {
    if (name.empty()) {
        platform::gdi::g_forced = nullptr;
        platform::gdi::choose_blit_kernels();
        return true;
    }
    for (const auto* k : platform::gdi::available_sets()) {
        if (name == k->name) {
            platform::gdi::g_forced = k;
            platform::gdi::choose_blit_kernels();
            return true;
        }
    }
    return false;
}

std::string blit_kernels_in_use() {
    return platform::gdi::blit_kernels().name;
}

void set_blit_fast_paths(bool on) {
    platform::gdi::blit_fast_paths = on;
}

} // namespace host
