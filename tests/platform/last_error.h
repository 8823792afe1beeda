// A call's result and the last error it leaves, which is cleared before the call.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#define EXPECT_FAILS_WITH(call, result, error)                                                     \
    do {                                                                                           \
        SetLastError(0);                                                                           \
        EXPECT_EQ((call), (result));                                                               \
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(error));                                      \
    } while (0)
