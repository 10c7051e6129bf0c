// plan/serial_check.cc: the serial's pattern and the double-scan check.
#include "plan/serial_check.h"

#include <cstdio>

namespace plan {
namespace {

constexpr auto kSyntax = std::regex::ECMAScript;

// A serial shown in a message: bytes that would move the cursor or colour the screen are
// written as \xNN, so that a scanner's stray control code is seen, not obeyed.
std::string Shown(const std::string& serial) {
    std::string shown;
    for (const char c : serial) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace

std::string SerialPatternError(const std::string& pattern) {
    // std::regex reports a bad pattern only by throwing; this is the one place that catches.
    try {
        std::regex compiled(pattern, kSyntax);
        (void)compiled;
    } catch (const std::regex_error& error) {
        return std::string("is not a regular expression (ECMAScript): ") + error.what();
    }
    return "";
}

SerialCheck::SerialCheck(const std::string& pattern) : pattern_(pattern) {
    if (!pattern.empty() && SerialPatternError(pattern).empty()) regex_.emplace(pattern, kSyntax);
}

std::string SerialCheck::Refusal(const std::string& serial) const {
    if (serial.empty()) return "the serial is empty";
    if (serial.size() > kMaxSerialBytes) {
        return "the serial is " + std::to_string(serial.size()) + " bytes long; at most " +
               std::to_string(kMaxSerialBytes) + " are taken";
    }
    if (!regex_) return "";
    bool matches = false;
    try {
        matches = std::regex_search(serial, *regex_);
    } catch (const std::regex_error&) {
        matches = false;   // the matcher ran out of room: not a serial this pattern accepts
    }
    if (matches) return "";
    return "serial '" + Shown(serial) + "' does not match the plan's serial_pattern " + pattern_;
}

std::string RepeatQuestion(const std::string& serial) { return "test " + Shown(serial) + " again? [y/N]"; }

}  // namespace plan
