// plan/tool_args.h: the tool's command line as kelvotest-plan needs it: which options a step
// gives, their values, and whether the step runs one of the endless loops. The option names
// and their value kinds are the tool's (README, "Options"); kelvotest-plan checks a plan's
// arguments with them before any step runs, and the transcript parser uses them to name what
// a transcript does not (the address of a register write, the device of an EEPROM write).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace plan {

struct ToolArgs {
    std::map<std::string, std::string> values;   // option name without '-' -> its value word
    std::vector<std::string> flags;              // flags given, without '-'
    std::string error;                           // empty: the command line is valid

    bool Has(const std::string& option) const;
    // A hexadecimal option value (register addresses, -val, -id), as the tool reads it.
    std::optional<uint32_t> Hex(const std::string& option) const;
    std::optional<int64_t> Decimal(const std::string& option) const;
    // -iictest, -scan or -scanfile: the tool runs until a key or a stop request.
    bool RunsLoop() const;
    bool Streams() const;
};

// Reads the arguments as the tool's parser does (options begin with '-' or '/'; a valued
// option takes the next word). On an error, `error` says what is wrong.
ToolArgs ParseToolArgs(const std::vector<std::string>& args);

// Empty, or why the step can never complete: an action that the tool runs after one of its
// loops (-iictest before -trd), which the loop's stop request skips.
std::string ActionSkippedByLoop(const ToolArgs& args);

// A register address as measurement names carry it: 0x and lower-case hex digits, no leading
// zeros ("0x20"). Normalises what a user wrote ("0X020" -> "0x20"); nullopt if not hex.
std::optional<std::string> CanonicalHexAddress(const std::string& text);
std::string HexAddress(uint32_t address);

}  // namespace plan
