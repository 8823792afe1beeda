# Windows (mingw-w64) build: GoogleTest from the Debian source package, everything linked
# statically so that Wine needs no runtime DLLs beside the test programs.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
add_link_options(-static -static-libgcc -static-libstdc++)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# GoogleTest's own sources are not held to our warning flags.
foreach(t gtest gtest_main)
  target_compile_options(${t} PRIVATE -w)
endforeach()

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/platform/win32/CMakeLists.txt)
  add_subdirectory(tests/platform/win32)
endif()

# The MFC subset, built on the real Win32 API, and its tests.
add_library(talvo_mfc STATIC)
target_include_directories(talvo_mfc PUBLIC ${CMAKE_SOURCE_DIR}/platform/mfc/include)
target_link_libraries(talvo_mfc PUBLIC gdi32 user32 kernel32 comctl32)
add_subdirectory(platform/src/mfc ${CMAKE_BINARY_DIR}/platform/src/mfc)
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/platform/mfc/CMakeLists.txt)
  add_subdirectory(tests/platform/mfc ${CMAKE_BINARY_DIR}/tests/platform/mfc)
endif()
