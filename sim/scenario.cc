// sim/scenario.cc: reads, checks and holds the scenario settings.
#include "sim/scenario.h"

#include <cerrno>
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/faults.h"

namespace sim {

namespace {

enum class Kind {
    kInteger,      // whole number, decimal or 0x hex, within [min, max]
    kReal,         // decimal number within [lowest, highest]
    kRate,         // usb2, usb3, unlimited or bytes per second
    kStreamRule,   // "[N] at W" or "[N] every W"
    kFailRule,     // "<code>", "<code> at|from|every N"
    kPath,         // any text
    kPace,         // "fast" or "recorded"
    kEnd,          // "wait" or "stop"
};

struct KeySpec {
    const char* name;
    Kind kind;
    int64_t min = 0;
    int64_t max = 0;
    double lowest = 0;
    double highest = 0;
};

constexpr int64_t kInt32Max = 2147483647;

KeySpec Integer(const char* name, int64_t min, int64_t max) { return {name, Kind::kInteger, min, max, 0, 0}; }
KeySpec Flag(const char* name) { return Integer(name, 0, 1); }
KeySpec Real(const char* name, double lowest, double highest) { return {name, Kind::kReal, 0, 0, lowest, highest}; }
KeySpec Other(const char* name, Kind kind) { return {name, kind, 0, 0, 0, 0}; }

// Every key the virtual scanner knows, with what it accepts. The ranges are what each part
// can model exactly: widths of the registers they stand for, and no arithmetic that overflows.
const KeySpec kKeys[] = {
    Integer("version.hardware", 0, 0xFFFF),
    Integer("version.firmware", 0, 0xFFFF),
    Integer("version.library", 0, 0xFFFF),
    Integer("version.usbdriver", 0, 0xFFFF),
    Other("stream.rate", Kind::kRate),
    Integer("stream.fifo", 2, int64_t{1} << 30),
    Other("stream.drop", Kind::kStreamRule),
    Other("stream.corrupt", Kind::kStreamRule),
    Other("eeprom.dir", Kind::kPath),
    Other("eeprom.a0.file", Kind::kPath),
    Other("eeprom.a2.file", Kind::kPath),
    Flag("eeprom.a0.nak"),
    Flag("eeprom.a2.nak"),
    Integer("eeprom.a0.write_fail_after", 0, 256),
    Integer("eeprom.a2.write_fail_after", 0, 128 * 1024),
    Integer("eeprom.a0.read_flip", 0, 255),
    Integer("eeprom.a2.read_flip", 0, 128 * 1024 - 1),
    Integer("eeprom.a0.page_write_us", 0, 10000000),
    Integer("eeprom.a2.page_write_us", 0, 10000000),
    Integer("adc.ch0", 0, 255),
    Real("adc.ch1", -100, 100),
    Real("adc.ch2", -100, 100),
    Real("adc.ch3", -100, 100),
    Integer("adc.noise", 0, 255),
    Real("adc.sag", -100, 100),
    Integer("adc.sag.every", 1, kInt32Max),
    Flag("adc.nak"),
    Integer("adc.seed", 0, 0xFFFFFFFF),
    Integer("adc.transfer_us", 0, 10000000),
    Real("temp.celsius", -1e9, 1e9),
    Flag("temp.fail"),
    Integer("temp.transfer_us", 0, 10000000),
    Integer("motor.max", 0, kInt32Max),
    Real("motor.rpm", 0, 1e6),
    Real("motor.revs_per_query", 0, 1e6),
    Flag("motor.stall"),
    Integer("lines.bytes", 1, kInt32Max),
    Real("lines.per_rev", 0, 1e6),
    Other("replay", Kind::kPath),
    Other("replay.pace", Kind::kPace),
    Other("replay.end", Kind::kEnd),
};

const KeySpec kFailKey = Other("fail.", Kind::kFailRule);

const KeySpec* FindKey(std::string_view key) {
    for (const KeySpec& known : kKeys) {
        if (key == known.name) return &known;
    }
    if (key.substr(0, 5) == "fail." && IsInjectableOperation(key.substr(5))) return &kFailKey;
    return nullptr;
}

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while ((at = text.find_first_not_of(" \t", at)) != std::string_view::npos) {
        const size_t blank = text.find_first_of(" \t", at);
        const size_t end = blank == std::string_view::npos ? text.size() : blank;
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

enum class Parsed { kOk, kNotANumber, kTooLarge };

// Decimal or 0x hex, with an optional sign; nothing else, and nothing that overflows 64 bits.
Parsed ParseInteger(std::string_view text, int64_t& value) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return Parsed::kNotANumber;
    uint64_t magnitude = 0;
    bool tooLarge = false;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else return Parsed::kNotANumber;
        if (magnitude > (~uint64_t{0} - digit) / base) tooLarge = true;
        if (!tooLarge) magnitude = magnitude * base + digit;
    }
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (tooLarge || magnitude > limit) return Parsed::kTooLarge;
    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return Parsed::kOk;
}

bool IntegerIn(std::string_view text, int64_t min, int64_t max, int64_t& value) {
    return ParseInteger(text, value) == Parsed::kOk && value >= min && value <= max;
}

// Plain decimal notation only: no hex floats, no inf or nan, no locale.
bool ParseReal(std::string_view text, double& value) {
    if (text.empty() || text.size() > 64 || text.find_first_not_of("0123456789.eE+-") != std::string_view::npos) {
        return false;
    }
    const std::string copy(text);
    char* end = nullptr;
    value = std::strtod(copy.c_str(), &end);
    return end == copy.c_str() + copy.size() && value >= -DBL_MAX && value <= DBL_MAX;   // not inf, not nan
}

std::string Range(int64_t min, int64_t max) {
    return "a whole number from " + std::to_string(min) + " to " + std::to_string(max);
}

// "[N] at W" / "[N] every W": N words (default 1) at delivered word offset W, or every W.
std::string CheckStreamRule(std::string_view text, SettingValue& value) {
    const char* const form = "must be '[words] at <offset>' or '[words] every <interval>'";
    const std::vector<std::string_view> words = Words(text);
    if (words.size() != 2 && words.size() != 3) return form;
    const size_t modeAt = words.size() - 2;
    int64_t count = 1;
    if (modeAt == 1 && !IntegerIn(words[0], 1, static_cast<int64_t>(kMaxRuleCount), count)) {
        return "the word count must be " + Range(1, static_cast<int64_t>(kMaxRuleCount));
    }
    const std::string_view mode = words[modeAt];
    if (mode != "at" && mode != "every") return "unknown mode '" + std::string(mode) + "': " + form;
    const int64_t first = mode == "at" ? 0 : 1;
    int64_t position = 0;
    if (!IntegerIn(words[modeAt + 1], first, static_cast<int64_t>(kMaxRuleCount), position)) {
        return "the word " + std::string(mode == "at" ? "offset" : "interval") + " must be " +
               Range(first, static_cast<int64_t>(kMaxRuleCount));
    }
    value.integer = count;
    value.mode = mode == "at" ? RuleMode::kAt : RuleMode::kEvery;
    value.position = static_cast<uint64_t>(position);
    return "";
}

// "<code>" or "<code> at|from|every N", the code a library status (32 bits, not 0).
std::string CheckFailRule(std::string_view text, SettingValue& value) {
    const std::vector<std::string_view> words = Words(text);
    if (words.size() != 1 && words.size() != 3) {
        return "must be '<code>' or '<code> at|from|every <call>'";
    }
    int64_t code = 0;
    if (!IntegerIn(words[0], -kInt32Max - 1, kInt32Max, code) || code == 0) {
        return "the code must be a 32-bit whole number other than 0";
    }
    value.integer = code;
    if (words.size() == 1) return "";
    const std::string_view mode = words[1];
    if (mode == "at") value.mode = RuleMode::kAt;
    else if (mode == "from") value.mode = RuleMode::kFrom;
    else if (mode == "every") value.mode = RuleMode::kEvery;
    else return "unknown mode '" + std::string(mode) + "' (at, from or every)";
    int64_t call = 0;
    if (!IntegerIn(words[2], 1, static_cast<int64_t>(kMaxRuleCount), call)) {
        return "calls count from 1: the call must be " + Range(1, static_cast<int64_t>(kMaxRuleCount));
    }
    value.position = static_cast<uint64_t>(call);
    return "";
}

// Converts the value to its key's kind; the reason it cannot be honoured, or "".
std::string Check(const KeySpec& known, std::string_view text, SettingValue& value) {
    switch (known.kind) {
        case Kind::kInteger:
            if (!IntegerIn(text, known.min, known.max, value.integer)) return "must be " + Range(known.min, known.max);
            return "";
        case Kind::kReal:
            if (!ParseReal(text, value.number) || value.number < known.lowest || value.number > known.highest) {
                char range[96];
                std::snprintf(range, sizeof range, "must be a number from %g to %g", known.lowest, known.highest);
                return range;
            }
            return "";
        case Kind::kRate:
            if (text == "usb2") value.integer = 40000000;
            else if (text == "usb3") value.integer = 400000000;
            else if (text == "unlimited") value.integer = 0;
            else if (!IntegerIn(text, 1, kMaxStreamBytesPerSecond, value.integer)) {
                return "must be usb2, usb3, unlimited or bytes per second, " + Range(1, kMaxStreamBytesPerSecond);
            }
            return "";
        case Kind::kStreamRule: return CheckStreamRule(text, value);
        case Kind::kFailRule: return CheckFailRule(text, value);
        case Kind::kPath: return "";
        case Kind::kPace:
            if (text == "fast" || text == "recorded") return "";
            return "must be fast or recorded";
        case Kind::kEnd:
            if (text == "wait" || text == "stop") return "";
            return "must be wait or stop";
    }
    return "unsupported kind";
}

void AddError(Scenario& scenario, std::string message) {
    if (scenario.errors.size() < kScenarioErrorsKept) {
        scenario.errors.push_back(std::move(message));
    } else if (scenario.errors.size() == kScenarioErrorsKept) {
        scenario.errors.push_back("more errors not shown");
    }
}

bool IsText(std::string_view line) {
    for (char c : line) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t' && c != '\r') || byte == 0x7F) return false;
    }
    return true;
}

