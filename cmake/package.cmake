# SPDX-License-Identifier: MIT
# Installing and packaging mervane. On Linux: libmervane.so.0 and what a
# consumer needs (cmake/linux-install.cmake), packed by `cpack` as a .deb and a
# .tar.gz. On Windows: MERVANE.dll with its version resource, header, module
# definition and import libraries (cmake/windows-dist.cmake), packed as a zip.
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
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Windows Media Audio files through nine plain C functions")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME mervane-${PROJECT_VERSION}-${MERVANE_WINDOWS_ARCH})
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The extended description; the summary above is the synopsis.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "libmervane gives host programs nine flat C functions for Windows Media Audio
files: file information, decoding to 16-bit PCM through a callback, encoding
at a chosen rate, channel count and bitrate, song tags, and the list of codec
formats on offer. It drives a Format SDK built on FFmpeg's libraries.
.
This package holds the shared library, its header, pkg-config file and CMake
package, and the mervane command-line tool.")
  # Dependencies are read off what the library and the tool really link.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers)
endif()
include(CPack)

# A sanitizer build is no build to ship, and its library cannot be loaded by
# the plain consumers the packaging tests build.
if(MERVANE_TESTS AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  add_subdirectory(tests/packaging)
endif()
