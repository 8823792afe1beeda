// Placeholder until the module entry lands.
#include <windows.h>
