// MFC subset: the wrappers talvo uses, source-compatible with MFC 4.2 for those members.
#pragma once
#include <windows.h>
