// host/host.h: what the virtual scanner and the recording library need from the operating
// system, and nothing else: the library's own file, a clock, a stop request, state files held
// locked, input files that must be regular files, and for the recorder the device library to
// load and the trace to write. posix.cc and windows.cc implement it; each decides nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

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

// A file that is only read (an FPGA configuration, a trace). It is opened without waiting on
// whatever stands at the name and used only when it is a regular file: a folder, a FIFO or a
// device is refused at once, never waited on or read. `bytes` is the file's size at the open.
// On failure *problem, when given, says why in the system's words (static text), or is
// kNotARegularFile.
inline constexpr char kNotARegularFile[] = "not a regular file";
bool OpenInputFile(const char* path, intptr_t& handle, uint64_t& bytes, const char** problem = nullptr) noexcept;
// Reads up to `count` bytes: how many came, 0 at the end of the file, -1 on a read error.
int64_t ReadInputFile(intptr_t handle, uint8_t* data, size_t count) noexcept;
void CloseInputFile(intptr_t handle) noexcept;

// ---- the recorder ---------------------------------------------------------------------

void* OpenLibrary(const std::string& path, std::string* error);
// The operation `name`, whose arguments take argumentBytes on a 32-bit x86 stack. A stdcall
// build on 32-bit Windows finds it under its plain name and its decorated ones (name@N, as
// MinGW exports it, and _name@N); a cdecl build only under its plain name. nullptr when it
// is missing; *error then says why when the library has it under the other convention.
void* FindOperation(void* library, const char* name, unsigned argumentBytes, std::string* error);

// The trace file, emptied and held locked for this process, so that a second recording to
// the same file is refused instead of cutting the first one short. A symbolic link at the
// name is never followed, and anything but a regular file is refused without waiting on it.
// -1 and a message when it cannot be had; *busy when another recording holds it.
intptr_t CreateTraceFile(const std::string& path, std::string* error, bool* busy);
// Writes all bytes at `offset`; false with the system's reason.
bool WriteAt(intptr_t file, uint64_t offset, const uint8_t* bytes, size_t count, std::string* error);
bool Truncate(intptr_t file, uint64_t size);
// This process's number: a child forked by a recorded program is not the recording session.
uint64_t ProcessId();

}  // namespace host
