// line/pareto_command.cc: `kelvotest-line pareto`: the failure verdicts by the number of units
// that failed with them, their share and the cumulative share.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "line/stats_commands.h"
#include "line/stats_query.h"
#include "line/text.h"

namespace line {

int RunPareto(const Arguments& args) {
    static const OptionSpec kSpecs[] = {KELVO_LINE_STATS_OPTIONS};
    Options options;
    StatsFilter filter;
    std::string format;
    if (!ReadOptions("pareto", args, kSpecs, &options) || !ReadStatsFilter("pareto", options, &filter, nullptr) ||
        !ReadFormat("pareto", options, &format)) {
        return kExitFailed;
    }
    std::unique_ptr<Store> store = OpenStoreOrSay("pareto", options.Get("--db", kDefaultStore));
    if (!store) return kExitFailed;
    if (std::string error; !PrepareForStatistics(*store, &error)) {
        std::fprintf(stderr, "kelvotest-line pareto: %s: %s\n", Shown(store->name()).c_str(), Shown(error).c_str());
        return kExitFailed;
    }
    std::vector<ParetoRow> rows;
    uint64_t leftOut = 0;
    std::string error;
    if (!QueryPareto(*store, filter, &rows, &error) || !CountVirtualLeftOut(*store, filter, &leftOut, &error)) {
        std::fprintf(stderr, "kelvotest-line pareto: %s: %s\n", Shown(store->name()).c_str(), Shown(error).c_str());
        return kExitFailed;
    }
    if (format == "json") {
        nlohmann::json out = {{"includeVirtual", filter.includeVirtual}, {"virtualRunsLeftOut", leftOut},
                              {"rows", nlohmann::json::array()}};
        for (const ParetoRow& row : rows) {
            out["rows"].push_back({{"verdict", row.verdict}, {"units", row.units}, {"share", row.share},
                                   {"cumulativeShare", row.cumulative}});
        }
        std::printf("%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else if (format == "csv") {
        std::printf("verdict,units,share,cumulative_share\n");
        for (const ParetoRow& row : rows) {
            std::printf("%s,%llu,%.6f,%.6f\n", CsvField(row.verdict).c_str(), static_cast<unsigned long long>(row.units),
                        row.share, row.cumulative);
        }
    } else {
        std::printf("%-32s %7s %8s %11s\n", "verdict", "units", "share", "cumulative");
        for (const ParetoRow& row : rows) {
            std::printf("%s %7llu %7.1f%% %10.1f%%\n", Padded(row.verdict, 32).c_str(),
                        static_cast<unsigned long long>(row.units), 100 * row.share, 100 * row.cumulative);
        }
        if (rows.empty()) std::printf("no failures in the period\n");
    }
    const std::string note = VirtualNote(filter.includeVirtual, leftOut);
    if (!note.empty()) std::fprintf(format == "text" ? stdout : stderr, "%s\n", note.c_str());
    return kExitDone;
}

}  // namespace line