void ParseEntry(std::string_view entry, const std::string& where, Scenario& scenario) {
    entry = Trim(entry);
    if (entry.empty()) return;
    const size_t equals = entry.find('=');
    const std::string_view key = equals == std::string_view::npos ? std::string_view() : Trim(entry.substr(0, equals));
    if (key.empty()) {
        AddError(scenario, "'" + std::string(entry) + "' is not a setting (key = value)" + where);
        return;
    }
    const std::string_view text = Trim(entry.substr(equals + 1));
    const KeySpec* known = FindKey(key);
    if (known == nullptr) {
        AddError(scenario, "unknown setting '" + std::string(key) + "'" + where);
        return;
    }
    if (text.empty()) {
        AddError(scenario, "setting '" + std::string(key) + "' has no value" + where);
        return;
    }
    SettingValue value;
    value.text = std::string(text);
    const std::string reason = Check(*known, text, value);
    if (!reason.empty()) {
        AddError(scenario, "'" + std::string(key) + " = " + std::string(text) + "' cannot be honoured: " + reason + where);
        return;
    }
    scenario.settings.insert_or_assign(std::string(key), std::move(value));
}

struct Active {
    bool loaded = false;
    Scenario scenario;
};

Active& ActiveScenario() {
    static Active active;
    return active;
}

