# SPDX-License-Identifier: MIT
# MERVANE.dll as shipped to Windows developers: a version resource in the DLL,
# import libraries for mingw (libmervane.dll.a) and for MSVC-style linkers
# (MERVANE.lib), the module definition they are made from, and the layout of
# the zip that `cpack` makes.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(MERVANE_WINDOWS_ARCH win64)
  set(LLVM_DLLTOOL_MACHINE i386:x86-64)
else()
  set(MERVANE_WINDOWS_ARCH win32)
  set(LLVM_DLLTOOL_MACHINE i386)
endif()

# ---- Version resource --------------------------------------------------------------

enable_language(RC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/mervane.rc.in ${CMAKE_BINARY_DIR}/mervane.rc @ONLY)
target_sources(mervane PRIVATE ${CMAKE_BINARY_DIR}/mervane.rc)

# ---- Import libraries ----------------------------------------------------------------

# The DLL exports bare names. A 32-bit host's compiler asks for the __stdcall
# names (_GoGoGoReader@16), so the import definitions list the decorated names
# and dlltool --kill-at makes each import by the bare name. (Underscores added
# to import names, as --add-stdcall-underscore does, would name exports the DLL
# does not have.) The 64-bit definitions carry no decoration and pass through.
set(MERVANE_DIST ${CMAKE_BINARY_DIR}/dist)
set(MERVANE_IMPORT_DEF ${MERVANE_DIST}/mervane.def)
file(READ ${MERVANE_DEF} def_text)
string(REGEX REPLACE "([A-Za-z]+) = ([A-Za-z]+@[0-9]+)" "\\2" def_text "${def_text}")
file(WRITE ${MERVANE_IMPORT_DEF}.new "${def_text}")
configure_file(${MERVANE_IMPORT_DEF}.new ${MERVANE_IMPORT_DEF} COPYONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${MERVANE_DEF})

# mingw's linkers take dlltool's archive of small import objects. MSVC-style
# linkers get the short import records that lib.exe itself writes: they need no
# code of ours linked, so a 32-bit image that asks for /SAFESEH still links.
find_program(LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
set(MERVANE_MINGW_IMPLIB ${MERVANE_DIST}/libmervane.dll.a)
set(MERVANE_MSVC_IMPLIB ${MERVANE_DIST}/MERVANE.lib)
# dlltool names the archive's members and symbols after the output path: made
# in place, they carry no path of this machine.
add_custom_command(
  OUTPUT ${MERVANE_MINGW_IMPLIB} ${MERVANE_MSVC_IMPLIB}
  COMMAND ${DLLTOOL} --kill-at -d mervane.def -l libmervane.dll.a
  COMMAND ${LLVM_DLLTOOL} -m ${LLVM_DLLTOOL_MACHINE} -k -d mervane.def -l MERVANE.lib
  DEPENDS ${MERVANE_IMPORT_DEF}
  WORKING_DIRECTORY ${MERVANE_DIST}
  COMMENT "Import libraries for MERVANE.dll"
  VERBATIM)
add_custom_target(mervane_implibs ALL DEPENDS ${MERVANE_MINGW_IMPLIB} ${MERVANE_MSVC_IMPLIB})

# ---- The zip ----------------------------------------------------------------------------

configure_file(${PROJECT_SOURCE_DIR}/packaging/README-windows.txt.in
  ${MERVANE_DIST}/README.txt @ONLY)
install(FILES $<TARGET_FILE:mervane> DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/mervane.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${MERVANE_MINGW_IMPLIB} ${MERVANE_MSVC_IMPLIB} ${MERVANE_IMPORT_DEF}
  DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${MERVANE_DIST}/README.txt DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
