# cmake/Install.cmake: the installed layout, one description for `cmake --install`, the Debian
# package and the Windows ZIP (cmake/Packaging.cmake makes the packages from it).
#
#                       POSIX (under the prefix)            Windows (the ZIP's folder)
#   the tool            bin/kelvotest                       kelvotest.exe
#   against the         bin/kelvotest-virtual               kelvotest-virtual.cmd
#     virtual scanner
#   virtual scanner     <libdir>/kelvotest/virtual/         virtual\ (with a copy of kelvotest.exe)
#   recorder            bin/kelvotest-record,               recorder\kelvotest-record.cmd,
#                       <libdir>/kelvotest/recorder/        recorder\kelvoscanusb.dll
#   trace reader        bin/kelvotrace                      kelvotrace.exe
#   FPGA file writer    <libexecdir>/kelvotest/make_fpga_image   (a build-machine program)
#   interface           include/kelvoscanusb.h, <datadir>/pkgconfig/kelvoscanusb.pc
#   test plans          bin/kelvotest-plan, its man pages (1, 5), completion, <docdir>/examples/
#                       (plan/CMakeLists.txt)
#   the line's          bin/kelvotest-line, its man page,    (not built for Windows)
#     collector         completion (line/CMakeLists.txt)
#   documents           man pages, bash completion,         README.txt, LICENSE.txt,
#                       <docdir>: README.md, copyright      THIRD-PARTY-NOTICES.txt
#
# The virtual scanner and the recording library have the device library's file name, so each
# lies in a folder of its own that the loader never searches by itself: on POSIX a private
# folder (the installed kelvotest has no run-path); on Windows a folder beside the tool, which
# loads the DLL from its own folder first: the maker's DLL goes beside kelvotest.exe, and the
# copy in virtual\ loads the virtual scanner even then.
#
# Windows: the binaries are stripped when the ZIP is made (CPACK_STRIP_FILES); their debug
# information goes into a second ZIP, component "debug", as .debug files that gdb finds
# through each binary's debug link.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME bench)
set(KELVO_GENERATED_DIR ${CMAKE_BINARY_DIR}/install-files)
if(WIN32)
  set(KELVO_INSTALL_BIN_DIR .)
  set(KELVO_INSTALL_VIRTUAL_DIR virtual)
  set(KELVO_INSTALL_RECORDER_DIR recorder)
else()
  set(KELVO_INSTALL_BIN_DIR ${CMAKE_INSTALL_BINDIR})
  set(KELVO_INSTALL_VIRTUAL_DIR ${CMAKE_INSTALL_LIBDIR}/kelvotest/virtual)
  set(KELVO_INSTALL_RECORDER_DIR ${CMAKE_INSTALL_LIBDIR}/kelvotest/recorder)
  set(KELVO_INSTALL_LIBEXEC_DIR ${CMAKE_INSTALL_LIBEXECDIR}/kelvotest)
  set(KELVO_INSTALL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kelvotest)
