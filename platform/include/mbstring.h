// Windows runtime header name for the multibyte string functions.
#pragma once
#include <wincrt.h>
