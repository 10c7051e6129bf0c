// sim/host_posix.cc: the virtual scanner's operating-system calls on POSIX systems.
#include <dlfcn.h>
#include <time.h>

#include "sim/host.h"

namespace sim {

std::string LibraryDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LibraryDirectory), &info) == 0 || info.dli_fname == nullptr) {
        return "";
    }
    const std::string path = info.dli_fname;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

uint64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

void SleepNs(uint64_t nanoseconds) {
    timespec pause{static_cast<time_t>(nanoseconds / 1000000000u),
                   static_cast<long>(nanoseconds % 1000000000u)};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

}  // namespace sim
