// plan/input_file.h: a file the user names for kelvotest-plan to read (a plan, a station file,
// a saved transcript), read whole and bounded. A file or a pipe (given as <(...)) is read; a
// folder or a device, which may never end, is refused with what it is.
#pragma once

#include <cstddef>
#include <string>

namespace plan {

// `what` names the kind in the refusal ("plan": "is a folder, not a plan"); a file longer
// than `maxBytes` is refused as larger than `limitText` ("1 MiB"), which no such file is.
bool ReadInputFile(const std::string& path, const char* what, size_t maxBytes, const char* limitText, std::string* text,
                   std::string* error);

}  // namespace plan
