# MERVANE.dll for 32-bit Windows, linked against the platform's WMVCore.DLL
# through an import library made from our own definitions.
find_program(DLLTOOL NAMES i686-w64-mingw32-dlltool REQUIRED)
set(WMVCORE_IMPLIB ${CMAKE_BINARY_DIR}/libwmvcore.a)
add_custom_command(
  OUTPUT ${WMVCORE_IMPLIB}
  COMMAND ${DLLTOOL} --kill-at -d ${CMAKE_SOURCE_DIR}/src/frame/wmvcore.def
          -l ${WMVCORE_IMPLIB}
  DEPENDS ${CMAKE_SOURCE_DIR}/src/frame/wmvcore.def
  COMMENT "Import library for WMVCore.DLL")
add_custom_target(wmvcore_implib DEPENDS ${WMVCORE_IMPLIB})

add_library(mervane SHARED $<TARGET_OBJECTS:mervane_core> src/frame/mervane.def)
add_dependencies(mervane wmvcore_implib)
set_target_properties(mervane PROPERTIES OUTPUT_NAME MERVANE PREFIX "" SUFFIX ".dll")
target_link_libraries(mervane PRIVATE ${WMVCORE_IMPLIB} ole32)
# The host needs nothing beside the platform's DLLs: no libgcc or libstdc++ DLLs.
target_link_options(mervane PRIVATE -static -static-libgcc -static-libstdc++
  -Wl,--enable-stdcall-fixup)

if(MERVANE_TESTS)
  add_subdirectory(tests/wine)
endif()
