// line/history.h: every run of one unit, oldest first, with its failed checks and their
// values and limits: what `kelvotest-line history` shows.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "line/store.h"

namespace line {

struct HistoryFailure {
    std::string step, verdict, message, value, unit;
    std::optional<double> limitMin, limitMax;
    std::string expected;
};

struct HistoryRun {
    std::string runId, startedAt, station, operatorName, plan, revision, result, source;
    std::vector<HistoryFailure> failures;
};

bool LoadHistory(Store& store, const std::string& serial, std::vector<HistoryRun>* runs, std::string* error);

}  // namespace line
