// tests/plan/ocp_validator.h: the rules of the OCP Test and Validation output, schema 2.0,
// as a small checker: every line one JSON object with a sequence number (from 0, one more each
// line) and an RFC 3339 time stamp; schemaVersion 2.0 first; the required fields and the
// enumerations of each artifact; steps started before their artifacts and ended after them;
// measurement series whose elements count from 0 and match their totalCount; testRunStart
// first and testRunEnd last. A run that was killed may lack its end (`finished` = false):
// then every line must still be whole, and every step that ended must be complete.
#pragma once

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace ocp {

using nlohmann::json;

inline std::vector<std::string> Validate(const std::string& text, bool finished = true) {
    std::vector<std::string> problems;
    auto problem = [&](size_t line, const std::string& what) {
        problems.push_back("line " + std::to_string(line) + ": " + what);
    };
    static const std::regex kTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?(Z|[+-]\d\d:\d\d))");
    static const std::set<std::string> kStatus{"COMPLETE", "ERROR", "SKIP"};
    static const std::set<std::string> kResult{"PASS", "FAIL", "NOT_APPLICABLE"};
    static const std::set<std::string> kSeverity{"DEBUG", "INFO", "WARNING", "ERROR", "FATAL"};
    static const std::set<std::string> kDiagnosis{"PASS", "FAIL", "UNKNOWN"};
    static const std::set<std::string> kValidator{"EQUAL", "NOT_EQUAL", "LESS_THAN", "LESS_THAN_OR_EQUAL",
                                                  "GREATER_THAN", "GREATER_THAN_OR_EQUAL", "REGEX_MATCH",
                                                  "REGEX_NO_MATCH", "IN_SET", "NOT_IN_SET"};
    auto isText = [](const json& object, const char* key) { return object.contains(key) && object[key].is_string(); };
    auto isValue = [](const json& value) { return value.is_string() || value.is_number() || value.is_boolean(); };

    std::istringstream lines(text);
    std::string line;
    size_t number = 0;
    bool runStarted = false, runEnded = false;
    std::map<std::string, int> steps;    // id -> 1 started, 2 ended
    std::map<std::string, std::pair<int, long long>> series;   // id -> (1 started / 2 ended, elements)
    bool endsWithNewline = text.empty() || text.back() == '\n';
    if (!endsWithNewline) problems.push_back("the last line is cut off");
    while (std::getline(lines, line)) {
        ++number;
        json a;
        try {
            a = json::parse(line);
        } catch (const std::exception& e) {
            problem(number, std::string("not JSON: ") + e.what());
            continue;
        }
        if (!a.is_object()) {
            problem(number, "not an object");
            continue;
        }
        if (!a.contains("sequenceNumber") || !a["sequenceNumber"].is_number_integer() ||
            a["sequenceNumber"].get<long long>() != static_cast<long long>(number - 1)) {
            problem(number, "sequenceNumber must be " + std::to_string(number - 1));
        }
        if (!isText(a, "timestamp") || !std::regex_match(a["timestamp"].get<std::string>(), kTime)) {
            problem(number, "timestamp missing or not RFC 3339");
        }
        const int kinds = a.contains("schemaVersion") + a.contains("testRunArtifact") + a.contains("testStepArtifact");
        if (kinds != 1 || a.size() != 3) problem(number, "exactly one artifact and nothing else besides sequenceNumber and timestamp");
        if (runEnded) problem(number, "an artifact after testRunEnd");
        if (number == 1) {
            if (!a.contains("schemaVersion") || a["schemaVersion"] != json{{"major", 2}, {"minor", 0}}) {
                problem(number, "the first artifact must be schemaVersion 2.0");
            }
            continue;
        }
        if (a.contains("schemaVersion")) problem(number, "schemaVersion only first");
        if (a.contains("testRunArtifact")) {
            const json& r = a["testRunArtifact"];
            if (!r.is_object() || r.size() != 1) {
                problem(number, "testRunArtifact holds exactly one of testRunStart, testRunEnd, log, error");
                continue;
            }
            const std::string kind = r.begin().key();
            const json& body = r.begin().value();
            if (kind == "testRunStart") {
                if (runStarted) problem(number, "a second testRunStart");
                if (number != 2) problem(number, "testRunStart must follow schemaVersion");
                runStarted = true;
                for (const char* key : {"name", "version", "commandLine"}) {
                    if (!isText(body, key)) problem(number, std::string("testRunStart.") + key + " missing");
                }
                if (!body.contains("parameters") || !body["parameters"].is_object()) problem(number, "testRunStart.parameters missing");
                if (!body.contains("dutInfo") || !isText(body["dutInfo"], "dutInfoId")) problem(number, "testRunStart.dutInfo.dutInfoId missing");
            } else if (kind == "testRunEnd") {
                runEnded = true;
                if (!isText(body, "status") || !kStatus.count(body["status"])) problem(number, "testRunEnd.status not COMPLETE/ERROR/SKIP");
                if (!isText(body, "result") || !kResult.count(body["result"])) problem(number, "testRunEnd.result not PASS/FAIL/NOT_APPLICABLE");
                for (const auto& [id, state] : steps) {
                    if (state != 2) problem(number, "step " + id + " never ended");
                }
            } else if (kind == "log") {
                if (!isText(body, "severity") || !kSeverity.count(body["severity"]) || !isText(body, "message")) problem(number, "bad log");
            } else if (kind == "error") {
                if (!isText(body, "symptom")) problem(number, "error.symptom missing");
            } else {
                problem(number, "unknown testRunArtifact " + kind);
            }
            if (!runStarted) problem(number, "an artifact before testRunStart");
            continue;
        }
        const json& s = a["testStepArtifact"];
        if (!runStarted) problem(number, "a step before testRunStart");
        if (!s.is_object() || !isText(s, "testStepId") || s.size() != 2) {
            problem(number, "testStepArtifact needs testStepId and exactly one artifact");
            continue;
        }
        const std::string id = s["testStepId"];
        std::string kind;
        for (const auto& [key, value] : s.items()) {
            if (key != "testStepId") kind = key;
        }
        const json& body = s[kind];
        if (kind == "testStepStart") {
            if (steps.count(id)) problem(number, "step " + id + " started twice");
            steps[id] = 1;
            if (!isText(body, "name")) problem(number, "testStepStart.name missing");
            continue;
        }
        if (steps[id] != 1) problem(number, "artifact of step " + id + " outside its start and end");
        if (kind == "testStepEnd") {
            steps[id] = 2;
            if (!isText(body, "status") || !kStatus.count(body["status"])) problem(number, "testStepEnd.status not COMPLETE/ERROR/SKIP");
            for (const auto& [sid, state] : series) {
                if (sid.rfind(id + ".", 0) == 0 && state.first != 2) problem(number, "series " + sid + " never ended");
            }
        } else if (kind == "measurement") {
            if (!isText(body, "name") || !body.contains("value") || !isValue(body["value"])) problem(number, "measurement needs name and value");
            if (body.contains("unit") && !body["unit"].is_string()) problem(number, "measurement.unit must be text");
            if (body.contains("validators")) {
                for (const json& v : body["validators"]) {
                    if (!isText(v, "type") || !kValidator.count(v["type"]) || !v.contains("value")) problem(number, "bad validator");
                }
            }
        } else if (kind == "measurementSeriesStart") {
            if (!isText(body, "measurementSeriesId") || !isText(body, "name")) problem(number, "series start needs id and name");
            else series[body["measurementSeriesId"]] = {1, 0};
        } else if (kind == "measurementSeriesElement") {
            if (!isText(body, "measurementSeriesId") || !series.count(body["measurementSeriesId"]) ||
                series[body["measurementSeriesId"]].first != 1) {
                problem(number, "element of a series that is not open");
            } else {
                auto& state = series[body["measurementSeriesId"]];
                if (!body.contains("index") || body["index"] != state.second) problem(number, "series index must count from 0");
                if (!body.contains("value") || !isValue(body["value"]) || !isText(body, "timestamp")) problem(number, "element needs value and timestamp");
                ++state.second;
            }
        } else if (kind == "measurementSeriesEnd") {
            if (!isText(body, "measurementSeriesId") || !series.count(body["measurementSeriesId"])) {
                problem(number, "end of an unknown series");
            } else {
                auto& state = series[body["measurementSeriesId"]];
                if (!body.contains("totalCount") || body["totalCount"] != state.second) problem(number, "totalCount differs from the elements");
                state.first = 2;
            }
        } else if (kind == "diagnosis") {
            if (!isText(body, "verdict") || !isText(body, "type") || !kDiagnosis.count(body["type"])) problem(number, "bad diagnosis");
        } else if (kind == "error") {
            if (!isText(body, "symptom")) problem(number, "error.symptom missing");
        } else if (kind == "log") {
            if (!isText(body, "severity") || !kSeverity.count(body["severity"]) || !isText(body, "message")) problem(number, "bad log");
        } else if (kind != "file" && kind != "extension") {
            problem(number, "unknown testStepArtifact " + kind);
        }
    }
    if (finished && !runEnded) problems.push_back("no testRunEnd");
    if (number == 0) problems.push_back("empty");
    return problems;
}

}  // namespace ocp
