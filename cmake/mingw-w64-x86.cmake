# cmake/mingw-w64-x86.cmake: cross-compiles for 32-bit Windows (x86) with MinGW-w64
# (Debian: g++-mingw-w64-i686-posix); the tests run under 32-bit wine (Debian: wine32).
set(KELVO_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
