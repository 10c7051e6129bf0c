// What a replay needs before its first step (kelvotest-plan(1), --replay): the recording's
// own steps, each with its trace; and what ends a replay early, which is "could not run", not
// a failed unit. Also the plan check that needs the step folders: files a step writes stay in
// its folder.
#include <algorithm>
#include <filesystem>

#include "plan/run_stages.h"

namespace plan {
namespace {

namespace fs = std::filesystem;

std::string Words(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args) text += (text.empty() ? "" : " ") + arg;
    return text.empty() ? "(no arguments)" : text;
}

// The first step in which the plan and the recording's plan differ; empty: none.
std::string FirstDifference(const PlanFile& given, const PlanFile& recorded) {
    const size_t count = std::max(given.steps.size(), recorded.steps.size());
    for (size_t i = 0; i < count; ++i) {
        const std::string number = "step " + std::to_string(i + 1);
        if (i >= recorded.steps.size()) return number + " '" + given.steps[i].name + "' is not in the recording";
        if (i >= given.steps.size()) return "the recording's " + number + " '" + recorded.steps[i].name + "' is not in the plan";
        const StepPlan& a = given.steps[i];
        const StepPlan& b = recorded.steps[i];
        if (a.name != b.name || a.args != b.args) {
            return number + " '" + a.name + "' (" + Words(a.args) + ") differs from the recording's '" + b.name + "' (" +
                   Words(b.args) + ")";
        }
    }
    return "";
}

}  // namespace

bool CheckReplay(const Station& station, std::string* error) {
    if (station.replayDir.empty()) return true;
    const fs::path recordedPlan = station.replayDir / "plan.toml";
    std::string text, problem;
    PlanFile recorded;
    if (!ReadPlanText(recordedPlan.string(), &text, &problem) ||
        !ParsePlan(text, recordedPlan.string(), &recorded, &problem)) {
        *error = "--replay: the recording's plan: " + problem;
        return false;
    }
    const std::string difference = FirstDifference(station.plan, recorded);
    if (!difference.empty()) {
        *error = "--replay: " + difference + " (" + recordedPlan.string() + "): the plan is not the one recorded";
        return false;
    }
    for (size_t i = 0; i < station.plan.steps.size(); ++i) {
        const fs::path trace = station.replayDir / StepFolderName(i, station.plan.steps[i].name) / "session.kvtrace";
        std::error_code ec;
        if (!fs::exists(trace, ec)) {
            *error = "--replay: " + trace.string() + " is missing (record the plan with --record first)";
            return false;
        }
    }
    return true;
}

std::string ReplayProblem(const std::string& transcript) {
    // The virtual scanner names what ended its replay on a line of its own.
    static const std::string kMark = "kelvosim: replay: ";
    const size_t at = transcript.find(kMark);
    if (at == std::string::npos) return "";
    const size_t begin = at + kMark.size();
    const size_t end = transcript.find('\n', begin);
    return transcript.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

bool CheckStepFiles(const PlanFile& plan, std::string* error) {
    for (const StepPlan& step : plan.steps) {
        const auto file = step.toolArgs.values.find("scanfile");
        if (file == step.toolArgs.values.end()) continue;
        const fs::path path(file->second);
        bool inside = !path.has_root_path() && !path.empty();
        for (const fs::path& part : path) inside = inside && part != "..";
        if (!inside) {
            *error = plan.path + ":" + std::to_string(step.line) + ": key 'args': -scanfile '" + file->second +
                     "' must name a file inside the step's folder (no absolute path, no '..')";
            return false;
        }
    }
    return true;
}

}  // namespace plan
