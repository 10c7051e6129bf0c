// The OCP Test and Validation output, schema 2.0: one JSON artifact a line, each with its
// sequence number (from 0, one more each line) and an RFC 3339 time stamp, flushed line by
// line so that a run that is killed leaves every finished step readable.
#include <cerrno>
#include <cmath>
#include <cstring>

#include "plan/checks.h"
#include "plan/limits_digest.h"
#include "plan/reports.h"

namespace plan {
namespace {

using nlohmann::json;

json ValueJson(const Value& value) {
    if (const bool* b = std::get_if<bool>(&value)) return *b;
    if (const int64_t* i = std::get_if<int64_t>(&value)) return *i;
    // JSON has no NaN or infinity (the library would write null, which OCP refuses): a
    // reading that is not finite goes in as the tool printed it, a text.
    if (const double* d = std::get_if<double>(&value)) return std::isfinite(*d) ? json(*d) : json(ValueText(value));
    return std::get<std::string>(value);
}

// A retried step's later attempts are steps of their own: "2", then "2.2", "2.3".
std::string StepId(const StepResult& step) {
    return std::to_string(step.index) + (step.attempt > 1 ? "." + std::to_string(step.attempt) : "");
}

json StepArtifact(const StepResult& step, const char* kind, json body) {
    return json{{"testStepArtifact", json{{"testStepId", StepId(step)}, {kind, std::move(body)}}}};
}

// The validators of one measurement: those of every check of the step on its name.
json Validators(const StepResult& step, const std::string& name) {
    json validators = json::array();
    for (const Check& check : step.checks) {
        if (check.name != name) continue;
        if (check.limit) {
            if (check.limit->min) {
                validators.push_back({{"type", "GREATER_THAN_OR_EQUAL"}, {"value", *check.limit->min}, {"name", name + ".min"}});
            }
            if (check.limit->max) {
                validators.push_back({{"type", "LESS_THAN_OR_EQUAL"}, {"value", *check.limit->max}, {"name", name + ".max"}});
            }
        }
        if (check.expected) validators.push_back({{"type", "EQUAL"}, {"value", ValueJson(*check.expected)}, {"name", name}});
    }
    return validators;
}

// testStepStart carries no metadata in OCP 2.0: a retried step's attempt is a measurement of
// its own, first in the step, with the attempt and the attempts allowed as metadata.
json AttemptMeasurement(const StepResult& step) {
    return {{"name", "step.attempt"},
            {"value", step.attempt},
            {"metadata", {{"attempt", step.attempt}, {"of", step.attemptsAllowed}}}};
}

// The stream's reports as a series: each element the rate of one report interval.
void WriteThroughput(OcpWriter& writer, const StepResult& step) {
    const Transcript& t = step.transcript;
    if (t.throughput.empty()) return;
    const std::string id = StepId(step) + ".throughput";
    writer.Write(StepArtifact(step, "measurementSeriesStart",
                              {{"measurementSeriesId", id}, {"name", "stream.throughput"}, {"unit", "B/s"}}));
    for (size_t i = 0; i < t.throughput.size(); ++i) {
        const ThroughputReport& r = t.throughput[i];
        json metadata = {{"bytes", r.bytes}, {"averageRate", r.rate}, {"errors", r.errors}, {"seconds", r.seconds}};
        if (r.firstErrorPosition) metadata["firstErrorPosition"] = *r.firstErrorPosition;
        const auto at = step.startPoint + std::chrono::milliseconds(static_cast<long long>(r.seconds * 1000));
        writer.Write(StepArtifact(step, "measurementSeriesElement",
                                  {{"index", i}, {"measurementSeriesId", id}, {"value", r.intervalRate},
                                   {"timestamp", IsoTime(at)}, {"metadata", metadata}}));
    }
    writer.Write(StepArtifact(step, "measurementSeriesEnd", {{"measurementSeriesId", id}, {"totalCount", t.throughput.size()}}));
}

// A limit's marginal band and the value's place in it go into the measurement's metadata,
// not its validators: a value in the margin passes.
void AddBand(const StepResult& step, const std::string& name, json& body) {
    for (const Check& check : step.checks) {
        if (check.name != name || !check.limit) continue;
        if (!check.limit->marginalMin && !check.limit->marginalMax) continue;
        json& metadata = body["metadata"];
        if (check.limit->marginalMin) metadata["marginalMin"] = *check.limit->marginalMin;
        if (check.limit->marginalMax) metadata["marginalMax"] = *check.limit->marginalMax;
        metadata["marginal"] = check.marginal;
    }
}

}  // namespace

OcpWriter::~OcpWriter() { Close(); }

bool OcpWriter::Open(const std::string& path, std::string* error) {
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    sequence_ = 0;
    written_ = 0;
    startOffset_ = -1;
    Write(json{{"schemaVersion", {{"major", 2}, {"minor", 0}}}});
    if (failed_) *error = path + ": " + problem_;
    return !failed_;
}

void OcpWriter::Close() {
    if (file_ == nullptr) return;
    if (std::fclose(file_) != 0 && !failed_) {
        failed_ = true;
        problem_ = std::strerror(errno);
    }
    file_ = nullptr;
}

void OcpWriter::Write(const json& artifact) {
    if (file_ == nullptr) return;
    json line = artifact;
    line["sequenceNumber"] = sequence_++;
    line["timestamp"] = IsoNow();
    const std::string text = line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    // One write of the whole line, then out of the C library's buffer: a killed run leaves
    // whole lines only (and at most the last one cut by a full disk).
    if ((std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) && !failed_) {
        failed_ = true;
        problem_ = std::strerror(errno);
    }
    if (artifact.contains("testRunArtifact") && artifact["testRunArtifact"].contains("testRunStart")) {
        startLine_ = text;
        startOffset_ = written_;
    }
    written_ += static_cast<long long>(text.size());
}

void OcpWriter::RunStart(const RunResult& run) {
    const PlanFile& plan = *run.plan;
    json parameters = {
        {"runId", run.info.runId},    {"plan", plan.path},          {"planName", plan.name},   {"revision", plan.revision},
        {"tool", run.info.toolPath},  {"scanner", run.info.source}, {"station", run.info.station},
        {"operator", run.info.operatorName}, {"outputFolder", run.info.outDir}, {"recorded", run.info.recorded},
    };
    if (!run.info.scenario.empty()) parameters["virtualScanner"] = run.info.scenario;
    parameters["limitsDigest"] = LimitsDigest(*run.plan);
    json metadata = json::object();
    for (const auto& [key, value] : plan.dut) metadata[key] = value;
    for (const auto& [key, value] : plan.dutInfo) metadata[key] = value;   // [dut.info], the line's own keys
    metadata["scanner"] = run.info.source;
    metadata["limitsDigest"] = LimitsDigest(*run.plan);
    if (!run.info.station.empty()) metadata["station"] = run.info.station;
    if (!run.info.operatorName.empty()) metadata["operator"] = run.info.operatorName;
    json hardware = {{"hardwareInfoId", "dut"}, {"name", plan.Dut("part").empty() ? "scanner" : plan.Dut("part")}};
    if (!run.info.serial.empty()) hardware["serialNumber"] = run.info.serial;
    if (!plan.Dut("part").empty()) hardware["partNumber"] = plan.Dut("part");
    json dut = {
        {"dutInfoId", run.info.serial.empty() ? std::string("unknown") : run.info.serial},
        {"name", plan.Dut("part").empty() ? std::string("scanner") : plan.Dut("part")},
        {"platformInfos", json::array({{{"info", run.info.source == "hardware" ? "scanner hardware"
                                                 : run.info.source == "virtual" ? "virtual scanner (kelvotest-virtual)"
                                                                                : "replay of a recording (virtual scanner)"}}})},
        {"softwareInfos", json::array({{{"softwareInfoId", "kelvotest-plan"}, {"name", "kelvotest-plan"},
                                        {"version", run.info.version}, {"softwareType", "APPLICATION"}}})},
        {"hardwareInfos", json::array({hardware})},
        {"metadata", metadata},
    };
    json start = {{"name", plan.name},
                  {"version", plan.revision.empty() ? std::string("unrevised") : plan.revision},
                  {"commandLine", run.info.commandLine},
                  {"parameters", parameters},
                  {"dutInfo", dut}};
    json station = json::object();
    for (const auto& [key, value] : StationFacts(run.info)) station[key] = value;
    if (!station.empty()) start["metadata"] = station;
    Write(json{{"testRunArtifact", {{"testRunStart", start}}}});
    if (run.info.source != "hardware") {
        Write(json{{"testRunArtifact", {{"log", {{"severity", "WARNING"}, {"message", run.info.sourceNote}}}}}});
    }
}

void OcpWriter::StepStart(const StepResult& step) {
    Write(StepArtifact(step, "testStepStart", {{"name", step.plan->name}}));
}

void OcpWriter::StepEnd(const RunResult& run, const StepResult& step) {
    (void)run;
    if (step.status == StepStatus::kSkip) {
        Write(StepArtifact(step, "log", {{"severity", "INFO"}, {"message", "not run: " + step.statusMessage}}));
        Write(StepArtifact(step, "testStepEnd", {{"status", "SKIP"}}));
        return;
    }
    const Transcript& t = step.transcript;
    if (step.attemptsAllowed > 1) Write(StepArtifact(step, "measurement", AttemptMeasurement(step)));
    // The tool's own exit and bring-up, then every value the transcript gave.
    for (const Check& check : step.checks) {
        if ((check.name == kToolExitCheck || check.name == kBringUpCheck) && check.value) {
            Write(StepArtifact(step, "measurement",
                               {{"name", check.name},
                                {"value", ValueJson(*check.value)},
                                {"validators", json::array({{{"type", "EQUAL"}, {"value", ValueJson(*check.expected)}}})}}));
        }
    }
    for (const Measurement& m : t.measurements) {
        json body = {{"name", m.name}, {"value", ValueJson(m.value)}};
        if (!m.unit.empty()) body["unit"] = m.unit;
        json validators = Validators(step, m.name);
        if (!validators.empty()) body["validators"] = validators;
        if (m.line > 0) body["metadata"] = {{"transcriptLine", m.line}};
        AddBand(step, m.name, body);
        Write(StepArtifact(step, "measurement", body));
    }
    WriteThroughput(*this, step);
    for (const DeviceError& error : t.errors) {
        std::string message = error.text;
        if (error.code) message += " (code " + std::to_string(*error.code) + ")";
        message += ", transcript line " + std::to_string(error.line);
        Write(StepArtifact(step, "error", {{"symptom", "device-error"}, {"message", message}}));
    }
    if (t.errorCount > t.errors.size()) {
        Write(StepArtifact(step, "log", {{"severity", "WARNING"},
                                         {"message", std::to_string(t.errorCount - t.errors.size()) +
                                                         " further device errors are in the step's transcript"}}));
    }
    if (step.status == StepStatus::kError) {
        Write(StepArtifact(step, "error", {{"symptom", "step-error"}, {"message", step.statusMessage}}));
        Write(StepArtifact(step, "diagnosis",
                           {{"verdict", "step-error"}, {"type", "FAIL"}, {"message", step.statusMessage}}));
    }
    bool failed = false;
    for (const Check& check : step.checks) {
        if (check.passed) continue;
        failed = true;
        Write(StepArtifact(step, "diagnosis", {{"verdict", check.verdict}, {"type", "FAIL"}, {"message", check.message}}));
    }
    for (const Check* check : step.Marginals()) {
        Write(StepArtifact(step, "diagnosis", {{"verdict", check->verdict}, {"type", "PASS"}, {"message", check->message}}));
    }
    if (!failed && step.status == StepStatus::kComplete) {
        Write(StepArtifact(step, "diagnosis", {{"verdict", "pass"}, {"type", "PASS"},
                                               {"message", "every check of step '" + step.plan->name + "' passed"}}));
    }
    Write(StepArtifact(step, "testStepEnd", {{"status", StatusName(step.status)}}));
}

void OcpWriter::RunEnd(const RunResult& run) {
    bool marginal = false;
    for (const StepResult& step : run.steps) {
        for (const Check* check : step.Marginals()) {
            Write(json{{"testRunArtifact", {{"log", {{"severity", "WARNING"}, {"message", "marginal: " + check->message}}}}}});
            marginal = true;
        }
    }
    if (run.info.aborted) {
        Write(json{{"testRunArtifact", {{"error", {{"symptom", "run-aborted"}, {"message", run.info.abortMessage}}}}}});
    }
    Write(json{{"testRunArtifact",
                {{"testRunEnd", {{"status", run.info.aborted ? "ERROR" : "COMPLETE"}, {"result", run.Passed() ? "PASS" : "FAIL"}}}}}});
    Close();
    if (marginal) FlagMarginalRun();
}

// The start went out before any value was known; once the run is whole, its start line is
// the same line with "marginal": true in its metadata. Should that fail, the file stays as
// it was, whole, with the marginal diagnoses and warnings that say it all the same.
void OcpWriter::FlagMarginalRun() {
    if (failed_ || startOffset_ < 0) return;
    std::string text;
    if (std::FILE* in = std::fopen(path_.c_str(), "rb")) {
        char chunk[65536];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;) text.append(chunk, got);
        std::fclose(in);
    }
    const size_t at = static_cast<size_t>(startOffset_);
    if (text.size() != static_cast<size_t>(written_) || text.compare(at, startLine_.size(), startLine_) != 0) return;
    json line = json::parse(startLine_, nullptr, false);
    if (line.is_discarded()) return;
    line["testRunArtifact"]["testRunStart"]["metadata"]["marginal"] = true;
    text.replace(at, startLine_.size(), line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
    std::string error;
    if (!WriteFileAtomically(path_, text, &error)) {
        std::fprintf(stderr, "kelvotest-plan: %s: the run's marginal flag is not in its start (%s)\n", path_.c_str(),
                     error.c_str());
    }
}

json TranscriptJson(const Transcript& transcript) {
    json measurements = json::array();
    for (const Measurement& m : transcript.measurements) {
        json entry = {{"name", m.name}, {"value", ValueJson(m.value)}};
        if (!m.unit.empty()) entry["unit"] = m.unit;
        entry["line"] = m.line;
        measurements.push_back(entry);
    }
    json errors = json::array();
    for (const DeviceError& e : transcript.errors) {
        json entry = {{"text", e.text}, {"line", e.line}};
        entry["code"] = e.code ? json(*e.code) : json(nullptr);
        errors.push_back(entry);
    }
    json throughput = json::array();
    for (const ThroughputReport& r : transcript.throughput) {
        json entry = {{"line", r.line}, {"bytes", r.bytes}, {"rate", r.rate}, {"errors", r.errors}, {"seconds", r.seconds}};
        if (r.firstErrorPosition) {
            entry["first_error_position"] = *r.firstErrorPosition;
            entry["first_error_value"] = *r.firstErrorValue;
        }
        throughput.push_back(entry);
    }
    return json{{"bringup_complete", transcript.bringUpComplete},
                {"interface_opened", transcript.interfaceOpened},
                {"measurements", measurements},
                {"errors", errors},
                {"error_count", transcript.errorCount},
                {"throughput", throughput},
                {"lines", transcript.lines}};
}

}  // namespace plan
