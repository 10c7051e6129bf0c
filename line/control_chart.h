// line/control_chart.h: the individuals chart's tests, the Western Electric rules over values
// in time order, with the centre line at the mean and σ the within σ (kelvotest-line-stats(7),
// "CONTROL CHART"):
//   1  one value beyond 3 σ;
//   2  two of three consecutive values beyond 2 σ, on the same side;
//   3  four of five consecutive values beyond 1 σ, on the same side;
//   4  eight consecutive values on the same side of the centre line.
// A value is flagged for a rule when it ends a run that breaks it.
#pragma once

#include <cstdint>
#include <vector>

namespace line {

struct RuleCounts {
    uint64_t rule[5] = {0, 0, 0, 0, 0};   // [1]…[4]: values flagged by each rule
};

// flags[i] has bit r set when value i breaks rule r (bits 1…4). sigma > 0.
RuleCounts WesternElectric(const std::vector<double>& values, double mean, double sigma, std::vector<uint8_t>* flags);

}  // namespace line
