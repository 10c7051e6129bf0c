// line/control_chart.cc: the Western Electric rules, each a count over a sliding window.
#include "line/control_chart.h"

#include <cstddef>

namespace line {
namespace {

// Of the last `window` values (ending at i), how many lie beyond k σ on the side `sign`.
int Beyond(const std::vector<double>& z, std::size_t i, std::size_t window, double k, int sign) {
    int count = 0;
    for (std::size_t j = i + 1 - window; j <= i; ++j) count += sign * z[j] > k ? 1 : 0;
    return count;
}

}  // namespace

RuleCounts WesternElectric(const std::vector<double>& values, double mean, double sigma, std::vector<uint8_t>* flags) {
    RuleCounts counts;
    flags->assign(values.size(), 0);
    if (!(sigma > 0)) return counts;
    std::vector<double> z(values.size());
    for (size_t i = 0; i < values.size(); ++i) z[i] = (values[i] - mean) / sigma;
    int sameSide = 0, lastSide = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        uint8_t& flag = (*flags)[i];
        if (z[i] > 3 || z[i] < -3) flag |= 1 << 1;
        for (int sign : {1, -1}) {
            if (i >= 2 && sign * z[i] > 2 && Beyond(z, i, 3, 2, sign) >= 2) flag |= 1 << 2;
            if (i >= 4 && sign * z[i] > 1 && Beyond(z, i, 5, 1, sign) >= 4) flag |= 1 << 3;
        }
        const int side = z[i] > 0 ? 1 : z[i] < 0 ? -1 : 0;
        sameSide = side != 0 && side == lastSide ? sameSide + 1 : side != 0 ? 1 : 0;
        lastSide = side;
        if (sameSide >= 8) flag |= 1 << 4;
        for (int rule = 1; rule <= 4; ++rule) counts.rule[rule] += (flag >> rule) & 1;
    }
    return counts;
}

}  // namespace line
