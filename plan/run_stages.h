// plan/run_stages.h: the stages of kelvotest-plan, in the order main runs them. A station is
// prepared once (the plan read, the tool chosen, recording and replay checked); then the plan
// runs for one unit: its folder claimed, its steps run, its reports finished. Each stage that
// fails says why on standard error and makes the run "could not run" (exit 2).
#pragma once

#include <filesystem>
#include <string>

#include "plan/run_context.h"
#include "plan/station_loop.h"

namespace plan {

// run_tool.cc: the tool for this station, and the recorder in front of it.
bool ChooseTool(const Options& options, const std::filesystem::path& ownDir, ToolChoice* tool, std::string* error);
bool PrepareRecording(const Station& station, Recording* recording, std::string* error);

// run_folder.cc: the plan as read once, the run's identity and its output folder.
constexpr size_t kMaxPlanBytes = 1 << 20;
bool ReadPlanText(const std::string& path, std::string* text, std::string* error);
bool NewRunId(std::string* runId, std::string* error);
// Makes the folder (or takes an empty one) and locks it for this run; the default name takes
// the next free name instead of refusing.
bool ClaimOutputFolder(const Station& station, RunContext& context, std::string* error);

// run_replay.cc: a replay runs the recording's own steps, from traces that are there.
bool CheckReplay(const Station& station, std::string* error);
// The replay's own reason for ending early, from a step's transcript; empty: none.
std::string ReplayProblem(const std::string& transcript);
// Plan errors that need the station: a step's output file must stay inside its folder.
bool CheckStepFiles(const PlanFile& plan, std::string* error);

// run_stages.cc
bool PrepareStation(Station& station, std::string* error);
// One run of the plan for the unit with this serial, start to end; returns its exit status,
// and fills `verdict` (when given) for the station's loop.
int RunPlanForOneUnit(const Station& station, const std::string& serial, UnitVerdict* verdict = nullptr);

}  // namespace plan
