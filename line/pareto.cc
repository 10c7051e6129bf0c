// line/pareto.cc: order and shares of the failure Pareto.
#include "line/pareto.h"

#include <algorithm>

namespace line {

std::vector<ParetoRow> BuildPareto(std::vector<std::pair<std::string, uint64_t>> counts) {
    std::sort(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    uint64_t total = 0;
    for (const auto& count : counts) total += count.second;
    std::vector<ParetoRow> rows;
    rows.reserve(counts.size());
    uint64_t running = 0;
    for (auto& [verdict, units] : counts) {
        running += units;
        rows.push_back(ParetoRow{std::move(verdict), units, double(units) / double(total),
                                 double(running) / double(total)});
    }
    return rows;
}

}  // namespace line
