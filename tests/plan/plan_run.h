// tests/plan/plan_run.h: running kelvotest-plan as a user runs it, and reading what a run left
// in its folder. Every process test runs its plans through Plan() and checks each finished
// run's folder with ExpectReportsValid(), the one place where a report's rules are checked.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/pty_process.h"

namespace plan_test {

// The kelvotest-plan under test; KELVOTEST_PLAN_UNDER_TEST names another build (an older one,
// to see a new test fail where the fault is still there).
std::string PlanProgram();

// A run of kelvotest-plan. The virtual scanner's FIFO gets seconds of room in every run (a
// test that is not about overflow must not depend on the scheduler); `env` may add to its
// KELVOSIM.
ToolRun Plan(std::vector<std::string> args, std::vector<std::string> env = {}, std::string dir = "");

std::vector<nlohmann::json> Artifacts(const std::string& ocpPath);
// The verdicts of the FAIL diagnoses, step by step ("1:adc.3v3-low").
std::vector<std::string> FailVerdicts(const std::vector<nlohmann::json>& artifacts);
std::string RunResultOf(const std::vector<nlohmann::json>& artifacts);

// The reports of a run in `folder`: OCP by its 2.0 rules (a killed run may lack its end:
// `finished` false), JUnit and HTML there and whole.
void ExpectReportsValid(const std::string& folder, bool finished = true);

bool WaitForFileText(const std::string& path, const std::string& text, int timeoutMs);
// Processes whose working folder is `dir` (a tool left running there).
int ProcessesIn(const std::string& dir);
// Waits until no process works in `dir`; false if one still does after timeoutMs.
bool WaitUntilNoProcessIn(const std::string& dir, int timeoutMs);

}  // namespace plan_test
