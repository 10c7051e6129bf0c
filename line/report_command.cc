// line/report_command.cc: `kelvotest-line report --out line.html`: gathers the period's
// yield, Pareto, capability with its values, and the stations from the store, and writes the
// line report (line/report_html.h) through a temporary file, so that a reader never sees half.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

#include "line/report_html.h"
#include "line/stats_commands.h"
#include "line/stats_query.h"
#include "line/text.h"
#include "line/times.h"

namespace line {

namespace {

bool Gather(Store& store, const StatsFilter& filter, LineReport* report, std::string* error) {
    if (!QueryYield(store, filter, report->byShift ? GroupBy::kShift : GroupBy::kDay, &report->overTime, error) ||
        !QueryPareto(store, filter, &report->pareto, error) ||
        !CountVirtualLeftOut(store, filter, &report->virtualLeftOut, error)) {
        return false;
    }
    for (const YieldRow& row : report->overTime) {
        if (row.group == "all") report->plans.push_back(row.plan.empty() ? "(no plan)" : row.plan);
    }
    std::vector<MeasurementSeries> series;
    std::vector<CapabilityAccumulator> accumulators;
    const bool ok = StreamLimitedValues(store, filter, {}, &series, [&](size_t at, double value, bool marginal) {
        if (at == accumulators.size()) {
            accumulators.emplace_back(series[at].limits);
            report->series.push_back(ReportSeries{CapabilityRow{series[at].name, series[at].unit, series[at].digest,
                                                                series[at].limits, {}}, {}});
        }
        accumulators[at].Add(value, marginal);
        report->series[at].values.push_back(value);
    }, error);
    if (!ok) return false;
    for (size_t i = 0; i < series.size(); ++i) report->series[i].row.figures = accumulators[i].Result();
    std::stable_sort(report->series.begin(), report->series.end(),
                     [](const ReportSeries& a, const ReportSeries& b) { return WorseThan(a.row, b.row); });
    return true;
}

// Each station's units and yields over all plans, and the verdict that failed most units there.
bool GatherStations(Store& store, const StatsFilter& filter, LineReport* report, std::string* error) {
    std::vector<YieldRow> rows;
    if (!QueryYield(store, filter, GroupBy::kStation, &rows, error)) return false;
    std::map<std::string, YieldRow> stations;
    for (const YieldRow& row : rows) {
        if (row.group == "all") continue;
        YieldRow& s = stations[row.group];
        s.group = row.group;
        s.units += row.units, s.firstPass += row.firstPass, s.finalPass += row.finalPass, s.retested += row.retested;
        s.attempts += row.attempts, s.aborted += row.aborted;
    }
    for (const auto& [name, yield] : stations) {
        StatsFilter one = filter;
        one.station = name;
        std::vector<ParetoRow> pareto;
        if (name != "-" && !QueryPareto(store, one, &pareto, error)) return false;
        report->stations.push_back(StationSummary{yield, pareto.empty() ? "" : pareto.front().verdict,
                                                  pareto.empty() ? 0 : pareto.front().units});
    }
    return true;
}

bool WriteReport(const std::string& path, const std::string& html, std::string* error) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << html;
        file.close();
        if (!file) {
            std::remove(temporary.c_str());
            *error = "cannot write " + temporary;
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        *error = "cannot rename " + temporary + " to " + path;
        return false;
    }
    return true;
}

}  // namespace

int RunReport(const Arguments& args) {
    static const OptionSpec kSpecs[] = {KELVO_LINE_REPORT_OPTIONS, {"--by", true}, {"--out", true}};
    Options options;
    StatsFilter filter;
    GroupBy by = GroupBy::kNone;
    if (!ReadOptions("report", args, kSpecs, &options) || !ReadStatsFilter("report", options, &filter, &by)) return kExitFailed;
    if (by != GroupBy::kNone && by != GroupBy::kDay && by != GroupBy::kShift) {
        std::fprintf(stderr, "kelvotest-line report: --by takes day or shift\n");
        return kExitFailed;
    }
    LineReport report;
    report.byShift = by == GroupBy::kShift;
    report.includeVirtual = filter.includeVirtual;
    report.generatedAt = NowUtc();
    if (!filter.since) filter.since = ParseTimeArgument("7d");   // the last seven days
    report.since = *filter.since;
    report.until = filter.until.value_or(report.generatedAt);
    std::unique_ptr<Store> store = OpenStoreOrSay("report", options.Get("--db", kDefaultStore));
    if (!store) return kExitFailed;
    if (std::string error; !PrepareForStatistics(*store, &error)) {
        std::fprintf(stderr, "kelvotest-line report: %s: %s\n", Shown(store->name()).c_str(), Shown(error).c_str());
        return kExitFailed;
    }
    const std::string out = options.Get("--out", "line.html");
    std::string error;
    if (!Gather(*store, filter, &report, &error) || !GatherStations(*store, filter, &report, &error)) {
        std::fprintf(stderr, "kelvotest-line report: %s: %s\n", Shown(store->name()).c_str(), Shown(error).c_str());
        return kExitFailed;
    }
    if (!WriteReport(out, LineReportHtml(report), &error)) {
        std::fprintf(stderr, "kelvotest-line report: %s\n", Shown(error).c_str());
        return kExitFailed;
    }
    std::printf("line report in %s\n", Shown(out).c_str());
    const std::string note = VirtualNote(filter.includeVirtual, report.virtualLeftOut);
    if (!note.empty()) std::printf("%s\n", note.c_str());
    return kExitDone;
}

}  // namespace line
