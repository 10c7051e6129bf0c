// plan/plan_file.h: a test plan as read from its TOML file (kelvotest-plan(1), "PLAN FILE").
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "plan/tool_args.h"
#include "plan/transcript.h"

namespace plan {

struct Limit {
    std::optional<double> min;
    std::optional<double> max;
    // The marginal band inside the limits: a value between a limit and the band passes, but is
    // marked marginal (it is drifting toward the limit).
    std::optional<double> marginalMin{};
    std::optional<double> marginalMax{};
};

struct StepPlan {
    std::string name;
    std::vector<std::string> args;
    ToolArgs toolArgs;
    std::optional<double> duration;       // seconds; loop steps only
    double timeout = 600;                 // seconds; a step still running then is stopped and is an error
    bool allowErrors = false;
    std::string prompt;                   // not empty: the step asks the operator, and runs no tool
    int retries = 0;                      // a failed step is run up to this many times more
    std::vector<std::pair<std::string, Limit>> limits;    // in file order
    std::vector<std::pair<std::string, Value>> expects;   // in file order
    int line = 0;
};

struct PlanFile {
    std::string path;
    std::string name;
    std::string revision;
    std::vector<std::pair<std::string, std::string>> dut;       // [dut]: "part", "serial", in file order
    std::vector<std::pair<std::string, std::string>> dutInfo;   // [dut.info]: the DUT's free metadata
    std::vector<StepPlan> steps;

    std::string Dut(const std::string& key) const;
};

// Reads a plan. A plan that cannot be used gives false and `error` says where and why:
// "FILE:LINE: key 'KEY': what is wrong".
bool LoadPlan(const std::string& path, PlanFile* plan, std::string* error);
bool ParsePlan(const std::string& text, const std::string& path, PlanFile* plan, std::string* error);

// The file name of a step's folder: its number and name, with anything but letters, digits,
// '-' and '_' made '_' ("03-stream").
std::string StepFolderName(size_t index, const std::string& name);

}  // namespace plan
