// sim/host_windows.cc: the virtual scanner's operating-system calls on Windows.
#include <windows.h>

#include "sim/host.h"

namespace sim {

std::string LibraryDirectory() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&LibraryDirectory), &module);
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    const std::string full(path, length);
    const size_t slash = full.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".\\") : full.substr(0, slash + 1);
}

uint64_t MonotonicNs() {
    LARGE_INTEGER counter{}, frequency{};
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(counter.QuadPart / frequency.QuadPart) * 1000000000u +
           static_cast<uint64_t>(counter.QuadPart % frequency.QuadPart) * 1000000000u /
               static_cast<uint64_t>(frequency.QuadPart);
}

void SleepNs(uint64_t nanoseconds) { Sleep(static_cast<DWORD>((nanoseconds + 999999) / 1000000)); }

}  // namespace sim
