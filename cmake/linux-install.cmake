# SPDX-License-Identifier: MIT
# What `cmake --install` puts on a Linux system, in three components that
# cmake/package.cmake turns into Debian's three packages:
#   lib    libmervane.so.0, the shared library under its SONAME   (libmervane0)
#   dev    the header, the libmervane.so link, a pkg-config file, a CMake
#          package exporting mervane::mervane, mervane(3) and a page per
#          function leading to it                                  (libmervane-dev)
#   tools  the host tool and mervane(1)                            (mervane-tools)
# A plain install puts the copyright and changelog under share/doc/mervane;
# each package carries them under its own name.
#
# The Format SDK and kernel stand-ins are linked into the shared library, so a
# consumer needs nothing but the header and libmervane.so: the exported target
# names neither them nor FFmpeg.
include(CMakePackageConfigHelpers)

set(MERVANE_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(MERVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mervane)
# Debian names a library's package after its SONAME.
set(MERVANE_LIB_PACKAGE libmervane${PROJECT_VERSION_MAJOR})
set(MERVANE_DEV_PACKAGE libmervane-dev)
set(MERVANE_TOOLS_PACKAGE mervane-tools)

set_target_properties(mervane PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})

install(TARGETS mervane EXPORT mervaneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
    COMPONENT lib NAMELINK_COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/mervane.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

# pkg-config: the prefix is found from the .pc file's own place, so an
# unpacked archive works wherever it lies.
file(RELATIVE_PATH MERVANE_PC_TO_PREFIX
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${MERVANE_PACKAGING}/mervane.pc.in ${CMAKE_BINARY_DIR}/mervane.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/mervane.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# CMake: find_package(mervane) gives mervane::mervane. The SONAME promises the
# interface for the whole of one major version; so does the version file.
install(EXPORT mervaneTargets NAMESPACE mervane:: DESTINATION ${MERVANE_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${MERVANE_PACKAGING}/mervaneConfig.cmake.in
  ${CMAKE_BINARY_DIR}/mervaneConfig.cmake INSTALL_DESTINATION ${MERVANE_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/mervaneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/mervaneConfig.cmake ${CMAKE_BINARY_DIR}/mervaneConfigVersion.cmake
  DESTINATION ${MERVANE_CMAKE_DIR} COMPONENT dev)

# ---- Manual pages and changelog ------------------------------------------------------

# Compressed the way Debian wants them: no name or time stamp in the gzip
# header, so rebuilds give the same bytes. `man GetWmaFileInfo` and the other
# functions' names open mervane(3) through a one-line .so page each.
set(MERVANE_DOC_BUILD ${CMAKE_BINARY_DIR}/packaging)
set(MERVANE_FUNCTIONS CancelReader CloseWMAWriteFile EnumWMAFormat GetWmaFileInfo
  GetWmaSongInfo GoGoGoReader InitWMAWriteFile SetWmaSongInfo WriteWMAFile)
configure_file(${MERVANE_PACKAGING}/mervane.1.in ${MERVANE_DOC_BUILD}/man1/mervane.1 @ONLY)
configure_file(${MERVANE_PACKAGING}/mervane.3.in ${MERVANE_DOC_BUILD}/man3/mervane.3 @ONLY)
configure_file(${MERVANE_PACKAGING}/changelog ${MERVANE_DOC_BUILD}/changelog COPYONLY)
set(MERVANE_FUNCTION_PAGES)
set(compress man1/mervane.1 man3/mervane.3 changelog)
foreach(function IN LISTS MERVANE_FUNCTIONS)
  file(CONFIGURE OUTPUT ${MERVANE_DOC_BUILD}/man3/${function}.3 CONTENT ".so man3/mervane.3\n")
  list(APPEND MERVANE_FUNCTION_PAGES ${MERVANE_DOC_BUILD}/man3/${function}.3.gz)
  list(APPEND compress man3/${function}.3)
endforeach()
set(compressed)
foreach(page IN LISTS compress)
  add_custom_command(OUTPUT ${MERVANE_DOC_BUILD}/${page}.gz
    COMMAND sh -c "gzip -9nc '${page}' > '${page}.gz'"
    DEPENDS ${MERVANE_DOC_BUILD}/${page}
    WORKING_DIRECTORY ${MERVANE_DOC_BUILD} VERBATIM)
  list(APPEND compressed ${MERVANE_DOC_BUILD}/${page}.gz)
endforeach()
add_custom_target(mervane_docs ALL DEPENDS ${compressed})

install(FILES ${MERVANE_DOC_BUILD}/man3/mervane.3.gz ${MERVANE_FUNCTION_PAGES}
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT dev)
install(TARGETS mervane_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(FILES ${MERVANE_DOC_BUILD}/man1/mervane.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)

set(MERVANE_DOCS ${MERVANE_PACKAGING}/copyright ${MERVANE_DOC_BUILD}/changelog.gz)
install(FILES ${MERVANE_DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT doc)
set(components lib dev tools)
set(packages ${MERVANE_LIB_PACKAGE} ${MERVANE_DEV_PACKAGE} ${MERVANE_TOOLS_PACKAGE})
foreach(component package IN ZIP_LISTS components packages)
  install(FILES ${MERVANE_DOCS} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
    COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
