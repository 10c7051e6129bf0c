# cmake/mingw-w64.cmake: cross-compiles the tool, the virtual scanner and the tests for Windows
# with MinGW-w64: 64-bit (x86-64, Debian: g++-mingw-w64-x86-64-posix) by default, 32-bit when
# cmake/mingw-w64-x86.cmake sets KELVO_MINGW_PREFIX first (Debian: g++-mingw-w64-i686-posix).
# The posix flavour is the one whose C++ runtime has std::thread. Programs built here run on
# the build machine only through wine, which CMAKE_CROSSCOMPILING_EMULATOR names, so that
# ctest can run the tests.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT KELVO_MINGW_PREFIX)
  set(KELVO_MINGW_PREFIX x86_64-w64-mingw32)
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
endif()

set(CMAKE_C_COMPILER ${KELVO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVO_MINGW_PREFIX}-windres)
# dlltool makes the tool's import library of the device library; objcopy splits the debug
# information off the shipped binaries.
set(CMAKE_DLLTOOL ${KELVO_MINGW_PREFIX}-dlltool)
set(CMAKE_OBJCOPY ${KELVO_MINGW_PREFIX}-objcopy)
set(CMAKE_OBJDUMP ${KELVO_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KELVO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A bench PC has none of MinGW's runtime DLLs: the C++ runtime, libgcc and winpthread are
# linked into each binary, so that the tool imports only system DLLs and the device library.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# wine runs both kinds of program (32-bit ones with Debian's wine32); wine64 only 64-bit ones.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  find_program(KELVO_WINE NAMES wine wine64)
else()
  find_program(KELVO_WINE NAMES wine)
endif()
if(KELVO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVO_WINE})
endif()
