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
    if (!haveUnit_ || run.unit != unit_ || run.plan != plan_) {
        CloseUnit();
        plan_ = run.plan;
        unit_ = run.unit;
        haveUnit_ = true;
    }
    if (run.result == RunResult::kAborted) {
        ++groups_[{run.plan, run.group}].aborted;
        return;
    }
    if (unitAttempts_ == 0) {
        unitGroup_ = run.group;
        firstPassed_ = run.result == RunResult::kPass;
    }
    ++unitAttempts_;
    YieldRow& ran = groups_[{run.plan, run.group}];
    ran.steps += run.steps;
    ran.retriedSteps += run.retriedSteps;
    lastPassed_ = run.result == RunResult::kPass;
}

void YieldCounter::CloseUnit() {
    if (unitAttempts_ > 0) {
        YieldRow& row = groups_[{plan_, unitGroup_}];
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
    for (auto& [key, row] : groups_) {
        if (!rows.empty() && rows.back().plan != key.first) rows.push_back(all);
        if (rows.empty() || rows.back().plan != key.first) all = YieldRow{key.first, "all"};
        row.plan = key.first;
        row.group = key.second;
        all.units += row.units;
        all.firstPass += row.firstPass;
        all.finalPass += row.finalPass;
        all.retested += row.retested;
        all.attempts += row.attempts;
        all.aborted += row.aborted;
        all.steps += row.steps;
        all.retriedSteps += row.retriedSteps;
        rows.push_back(row);
    }
    if (!rows.empty()) rows.push_back(all);
    return rows;
}

}  // namespace line
