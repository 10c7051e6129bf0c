#include "plan/tool_args.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace plan {
namespace {

enum class Kind { kFlag, kHex, kDecimal, kText };

// `stage`: where the option's action runs in the tool's fixed order of actions (its main
// sequence): register commands, EEPROM, the I2C stress loop, converter and sensor, motor,
// line count, status, the stream. 0: a value for other options, not an action.
struct Option {
    const char* name;
    Kind kind;
    int stage;
};

constexpr Option kOptions[] = {
    {"?", Kind::kFlag, 0},        {"rb", Kind::kHex, 1},       {"rw", Kind::kHex, 1},      {"rwi", Kind::kHex, 1},
    {"rd", Kind::kHex, 1},        {"rdi", Kind::kHex, 1},      {"wb", Kind::kHex, 1},      {"ww", Kind::kHex, 1},
    {"wwi", Kind::kHex, 1},       {"wd", Kind::kHex, 1},       {"wdi", Kind::kHex, 1},     {"val", Kind::kHex, 0},
    {"prg", Kind::kText, 0},      {"ini", Kind::kText, 0},     {"scanfile", Kind::kText, 8}, {"scan", Kind::kFlag, 8},
    {"id", Kind::kHex, 0},        {"wre", Kind::kDecimal, 2},  {"rde", Kind::kDecimal, 2}, {"dumpe", Kind::kFlag, 2},
    {"iictest", Kind::kFlag, 3},  {"stat", Kind::kFlag, 7},    {"dao", Kind::kDecimal, 4}, {"adread", Kind::kFlag, 4},
    {"tinit", Kind::kDecimal, 4}, {"trd", Kind::kFlag, 4},     {"motor", Kind::kDecimal, 5}, {"lines", Kind::kFlag, 6},
};

// The loops end only by a stop request, and a stop request skips every action after them.
constexpr const char* kLoops[] = {"iictest", "scan", "scanfile"};

const Option* Find(const std::string& name) {
    for (const Option& option : kOptions) {
        if (name == option.name) return &option;
    }
    return nullptr;
}

std::optional<uint64_t> ParseHex(const std::string& word) {
    size_t i = 0;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) i = 2;
    if (i >= word.size()) return std::nullopt;
    uint64_t value = 0;
    for (; i < word.size(); ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(word[i])));
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            return std::nullopt;
        }
        value = value * 16 + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    return value;
}

std::optional<int64_t> ParseDecimal(const std::string& word) {
    if (word.empty()) return std::nullopt;
    size_t i = (word[0] == '-' || word[0] == '+') ? 1 : 0;
    if (i >= word.size()) return std::nullopt;
    int64_t value = 0;
    for (; i < word.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(word[i]))) return std::nullopt;
        value = value * 10 + (word[i] - '0');
        if (value > 0xFFFFFFFFll) return std::nullopt;
    }
    return word[0] == '-' ? -value : value;
}

}  // namespace

bool ToolArgs::Has(const std::string& option) const {
    return values.count(option) != 0 || std::find(flags.begin(), flags.end(), option) != flags.end();
}

std::optional<uint32_t> ToolArgs::Hex(const std::string& option) const {
    const auto it = values.find(option);
    if (it == values.end()) return std::nullopt;
    const auto value = ParseHex(it->second);
    if (!value) return std::nullopt;
    return static_cast<uint32_t>(*value);
}

std::optional<int64_t> ToolArgs::Decimal(const std::string& option) const {
    const auto it = values.find(option);
    if (it == values.end()) return std::nullopt;
    return ParseDecimal(it->second);
}

bool ToolArgs::RunsLoop() const { return Has("iictest") || Streams(); }
bool ToolArgs::Streams() const { return Has("scan") || Has("scanfile"); }

ToolArgs ParseToolArgs(const std::vector<std::string>& args) {
    ToolArgs result;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.empty() || (word[0] != '-' && word[0] != '/')) {
            result.error = "'" + word + "' is not an option of the tool";
            return result;
        }
        const std::string name = word.substr(1);
        const Option* option = Find(name);
        if (option == nullptr) {
            result.error = "the tool has no option '" + word + "'";
            return result;
        }
        if (option->kind == Kind::kFlag) {
            result.flags.push_back(name);
            continue;
        }
        if (i + 1 >= args.size()) {
            result.error = "option '" + word + "' needs a value";
            return result;
        }
        const std::string& value = args[++i];
        if (option->kind == Kind::kHex && !ParseHex(value)) {
            result.error = "option '" + word + "' takes a hexadecimal value of 32 bits, not '" + value + "'";
            return result;
        }
        if (option->kind == Kind::kDecimal && !ParseDecimal(value)) {
            result.error = "option '" + word + "' takes a decimal value of 32 bits, not '" + value + "'";
            return result;
        }
        if (option->kind == Kind::kText && (value.empty() || value.size() > 1023 ||
                                            value.find_first_of(" \t\n") != std::string::npos)) {
            result.error = "option '" + word + "' takes a file name without blanks, of at most 1023 characters";
            return result;
        }
        result.values[name] = value;
    }
    if (result.Has("?")) result.error = "'-?' only prints the tool's usage text";
    return result;
}

std::string ActionSkippedByLoop(const ToolArgs& args) {
    for (const char* loop : kLoops) {
        if (!args.Has(loop)) continue;
        const int loopStage = Find(loop)->stage;
        for (const Option& option : kOptions) {
            if (option.stage > loopStage && args.Has(option.name)) {
                return "'-" + std::string(option.name) + "' runs after the loop '-" + loop +
                       "', which only its stop ends, and the stop skips it: give it a step of its own";
            }
        }
    }
    return "";
}

std::string HexAddress(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(address));
    return text;
}

std::optional<std::string> CanonicalHexAddress(const std::string& text) {
    const auto value = ParseHex(text);
    if (!value) return std::nullopt;
    return HexAddress(static_cast<uint32_t>(*value));
}

}  // namespace plan
