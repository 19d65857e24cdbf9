# SPDX-License-Identifier: MIT
# MERVANE.dll for 32-bit or 64-bit Windows, linked against the platform's
# WMVCore.DLL through an import library made from our own definitions.
#
# The module definitions are written for 32-bit Windows, where __stdcall names
# carry their argument bytes ("GoGoGoReader@16"). 64-bit Windows has one calling
# convention and no decoration, so the 64-bit build uses the same files with
# the decorations taken out.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(MINGW_TRIPLET x86_64-w64-mingw32)
  set(MERVANE_DEF ${CMAKE_BINARY_DIR}/mervane.def)
  set(WMVCORE_DEF ${CMAKE_BINARY_DIR}/wmvcore.def)
  file(READ ${CMAKE_SOURCE_DIR}/src/frame/mervane.def def_text)
  string(REGEX REPLACE " = [A-Za-z]+@[0-9]+" "" def_text "${def_text}")
  file(WRITE ${MERVANE_DEF} "${def_text}")
  file(READ ${CMAKE_SOURCE_DIR}/src/frame/wmvcore.def def_text)
  string(REGEX REPLACE "@[0-9]+" "" def_text "${def_text}")
  file(WRITE ${WMVCORE_DEF} "${def_text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/src/frame/mervane.def ${CMAKE_SOURCE_DIR}/src/frame/wmvcore.def)
  set(DLLTOOL_FLAGS "")
else()
  set(MINGW_TRIPLET i686-w64-mingw32)
  set(MERVANE_DEF ${CMAKE_SOURCE_DIR}/src/frame/mervane.def)
  set(WMVCORE_DEF ${CMAKE_SOURCE_DIR}/src/frame/wmvcore.def)
  set(DLLTOOL_FLAGS --kill-at)
endif()

find_program(DLLTOOL NAMES ${MINGW_TRIPLET}-dlltool REQUIRED)
set(WMVCORE_IMPLIB ${CMAKE_BINARY_DIR}/libwmvcore.a)
add_custom_command(
  OUTPUT ${WMVCORE_IMPLIB}
  COMMAND ${DLLTOOL} ${DLLTOOL_FLAGS} -d ${WMVCORE_DEF} -l ${WMVCORE_IMPLIB}
  DEPENDS ${WMVCORE_DEF}
  COMMENT "Import library for WMVCore.DLL")
add_custom_target(wmvcore_implib DEPENDS ${WMVCORE_IMPLIB})

add_library(mervane SHARED $<TARGET_OBJECTS:mervane_core> ${MERVANE_DEF})
add_dependencies(mervane wmvcore_implib)
set_target_properties(mervane PROPERTIES OUTPUT_NAME MERVANE PREFIX "" SUFFIX ".dll")
target_link_libraries(mervane PRIVATE ${WMVCORE_IMPLIB} ole32)
# The host needs nothing beside the platform's DLLs: no libgcc or libstdc++ DLLs.
target_link_options(mervane PRIVATE -static -static-libgcc -static-libstdc++
  -Wl,--enable-stdcall-fixup)

if(MERVANE_TESTS)
  add_subdirectory(tests/wine)
endif()
