# Windows (mingw-w64) build: GoogleTest from the Debian source package; the C and C++ runtimes
# linked statically into every program and DLL so that Wine needs nothing beside them in bin/.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
add_link_options(-static -static-libgcc -static-libstdc++)
enable_language(RC)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# GoogleTest's own sources are not held to our warning flags.
foreach(t gtest gtest_main)
  target_compile_options(${t} PRIVATE -w)
endforeach()

# The MFC subset on the real Win32 API. A DLL, as natively: the library and the programs using
# it share one copy of its process-wide state (the resource module chain that
# AfxFindResourceHandle searches, the handle maps behind CDC::FromHandle), and CDC* or CBitmap*
# pass between them. The subset's headers carry no export decorations, so the linker exports
# every symbol and clients import them, data included (mingw's auto-import).
add_library(talvo_mfc SHARED)
target_include_directories(talvo_mfc PUBLIC ${CMAKE_SOURCE_DIR}/platform/mfc/include)
target_link_libraries(talvo_mfc PUBLIC gdi32 user32 kernel32 comctl32)
# Not the static runtime's symbols, though: each module keeps its own copy of those.
target_link_options(talvo_mfc PRIVATE -Wl,--exclude-libs,libgcc.a:libgcc_eh.a:libstdc++.a:libwinpthread.a:libpthread.a)
add_subdirectory(platform/src/mfc ${CMAKE_BINARY_DIR}/platform/src/mfc)