endif()
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(kelvo_data_permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# ---- everywhere --------------------------------------------------------------------------
install(TARGETS kelvotest kelvotrace RUNTIME DESTINATION ${KELVO_INSTALL_BIN_DIR})
# kelvotest-line, the line's collector, where it is built (line/: Linux, with SOCI).
if(TARGET kelvotest-line)
  install(TARGETS kelvotest-line RUNTIME DESTINATION ${KELVO_INSTALL_BIN_DIR})
endif()
# kelvotest-plan, where it is built (plan/), with its sample plan.
set(kelvo_plan_programs)
if(TARGET kelvotest-plan)
  set(kelvo_plan_programs kelvotest-plan:${KELVO_INSTALL_BIN_DIR})
  install(TARGETS kelvotest-plan RUNTIME DESTINATION ${KELVO_INSTALL_BIN_DIR})
  set(kelvo_examples ${CMAKE_SOURCE_DIR}/examples/scanner-final-test.toml
      ${CMAKE_SOURCE_DIR}/examples/station-final-test.toml ${CMAKE_SOURCE_DIR}/examples/station.toml)
  if(WIN32)
    install(FILES ${kelvo_examples} DESTINATION examples)
  else()
    install(FILES ${kelvo_examples} DESTINATION ${KELVO_INSTALL_DOC_DIR}/examples)
  endif()
endif()
if(NOT WIN32)
  # The build tree's "$ORIGIN" goes: the installed tool finds its library through the loader.
  install(CODE "file(RPATH_REMOVE FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${KELVO_INSTALL_BIN_DIR}/$<TARGET_FILE_NAME:kelvotest>\")")
endif()
# A shared library is data to the loader: no execute bits, and no development link that
# would let a linker pick up the virtual scanner or the recorder by accident.
foreach(library kelvoscanusb kelvorec)
  if(library STREQUAL "kelvoscanusb")
    set(destination ${KELVO_INSTALL_VIRTUAL_DIR})
  else()
    set(destination ${KELVO_INSTALL_RECORDER_DIR})
  endif()
  install(TARGETS ${library}
          LIBRARY DESTINATION ${destination} NAMELINK_SKIP PERMISSIONS ${kelvo_data_permissions}
          RUNTIME DESTINATION ${destination})
endforeach()
install(FILES ${KELVO_OUTPUT_DIR}/scanner3.mcs DESTINATION ${KELVO_INSTALL_VIRTUAL_DIR})

if(WIN32)
  # ---- the Windows ZIP -------------------------------------------------------------------
  install(TARGETS kelvotest RUNTIME DESTINATION ${KELVO_INSTALL_VIRTUAL_DIR})
  install(FILES ${CMAKE_SOURCE_DIR}/cmake/windows/kelvotest-virtual.cmd DESTINATION ${KELVO_INSTALL_BIN_DIR})
  install(FILES ${CMAKE_SOURCE_DIR}/recorder/kelvotest-record.cmd DESTINATION ${KELVO_INSTALL_RECORDER_DIR})

  # The documents in Windows' own line ends, named for Notepad. The README says which
  # Windows and which device library the binaries are for.
  # PowerShell lists a process's DLLs only when it has the process's bit width.
  set(KELVO_POWERSHELL powershell)
  set(KELVO_POWERSHELL_NOTE "")
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(KELVO_POWERSHELL "%SystemRoot%\\SysWOW64\\WindowsPowerShell\\v1.0\\powershell")
    set(KELVO_POWERSHELL_NOTE "\n(This is the 32-bit PowerShell: the ordinary one does not list the DLLs\nof a 32-bit program.)")
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(KELVO_WINDOWS_ARCH "64-bit Windows (x64)")
    set(KELVO_WINDOWS_LIBRARY "a 64-bit kelvoscanusb.dll")
  elseif(KELVO_CALLCONV STREQUAL "stdcall")
    set(KELVO_WINDOWS_ARCH "32-bit Windows (x86), for a stdcall device library")
    set(KELVO_WINDOWS_LIBRARY "a 32-bit kelvoscanusb.dll whose operations are stdcall")
  else()
    set(KELVO_WINDOWS_ARCH "32-bit Windows (x86)")
    set(KELVO_WINDOWS_LIBRARY "a 32-bit kelvoscanusb.dll whose operations are cdecl")
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/cmake/windows/README.txt.in ${KELVO_GENERATED_DIR}/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${KELVO_GENERATED_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/windows/THIRD-PARTY-NOTICES.txt
                 ${KELVO_GENERATED_DIR}/THIRD-PARTY-NOTICES.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${KELVO_GENERATED_DIR}/README.txt ${KELVO_GENERATED_DIR}/LICENSE.txt
                ${KELVO_GENERATED_DIR}/THIRD-PARTY-NOTICES.txt DESTINATION ${KELVO_INSTALL_BIN_DIR})

  # The shipped binaries are stripped (CPACK_STRIP_FILES strips what install(TARGETS) puts
  # in) and carry a debug link to a .debug file of the same name, which the debug component
  # puts in the same folder: the debug information as the build made it.
  set(kelvo_debug_files)
  foreach(entry kelvotest:${KELVO_INSTALL_BIN_DIR} kelvotest:${KELVO_INSTALL_VIRTUAL_DIR}
                kelvotrace:${KELVO_INSTALL_BIN_DIR} kelvoscanusb:${KELVO_INSTALL_VIRTUAL_DIR}
                kelvorec:${KELVO_INSTALL_RECORDER_DIR} ${kelvo_plan_programs})
    string(REPLACE ":" ";" entry ${entry})
    list(GET entry 0 target)
    list(GET entry 1 destination)
    set(debug_file ${KELVO_GENERATED_DIR}/debug/${target}/$<TARGET_FILE_NAME:${target}>.debug)
    if(NOT TARGET ${target}_debug_file)
      add_custom_command(OUTPUT ${KELVO_GENERATED_DIR}/debug/${target}/${target}.stamp
                         COMMAND ${CMAKE_COMMAND} -E make_directory ${KELVO_GENERATED_DIR}/debug/${target}
                         COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${debug_file}
                         COMMAND ${CMAKE_COMMAND} -E touch ${KELVO_GENERATED_DIR}/debug/${target}/${target}.stamp
                         DEPENDS ${target} VERBATIM
                         COMMENT "Keeping the debug information of ${target} in a .debug file")
      add_custom_target(${target}_debug_file ALL DEPENDS ${KELVO_GENERATED_DIR}/debug/${target}/${target}.stamp)
    endif()
    install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --strip-debug --remove-section=.gnu_debuglink
                                          \"--add-gnu-debuglink=${debug_file}\"
                                          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/$<TARGET_FILE_NAME:${target}>\"
                                  COMMAND_ERROR_IS_FATAL ANY)")
    install(FILES ${debug_file} DESTINATION ${destination} COMPONENT debug)
  endforeach()
  return()
