# cmake/DeviceLibrary.cmake: how the tool is bound to the device library.
#
# On Linux the tool links the library by its soname; the virtual scanner's build serves.
# On Windows the tool links an import library made with dlltool from a .def that make_def
# (device/tools/make_def.cc) writes from the list of operations, so it imports the names the
# maker's DLL exports, not whatever names our own build of the library happens to have.
#
#   KELVO_CALLCONV       cdecl (default) or stdcall: the maker's convention on 32-bit Windows
#   KELVO_STDCALL_NAMES  with stdcall, the maker's export names: decorated (Init_Interface@0,
#                        the default), plain (Init_Interface) or underscore (_Init_Interface@0)
#
# The virtual scanner and the recording library are built with the same convention and export
# the same names (kelvo_device_library_exports), so one kelvotest.exe runs against all three.
set(KELVO_CALLCONV cdecl CACHE STRING "Calling convention of the device library on 32-bit Windows: cdecl or stdcall")
set_property(CACHE KELVO_CALLCONV PROPERTY STRINGS cdecl stdcall)
set(KELVO_STDCALL_NAMES decorated CACHE STRING
    "Export names of a stdcall device library: decorated (Name@N), plain (Name) or underscore (_Name@N)")
set_property(CACHE KELVO_STDCALL_NAMES PROPERTY STRINGS decorated plain underscore)
if(NOT KELVO_CALLCONV MATCHES "^(cdecl|stdcall)$")
  message(FATAL_ERROR "KELVO_CALLCONV is cdecl or stdcall, not '${KELVO_CALLCONV}'")
endif()
if(NOT KELVO_STDCALL_NAMES MATCHES "^(decorated|plain|underscore)$")
  message(FATAL_ERROR "KELVO_STDCALL_NAMES is decorated, plain or underscore, not '${KELVO_STDCALL_NAMES}'")
endif()
if(KELVO_CALLCONV STREQUAL "stdcall")
  if(NOT (WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4))
    message(FATAL_ERROR "KELVO_CALLCONV=stdcall exists only for 32-bit Windows (the windows-x86 "
                        "presets); every other target has one calling convention")
  endif()
  # Every user of device/kelvoscanusb.h, and host/, whose loader looks the operations up by
  # their stdcall names: the layers from here on, and device/ through its contract.
  add_compile_definitions(KELVO_CALLCONV_STDCALL)
  target_compile_definitions(device_contract PUBLIC KELVO_CALLCONV_STDCALL)
endif()

# What the tool links: the library itself on Linux, the generated import library on Windows.
add_library(kelvo_device_library INTERFACE)
if(NOT WIN32)
  target_link_libraries(kelvo_device_library INTERFACE kelvoscanusb)
  function(kelvo_device_library_exports target)
  endfunction()
  return()
endif()

# make_def runs at build time, so it is built with the build machine's compiler.
set(kelvo_def_dir ${CMAKE_BINARY_DIR}/device-library)
set(kelvo_make_def ${kelvo_def_dir}/make_def)
kelvo_build_machine_program(${kelvo_make_def} ${CMAKE_SOURCE_DIR}/device/tools/make_def.cc
                            ${CMAKE_SOURCE_DIR}/device/kelvoscanusb.h ${CMAKE_SOURCE_DIR}/device/kelvoscanusb_operations.h
                            ${CMAKE_SOURCE_DIR}/device/stack_bytes.h)

add_custom_target(kelvo_make_def_tool DEPENDS ${kelvo_make_def})

# kelvo_device_binding(NAMES DIR): in DIR, for a library of the build's calling convention
# with those export names, the tool's .def (kelvoscanusb.def) and the import library dlltool
# makes from it (libkelvoscanusb-import.a), and the names a DLL of ours adds to its own
# (kelvoscanusb-exports.def).
function(kelvo_device_binding names dir)
  add_custom_command(OUTPUT ${dir}/kelvoscanusb.def ${dir}/libkelvoscanusb-import.a ${dir}/kelvoscanusb-exports.def
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                     COMMAND ${kelvo_make_def} import ${KELVO_CALLCONV} ${names} ${dir}/kelvoscanusb.def
                     COMMAND ${kelvo_make_def} exports ${KELVO_CALLCONV} ${names} ${dir}/kelvoscanusb-exports.def
                     COMMAND ${CMAKE_DLLTOOL} -d ${dir}/kelvoscanusb.def -l ${dir}/libkelvoscanusb-import.a
                     DEPENDS ${kelvo_make_def}
                     COMMENT "Writing the device library's .def files and the tool's import library (${names})"
                     VERBATIM)
endfunction()

set(KELVO_IMPORT_LIBRARY ${kelvo_def_dir}/libkelvoscanusb-import.a)
kelvo_device_binding(${KELVO_STDCALL_NAMES} ${kelvo_def_dir})
add_custom_target(kelvo_import_library DEPENDS ${KELVO_IMPORT_LIBRARY})
target_link_libraries(kelvo_device_library INTERFACE ${KELVO_IMPORT_LIBRARY})
# The build tree's tool runs against the virtual scanner beside it.
add_dependencies(kelvo_device_library kelvo_import_library kelvoscanusb)

# A DLL of ours that stands for the maker's exports the maker's names: those of the build, or
# kelvo_device_library_exports(target NAMES DIR) those of kelvo_device_binding(NAMES DIR).
function(kelvo_device_library_exports target)
  set(names ${KELVO_STDCALL_NAMES})
  set(dir ${kelvo_def_dir})
  if(ARGC GREATER 2)
    set(names ${ARGV1})
    set(dir ${ARGV2})
  endif()
  if(KELVO_CALLCONV STREQUAL "stdcall" AND names STREQUAL "plain")
    target_link_options(${target} PRIVATE -Wl,--kill-at)
  elseif(KELVO_CALLCONV STREQUAL "stdcall" AND names STREQUAL "underscore")
    target_link_options(${target} PRIVATE ${dir}/kelvoscanusb-exports.def)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${dir}/kelvoscanusb-exports.def)
    add_dependencies(${target} kelvo_import_library)
  endif()
endfunction()
