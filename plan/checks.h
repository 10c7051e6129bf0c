// plan/checks.h: a step's checks against its transcript: those every step makes (the tool
// exited 0, bring-up completed, no device error unless allowed) and the plan's limits and
// expectations, each of whose measurements must be found.
#pragma once

#include <vector>

#include "plan/plan_file.h"
#include "plan/results.h"
#include "plan/transcript.h"

namespace plan {

// The names of the checks every step makes, the same in every report (kelvotest-plan(5),
// "CHECKS OF EVERY STEP").
inline constexpr const char* kToolExitCheck = "tool.exit_code";
inline constexpr const char* kBringUpCheck = "bringup.complete";

// exitCode: the tool's exit code, or -1 when it did not exit by itself.
std::vector<Check> EvaluateStep(const StepPlan& step, const Transcript& transcript, int exitCode);

std::string LimitText(const Limit& limit);
// A value for people: registers, EEPROM bytes, versions and status bytes also in hex.
std::string DisplayValue(const std::string& name, const Value& value, const std::string& unit);   // "[3.2, 3.4]", ">= 3.8e+07", "<= 400"

}  // namespace plan
