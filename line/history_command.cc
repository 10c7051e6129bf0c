// line/history_command.cc: `kelvotest-line history SERIAL [--db URL] [--json]`: every run of
// one unit, oldest first, with its failed checks, their values and limits.
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "line/command_table.h"
#include "line/history.h"
#include "line/text.h"

namespace line {

namespace {

using nlohmann::json;

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string Limits(const HistoryFailure& f) {
    if (f.limitMin && f.limitMax) return "limits [" + Number(*f.limitMin) + ", " + Number(*f.limitMax) + "]";
    if (f.limitMin) return "limit min " + Number(*f.limitMin);
    if (f.limitMax) return "limit max " + Number(*f.limitMax);
    if (!f.expected.empty()) return "expected " + f.expected;
    return {};
}

void PrintText(const std::string& serial, const std::vector<HistoryRun>& runs) {
    std::printf("%s: %zu run%s, oldest first\n", Shown(serial).c_str(), runs.size(), runs.size() == 1 ? "" : "s");
    for (const HistoryRun& run : runs) {
        std::printf("%s  %-7s  station %s  operator %s  %s revision %s%s\n    run %s\n", Shown(run.startedAt).c_str(),
                    run.result.c_str(), Shown(run.station.empty() ? "-" : run.station).c_str(),
                    Shown(run.operatorName.empty() ? "-" : run.operatorName).c_str(), Shown(run.plan).c_str(),
                    Shown(run.revision.empty() ? "-" : run.revision).c_str(),
                    run.source == "hardware" ? "" : ("  (" + run.source + ", not hardware)").c_str(),
                    Shown(run.runId).c_str());
        for (const HistoryFailure& f : run.failures) {
            std::string detail;
            if (!f.value.empty()) detail = "value " + f.value + (f.unit.empty() ? "" : " " + f.unit);
            const std::string limits = Limits(f);
            if (!limits.empty()) detail += (detail.empty() ? "" : ", ") + limits;
            std::printf("    failed %s%s: %s%s\n", f.step.empty() ? "" : (f.step + ": ").c_str(), Shown(f.verdict).c_str(),
                        Shown(f.message).c_str(), detail.empty() ? "" : ("  [" + Shown(detail) + "]").c_str());
        }
    }
}

void PrintJson(const std::string& serial, const std::vector<HistoryRun>& runs) {
    json list = json::array();
    for (const HistoryRun& run : runs) {
        json failures = json::array();
        for (const HistoryFailure& f : run.failures) {
            json entry = {{"step", f.step}, {"verdict", f.verdict}, {"message", f.message}};
            if (!f.value.empty()) entry["value"] = json::parse(f.value, nullptr, false);
            if (!f.unit.empty()) entry["unit"] = f.unit;
            if (f.limitMin) entry["limitMin"] = *f.limitMin;
            if (f.limitMax) entry["limitMax"] = *f.limitMax;
            if (!f.expected.empty()) entry["expected"] = json::parse(f.expected, nullptr, false);
            failures.push_back(entry);
        }
        list.push_back({{"runId", run.runId}, {"startedAt", run.startedAt}, {"station", run.station},
                        {"operator", run.operatorName}, {"plan", run.plan}, {"revision", run.revision},
                        {"result", run.result}, {"source", run.source}, {"failures", failures}});
    }
    const json out = {{"serial", serial}, {"runs", list}};
    std::printf("%s\n", out.dump(2, ' ', false, json::error_handler_t::replace).c_str());
}

}  // namespace

int RunHistory(const Arguments& args) {
    static const OptionSpec kSpecs[] = {{"--db", true}, {"--json", false}};
    Options options;
    if (!ReadOptions("history", args, kSpecs, &options)) return kExitFailed;
    if (options.operands.size() != 1) {
        std::fprintf(stderr, "kelvotest-line history: name one serial\nusage: kelvotest-line history SERIAL [--db URL] [--json]\n");
        return kExitFailed;
    }
    std::unique_ptr<Store> store = OpenStoreOrSay("history", options.Get("--db", kDefaultStore));
    if (!store) return kExitFailed;
    const std::string& serial = options.operands[0];
    std::vector<HistoryRun> runs;
    std::string error;
    if (!LoadHistory(*store, serial, &runs, &error)) {
        std::fprintf(stderr, "kelvotest-line history: %s: %s\n", Shown(store->name()).c_str(), Shown(error).c_str());
        return kExitFailed;
    }
    if (options.Has("--json")) {
        PrintJson(serial, runs);
    } else {
        PrintText(serial, runs);
    }
    return runs.empty() ? kExitRefused : kExitDone;
}

}  // namespace line
