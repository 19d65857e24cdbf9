# SPDX-License-Identifier: MIT
# libmervane.so for Linux over the Win32 kernel stand-ins and the FFmpeg-backed
# Format SDK stand-in.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libswresample libavutil)
find_package(Threads REQUIRED)

file(GLOB_RECURSE KERNEL_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/platform/win32-kernel-linux/*.cpp)
add_library(win32_kernel STATIC ${KERNEL_SOURCES})
target_include_directories(win32_kernel PUBLIC ${CMAKE_SOURCE_DIR}/platform/win32-kernel-linux)
target_link_libraries(win32_kernel PUBLIC Threads::Threads)
set_target_properties(win32_kernel PROPERTIES
  POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
# The contract's Win32 types come from the kernel stand-in here.
target_link_libraries(mervane_wm_contract INTERFACE win32_kernel)

file(GLOB_RECURSE FORMAT_SDK_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/platform/format-sdk-ffmpeg/*.cpp)
add_library(format_sdk STATIC ${FORMAT_SDK_SOURCES})
# The stand-in sees the contract and nothing else of src/.
target_include_directories(format_sdk PUBLIC ${CMAKE_SOURCE_DIR}/platform/format-sdk-ffmpeg)
target_link_libraries(format_sdk PUBLIC mervane_wm_contract win32_kernel PkgConfig::FFMPEG
  Threads::Threads)
set_target_properties(format_sdk PROPERTIES
  POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

add_library(mervane SHARED $<TARGET_OBJECTS:mervane_core>)
target_link_libraries(mervane PRIVATE format_sdk win32_kernel)
target_include_directories(mervane PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>)
# -z nodelete: the end of a decode runs on a pool thread inside the library, and
# a host may unload the library from the end call it makes; the code must stay
# mapped until that thread has left it.
target_link_options(mervane PRIVATE
  -Wl,--version-script=${CMAKE_SOURCE_DIR}/src/frame/exports.map -Wl,--no-undefined
  -Wl,-z,nodelete)
set_target_properties(mervane PROPERTIES LINK_DEPENDS ${CMAKE_SOURCE_DIR}/src/frame/exports.map)

add_subdirectory(tools)
if(MERVANE_TESTS)
  add_subdirectory(tests)
elseif(MERVANE_FUZZ)
  add_subdirectory(tests/fuzz)
endif()
add_subdirectory(bench)
