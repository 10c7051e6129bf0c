// plan/reports.h: the reports of a run, all written from the same RunResult: the OCP Test and
// Validation output (schema 2.0, written and flushed artifact by artifact as the run goes),
// JUnit XML, the self-contained HTML report, and the console summary.
#pragma once

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "plan/results.h"

namespace plan {

class OcpWriter {
public:
    OcpWriter() = default;
    OcpWriter(const OcpWriter&) = delete;
    OcpWriter& operator=(const OcpWriter&) = delete;
    ~OcpWriter();

    bool Open(const std::string& path, std::string* error);
    void RunStart(const RunResult& run);
    void StepStart(const StepResult& step);
    // Every artifact of a finished (or skipped) step, ending with testStepEnd.
    void StepEnd(const RunResult& run, const StepResult& step);
    // The run's end, and the file closed. A run with a marginal value then gets its flag in
    // testRunStart's metadata: the file is written anew beside itself and renamed over, so that
    // it is whole at every moment.
    void RunEnd(const RunResult& run);
    void Close();
    bool Failed() const { return failed_; }   // a write failed (disk full): the file is incomplete
    const std::string& Problem() const { return problem_; }   // the first failed write's reason

    // The artifacts as lines, for tests: each call writes one line.
    void Write(const nlohmann::json& artifact);

private:
    void FlagMarginalRun();
    std::FILE* file_ = nullptr;
    std::string path_;
    std::string startLine_;      // the testRunStart line as written, and where it begins
    long long startOffset_ = -1;
    long long written_ = 0;
    long long sequence_ = 0;
    bool failed_ = false;
    std::string problem_;
};

// The measurements of a transcript as JSON (kelvotest-plan --read).
nlohmann::json TranscriptJson(const Transcript& transcript);

// Writes through a temporary file in the same folder and renames it, so that a reader never
// sees half a report.
bool WriteFileAtomically(const std::string& path, const std::string& content, std::string* error);

std::string XmlEscape(const std::string& text);   // also for HTML
std::string JUnitXml(const RunResult& run);
std::string HtmlReport(const RunResult& run);
// The table of steps at the end of a run, with the failed checks and their values against
// their limits.
std::string ConsoleSummary(const RunResult& run);

}  // namespace plan
