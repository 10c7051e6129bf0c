// plan/transcript.h: the measurements in a transcript of the tool (its standard error), read
// by one parser. Every name, its unit and the line it comes from is documented in
// kelvotest-plan(5). The parser knows the tool's messages only; it never runs anything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "plan/tool_args.h"

namespace plan {

// A measured or expected value: a boolean, a whole number, a real number or a text.
using Value = std::variant<bool, int64_t, double, std::string>;

std::string ValueText(const Value& value);        // as a person reads it: true, 42, 3.3201, text
bool IsNumber(const Value& value);
double NumberOf(const Value& value);               // IsNumber() only

struct Measurement {
    std::string name;      // e.g. "adc.3v3"
    Value value;
    std::string unit;      // "V", "B", "B/s", "" (none)
    int line = 0;          // 1-based line of the transcript it was read from
};

struct DeviceError {
    std::optional<int64_t> code;   // the library's or the tool's code, when the tool printed it
    std::string text;              // the library's text, or what failed
    int line = 0;
};

// One of the streaming test's once-a-second reports.
struct ThroughputReport {
    int line = 0;
    uint64_t bytes = 0;            // total since the start of the test
    uint64_t rate = 0;             // average rate since the start, bytes per second
    uint64_t errors = 0;           // cumulative error count
    // The tool prints no time. Its reports come at a steady pace, a little more than its report
    // interval apart, and bytes / rate gives the whole seconds since the start: the pace is the
    // least steady interval that agrees with the whole seconds of every report.
    double seconds = 0;            // time since the start of the test, at that pace
    double intervalRate = 0;       // bytes per second since the report before, at that pace
    std::optional<uint64_t> firstErrorPosition;   // a "First ErrPosition" line after this report
    std::optional<uint32_t> firstErrorValue;
};

struct Transcript {
    std::vector<Measurement> measurements;   // in transcript order; a later value of a name replaces it
    std::vector<DeviceError> errors;         // at most kMaxErrorsKept, see errorCount
    uint64_t errorCount = 0;                 // every error, also those not kept
    std::vector<ThroughputReport> throughput;
    bool interfaceOpened = false;
    bool bringUpComplete = false;            // interface, versions, FPGA and (-prg) boot EEPROM
    bool commandLineError = false;
    bool streamStarted = false;
    int lines = 0;

    static constexpr size_t kMaxErrorsKept = 200;
    const Measurement* Find(const std::string& name) const;
};

// Reads a transcript. `args`, the tool's arguments of that run, names what the transcript
// leaves out: the addresses of register writes and the EEPROM of -wre. Without them those
// measurements are named without an address ("reg.wd").
Transcript ParseTranscript(const std::string& text, const ToolArgs& args = {});

// True when `name` is one the parser can produce (kelvotest-plan(5)): a plan naming anything
// else has a typo. `kind` is set to 'n' (number), 'b' (boolean) or 's' (text).
bool IsKnownMeasurement(const std::string& name, char* kind = nullptr);

}  // namespace plan
