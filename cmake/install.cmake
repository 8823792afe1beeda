# What `cmake --install` puts into the prefix (native builds): the headers a client compiles
# against, all in one folder (the library's, the Win32 subset with platform/host.h, the MFC
# subset); the three shared libraries with their SONAME; the talvo program and its sample strips;
# a CMake package (find_package(talvo CONFIG): talvo::talvo, talvo::mfc, talvo::platform) and
# talvo.pc for pkg-config. Both package files find the prefix from where they lie, so an install
# moved elsewhere, or made with `cmake --install build --prefix DIR`, still works.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TALVO_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/talvo)
set(TALVO_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/talvo)

set_target_properties(talvo_platform PROPERTIES EXPORT_NAME platform)
set_target_properties(talvo_mfc PROPERTIES EXPORT_NAME mfc)
foreach(lib talvo talvo_mfc talvo_platform)
  set_target_properties(${lib} PROPERTIES VERSION ${PROJECT_VERSION}
                                          SOVERSION ${PROJECT_VERSION_MAJOR})
endforeach()
# The installed program finds the libraries beside it, in ../lib.
file(RELATIVE_PATH talvo_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(talvo_tool PROPERTIES INSTALL_RPATH "$ORIGIN/${talvo_bin_to_lib}")

install(TARGETS talvo talvo_mfc talvo_platform EXPORT talvoTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${TALVO_INSTALL_INCLUDEDIR})
install(TARGETS talvo_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/ ${CMAKE_SOURCE_DIR}/platform/include/
                  ${CMAKE_SOURCE_DIR}/platform/mfc/include/
        DESTINATION ${TALVO_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
# talvo demo finds them there, from its own folder.
file(RELATIVE_PATH talvo_bin_to_samples ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_DATADIR}/talvo/samples)
target_compile_definitions(talvo_tool PRIVATE TALVO_INSTALLED_SAMPLES="${talvo_bin_to_samples}")
install(FILES ${CMAKE_SOURCE_DIR}/tools/samples/coin.bmp ${CMAKE_SOURCE_DIR}/tools/samples/orb.bmp
              ${CMAKE_SOURCE_DIR}/tools/samples/walker.bmp
        DESTINATION ${CMAKE_INSTALL_DATADIR}/talvo/samples)

install(EXPORT talvoTargets NAMESPACE talvo:: DESTINATION ${TALVO_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/talvoConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/talvoConfig.cmake
                              INSTALL_DESTINATION ${TALVO_INSTALL_CMAKEDIR})
# 0.x: a new minor version may change the interface.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/talvoConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/talvoConfig.cmake ${CMAKE_BINARY_DIR}/talvoConfigVersion.cmake
        DESTINATION ${TALVO_INSTALL_CMAKEDIR})

file(RELATIVE_PATH TALVO_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" TALVO_PC_TO_PREFIX "${TALVO_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/talvo.pc.in ${CMAKE_BINARY_DIR}/talvo.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/talvo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
