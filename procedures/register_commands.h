// procedures/register_commands.h: the ten register options, writes first, then reads.
#pragma once

#include <cstdint>
#include <optional>

// The register addresses the command line asks for; an empty one is not requested.
struct RegisterRequests {
    std::optional<int32_t> writeByte, writeWord, writeWordInc, writeDword, writeDwordInc;
    std::optional<int32_t> readByte, readWord, readWordInc, readDword, readDwordInc;
    int32_t value = -1;   // -val, for every write, cut to its width; all ones when not given
};

// Runs every requested register write (-wb -ww -wwi -wd -wdi), then every requested read
// (-rb -rw -rwi -rd -rdi), each once, whatever their order on the command line.
void RunRegisterCommands(const RegisterRequests& requests);
