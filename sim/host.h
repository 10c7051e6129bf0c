// sim/host.h: the few things the virtual scanner needs from the operating system.
// host_posix.cc and host_windows.cc implement them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

std::string LibraryDirectory();      // folder of this shared library, with a trailing separator
const char* LibraryPath() noexcept;  // this shared library's file as it was loaded; "" if unknown
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
    const char* problem = "";   // when not writable: why, in the system's words (static text)
};
enum class StateFileStatus { kOpen, kBusy, kFailed };
StateFileStatus OpenStateFile(const std::string& path, StateFile& file);
size_t ReadStateFile(const StateFile& file, uint8_t* data, size_t count);   // from offset 0
bool WriteStateFile(const StateFile& file, uint64_t offset, const uint8_t* data, size_t count);
void CloseStateFile(StateFile& file);   // releases the lock

// A file that is only read (an FPGA configuration). It is opened without waiting on whatever
// stands at the name and used only when it is a regular file: a folder, a FIFO or a device is
// refused at once, never waited on or read. `bytes` is the file's size at the open.
bool OpenInputFile(const char* path, intptr_t& handle, uint64_t& bytes) noexcept;
// Reads up to `count` bytes: how many came, 0 at the end of the file, -1 on a read error.
int64_t ReadInputFile(intptr_t handle, uint8_t* data, size_t count) noexcept;
void CloseInputFile(intptr_t handle) noexcept;

}  // namespace sim
