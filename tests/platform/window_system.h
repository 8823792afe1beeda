// Whether the test run can create windows: Wine without an X display cannot (its 32 bpp run is
// headless); natively it always can.
#pragma once

#include <cstdlib>

namespace test_support {

inline bool windows_available() {
#ifdef _WIN32
    return std::getenv("DISPLAY") != nullptr;
#else
    return true;
#endif
}

} // namespace test_support

#define REQUIRE_WINDOWS()                                                                          \
    if (!test_support::windows_available())                                                        \
    GTEST_SKIP() << "no window system"
