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

// A trace file, created empty; -1 and a message when it cannot be.
intptr_t CreateTraceFile(const std::string& path, std::string* error);
// Hands all bytes to the operating system, in one call unless it takes fewer.
bool WriteWhole(intptr_t file, const uint8_t* bytes, size_t count);

}  // namespace rec
