// line/ocp_run.cc: reads one run's ocp.jsonl into a RunRecord. The file is read in pieces with
// its lines capped, so that a file of one endless line, a FIFO or a device never hangs the
// collector or fills its memory; a line cut by a killed writer ends the run as ABORTED.
#include "line/ocp_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>

#include "line/file_digest.h"
#include "line/times.h"

namespace line {

namespace {

using nlohmann::json;

// PostgreSQL's text holds no NUL character: both engines store U+FFFD in its place.
std::string Clean(std::string text) {
    for (size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at)) text.replace(at, 1, "\xEF\xBF\xBD");
    return text;
}

std::optional<std::string> Str(const json& object, const char* key) {
    if (!object.is_object()) return std::nullopt;
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return Clean(it->get<std::string>());
}

const json& Member(const json& object, const char* key) {
    static const json kNull;
    if (!object.is_object()) return kNull;
    const auto it = object.find(key);
    return it == object.end() ? kNull : *it;
}

class Reader {
public:
    explicit Reader(RunRecord* run) : run_(run) {}
    bool Line(const std::string& text, size_t number, std::string* error);
    bool Finish(std::string* error);

private:
    void RunStart(const json& start);
    void StationFacts(const json& metadata);
    void StepArtifact(const json& artifact, const std::string& at);
    void Measurement(int64_t step, const json& body, const std::string& at);
    void Diagnosis(int64_t step, const json& body);
    int64_t StepIndex(const std::string& id);

