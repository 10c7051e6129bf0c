# cmake/mingw-w64.cmake: cross-compiles the tool, the virtual scanner and the tests for 64-bit
# Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix). The posix flavour is the one
# whose C++ runtime has std::thread. Programs built here run on the build machine only through
# wine, which CMAKE_CROSSCOMPILING_EMULATOR names, so that ctest can run the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELVO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KELVO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KELVO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A bench PC has none of MinGW's runtime DLLs: the C++ runtime, libgcc and winpthread are
# linked into each binary, so that the tool imports only system DLLs and the device library.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

find_program(KELVO_WINE NAMES wine wine64)
if(KELVO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVO_WINE})
endif()
