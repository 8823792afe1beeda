// For tests of the wrapper maps: not part of the MFC interface.
#pragma once

#include <cstddef>

namespace afx_internal {

// The number of temporary wrappers (GDI objects, DCs, image lists) alive right now.
std::size_t live_temporaries();

} // namespace afx_internal
