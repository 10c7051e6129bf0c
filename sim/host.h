// sim/host.h: the few things the virtual scanner needs from the operating system.
// host_posix.cc and host_windows.cc implement them.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

std::string LibraryDirectory();      // folder of this shared library, with a trailing separator
uint64_t MonotonicNs();              // the one clock of the model
void SleepNs(uint64_t nanoseconds);

}  // namespace sim
