// line/yield.h: the yield of a plan over the units tested, from their runs in time order
// (kelvotest-line-stats(7), "YIELD"). A unit's first attempt decides its first-pass yield,
// its last attempt its final yield. An aborted run is counted and shown, but it is not an
// attempt; a run that ended in ERROR is an attempt that did not pass; a run without a serial
// is a unit of its own; a run on the virtual scanner or a replay is left out unless asked for.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace line {

enum class RunResult { kPass, kFail, kError, kAborted };
// "PASS", "FAIL", "ERROR", "ABORTED"; anything else is an ERROR: an outcome we cannot read
// did not pass.
RunResult RunResultFromText(const std::string& text);

struct YieldRun {
    std::string plan;        // yield is counted per plan
    std::string unit;        // the serial, or the run id for a run without one (UnitKey)
    std::string group;       // day, shift, station or step: the row it is counted in
    RunResult result = RunResult::kFail;
    bool virtualRun = false; // on the virtual scanner or a replay
    uint64_t steps = 0;        // the steps it ran, a retried step once
    uint64_t retriedSteps = 0; // those that needed more than one attempt
};

// The unit a run belongs to: its serial, or for a run without a serial the run itself. The
// two never collide, whatever a serial holds.
std::string UnitKey(const std::string& serial, const std::string& runId);

struct YieldRow {
    std::string plan;
    std::string group;
    uint64_t units = 0;          // with at least one attempt
    uint64_t firstPass = 0;      // first attempt passed
    uint64_t finalPass = 0;      // last attempt passed
    uint64_t retested = 0;       // more than one attempt
    uint64_t attempts = 0;
    uint64_t aborted = 0;        // runs, not units
    uint64_t steps = 0;          // steps run in the attempts counted here, a retried step once
    uint64_t retriedSteps = 0;   // of those, the steps that needed more than one attempt
    double FirstPassYield() const { return units ? double(firstPass) / double(units) : 0; }
    double FinalYield() const { return units ? double(finalPass) / double(units) : 0; }
    double RetestRate() const { return units ? double(retested) / double(units) : 0; }
    double StepRetryRate() const { return steps ? double(retriedSteps) / double(steps) : 0; }
};

// Folds runs ordered by plan, unit and then time. A unit is counted in the group of its first
// attempt; an aborted run, and the steps an attempt ran, in the group it ran in. A run decides
// the yield by its verdict alone: a unit that passed only on a retried step passed its run,
// first time; the steps' retries are counted beside it.
class YieldCounter {
public:
    explicit YieldCounter(bool includeVirtual) : includeVirtual_(includeVirtual) {}
    void Add(const YieldRun& run);
    // For each plan in order, its rows in group order and then a row "all" over its units.
    std::vector<YieldRow> Rows();
    uint64_t virtualLeftOut() const { return virtualLeftOut_; }

private:
    void CloseUnit();
    bool includeVirtual_;
    uint64_t virtualLeftOut_ = 0;
    std::map<std::pair<std::string, std::string>, YieldRow> groups_;   // by (plan, group)
    std::string plan_;
    std::string unit_;
    bool haveUnit_ = false;
    std::string unitGroup_;      // group of the unit's first attempt
    uint64_t unitAttempts_ = 0;
    bool firstPassed_ = false;
    bool lastPassed_ = false;
};

}  // namespace line
