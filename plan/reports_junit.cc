// JUnit XML as the common CI schema allows it: one testsuite for the plan with tests, failures,
// errors, skipped and time (the testsuites around it carries no skipped count); one
// testcase per step, with a failure that carries every failed check; the DUT and the station
// as properties.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "plan/checks.h"
#include "plan/limits_digest.h"
#include "plan/reports.h"
#include "plan/utf8_text.h"

namespace plan {

std::string XmlEscape(const std::string& raw) {
    // Bytes that are not UTF-8 would make the whole file unreadable; they are shown as U+FFFD,
    // as in ocp.jsonl.
    const std::string text = ValidUtf8(raw);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default:
                // XML 1.0 allows no control characters but tab, line feed and carriage return,
                // and neither U+FFFE nor U+FFFF.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                    out += '?';
                } else if (text.compare(i, 2, "\xEF\xBF") == 0 && i + 2 < text.size() &&
                           (text[i + 2] == '\xBE' || text[i + 2] == '\xBF')) {
                    out += "\xEF\xBF\xBD";
                    i += 2;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string* error) {
    const std::string part = path + ".part";
    std::FILE* file = std::fopen(part.c_str(), "wb");
    if (file == nullptr) {
        *error = part + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        *error = part + ": " + std::strerror(errno);
        std::remove(part.c_str());
        return false;
    }
#ifdef _WIN32
    std::remove(path.c_str());   // rename does not replace here; elsewhere it does, atomically
#endif
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

namespace {

// A retried step is one testcase with the verdict of its last attempt; every attempt is told
// in its output: "attempt 1 of 3: FAIL: adc.3v3 = ..., working folder 02-rails".
std::string AttemptsText(const StepResult& step) {
    if (step.attemptsAllowed <= 1) return "";
    std::string text;
    auto tell = [&text](const StepResult& attempt) {
        text += "attempt " + std::to_string(attempt.attempt) + " of " + std::to_string(attempt.attemptsAllowed) + ": " +
                (attempt.Passed() ? "pass" : attempt.status == StepStatus::kError ? "ERROR: " + attempt.statusMessage : "FAIL");
        for (const Check* check : attempt.Failures()) text += ": " + check->message;
        text += ", working folder " + attempt.folder + "\n";
    };
    for (const StepResult& earlier : step.earlierAttempts) tell(earlier);
    tell(step);
    const std::string note = step.AttemptNote();
    return text + (note.empty() ? "" : note + "\n");
}

std::string Properties(const RunResult& run) {
    std::string xml;
    xml += "    <properties>\n";
    auto property = [&xml](const std::string& name, const std::string& value) {
        xml += "      <property name=\"" + XmlEscape(name) + "\" value=\"" + XmlEscape(value) + "\"/>\n";
    };
    property("plan", run.plan->path);
    if (!run.plan->revision.empty()) property("plan.revision", run.plan->revision);
    for (const auto& [key, value] : run.plan->dut) {
        if (key != "serial") property("dut." + key, value);
    }
    property("runId", run.info.runId);
    property("dut.serial", run.info.serial);
    for (const auto& [key, value] : run.plan->dutInfo) property("dut.info." + key, value);
    property("station", run.info.station);
    property("operator", run.info.operatorName);
    property("scanner", run.info.source);
    if (run.info.source != "hardware") property("scanner.note", run.info.sourceNote);
    if (!run.info.scenario.empty()) property("scanner.scenario", run.info.scenario);
    for (const auto& [key, value] : StationFacts(run.info)) property(key, value);
    property("result", run.info.aborted ? "ABORTED" : run.Passed() ? "PASS" : "FAIL");
    property("limitsDigest", LimitsDigest(*run.plan));
    property("marginal", run.Marginal() ? "true" : "false");
    for (const StepResult& step : run.steps) {
        for (const Check* check : step.Marginals()) property("marginal." + check->name, check->message);
    }
    xml += "    </properties>\n";
    return xml;
}

std::string TestCase(const RunResult& run, const StepResult& step) {
    std::string xml;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", step.seconds);
    xml += "    <testcase name=\"" + XmlEscape(step.plan->name) + "\" classname=\"" + XmlEscape(run.plan->name) +
           "\" time=\"" + seconds + "\">\n";
    if (step.status == StepStatus::kSkip) {
        xml += "      <skipped message=\"" + XmlEscape(step.statusMessage) + "\"/>\n";
    } else {
        if (step.status == StepStatus::kError) {
            xml += "      <error message=\"" + XmlEscape(step.statusMessage) + "\" type=\"step-error\">" +
                   XmlEscape(step.statusMessage) + "</error>\n";
        }
        const auto failed = step.Failures();
        if (!failed.empty() && step.status == StepStatus::kComplete) {
            std::string text;
            for (const Check* check : failed) text += check->verdict + ": " + check->message + "\n";
            xml += "      <failure message=\"" + XmlEscape(failed.front()->message) + "\" type=\"" +
                   XmlEscape(failed.front()->verdict) + "\">" + XmlEscape(text) + "</failure>\n";
        }
        xml += "      <system-out>" + XmlEscape(AttemptsText(step) + "working folder: " + step.folder) + "</system-out>\n";
    }
    xml += "    </testcase>\n";
    return xml;
}

}  // namespace

std::string JUnitXml(const RunResult& run) {
    int failures = 0, errors = 0, skipped = 0;
    for (const StepResult& step : run.steps) {
        if (step.status == StepStatus::kSkip) {
            ++skipped;
        } else if (step.status == StepStatus::kError) {
            ++errors;
        } else if (!step.Passed()) {
            ++failures;
        }
    }
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", run.info.seconds);
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<testsuites name=\"" + XmlEscape(run.plan->name) + "\" tests=\"" + std::to_string(run.steps.size()) +
           "\" failures=\"" + std::to_string(failures) + "\" errors=\"" + std::to_string(errors) + "\" time=\"" + time +
           "\">\n";
    xml += "  <testsuite name=\"" + XmlEscape(run.plan->name) + "\" tests=\"" + std::to_string(run.steps.size()) +
           "\" failures=\"" + std::to_string(failures) + "\" errors=\"" + std::to_string(errors) + "\" skipped=\"" +
           std::to_string(skipped) + "\" time=\"" + time + "\" timestamp=\"" + XmlEscape(run.info.startTime.substr(0, 19)) +
           "\" hostname=\"" + XmlEscape(run.info.station.empty() ? "localhost" : run.info.station) + "\">\n";
    xml += Properties(run);
    for (const StepResult& step : run.steps) xml += TestCase(run, step);
    xml += "  </testsuite>\n</testsuites>\n";
    return xml;
}

}  // namespace plan
