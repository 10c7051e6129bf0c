// line/yield_command.cc: `kelvotest-line yield`: units tested, first-pass and final yield,
// retest rate and aborted runs, per plan and per day, shift, station or step.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "line/stats_commands.h"
#include "line/stats_query.h"
#include "line/text.h"

namespace line {

namespace {

using nlohmann::json;

void PrintText(const std::vector<YieldRow>& rows) {
    std::string plan = "\x01";
    for (const YieldRow& row : rows) {
        if (row.plan != plan) {
            plan = row.plan;
            std::printf("%splan %s\n%-18s %7s %11s %9s %9s %9s %8s %11s\n", &row == &rows.front() ? "" : "\n",
                        Shown(plan.empty() ? "(none)" : plan).c_str(), "", "units", "first-pass", "final", "retested",
                        "attempts", "aborted", "step retry");
        }
        std::printf("%s %7llu %10.1f%% %8.1f%% %8.1f%% %9llu %8llu %10.1f%%\n", Padded(row.group, 18).c_str(),
                    static_cast<unsigned long long>(row.units), 100 * row.FirstPassYield(), 100 * row.FinalYield(),
                    100 * row.RetestRate(), static_cast<unsigned long long>(row.attempts),
                    static_cast<unsigned long long>(row.aborted), 100 * row.StepRetryRate());
    }
    if (rows.empty()) std::printf("no runs in the period\n");
}

json RowJson(const YieldRow& row) {
    return json{{"plan", row.plan},           {"group", row.group},
                {"units", row.units},         {"firstPassUnits", row.firstPass},
                {"firstPassYield", row.FirstPassYield()}, {"finalPassUnits", row.finalPass},
                {"finalYield", row.FinalYield()}, {"retestedUnits", row.retested},
                {"retestRate", row.RetestRate()}, {"attempts", row.attempts},
                {"abortedRuns", row.aborted}, {"steps", row.steps},
                {"retriedSteps", row.retriedSteps}, {"stepRetryRate", row.StepRetryRate()}};
}

}  // namespace

int RunYield(const Arguments& args) {
    static const OptionSpec kSpecs[] = {KELVO_LINE_STATS_OPTIONS, {"--by", true}};
    Options options;
    StatsFilter filter;
    GroupBy by = GroupBy::kNone;
    std::string format;
    if (!ReadOptions("yield", args, kSpecs, &options) || !ReadStatsFilter("yield", options, &filter, &by) ||
        !ReadFormat("yield", options, &format)) {
        return kExitFailed;
    }
    std::unique_ptr<Store> store = OpenStoreOrSay("yield", options.Get("--db", kDefaultStore));
    if (!store) return kExitFailed;
    if (std::string error; !PrepareForStatistics(*store, &error)) {
        std::fprintf(stderr, "kelvotest-line yield: %s: %s\n", Shown(store->name()).c_str(), Shown(error).c_str());
        return kExitFailed;
    }
    std::vector<YieldRow> rows;
    uint64_t leftOut = 0;
    std::string error;
    if (!QueryYield(*store, filter, by, &rows, &error) || !CountVirtualLeftOut(*store, filter, &leftOut, &error)) {
        std::fprintf(stderr, "kelvotest-line yield: %s: %s\n", Shown(store->name()).c_str(), Shown(error).c_str());
        return kExitFailed;
    }
    const std::string note = VirtualNote(filter.includeVirtual, leftOut);
    if (format == "json") {
        json out = {{"includeVirtual", filter.includeVirtual}, {"virtualRunsLeftOut", leftOut}, {"rows", json::array()}};
        for (const YieldRow& row : rows) out["rows"].push_back(RowJson(row));
        std::printf("%s\n", out.dump(2, ' ', false, json::error_handler_t::replace).c_str());
    } else if (format == "csv") {
        std::printf("plan,group,units,first_pass_units,first_pass_yield,final_pass_units,final_yield,"
                    "retested_units,retest_rate,attempts,aborted_runs,steps,retried_steps,step_retry_rate\n");
        for (const YieldRow& row : rows) {
            std::printf("%s,%s,%llu,%llu,%.6f,%llu,%.6f,%llu,%.6f,%llu,%llu,%llu,%llu,%.6f\n", CsvField(row.plan).c_str(),
                        CsvField(row.group).c_str(), static_cast<unsigned long long>(row.units),
                        static_cast<unsigned long long>(row.firstPass), row.FirstPassYield(),
                        static_cast<unsigned long long>(row.finalPass), row.FinalYield(),
                        static_cast<unsigned long long>(row.retested), row.RetestRate(),
                        static_cast<unsigned long long>(row.attempts), static_cast<unsigned long long>(row.aborted),
                        static_cast<unsigned long long>(row.steps), static_cast<unsigned long long>(row.retriedSteps),
                        row.StepRetryRate());
        }
    } else {
        PrintText(rows);
    }
    if (!note.empty()) std::fprintf(format == "text" ? stdout : stderr, "%s\n", note.c_str());
    return kExitDone;
}

bool ReadFormat(const char* command, const Options& options, std::string* format) {
    *format = options.Get("--format", "text");
    if (*format == "text" || *format == "csv" || *format == "json") return true;
    std::fprintf(stderr, "kelvotest-line %s: --format takes text, csv or json, not '%s'\n", command, Shown(*format).c_str());
    return false;
}

std::string VirtualNote(bool includeVirtual, uint64_t leftOut) {
    if (includeVirtual) return "NOTE: runs on the virtual scanner and replays are included (--include-virtual)";
    if (leftOut == 0) return "";
    return std::to_string(leftOut) + " run" + (leftOut == 1 ? "" : "s") +
           " on the virtual scanner or a replay left out (--include-virtual takes them in)";
}

}  // namespace line
