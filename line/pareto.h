// line/pareto.h: the failure Pareto: each failure verdict by the number of units that failed
// with it, its share of all such unit failures and the cumulative share, largest first.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace line {

struct ParetoRow {
    std::string verdict;
    uint64_t units = 0;
    double share = 0;          // of the sum over all verdicts
    double cumulative = 0;     // this row and every row above it
};

// counts: (verdict, units that failed with it), in any order. Sorted by units, most first,
// ties by verdict, so that the same store gives the same order.
std::vector<ParetoRow> BuildPareto(std::vector<std::pair<std::string, uint64_t>> counts);

}  // namespace line
