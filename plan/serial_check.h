// plan/serial_check.h: the check of a unit's serial before it becomes a run: the plan's
// [dut] serial_pattern, and the double scan (the same serial twice in a row).
#pragma once

#include <optional>
#include <regex>
#include <string>

namespace plan {

// Longer serials are refused before the pattern sees them: no label carries one, and the
// standard library's matcher recurses per character.
constexpr size_t kMaxSerialBytes = 128;

// Empty when `pattern` is a valid ECMAScript regular expression, else why not.
std::string SerialPatternError(const std::string& pattern);

class SerialCheck {
public:
    // An empty pattern accepts every serial that is not empty. A pattern must be valid
    // (SerialPatternError): the plan check refuses one that is not.
    explicit SerialCheck(const std::string& pattern);

    // Empty when the serial may become a run; else the sentence that refuses it, with the
    // pattern: "serial 'SC3-42' does not match the plan's serial_pattern ^SC3-[0-9]{6}$".
    std::string Refusal(const std::string& serial) const;
    // The same serial as the last accepted one: a double scan, to be confirmed.
    bool IsRepeat(const std::string& serial) const { return last_ && *last_ == serial; }
    void Accepted(const std::string& serial) { last_ = serial; }

private:
    std::string pattern_;
    std::optional<std::regex> regex_;
    std::optional<std::string> last_;
};

// The question a double scan asks: "test SC3-000042 again? [y/N]".
std::string RepeatQuestion(const std::string& serial);

}  // namespace plan
