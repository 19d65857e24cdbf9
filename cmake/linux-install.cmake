# SPDX-License-Identifier: MIT
# What `cmake --install` puts on a Linux system: libmervane.so.0 with the usual
# links, the header, a pkg-config file, a CMake package exporting
# mervane::mervane, the host tool with its manual page, and the copyright and
# changelog a Debian package carries.
#
# The Format SDK and kernel stand-ins are linked into the shared library, so a
# consumer needs nothing but the header and libmervane.so: the exported target
# names neither them nor FFmpeg.
include(CMakePackageConfigHelpers)

set(MERVANE_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(MERVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mervane)

set_target_properties(mervane PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})

install(TARGETS mervane EXPORT mervaneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/mervane.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# pkg-config: the prefix is found from the .pc file's own place, so an
# unpacked archive works wherever it lies.
file(RELATIVE_PATH MERVANE_PC_TO_PREFIX
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${MERVANE_PACKAGING}/mervane.pc.in ${CMAKE_BINARY_DIR}/mervane.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/mervane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# CMake: find_package(mervane) gives mervane::mervane. The SONAME promises the
# interface for the whole of one major version; so does the version file.
install(EXPORT mervaneTargets NAMESPACE mervane:: DESTINATION ${MERVANE_CMAKE_DIR})
configure_package_config_file(${MERVANE_PACKAGING}/mervaneConfig.cmake.in
  ${CMAKE_BINARY_DIR}/mervaneConfig.cmake INSTALL_DESTINATION ${MERVANE_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/mervaneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/mervaneConfig.cmake ${CMAKE_BINARY_DIR}/mervaneConfigVersion.cmake
  DESTINATION ${MERVANE_CMAKE_DIR})

# Manual page and changelog, compressed the way Debian wants them (no name or
# time stamp in the gzip header, so rebuilds give the same bytes).
set(MERVANE_DOC_BUILD ${CMAKE_BINARY_DIR}/packaging)
configure_file(${MERVANE_PACKAGING}/mervane.1.in ${MERVANE_DOC_BUILD}/mervane.1 @ONLY)
add_custom_command(OUTPUT ${MERVANE_DOC_BUILD}/mervane.1.gz ${MERVANE_DOC_BUILD}/changelog.gz
  COMMAND sh -c "gzip -9nc mervane.1 > mervane.1.gz"
  COMMAND sh -c "gzip -9nc '${MERVANE_PACKAGING}/changelog' > changelog.gz"
  DEPENDS ${MERVANE_DOC_BUILD}/mervane.1 ${MERVANE_PACKAGING}/changelog
  WORKING_DIRECTORY ${MERVANE_DOC_BUILD}
  COMMENT "Compressing the manual page and the changelog" VERBATIM)
add_custom_target(mervane_docs ALL
  DEPENDS ${MERVANE_DOC_BUILD}/mervane.1.gz ${MERVANE_DOC_BUILD}/changelog.gz)

if(TARGET mervane_tool)
  install(TARGETS mervane_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${MERVANE_DOC_BUILD}/mervane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${MERVANE_PACKAGING}/copyright ${MERVANE_DOC_BUILD}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
