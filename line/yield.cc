// line/yield.cc: the yield fold over one unit's runs at a time.
#include "line/yield.h"

namespace line {

RunResult RunResultFromText(const std::string& text) {
    if (text == "PASS") return RunResult::kPass;
    if (text == "FAIL") return RunResult::kFail;
    if (text == "ABORTED") return RunResult::kAborted;
    return RunResult::kError;
}

std::string UnitKey(const std::string& serial, const std::string& runId) {
    return serial.empty() ? "run " + runId : "serial " + serial;
}

void YieldCounter::Add(const YieldRun& run) {
    if (run.virtualRun && !includeVirtual_) {
        ++virtualLeftOut_;
        return;
    }
    if (!haveUnit_ || run.unit != unit_) {
        CloseUnit();
        unit_ = run.unit;
        haveUnit_ = true;
    }
    if (run.result == RunResult::kAborted) {
        ++groups_[run.group].aborted;
        return;
    }
    if (unitAttempts_ == 0) {
        unitGroup_ = run.group;
        firstPassed_ = run.result == RunResult::kPass;
    }
    ++unitAttempts_;
    lastPassed_ = run.result == RunResult::kPass;
}

void YieldCounter::CloseUnit() {
    if (unitAttempts_ > 0) {
        YieldRow& row = groups_[unitGroup_];
        ++row.units;
        row.attempts += unitAttempts_;
        row.firstPass += firstPassed_ ? 1 : 0;
        row.finalPass += lastPassed_ ? 1 : 0;
        row.retested += unitAttempts_ > 1 ? 1 : 0;
    }
    unitAttempts_ = 0;
}

std::vector<YieldRow> YieldCounter::Rows() {
    CloseUnit();
    haveUnit_ = false;
    std::vector<YieldRow> rows;
    YieldRow all;
    all.group = "all";
    for (auto& [group, row] : groups_) {
        row.group = group;
        all.units += row.units;
        all.firstPass += row.firstPass;
        all.finalPass += row.finalPass;
        all.retested += row.retested;
        all.attempts += row.attempts;
        all.aborted += row.aborted;
        rows.push_back(row);
    }
    rows.push_back(all);
    return rows;
}

}  // namespace line