    RunRecord* run_;
    bool started_ = false, ended_ = false;
    std::map<std::string, int64_t> stepIndex_;
    std::vector<std::pair<int64_t, std::string>> marginalVerdicts_;
};

void Reader::RunStart(const json& start) {
    started_ = true;
    const json& parameters = Member(start, "parameters");
    const json& dut = Member(start, "dutInfo");
    const json& metadata = Member(dut, "metadata");
    if (auto id = Str(parameters, "runId"); id && !id->empty() && id->size() <= 200) run_->runId = *id;
    run_->planName = Str(parameters, "planName");
    if (!run_->planName) run_->planName = Str(start, "name");
    run_->planRevision = Str(parameters, "revision");
    if (!run_->planRevision) run_->planRevision = Str(start, "version");
    run_->station = Str(parameters, "station");
    if (!run_->station || run_->station->empty()) run_->station = Str(metadata, "station");
    run_->operatorName = Str(parameters, "operator");
    if (!run_->operatorName || run_->operatorName->empty()) run_->operatorName = Str(metadata, "operator");
    if (run_->station && run_->station->empty()) run_->station.reset();
    if (run_->operatorName && run_->operatorName->empty()) run_->operatorName.reset();
    run_->limitsDigest = Str(parameters, "limitsDigest");
    if (!run_->limitsDigest) run_->limitsDigest = Str(metadata, "limitsDigest");
    std::optional<std::string> source = Str(parameters, "scanner");
    if (!source) source = Str(metadata, "scanner");
    if (source && (*source == "hardware" || *source == "virtual" || *source == "replay")) run_->source = *source;
    if (Member(metadata, "marginal") == json(true) || Member(parameters, "marginal") == json(true) ||
        Member(Member(start, "metadata"), "marginal") == json(true)) {
        run_->marginal = true;
    }
    for (const json& hardware : Member(dut, "hardwareInfos")) {
        if (!run_->serial) run_->serial = Str(hardware, "serialNumber");
        if (!run_->part) run_->part = Str(hardware, "partNumber");
    }
    if (!run_->serial) run_->serial = Str(metadata, "serial");
    if (!run_->part) run_->part = Str(metadata, "part");
    StationFacts(Member(start, "metadata"));
    const json& software = Member(dut, "softwareInfos");
    if (software.is_array() && !software.empty()) {
        run_->program = Str(software[0], "name").value_or("") + " " + Str(software[0], "version").value_or("");
    }
}

// kelvotest-plan writes what the station says of itself into testRunStart's metadata, each fact
// as "station.<key>"; "station.calibration" = "PAST DUE" marks a run on an uncalibrated station.
void Reader::StationFacts(const json& metadata) {
    if (!metadata.is_object()) return;
    json facts = json::object();
    for (const auto& [key, value] : metadata.items()) {
        if (key.starts_with("station.") && value.is_string()) facts[key.substr(8)] = value;
    }
    if (facts.empty()) return;
    run_->fixtureId = Str(facts, "fixture_id");
    run_->calibrationDate = Str(facts, "calibration_date");
    run_->calibrationDue = Str(facts, "calibration_due");
    run_->uncalibrated = Str(facts, "calibration") == "PAST DUE";
    run_->stationFacts = Clean(facts.dump(-1, ' ', false, json::error_handler_t::replace));
}

int64_t Reader::StepIndex(const std::string& id) {
    const auto it = stepIndex_.find(id);
    if (it != stepIndex_.end()) return it->second;
    const int64_t index = static_cast<int64_t>(run_->steps.size());
    stepIndex_[id] = index;
    run_->steps.push_back(StepRecord{index, id, id, std::nullopt, std::nullopt, {}, {}});
    return index;
}

// What a measurement says of its value: its limits, its band, its expectation, and whether it
// meets them (none when no validator judges it). kelvotest-plan writes the band into the
// measurement's metadata (marginalMin, marginalMax), where it judges nothing; validators named
// <name>.marginal_min or <name>.marginal_max are read as a band too.
void Judge(MeasurementRecord& m, const json& value, const json& body) {
    bool judged = false, passed = true;
    for (const json& v : Member(body, "validators")) {
        const std::string type = Str(v, "type").value_or("");
        const std::string name = Str(v, "name").value_or("");
        const json& bound = Member(v, "value");
        const bool band = name.ends_with(".marginal_min") || name.ends_with(".marginal_max");
        const bool numbers = bound.is_number() && value.is_number();
        if (type == "EQUAL") {
            m.expected = bound.dump(-1, ' ', false, json::error_handler_t::replace);
            judged = true;
            passed = passed && value == bound;
        } else if ((type == "GREATER_THAN_OR_EQUAL" || type == "GREATER_THAN") && bound.is_number()) {
            (band ? m.marginalMin : m.limitMin) = bound.get<double>();
            if (band || !numbers) continue;
            judged = true;
            passed = passed && (type == "GREATER_THAN" ? value.get<double>() > bound.get<double>()
                                                       : value.get<double>() >= bound.get<double>());
        } else if ((type == "LESS_THAN_OR_EQUAL" || type == "LESS_THAN") && bound.is_number()) {
            (band ? m.marginalMax : m.limitMax) = bound.get<double>();
            if (band || !numbers) continue;
            judged = true;
            passed = passed && (type == "LESS_THAN" ? value.get<double>() < bound.get<double>()
                                                    : value.get<double>() <= bound.get<double>());
        }
    }
    const json& metadata = Member(body, "metadata");
    if (const json& low = Member(metadata, "marginalMin"); low.is_number()) m.marginalMin = low.get<double>();
    if (const json& high = Member(metadata, "marginalMax"); high.is_number()) m.marginalMax = high.get<double>();
    if (judged) m.result = passed ? "PASS" : "FAIL";
    if (passed && Member(metadata, "marginal") == json(true)) m.marginal = true;
    if (passed && value.is_number() &&
        ((m.marginalMin && value.get<double>() < *m.marginalMin) || (m.marginalMax && value.get<double>() > *m.marginalMax))) {
        m.marginal = true;
    }
}

void Reader::Measurement(int64_t step, const json& body, const std::string& at) {
    // A retried step's attempt, first in the step: "step.attempt" with its attempt and the
    // attempts allowed as metadata.
    if (const json& metadata = Member(body, "metadata"); Str(body, "name") == "step.attempt" &&
                                                          Member(metadata, "attempt").is_number_integer() &&
                                                          Member(metadata, "of").is_number_integer()) {
        StepRecord& s = run_->steps[static_cast<size_t>(step)];
        s.attempt = std::max<int64_t>(1, Member(metadata, "attempt").get<int64_t>());
        s.attemptsAllowed = std::max<int64_t>(s.attempt, Member(metadata, "of").get<int64_t>());
    }
    MeasurementRecord m;
    m.step = step;
    m.name = Str(body, "name").value_or("");
    const json& value = Member(body, "value");
    if (value.is_number()) m.value = value.get<double>();
    if (value.is_boolean()) m.value = value.get<bool>() ? 1.0 : 0.0;
    m.valueText = Clean(value.dump(-1, ' ', false, json::error_handler_t::replace));
    m.unit = Str(body, "unit").value_or("");
    m.at = at;
    Judge(m, value, body);
    run_->measurements.push_back(std::move(m));
}

void Reader::Diagnosis(int64_t step, const json& body) {
    const std::string type = Str(body, "type").value_or("");
    const std::string verdict = Str(body, "verdict").value_or("");
    StepRecord& s = run_->steps[static_cast<size_t>(step)];
    if (verdict.ends_with("-marginal")) marginalVerdicts_.emplace_back(step, verdict.substr(0, verdict.size() - 9));
    if (type == "FAIL") {
        s.result = "FAIL";
        run_->failures.push_back(FailureRecord{step, verdict, Str(body, "message").value_or(""), std::nullopt});
    } else if (type == "PASS" && !s.result) {
        s.result = "PASS";
    }
}

void Reader::StepArtifact(const json& artifact, const std::string& at) {
    const int64_t step = StepIndex(Str(artifact, "testStepId").value_or(""));
    StepRecord& s = run_->steps[static_cast<size_t>(step)];
    if (const json& start = Member(artifact, "testStepStart"); start.is_object()) {
        s.name = Str(start, "name").value_or(s.id);
        s.startedAt = at;
    } else if (const json& body = Member(artifact, "measurement"); body.is_object()) {
        Measurement(step, body, at);
    } else if (const json& diagnosis = Member(artifact, "diagnosis"); diagnosis.is_object()) {
        Diagnosis(step, diagnosis);
    } else if (const json& end = Member(artifact, "testStepEnd"); end.is_object()) {
        s.status = Str(end, "status");
        s.endedAt = at;
        if (s.status != "COMPLETE" && s.status != "ERROR") s.result.reset();
        if (s.status == "ERROR") s.result = "FAIL";
    }
}

bool Reader::Line(const std::string& text, size_t number, std::string* error) {
    if (text.find_first_not_of(" \t\r") == std::string::npos) return true;
    const json artifact = json::parse(text, nullptr, false);
    if (artifact.is_discarded() || !artifact.is_object()) {
        *error = "damaged at line " + std::to_string(number) + " (not a JSON object)";
        return false;
    }
    if (number == 1) {
        const json& version = Member(artifact, "schemaVersion");
        if (Member(version, "major") != json(2)) {
            *error = "not OCP 2.0 output (line 1 is no schemaVersion 2)";
            return false;
        }
        return true;
    }
    const auto at = NormaliseTimestamp(Str(artifact, "timestamp").value_or(""));
    if (!at) {
        *error = "damaged at line " + std::to_string(number) + " (no valid timestamp)";
        return false;
    }
    run_->endedAt = *at;
    if (const json& runArtifact = Member(artifact, "testRunArtifact"); runArtifact.is_object()) {
        if (const json& start = Member(runArtifact, "testRunStart"); start.is_object()) {
            RunStart(start);
            run_->startedAt = *at;
        } else if (const json& end = Member(runArtifact, "testRunEnd"); end.is_object()) {
            ended_ = true;
            run_->ocpStatus = Str(end, "status");
            run_->ocpResult = Str(end, "result");
        } else if (const json& e = Member(runArtifact, "error"); e.is_object()) {
            run_->failures.push_back(FailureRecord{std::nullopt, Str(e, "symptom").value_or("error"),
                                                   Str(e, "message").value_or(""), std::nullopt});
        }
    } else if (const json& stepArtifact = Member(artifact, "testStepArtifact"); stepArtifact.is_object()) {
        if (!started_) {
            *error = "damaged at line " + std::to_string(number) + " (a step before the run's start)";
            return false;
        }
        StepArtifact(stepArtifact, *at);
    }
    return true;
}

bool Reader::Finish(std::string* error) {
    if (!started_) {
        *error = "not a run's OCP output (no testRunStart)";
        return false;
    }
    for (const auto& [step, name] : marginalVerdicts_) {
        for (MeasurementRecord& m : run_->measurements) {
            if (m.step == step && m.name == name) m.marginal = true;
        }
    }
    for (FailureRecord& f : run_->failures) {
        const size_t dash = f.verdict.rfind('-');
        if (!f.step || dash == std::string::npos) continue;
        for (const MeasurementRecord& m : run_->measurements) {
            if (m.step == *f.step && m.name == f.verdict.substr(0, dash)) f.measurement = m.name;
        }
    }
    for (const MeasurementRecord& m : run_->measurements) run_->marginal = run_->marginal || m.marginal;
    if (!ended_ || run_->ocpStatus != "COMPLETE") {
        run_->result = "ABORTED";
    } else {
        run_->result = run_->ocpResult == "PASS" ? "PASS" : run_->ocpResult == "FAIL" ? "FAIL" : "ABORTED";
    }
    return true;
}

// Opens `path` for reading only when it is a regular file itself: never through a link, and a
// FIFO's open does not wait for a writer.
int OpenRegular(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno == ELOOP ? "is a link, not a file (refused)" : std::strerror(errno);
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = S_ISDIR(info.st_mode) ? "is a folder, not an OCP file" : "is not a regular file (refused)";
        ::close(fd);
        return -1;
    }
    if (static_cast<uint64_t>(info.st_size) > kMaxFileBytes) {
        *error = "is larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB: not a run's output";
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads the file in pieces, hands each whole line to the reader and leaves a last line
// without its newline in *pending. False with *why on a read error or a refused line.
bool ReadLines(int fd, Reader& reader, FileDigest& hash, size_t* number, std::string* pending, std::string* why) {
    char buffer[65536];
    uint64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            *why = std::strerror(errno);
            return false;
        }
        if (got == 0) return true;
        total += static_cast<uint64_t>(got);
        if (total > kMaxFileBytes) {
            *why = "grew past " + std::to_string(kMaxFileBytes >> 20) + " MiB while read: not a run's output";
            return false;
        }
        hash.Update(std::string_view(buffer, static_cast<size_t>(got)));
        for (const char* p = buffer; p < buffer + got;) {
            const char* end = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(buffer + got - p)));
            const size_t take = static_cast<size_t>((end ? end : buffer + got) - p);
            if (pending->size() + take > kMaxLineBytes) {
                *why = "line " + std::to_string(*number + 1) + " is longer than " + std::to_string(kMaxLineBytes >> 20) +
                       " MiB: not a run's output";
                return false;
            }
            pending->append(p, take);
            p += take;
            if (end == nullptr) break;
            ++p;
            if (!reader.Line(*pending, ++*number, why)) return false;
            pending->clear();
        }
    }
}

}  // namespace

bool ReadOcpRun(const std::string& path, RunRecord* run, std::string* error) {
    *run = RunRecord{};
    run->path = path;
    std::string why;
    const int fd = OpenRegular(path, &why);
    if (fd < 0) {
        *error = path + ": " + why;
        return false;
    }
    Reader reader(run);
    FileDigest hash;
    std::string pending;
    size_t number = 0;
    bool ok = ReadLines(fd, reader, hash, &number, &pending, &why);
    ::close(fd);
    // A last line without its newline was cut by a writer that died: what came before stands.
    if (ok && !pending.empty()) {
        std::string cut;
        if (!reader.Line(pending, ++number, &cut) && number == 1) {
            why = cut;
            ok = false;
        }
    }
    if (ok && number == 0) {
        why = "is empty";
        ok = false;
    }
    if (ok) ok = reader.Finish(&why);
    if (!ok) {
        *error = path + ": " + why;
        return false;
    }
    run->fingerprint = hash.Hex();
    if (run->runId.empty()) run->runId = "ocp-" + run->fingerprint;
    return true;
}

}  // namespace line
