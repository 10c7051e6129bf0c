#include "plan/results.h"

#include <ctime>

namespace plan {

const char* StatusName(StepStatus status) {
    switch (status) {
        case StepStatus::kComplete: return "COMPLETE";
        case StepStatus::kError: return "ERROR";
        case StepStatus::kSkip: return "SKIP";
    }
    return "ERROR";
}

bool StepResult::Passed() const {
    if (status != StepStatus::kComplete) return false;
    for (const Check& check : checks) {
        if (!check.passed) return false;
    }
    return true;
}

std::vector<const Check*> StepResult::Failures() const {
    std::vector<const Check*> failures;
    for (const Check& check : checks) {
        if (!check.passed) failures.push_back(&check);
    }
    return failures;
}

std::vector<const Check*> StepResult::Marginals() const {
    std::vector<const Check*> marginals;
    for (const Check& check : checks) {
        if (check.passed && check.marginal) marginals.push_back(&check);
    }
    return marginals;
}

bool RunResult::Marginal() const {
    for (const StepResult& step : steps) {
        if (!step.Marginals().empty()) return true;
    }
    return false;
}

std::string StepResult::AttemptNote() const {
    if (attemptsAllowed <= 1 || status == StepStatus::kSkip) return "";
    if (Passed() && attempt == 1) return "";
    return std::string(Passed() ? "passed" : "failed") + " on attempt " + std::to_string(attempt) + " of " +
           std::to_string(attemptsAllowed);
}

std::vector<std::pair<std::string, std::string>> StationFacts(const RunInfo& info) {
    const StationIdentity& station = info.stationIdentity;
    std::vector<std::pair<std::string, std::string>> facts;
    auto add = [&facts](const std::string& key, const std::string& value) {
        if (!value.empty()) facts.emplace_back("station." + key, value);
    };
    add("fixture_id", station.fixtureId);
    add("calibration_date", station.calibrationDate);
    add("calibration_due", station.calibrationDue);
    if (info.uncalibrated) add("calibration", "PAST DUE");
    for (const auto& [key, value] : station.keys) add(key, value);
    return facts;
}

bool RunResult::Passed() const {
    if (info.aborted || steps.empty()) return false;
    for (const StepResult& step : steps) {
        if (!step.Passed()) return false;
    }
    return true;
}

int RunResult::ExitCode() const {
    if (info.aborted) return 2;
    return Passed() ? 0 : 1;
}

std::string IsoTime(std::chrono::system_clock::time_point time) {
    const auto since = time.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since - seconds).count();
    const std::time_t t = static_cast<std::time_t>(seconds.count());
    std::tm utc{};
#if defined(_WIN32)
    gmtime_s(&utc, &t);
#else
    gmtime_r(&t, &utc);
#endif
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return text;
}

std::string IsoNow() { return IsoTime(std::chrono::system_clock::now()); }

}  // namespace plan
