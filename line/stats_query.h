// line/stats_query.h: the store's questions behind yield, capability, pareto and report: one
// filter for all of them, and the queries that hand their rows, already grouped, counted or
// ordered by the engine, to the folds of line/yield.h, line/capability.h and line/pareto.h.
// The statements are shared by both engines; every value is a bound parameter.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "line/capability.h"
#include "line/command_table.h"
#include "line/pareto.h"
#include "line/store.h"
#include "line/yield.h"

namespace line {

// Readies a store for the statistics' queries: PostgreSQL's JIT compiler is turned off for the
// session, as it spends seconds compiling queries that run in a fraction of that.
bool PrepareForStatistics(Store& store, std::string* error);

struct StatsFilter {
    std::optional<std::string> plan;
    std::optional<std::string> station;
    std::optional<std::string> since;     // store form, inclusive
    std::optional<std::string> until;     // store form, exclusive
    bool includeVirtual = false;          // runs on the virtual scanner or a replay
};

enum class GroupBy { kNone, kDay, kShift, kStation, kStep };

// Reads --plan --station --since --until --include-virtual (and --by when `by` is given);
// prints what is wrong as "kelvotest-line COMMAND: …" and returns false.
bool ReadStatsFilter(const char* command, const Options& options, StatsFilter* filter, GroupBy* by);

// The day ("2026-12-07") or shift ("2026-12-07 06-14", "… 14-22", "… 22-06": the night
// belongs to the day it began) of a stored time, in local time (TZ).
std::string LocalDay(const std::string& storedTime);
std::string LocalShift(const std::string& storedTime);

// Runs in the filter's period that it leaves out because they ran on the virtual scanner or
// a replay (0 with --include-virtual).
bool CountVirtualLeftOut(Store& store, const StatsFilter& filter, uint64_t* count, std::string* error);

bool QueryYield(Store& store, const StatsFilter& filter, GroupBy by, std::vector<YieldRow>* rows, std::string* error);
bool QueryPareto(Store& store, const StatsFilter& filter, std::vector<ParetoRow>* rows, std::string* error);

// One measurement under one set of limits (one digest), as capability groups its values.
struct MeasurementSeries {
    std::string name;
    std::string digest;       // the limits digest, or "limits …" for runs that carry none
    Limits limits;
    std::string unit;
};
// Every value with limits (of the names given; all when none), in the order their runs
// started, each with the index of its series in *series, where a series is appended when
// its first value comes.
bool StreamLimitedValues(Store& store, const StatsFilter& filter, const std::vector<std::string>& names,
                         std::vector<MeasurementSeries>* series,
                         const std::function<void(size_t series, double value, bool marginal)>& onValue, std::string* error);
// Capability of every series, worst first.
bool QueryCapability(Store& store, const StatsFilter& filter, const std::vector<std::string>& names,
                     std::vector<CapabilityRow>* rows, std::string* error);

}  // namespace line
