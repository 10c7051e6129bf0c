// recorder/loader.h: the recording library's only calls into the operating system: loading
// the real device library and writing the trace file. loader_posix.cc and loader_windows.cc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rec {

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

}  // namespace rec
