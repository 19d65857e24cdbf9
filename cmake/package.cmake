# SPDX-License-Identifier: MIT
# Installing and packaging mervane. On Linux: libmervane.so.0 and what a
# consumer needs (cmake/linux-install.cmake), packed by `cpack` as three .debs
# (library, development files, tool) and one .tar.gz. On Windows: MERVANE.dll
# with its version resource, header, module definition and import libraries
# (cmake/windows-dist.cmake), packed as a zip.
# Debian and its kin keep libraries in a folder per architecture, under
# /usr/local as under /usr: so do we, unless told otherwise.
if(NOT WIN32 AND CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR})
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries")
endif()
include(GNUInstallDirs)
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/windows-dist.cmake)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/linux-install.cmake)
endif()

set(CPACK_PACKAGE_NAME mervane)
set(CPACK_PACKAGE_VENDOR "mervane developers")
set(CPACK_PACKAGE_CONTACT "mervane developers <dev@mervane.invalid>")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME mervane-${PROJECT_VERSION}-${MERVANE_WINDOWS_ARCH})
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_STRIP_FILES ON)
  # Debian's split, one package per component; the .tar.gz stays one archive
  # of a whole install.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL lib dev tools)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The first line of each description is the package's synopsis.
  set(intro "libmervane gives host programs nine flat C functions for Windows Media
Audio files: file information, decoding to 16-bit PCM through a callback,
encoding at a chosen rate, channel count and bitrate, song tags, and the list
of codec formats on offer. It drives a Format SDK built on FFmpeg's libraries.
.")

  set(CPACK_DEBIAN_LIB_PACKAGE_NAME ${MERVANE_LIB_PACKAGE})
  set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_LIB_DESCRIPTION "Windows Media Audio files through nine plain C functions
${intro}
This package holds the shared library.")
  # Dependencies: see packaging/cpack-project.cmake.in. A program built against
  # this version needs at least MERVANE_SHLIBS_VERSION: raise it when the
  # library gains an export.
  set(CPACK_DEBIAN_LIB_PACKAGE_SHLIBDEPS OFF)
  set(MERVANE_SHLIBS_VERSION 0.2.0)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/shlibs.in ${CMAKE_BINARY_DIR}/packaging/deb/shlibs @ONLY)
  set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/packaging/deb/shlibs ${PROJECT_SOURCE_DIR}/packaging/triggers)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/cpack-project.cmake.in
    ${CMAKE_BINARY_DIR}/packaging/cpack-project.cmake.in @ONLY)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/packaging/cpack-project.cmake
    INPUT ${CMAKE_BINARY_DIR}/packaging/cpack-project.cmake.in)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/packaging/cpack-project.cmake)

  set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${MERVANE_DEV_PACKAGE})
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${MERVANE_LIB_PACKAGE} (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_DEV_DESCRIPTION "Windows Media Audio files through nine plain C functions - development files
${intro}
This package holds what building a program against the library takes: the
header, the pkg-config file, the CMake package, and the mervane(3) manual.")

  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${MERVANE_TOOLS_PACKAGE})
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION sound)
  # The tool runs the library of its own build; the rest is read off the binary.
  set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${MERVANE_LIB_PACKAGE} (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
  set(CPACK_DEBIAN_TOOLS_DESCRIPTION "show, decode, encode, transcode and tag Windows Media Audio files
mervane is a command-line host of libmervane. It shows a file's format and
song tags, sets the tags, decodes to WAV or FLAC, encodes WAV, AIFF, FLAC and
Ogg Vorbis files (read through libsndfile), transcodes, and lists the codec
formats on offer, with JSON output for scripts.")
endif()
include(CPack)

# A sanitizer build is no build to ship, and its library cannot be loaded by
# the plain consumers the packaging tests build.
if(MERVANE_TESTS AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  add_subdirectory(tests/packaging)
endif()
