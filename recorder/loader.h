// recorder/loader.h: the recording library's only calls into the operating system: loading
// the real device library and writing the trace file. loader_posix.cc and loader_windows.cc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rec {

void* OpenLibrary(const std::string& path, std::string* error);
void* FindOperation(void* library, const char* name);

// A trace file, created empty; -1 and a message when it cannot be.
intptr_t CreateTraceFile(const std::string& path, std::string* error);
// Hands all bytes to the operating system, in one call unless it takes fewer.
bool WriteWhole(intptr_t file, const uint8_t* bytes, size_t count);

}  // namespace rec
