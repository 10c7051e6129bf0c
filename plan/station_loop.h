// plan/station_loop.h: --loop, a station's shift: it asks for a serial, checks it, runs one
// unit, shows the verdict in large type and the shift's tally, and asks for the next one,
// until an empty serial or the end of input.
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "plan/serial_check.h"

namespace plan {

// What one unit's run gave, as the loop needs it.
struct UnitVerdict {
    int exitCode = 2;                      // the run's: 0 PASS, 1 FAIL, 2 not run or ABORTED
    bool interrupted = false;              // stopped by Ctrl-C (ABORTED): the operator is asked whether to go on
    bool endShift = false;                 // stopped by SIGTERM or SIGHUP: the station is being shut down
    std::string message;                   // why it did not run, or why it was stopped
    std::vector<std::string> failures;     // the failed checks, one sentence each
};

// The shift so far. A unit's first run in the session decides its first pass; a unit that
// passed only on a retry of a step passed its first run all the same (the retry is counted
// in the steps' retry rate, not here). A unit tested again is one more run, not one more unit.
class ShiftTally {
public:
    void Add(const std::string& serial, bool passed);
    int Runs() const { return runs_; }
    int Passed() const { return passed_; }
    int Failed() const { return runs_ - passed_; }
    int Units() const { return static_cast<int>(units_.size()); }
    double FirstPassYield() const;   // percent; 0 for no unit
    // "shift: 4 units, 3 passed, 1 failed, first-pass yield 75.0 %"
    std::string Line() const;

private:
    int runs_ = 0;
    int passed_ = 0;
    int firstPassed_ = 0;
    std::set<std::string> units_;
};

// The verdict as a block of large letters (PASS, FAIL or ABORTED), coloured when `colour`,
// with the failed checks beneath.
std::string VerdictBlock(const UnitVerdict& verdict, bool colour);

// The operator's side of the loop: a line of input, and text for the screen.
struct OperatorSide {
    std::function<std::optional<std::string>()> readLine;   // nullopt: end of input (or Ctrl-C)
    std::function<void(const std::string&)> write;
    bool terminal = false;   // the verdict in large type; else one line per unit
    bool colour = false;
};

// Runs units until the operator ends the shift. Exit status: 0 every run passed, 1 a run
// failed (or was stopped), 2 a unit could not be run at all.
int RunStationLoop(SerialCheck& check, OperatorSide& side, const std::function<UnitVerdict(const std::string&)>& runUnit);

}  // namespace plan
