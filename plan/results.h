// plan/results.h: what a run of a plan produced, step by step: the one set of results that
// every report (OCP, JUnit, HTML, console) is written from.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "plan/plan_file.h"
#include "plan/station_file.h"
#include "plan/transcript.h"

namespace plan {

// One check of a step: a limit, an expectation, or one of the checks every step makes.
struct Check {
    std::string name;              // measurement name, or "tool.exit_code", "bringup.complete", "errors.count"
    bool passed = false;
    bool marginal = false;         // passed, but outside the limit's marginal band
    bool found = true;             // false: the measurement was not in the transcript
    std::optional<Value> value;
    std::string unit;
    std::optional<Limit> limit;
    std::optional<Value> expected;
    std::string verdict;           // short: "adc.3v3-low", "stream.errors-high", "tool-exit"
    std::string message;           // a sentence: "adc.3v3 = 2.90997 V, below its limits [3.2, 3.4]"
    int line = 0;                  // transcript line of the value
};

enum class StepStatus { kComplete, kError, kSkip };
const char* StatusName(StepStatus status);   // COMPLETE, ERROR, SKIP (OCP's names)

struct StepResult {
    const StepPlan* plan = nullptr;
    size_t index = 0;
    StepStatus status = StepStatus::kSkip;
    std::string statusMessage;     // why ERROR or SKIP
    std::string folder;            // working folder, relative to the output folder
    std::string startTime;         // ISO 8601
    std::string endTime;
    std::chrono::system_clock::time_point startPoint{};
    double seconds = 0;
    int exitCode = -1;             // -1: no exit code (not started, or ended by a signal)
    bool stoppedAfterDuration = false;
    Transcript transcript;
    std::vector<Check> checks;
    int attempt = 1;               // of a step with retries: which run of it this is, from 1
    int attemptsAllowed = 1;       // 1 + the plan's retries
    // The failed attempts before this one, first first; this one's verdict is the step's.
    std::vector<StepResult> earlierAttempts;

    bool Passed() const;
    // "passed on attempt 2 of 3", "failed on attempt 3 of 3"; empty for a step without retries
    // that passed on its first attempt.
    std::string AttemptNote() const;
    std::vector<const Check*> Failures() const;
    std::vector<const Check*> Marginals() const;
};

struct RunInfo {
    std::string runId;             // random, 128 bits, as hex: this run's name in every report
    std::string commandLine;
    std::string version;           // kelvotest-plan's
    std::string toolPath;
    std::string source = "hardware";   // "hardware", "virtual" or "replay"
    std::string sourceNote;        // a sentence for the reports when the source is not hardware
    std::string serial;
    std::string station;
    std::string operatorName;
    std::string outDir;
    std::string startTime;
    std::string endTime;
    double seconds = 0;
    bool aborted = false;          // Ctrl-C, or a step that could not be started
    std::string abortMessage;
    bool recorded = false;
    std::string scenario;          // the virtual scanner's settings (KELVOSIM...), when it answered
    StationIdentity stationIdentity;
    bool uncalibrated = false;     // the station's calibration was past due (--allow-uncalibrated)
};

// The station's facts as every report gives them, in this order: station.fixture_id,
// station.calibration_date, station.calibration_due, station.calibration ("PAST DUE" for a run
// with --allow-uncalibrated), then station.KEY for each free key.
std::vector<std::pair<std::string, std::string>> StationFacts(const RunInfo& info);

struct RunResult {
    const PlanFile* plan = nullptr;
    RunInfo info;
    std::vector<StepResult> steps;

    bool Passed() const;           // every step complete and passed, and not aborted
    bool Marginal() const;         // a check of a step passed outside its marginal band
    int ExitCode() const;          // 0, 1, 2 (kelvotest-plan(1), EXIT STATUS)
};

// The current time as ISO 8601 in UTC with milliseconds: 2026-12-07T18:33:07.123Z.
std::string IsoNow();
std::string IsoTime(std::chrono::system_clock::time_point time);

}  // namespace plan
