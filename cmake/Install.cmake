# cmake/Install.cmake: the installed layout, the same for `cmake --install` and the packages.
#
#   bin/kelvotest                        finds the device library through the loader alone
#   bin/kelvotest-virtual                kelvotest against the virtual scanner
#   <libdir>/kelvotest/virtual/          the virtual scanner and its default FPGA file: a folder
#                                        the loader never searches on its own
#   <libexecdir>/kelvotest/make_fpga_image   writes FPGA files the virtual scanner accepts
#   include/kelvoscanusb.h, <datadir>/pkgconfig/kelvoscanusb.pc
#                                        the device library's interface, for other builds of it
#   bin/kelvotest-record, bin/kelvotrace, <libdir>/kelvotest/recorder/   (recorder/CMakeLists.txt)
#   bin/kelvotest-plan, its man pages (1, 5), completion, <docdir>/examples/   (plan/CMakeLists.txt)
#   man pages, bash completion, <docdir>
set(KELVO_INSTALL_VIRTUAL_DIR ${CMAKE_INSTALL_LIBDIR}/kelvotest/virtual)
set(KELVO_INSTALL_LIBEXEC_DIR ${CMAKE_INSTALL_LIBEXECDIR}/kelvotest)
set(KELVO_INSTALL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kelvotest)
set(KELVO_GENERATED_DIR ${CMAKE_BINARY_DIR}/install-files)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(kelvo_data_permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

install(TARGETS kelvotest RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A shared library is data to the loader: no execute bits, and no development link that
# would let a linker pick up the virtual scanner by accident.
install(TARGETS kelvoscanusb
        LIBRARY DESTINATION ${KELVO_INSTALL_VIRTUAL_DIR} NAMELINK_SKIP PERMISSIONS ${kelvo_data_permissions}
        RUNTIME DESTINATION ${KELVO_INSTALL_VIRTUAL_DIR})
install(FILES ${KELVO_OUTPUT_DIR}/scanner3.mcs DESTINATION ${KELVO_INSTALL_VIRTUAL_DIR})
install(TARGETS make_fpga_image RUNTIME DESTINATION ${KELVO_INSTALL_LIBEXEC_DIR})

install(FILES ${CMAKE_SOURCE_DIR}/device/kelvoscanusb.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Relocatable like the rest: the prefix is found from the file's own folder.
file(RELATIVE_PATH KELVO_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_DATADIR}/pkgconfig /prefix)
configure_file(${CMAKE_SOURCE_DIR}/packaging/kelvoscanusb.pc.in ${KELVO_GENERATED_DIR}/kelvoscanusb.pc @ONLY)
install(FILES ${KELVO_GENERATED_DIR}/kelvoscanusb.pc DESTINATION ${CMAKE_INSTALL_DATADIR}/pkgconfig)

install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${KELVO_INSTALL_DOC_DIR})

if(NOT WIN32)
  # The script finds the private folder from its own location, so the path is relative.
  file(RELATIVE_PATH KELVO_BIN_TO_VIRTUAL /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${KELVO_INSTALL_VIRTUAL_DIR})
  configure_file(${CMAKE_SOURCE_DIR}/packaging/kelvotest-virtual.in ${KELVO_GENERATED_DIR}/kelvotest-virtual @ONLY)
  install(PROGRAMS ${KELVO_GENERATED_DIR}/kelvotest-virtual DESTINATION ${CMAKE_INSTALL_BINDIR})

  # bash-completion loads a command's completion from a file named after the command.
  foreach(command kelvotest kelvotest-virtual)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/kelvotest.bash-completion
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${command})
  endforeach()

  # Manual pages and the Debian change log go in compressed with gzip -9n, as Debian wants
  # them: -n keeps the name and time out, so the same sources give the same bytes.
  find_program(KELVO_GZIP gzip REQUIRED)
  set(compressed)
  set(man_pages doc/kelvotest.1 doc/kelvotest-virtual.1 doc/kelvotest-record.1 doc/kelvotrace.1)
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
    install(FILES ${KELVO_GENERATED_DIR}/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  install(FILES ${KELVO_GENERATED_DIR}/changelog.Debian.gz DESTINATION ${KELVO_INSTALL_DOC_DIR})
endif()