void Install(Scenario scenario) {
    for (const std::string& error : scenario.errors) std::fprintf(stderr, "kelvosim: %s\n", error.c_str());
    std::fflush(stderr);
    ActiveScenario().scenario = std::move(scenario);
    ActiveScenario().loaded = true;
}

const Scenario& Current() {
    if (!ActiveScenario().loaded) ScenarioReplace(nullptr);
    return ActiveScenario().scenario;
}

}  // namespace

void ParseScenarioText(std::string_view text, const std::string& origin, Scenario& scenario) {
    size_t lineNumber = 0;
    size_t at = 0;
    while (at < text.size()) {
        ++lineNumber;
        const size_t newline = text.find('\n', at);
        const size_t end = newline == std::string_view::npos ? text.size() : newline;
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        const std::string where = " (line " + std::to_string(lineNumber) + " of " + origin + ")";
        if (line.size() > kScenarioLineLimitBytes) {
            AddError(scenario, "line longer than " + std::to_string(kScenarioLineLimitBytes) + " characters" + where);
            continue;
        }
        if (!IsText(line)) {
            AddError(scenario, "not text: control characters" + where);
            continue;
        }
        line = line.substr(0, line.find('#'));
        size_t from = 0;
        for (;;) {
            const size_t semicolon = line.find(';', from);
            ParseEntry(line.substr(from, semicolon == std::string_view::npos ? std::string_view::npos : semicolon - from),
                       where, scenario);
            if (semicolon == std::string_view::npos) break;
            from = semicolon + 1;
        }
    }
}

