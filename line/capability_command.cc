// line/capability_command.cc: `kelvotest-line capability [MEASUREMENT…]`: per measurement and
// limits digest n, mean, the overall and the within σ, Ppk and Cpk (one-sided where one limit
// exists), the marginal share and the share outside the limits; worst first.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "line/stats_commands.h"
#include "line/stats_query.h"
#include "line/text.h"

namespace line {

namespace {

using nlohmann::json;

std::string Index(const std::optional<double>& value) {
    if (!value) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", *value);
    return text;
}

// A digest is shown by its first 12 hex digits, as a commit is.
std::string ShortDigest(const std::string& digest) {
    if (digest.rfind("sha256:", 0) == 0) return digest.substr(7, 12);
    return digest.rfind("limits ", 0) == 0 ? "(no digest)" : digest;
}

json Optional(const std::optional<double>& value) { return value ? json(*value) : json(nullptr); }

json RowJson(const CapabilityRow& row) {
    const Capability& f = row.figures;
    return json{{"measurement", row.measurement}, {"unit", row.unit},
                {"limitsDigest", row.limitsDigest.rfind("limits ", 0) == 0 ? json(nullptr) : json(row.limitsDigest)},
                {"min", Optional(row.limits.min)}, {"max", Optional(row.limits.max)},
                {"marginalMin", Optional(row.limits.marginalMin)}, {"marginalMax", Optional(row.limits.marginalMax)},
                {"n", f.n}, {"mean", f.mean}, {"sigmaOverall", f.sigmaOverall}, {"sigmaWithin", f.sigmaWithin},
                {"ppkLabel", f.PpkLabel()}, {"ppk", Optional(f.ppk)}, {"cpkLabel", f.CpkLabel()}, {"cpk", Optional(f.cpk)},
                {"marginalShare", f.MarginalShare()}, {"outsideShare", f.OutsideShare()}, {"meaningful", f.Meaningful()}};
}

void PrintText(const std::vector<CapabilityRow>& rows) {
    std::printf("%-24s %-12s %8s %12s %11s %11s %10s %10s %9s %8s\n", "measurement", "digest", "n", "mean", "σ overall",
                "σ within", "Ppk", "Cpk", "marginal", "outside");
    bool few = false;
    for (const CapabilityRow& row : rows) {
        const Capability& f = row.figures;
        few = few || !f.Meaningful();
        std::printf("%s %s %8llu %12.6g %11.4g %11.4g %10s %10s %8.2f%% %7.2f%%%s\n", Padded(row.measurement, 24).c_str(),
                    Padded(ShortDigest(row.limitsDigest), 12).c_str(), static_cast<unsigned long long>(f.n), f.mean,
                    f.sigmaOverall, f.sigmaWithin, (f.PpkLabel() + std::string(" ") + Index(f.ppk)).c_str(),
                    (f.CpkLabel() + std::string(" ") + Index(f.cpk)).c_str(), 100 * f.MarginalShare(),
                    100 * f.OutsideShare(), f.Meaningful() ? "" : "  *");
    }
    if (rows.empty()) std::printf("no measurement with limits in the period\n");
    if (few) std::printf("* fewer than %llu values: not yet meaningful\n", static_cast<unsigned long long>(kMeaningfulValues));
    std::printf("Ppk from the overall σ, Cpk from the within σ (mean moving range / 1.128); Ppl, Ppu, Cpl, Cpu where "
                "one limit exists\n");
}

}  // namespace

int RunCapability(const Arguments& args) {
    static const OptionSpec kSpecs[] = {KELVO_LINE_STATS_OPTIONS};
    Options options;
    StatsFilter filter;
    std::string format;
    if (!ReadOptions("capability", args, kSpecs, &options) ||
        !ReadStatsFilter("capability", options, &filter, nullptr) || !ReadFormat("capability", options, &format)) {
        return kExitFailed;
    }
    std::unique_ptr<Store> store = OpenStoreOrSay("capability", options.Get("--db", kDefaultStore));
    if (!store) return kExitFailed;
    if (std::string error; !PrepareForStatistics(*store, &error)) {
        std::fprintf(stderr, "kelvotest-line capability: %s: %s\n", Shown(store->name()).c_str(), Shown(error).c_str());
        return kExitFailed;
    }
    std::vector<CapabilityRow> rows;
    uint64_t leftOut = 0;
    std::string error;
    if (!QueryCapability(*store, filter, options.operands, &rows, &error) ||
        !CountVirtualLeftOut(*store, filter, &leftOut, &error)) {
        std::fprintf(stderr, "kelvotest-line capability: %s: %s\n", Shown(store->name()).c_str(), Shown(error).c_str());
        return kExitFailed;
    }
    if (format == "json") {
        json out = {{"includeVirtual", filter.includeVirtual}, {"virtualRunsLeftOut", leftOut}, {"rows", json::array()}};
        for (const CapabilityRow& row : rows) out["rows"].push_back(RowJson(row));
        std::printf("%s\n", out.dump(2, ' ', false, json::error_handler_t::replace).c_str());
    } else if (format == "csv") {
        std::printf("measurement,unit,limits_digest,min,max,marginal_min,marginal_max,n,mean,sigma_overall,sigma_within,"
                    "ppk_label,ppk,cpk_label,cpk,marginal_share,outside_share,meaningful\n");
        for (const CapabilityRow& row : rows) {
            const json j = RowJson(row);
            std::string line;
            const char* keys[] = {"measurement", "unit", "limitsDigest", "min", "max", "marginalMin", "marginalMax", "n",
                                  "mean", "sigmaOverall", "sigmaWithin", "ppkLabel", "ppk", "cpkLabel", "cpk",
                                  "marginalShare", "outsideShare", "meaningful"};
            for (const char* key : keys) {
                const json& v = j[key];
                line += std::string(line.empty() ? "" : ",") +
                        (v.is_null() ? "" : v.is_string() ? CsvField(v.get<std::string>()) : v.dump());
            }
            std::printf("%s\n", line.c_str());
        }
    } else {
        PrintText(rows);
    }
    const std::string note = VirtualNote(filter.includeVirtual, leftOut);
    if (!note.empty()) std::fprintf(format == "text" ? stdout : stderr, "%s\n", note.c_str());
    return kExitDone;
}

}  // namespace line
