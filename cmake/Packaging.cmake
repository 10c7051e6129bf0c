# cmake/Packaging.cmake: the packages CPack makes of the installed layout (cmake/Install.cmake):
# the Debian package, and on Windows the ZIP. Settings every package shares come first, then
# one block per platform's package format.
set(CPACK_PACKAGE_NAME kelvotest)
set(CPACK_PACKAGE_VENDOR "The kelvotest developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bench test tool for a USB scanner")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git" "/build/")
set(KELVO_PACKAGE_MAINTAINER "The kelvotest developers <kelvotest-devel@example.org>"
    CACHE STRING "Name and address in the packages' Maintainer field")

if(WIN32)
  # Two ZIPs, named for the Windows they run on: the bench's files, and the debug information
  # of its binaries (component debug) to keep beside it. Each unpacks into a folder of its name.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME windows-x64)
  elseif(KELVO_CALLCONV STREQUAL "stdcall")
    set(CPACK_SYSTEM_NAME windows-x86-stdcall)
  else()
    set(CPACK_SYSTEM_NAME windows-x86)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL bench debug)
  set(CPACK_COMPONENTS_GROUPING IGNORE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_ARCHIVE_BENCH_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
  set(CPACK_ARCHIVE_DEBUG_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME}-debug)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  # The change log shipped in the package must describe this version.
  file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog.Debian changelog_top LIMIT_COUNT 1)
  if(NOT changelog_top MATCHES "^kelvotest \\(${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}\\) ")
    message(FATAL_ERROR "packaging/changelog.Debian has no entry for ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
  endif()
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KELVO_PACKAGE_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The long description below the summary; CPack indents its lines and marks empty ones.
  string(JOIN "\n" CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "kelvotest tests a USB scanner on the bench: registers, boot EEPROM"
    "programming with verification, FPGA configuration, I2C EEPROMs, converter"
    "and temperature sensor, motor, status, and a streaming test that checks a"
    "counting pattern at full link speed."
    ""
    "Every device operation is a call into the scanner's device library"
    "libkelvoscanusb.so.1, which comes from the scanner's maker and is not part"
    "of this package: install it where the system's loader finds it, and"
    "kelvotest uses it and nothing else."
    ""
    "kelvotest-virtual runs the same tool against the virtual scanner included"
    "here, a simulated scanner with configurable faults, for demonstrations,"
    "training and dry runs without hardware."
    ""
    "kelvotest-plan runs a test plan with limits through the tool and reports"
    "pass or fail, with OCP, JUnit and HTML reports, for production lines."
    ""
    "kelvotest-line collects the stations' runs into SQLite or PostgreSQL and"
    "answers from them: a unit's history, lists of runs for spreadsheets.")

  # The Depends line is computed from the ELF files. The one library dpkg-shlibdeps cannot
  # place is libkelvoscanusb.so.1, which the tool needs and which no Debian package provides:
  # it is the scanner maker's. The virtual scanner in the private folder has the same soname,
  # and a library found inside the package being built adds no dependency, so the search is
  # pointed there. The tool still never loads it from there (it has no run-path); the
  # description tells what to install. kelvotest-line's SOCI libraries (libsoci-core4.0,
  # libsoci-sqlite3-4.0, libsoci-postgresql4.0) come into the line the same way.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS usr/${KELVO_INSTALL_VIRTUAL_DIR})
endif()

include(CPack)
