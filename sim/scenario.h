// sim/scenario.h: the virtual scanner's settings. They come from one text of "key = value"
// entries, one a line or separated by ';' ('#' starts a comment to the end of the line): the
// file named by KELVOSIM_SCENARIO, then the text in KELVOSIM, or whatever SimConfigure() was
// given in process. Later keys win.
//
// A scenario is a test setup, so a setting the scanner cannot honour exactly (an unknown key,
// a value of the wrong kind or out of its range, an unreadable file) is never guessed at: it
// is reported on standard error, prefixed "kelvosim: ", and Init_Interface then fails. The
// table of known keys in scenario.cc is the one place that decides what is valid. Settings
// are parsed once, when they are installed; the parts read them when they are reset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class RuleMode { kAlways, kAt, kFrom, kEvery };

// One accepted setting, converted to its kind.
struct SettingValue {
    std::string text;         // as written, trimmed
    int64_t integer = 0;      // integers and flags; a rate in bytes/s (0: unlimited); a
                              // failure rule's code; a stream rule's word count
    double number = 0;        // real numbers
    RuleMode mode = RuleMode::kAlways;
    uint64_t position = 0;    // a failure rule's call number, a stream rule's word offset
};

struct Scenario {
    std::map<std::string, SettingValue, std::less<>> settings;
    std::vector<std::string> errors;   // one message each, without the "kelvosim: " prefix
};

constexpr size_t kScenarioFileLimitBytes = size_t{1} << 20;
constexpr size_t kScenarioLineLimitBytes = 4096;
constexpr size_t kScenarioErrorsKept = 20;   // a file of garbage must not flood the terminal
constexpr int64_t kMaxStreamBytesPerSecond = 100000000000;   // 100 GB/s
constexpr uint64_t kMaxRuleCount = uint64_t{1} << 62;        // words or calls in a rule

// Adds the entries of `text` to the scenario, checking each against the table of known keys;
// `origin` names the text in messages ("line 3 of <origin>"). Pure: no I/O, no globals.
void ParseScenarioText(std::string_view text, const std::string& origin, Scenario& scenario);
// Reads at most kScenarioFileLimitBytes of a scenario file and adds its entries.
void ReadScenarioFile(const std::string& path, Scenario& scenario);

// Replaces the settings in force with the given text, or (nullptr) with the environment's,
// and reports every error on standard error.
void ScenarioReplace(const char* text);
// The settings in force, loaded from the environment at first use.
bool ScenarioValid();
const SettingValue* ScenarioFind(const char* key);
bool ScenarioHas(const char* key);
int64_t ScenarioInteger(const char* key, int64_t fallback);
double ScenarioNumber(const char* key, double fallback);
std::string ScenarioText(const char* key, const char* fallback);

}  // namespace sim
