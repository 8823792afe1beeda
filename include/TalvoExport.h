// Export decoration of the library's classes and functions. On Windows the library is a DLL
// (TALVO.dll) built with TALVO_BUILDING_DLL; clients import. Elsewhere symbols are visible by
// default and the macros are empty.
#pragma once

#if defined(_WIN32) && !defined(TALVO_STATIC)
#if defined(TALVO_BUILDING_DLL)
#define TALVO_EXT_CLASS __declspec(dllexport)
#else
#define TALVO_EXT_CLASS __declspec(dllimport)
#endif
#else
#define TALVO_EXT_CLASS
#endif
#define TALVO_API TALVO_EXT_CLASS
