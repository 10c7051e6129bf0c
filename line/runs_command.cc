// line/runs_command.cc: `kelvotest-line runs [filters] [--format text|csv|json]`: the runs in
// time order. The list is fetched in pages by its key (started_at, id), so that its memory
// stays flat however many runs the store holds, on either engine.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "line/command_table.h"
#include "line/text.h"
#include "line/times.h"

namespace line {

namespace {

using nlohmann::json;

constexpr int64_t kPageRows = 2000;

struct Filter {
    std::string where;           // " AND …" with :placeholders
    std::vector<Param> params;   // in their order
};

const char* const kColumns[] = {"started_at", "ended_at", "run_id", "serial", "part", "station", "operator",
                                "plan_name", "plan_revision", "result", "source", "limits_digest",
                                "fixture_id", "calibration_due", "station_facts"};
constexpr size_t kStationFacts = std::size(kColumns) - 1;   // a JSON object

bool BuildFilter(const Options& options, Filter* filter) {
    const std::pair<const char*, const char*> matches[] = {
        {"--plan", "plan_name"}, {"--station", "station"}, {"--serial", "serial"}, {"--result", "result"}};
    for (const auto& [option, column] : matches) {
        if (!options.Has(option)) continue;
        filter->where += std::string(" AND ") + column + " = :" + column;
        filter->params.push_back(options.Get(option));
    }
    const std::string result = options.Get("--result", "PASS");
    if (result != "PASS" && result != "FAIL" && result != "ABORTED") {
        std::fprintf(stderr, "kelvotest-line runs: --result takes PASS, FAIL or ABORTED, not '%s'\n", Shown(result).c_str());
        return false;
    }
    for (const auto& [option, op] : {std::pair{"--since", ">="}, std::pair{"--until", "<"}}) {
        if (!options.Has(option)) continue;
        const auto time = ParseTimeArgument(options.Get(option));
        if (!time) {
            std::fprintf(stderr, "kelvotest-line runs: %s takes a date, a time (2026-12-07T06:00Z) or a span (36h, 7d), not '%s'\n",
                         option, Shown(options.Get(option)).c_str());
            return false;
        }
        filter->where += std::string(" AND started_at ") + op + " :t";
        filter->params.push_back(*time);
    }
    return true;
}

class Printer {
public:
    explicit Printer(std::string format) : format_(std::move(format)) {}
    void Begin();
    void Print(const Row& row);
    void End();
private:
    std::string format_;
    size_t rows_ = 0;
};

void Printer::Begin() {
    if (format_ == "csv") {
        for (size_t i = 0; i < std::size(kColumns); ++i) std::printf("%s%s", i ? "," : "", kColumns[i]);
        std::printf("\n");
    } else if (format_ == "json") {
        std::printf("[");
    } else {
        std::printf("%-24s  %-7s  %-14s  %-10s  %-24s  %s\n", "started", "result", "serial", "station", "plan", "run");
    }
}

void Printer::Print(const Row& row) {
    if (format_ == "csv") {
        for (size_t i = 0; i < std::size(kColumns); ++i) std::printf("%s%s", i ? "," : "", CsvField(row.Text(i)).c_str());
        std::printf("\n");
    } else if (format_ == "json") {
        json entry = json::object();
        for (size_t i = 0; i < std::size(kColumns); ++i) entry[kColumns[i]] = row.IsNull(i) ? json(nullptr) : json(row.Text(i));
        if (!row.IsNull(kStationFacts)) entry["station_facts"] = json::parse(row.Text(kStationFacts), nullptr, false);
        std::printf("%s\n  %s", rows_ ? "," : "", entry.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
    } else {
        std::string plan = row.Text(7);
        if (!row.IsNull(8)) plan += " rev " + row.Text(8);
        std::string result = row.Text(9);
        if (row.Text(10) != "hardware") result += "*";
        std::printf("%s  %s  %s  %s  %s  %s\n", Padded(row.Text(0), 24).c_str(), Padded(result, 7).c_str(),
                    Padded(row.IsNull(3) ? "-" : row.Text(3), 14).c_str(), Padded(row.IsNull(5) ? "-" : row.Text(5), 10).c_str(),
                    Padded(plan, 24).c_str(), Shown(row.Text(2)).c_str());
    }
    ++rows_;
}

void Printer::End() {
    if (format_ == "json") std::printf("%s]\n", rows_ ? "\n" : "");
    if (format_ == "text") std::printf("%zu run%s%s\n", rows_, rows_ == 1 ? "" : "s", "  (* not on hardware: the virtual scanner or a replay)");
}

}  // namespace

int RunRuns(const Arguments& args) {
    static const OptionSpec kSpecs[] = {{"--db", true},   {"--since", true},  {"--until", true}, {"--plan", true},
                                        {"--station", true}, {"--serial", true}, {"--result", true}, {"--format", true}};
    Options options;
    if (!ReadOptions("runs", args, kSpecs, &options)) return kExitFailed;
    const std::string format = options.Get("--format", "text");
    Filter filter;
    if (!options.operands.empty()) {
        std::fprintf(stderr, "kelvotest-line runs: unexpected '%s'\n", Shown(options.operands[0]).c_str());
        return kExitFailed;
    }
    if (format != "text" && format != "csv" && format != "json") {
        std::fprintf(stderr, "kelvotest-line runs: --format takes text, csv or json, not '%s'\n", Shown(format).c_str());
        return kExitFailed;
    }
    if (!BuildFilter(options, &filter)) return kExitFailed;
    std::unique_ptr<Store> store = OpenStoreOrSay("runs", options.Get("--db", kDefaultStore));
    if (!store) return kExitFailed;
    std::string sql = "SELECT ";
    for (const char* column : kColumns) sql += std::string(column) + ", ";
    sql += "id FROM runs WHERE (started_at > :after OR (started_at = :same AND id > :id))" + filter.where +
           " ORDER BY started_at, id LIMIT " + std::to_string(kPageRows);
    Printer printer(format);
    printer.Begin();
    std::string lastTime;
    int64_t lastId = -1;
    for (int64_t got = kPageRows; got == kPageRows;) {
        std::vector<Param> params = {lastTime, lastTime, lastId};
        params.insert(params.end(), filter.params.begin(), filter.params.end());
        got = 0;
        std::string error;
        if (!store->Query(sql, params, [&](const Row& row) {
                printer.Print(row);
                lastTime = row.Text(0);
                lastId = row.Int(std::size(kColumns));
                ++got;
            }, &error)) {
            std::fflush(stdout);
            std::fprintf(stderr, "kelvotest-line runs: %s: %s\n", Shown(store->name()).c_str(), Shown(error).c_str());
            return kExitFailed;
        }
    }
    printer.End();
    return kExitDone;
}

}  // namespace line
