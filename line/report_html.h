// line/report_html.h: the line report, one self-contained HTML file (no script, nothing
// fetched, inline SVG) for a shift meeting: the period, plans, stations and units; yield over
// time; the failure Pareto; per measurement with limits, worst Cpk first, a histogram with the
// limits and the marginal band and an individuals chart with its control limits; the stations
// side by side; and the rules in a footnote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "line/capability.h"
#include "line/pareto.h"
#include "line/yield.h"

namespace line {

struct ReportSeries {
    CapabilityRow row;
    std::vector<double> values;   // every value, in time order
};

struct StationSummary {
    YieldRow yield;               // group: the station
    std::string topFailure;       // "" when none failed
    uint64_t topFailureUnits = 0;
};

struct LineReport {
    std::string since, until, generatedAt;   // store form
    std::vector<std::string> plans;
    bool byShift = false;
    bool includeVirtual = false;
    uint64_t virtualLeftOut = 0;
    std::vector<YieldRow> overTime;          // per plan: its days (or shifts), then "all"
    std::vector<ParetoRow> pareto;
    std::vector<ReportSeries> series;        // worst first
    std::vector<StationSummary> stations;
};

// Beyond this many values the individuals chart shows each bucket's lowest and highest value.
inline constexpr size_t kChartPoints = 2000;

std::string LineReportHtml(const LineReport& report);

}  // namespace line
