// line/ocp_run.h: one run read from its OCP 2.0 output (ocp.jsonl), as the store keeps it.
// Written for kelvotest-plan's output, and reading what another program's valid OCP holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace line {

struct StepRecord {
    int64_t index = 0;
    std::string id;                  // OCP testStepId
    std::string name;
    std::optional<std::string> status;   // COMPLETE, ERROR, SKIP; none when cut before its end
    std::optional<std::string> result;   // PASS, FAIL; none for a skipped or cut step
    std::string startedAt, endedAt;
    int64_t attempt = 1, attemptsAllowed = 1;   // a retried step's attempts are steps of their own
};

struct MeasurementRecord {
    int64_t step = 0;
    std::string name;
    std::optional<double> value;     // a number, or a boolean as 1/0
    std::string valueText;           // the value as JSON
    std::string unit;
    std::optional<double> limitMin, limitMax, marginalMin, marginalMax;
    std::optional<std::string> expected;   // JSON text
    std::optional<std::string> result;     // PASS, FAIL; none when nothing checks it
    bool marginal = false;
    std::string at;
};

struct FailureRecord {
    std::optional<int64_t> step;     // none: the run's own error
    std::string verdict, message;
    std::optional<std::string> measurement;
};

struct RunRecord {
    std::string runId, fingerprint;
    std::optional<std::string> serial, part, station, operatorName, planName, planRevision, limitsDigest;
    std::string source = "unknown";  // hardware, virtual, replay, unknown
    std::string program;
    std::string startedAt, endedAt;
    std::string result;              // PASS, FAIL, ABORTED
    std::optional<std::string> ocpStatus, ocpResult;
    bool marginal = false;
    // The station's facts from the run's metadata ("station.<key>"): its fixture, its
    // calibration, and all of them as one JSON object.
    std::optional<std::string> fixtureId, calibrationDate, calibrationDue, stationFacts;
    bool uncalibrated = false;
    std::string path;
    std::vector<StepRecord> steps;
    std::vector<MeasurementRecord> measurements;
    std::vector<FailureRecord> failures;
};

// The longest line and file taken: a line of a run's output is a few hundred bytes, a file a
// few hundred kilobytes; anything near these is not a run's output.
inline constexpr size_t kMaxLineBytes = 1 << 20;
inline constexpr uint64_t kMaxFileBytes = uint64_t{256} << 20;

// Reads `path`, which must be a regular file (not a link, FIFO, device or folder). On refusal
// returns false with *error naming the file and, for damaged content, the line.
bool ReadOcpRun(const std::string& path, RunRecord* run, std::string* error);

}  // namespace line
