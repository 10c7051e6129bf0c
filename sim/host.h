// sim/host.h: the few things the virtual scanner needs from the operating system.
// host_posix.cc and host_windows.cc implement them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

std::string LibraryDirectory();      // folder of this shared library, with a trailing separator
uint64_t MonotonicNs();              // the one clock of the model
void SleepNs(uint64_t nanoseconds);
// A stop request to this process, as Ctrl-C at its console gives one: false with the reason.
bool RaiseStopRequest(std::string* error);

// An EEPROM state file, held open for a session. It is opened without following a symbolic
// link and without waiting on whatever else may stand at its name, accepted only as a regular
// file, and locked so that one process at a time has the scanner: the lock is the operating
// system's and goes with the process, so a killed run never blocks the next one.
struct StateFile {
    intptr_t handle = -1;
    bool writable = false;
};
enum class StateFileStatus { kOpen, kBusy, kFailed };
StateFileStatus OpenStateFile(const std::string& path, StateFile& file);
size_t ReadStateFile(const StateFile& file, uint8_t* data, size_t count);   // from offset 0
bool WriteStateFile(const StateFile& file, uint64_t offset, const uint8_t* data, size_t count);
void CloseStateFile(StateFile& file);   // releases the lock

}  // namespace sim
