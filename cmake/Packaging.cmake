# Library package files and the Debian package.
include(CMakePackageConfigHelpers)

set(BRDLINK_SOVERSION 1)
configure_file(${PROJECT_SOURCE_DIR}/packaging/brdlink.pc.in ${PROJECT_BINARY_DIR}/packaging/brdlink.pc @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/brdlinkConfig.cmake.in
               ${PROJECT_BINARY_DIR}/packaging/brdlinkConfig.cmake @ONLY)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/brdlinkConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/packaging/brdlink.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
install(FILES ${PROJECT_BINARY_DIR}/packaging/brdlinkConfig.cmake
              ${PROJECT_BINARY_DIR}/packaging/brdlinkConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/brdlink)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "orvane-tsync developers")
set(CPACK_PACKAGE_CONTACT "orvane-tsync developers <orvane-tsync@lists.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "T0 dating of a data-acquisition run with a time-code board")
set(CPACK_PACKAGE_DESCRIPTION
    "zeromark dates the T0 signal of a data-acquisition installation on absolute\n"
    "time with an IRIG-B time-code board; brdlink and small board tools stand\n"
    "around it. Ships an emulated board and a motherboard emulator, so a T0\n"
    "calibration can be rehearsed without hardware.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/${PROJECT_NAME})
# CPack drops a release number of 0 from the version and the file name:
# spell both out.
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE ORVANE_DEB_ARCH
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT ORVANE_DEB_ARCH)
  set(ORVANE_DEB_ARCH amd64)
endif()
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ORVANE_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION}-${ORVANE_RELEASE})
set(CPACK_DEBIAN_FILE_NAME ${PROJECT_NAME}_${PROJECT_VERSION}-${ORVANE_RELEASE}_${ORVANE_DEB_ARCH}.deb)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://orvane-tsync.example.org")
set(CPACK_STRIP_FILES ON)
include(CPack)
