// The Win32 subset that talvo calls, under the real header name. On Windows the real header is
// used instead and this directory is not on the include path.
#pragma once

#include <windef.h>
#include <wingdi.h>
#include <winuser.h>
#include <winbase.h>
#include <wincrt.h>