void ReadScenarioFile(const std::string& path, Scenario& scenario) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        AddError(scenario, "cannot read scenario file '" + path + "': " + std::strerror(errno));
        return;
    }
    std::string content;
    char chunk[16384];
    size_t got = 0;
    while (content.size() <= kScenarioFileLimitBytes && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        content.append(chunk, got);
    }
    const bool failed = std::ferror(file) != 0;
    const int readErrno = errno;
    std::fclose(file);
    if (failed) {
        AddError(scenario, "cannot read scenario file '" + path + "': " + std::strerror(readErrno));
    } else if (content.size() > kScenarioFileLimitBytes) {
        AddError(scenario, "scenario file '" + path + "' is larger than " +
                               std::to_string(kScenarioFileLimitBytes) + " bytes");
    } else {
        ParseScenarioText(content, path, scenario);
    }
}

void ScenarioReplace(const char* text) {
    Scenario scenario;
    if (text != nullptr) {
        ParseScenarioText(text, "the settings", scenario);
    } else {
        if (const char* path = std::getenv("KELVOSIM_SCENARIO")) ReadScenarioFile(path, scenario);
        if (const char* inlineText = std::getenv("KELVOSIM")) ParseScenarioText(inlineText, "KELVOSIM", scenario);
    }
    // Under replay the trace answers every call: a setting of the simulated scanner would
    // do nothing, so it is refused rather than ignored; so is a replay setting without a trace.
    const bool replay = scenario.settings.count("replay") != 0;
    for (const auto& setting : scenario.settings) {
        const bool replaySetting = setting.first.rfind("replay", 0) == 0;
        if (replay && !replaySetting) {
            AddError(scenario, setting.first + " has no effect under replay, which answers every call from the trace");
        } else if (!replay && replaySetting) {
            AddError(scenario, setting.first + " needs a trace to replay (replay = <trace>); without one it does nothing");
        }
    }
    Install(std::move(scenario));
}

bool ScenarioValid() { return Current().errors.empty(); }

const SettingValue* ScenarioFind(const char* key) {
    const Scenario& scenario = Current();
    const auto found = scenario.settings.find(std::string_view(key));
    return found == scenario.settings.end() ? nullptr : &found->second;
}

bool ScenarioHas(const char* key) { return ScenarioFind(key) != nullptr; }

int64_t ScenarioInteger(const char* key, int64_t fallback) {
    const SettingValue* value = ScenarioFind(key);
    return value != nullptr ? value->integer : fallback;
}

double ScenarioNumber(const char* key, double fallback) {
    const SettingValue* value = ScenarioFind(key);
    return value != nullptr ? value->number : fallback;
}

std::string ScenarioText(const char* key, const char* fallback) {
    const SettingValue* value = ScenarioFind(key);
    return value != nullptr ? value->text : std::string(fallback);
}

}  // namespace sim