endif()

# ---- POSIX -------------------------------------------------------------------------------
install(TARGETS make_fpga_image RUNTIME DESTINATION ${KELVO_INSTALL_LIBEXEC_DIR})

install(FILES ${CMAKE_SOURCE_DIR}/device/kelvoscanusb.h ${CMAKE_SOURCE_DIR}/device/kelvoscanusb_operations.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Relocatable like the rest: the prefix is found from the file's own folder.
file(RELATIVE_PATH KELVO_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_DATADIR}/pkgconfig /prefix)
configure_file(${CMAKE_SOURCE_DIR}/packaging/kelvoscanusb.pc.in ${KELVO_GENERATED_DIR}/kelvoscanusb.pc @ONLY)
install(FILES ${KELVO_GENERATED_DIR}/kelvoscanusb.pc DESTINATION ${CMAKE_INSTALL_DATADIR}/pkgconfig)

install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${KELVO_INSTALL_DOC_DIR})
# The guides the README links to, beside it under the same relative names.
file(GLOB KELVO_GUIDES ${CMAKE_SOURCE_DIR}/doc/*.md)
install(FILES ${KELVO_GUIDES} DESTINATION ${KELVO_INSTALL_DOC_DIR}/doc)

# The scripts find the private folders from their own location, so the paths are relative.
file(RELATIVE_PATH KELVO_BIN_TO_VIRTUAL /prefix/${KELVO_INSTALL_BIN_DIR} /prefix/${KELVO_INSTALL_VIRTUAL_DIR})
configure_file(${CMAKE_SOURCE_DIR}/packaging/kelvotest-virtual.in ${KELVO_GENERATED_DIR}/kelvotest-virtual @ONLY)
install(PROGRAMS ${KELVO_GENERATED_DIR}/kelvotest-virtual DESTINATION ${KELVO_INSTALL_BIN_DIR})

# kelvotest-record finds the recording library beside itself in the build tree; installed, it
# is on PATH and the library in its private folder.
file(RELATIVE_PATH bin_to_recorder /prefix/${KELVO_INSTALL_BIN_DIR} /prefix/${KELVO_INSTALL_RECORDER_DIR})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/recorder/kelvotest-record)
file(READ ${CMAKE_SOURCE_DIR}/recorder/kelvotest-record script)
set(beside [[here=$(cd "$(dirname "$0")" && pwd)]])
string(FIND "${script}" "${beside}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "recorder/kelvotest-record: the line that finds the recording library has changed")
endif()
string(REPLACE "${beside}" "here=$(cd \"$(dirname \"$0\")/${bin_to_recorder}\" && pwd)" script "${script}")
file(WRITE ${KELVO_GENERATED_DIR}/kelvotest-record "${script}")
install(PROGRAMS ${KELVO_GENERATED_DIR}/kelvotest-record DESTINATION ${KELVO_INSTALL_BIN_DIR})

# bash-completion loads a command's completion from a file named after the command.
foreach(command kelvotest kelvotest-virtual)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/kelvotest.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${command})
endforeach()
if(TARGET kelvotest-plan)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/kelvotest-plan.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kelvotest-plan)
endif()
if(TARGET kelvotest-line)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/kelvotest-line.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kelvotest-line)
endif()

# Manual pages and the Debian change log go in compressed with gzip -9n, as Debian wants
# them: -n keeps the name and time out, so the same sources give the same bytes.
find_program(KELVO_GZIP gzip REQUIRED)
set(compressed)
set(man_pages doc/kelvotest.1 doc/kelvotest-virtual.1 doc/kelvotest-record.1 doc/kelvotrace.1)
if(TARGET kelvotest-plan)
  list(APPEND man_pages doc/kelvotest-plan.1 doc/kelvotest-plan.5)
endif()
if(TARGET kelvotest-line)
  list(APPEND man_pages doc/kelvotest-line.1 doc/kelvotest-line-stats.7)
endif()
foreach(source ${man_pages} packaging/changelog.Debian)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${KELVO_GENERATED_DIR}/${name}.gz
                     COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/${source} ${KELVO_GENERATED_DIR}/${name}
                     COMMAND ${KELVO_GZIP} -9nf ${KELVO_GENERATED_DIR}/${name}
                     DEPENDS ${CMAKE_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND compressed ${KELVO_GENERATED_DIR}/${name}.gz)
endforeach()
add_custom_target(install_files ALL DEPENDS ${compressed})
foreach(page ${man_pages})
  get_filename_component(name ${page} NAME)
  string(REGEX REPLACE ".*\\." "" section ${name})
  install(FILES ${KELVO_GENERATED_DIR}/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
install(FILES ${KELVO_GENERATED_DIR}/changelog.Debian.gz DESTINATION ${KELVO_INSTALL_DOC_DIR})
