// plan/run_station.h: the stages that make kelvotest-plan a station: the serial checked, the
// station's identity and calibration read, its lock taken, the operator asked, and --loop's
// shift of units, each one run of the plan (run_stages.h).
#pragma once

#include <string>

#include "plan/run_context.h"
#include "plan/station_lock.h"
#include "plan/step_attempts.h"

namespace plan {

// The serial of a run without --loop: --serial, else the plan's [dut] serial.
std::string GivenSerial(const Station& station);
// The given serial against the plan's serial_pattern, the station's name (default: the host
// name), and station.toml (beside the plan, or --station-file) with its calibration.
bool PrepareStationIdentity(Station& station, std::string* error);
// One plan per station: the lock is held until `lock` is destroyed or the process ends.
bool LockStation(const Station& station, StationLock& lock, std::string* error);
// The operator at the terminal (or a script on standard input), for prompts and the loop.
PromptSide OperatorPrompt(const Options& options);
// --loop: unit after unit until the operator ends the shift; the loop's exit status.
int RunShift(const Station& station);

}  // namespace plan
