// line/capability.cc: the one-pass statistics behind a capability row, and the worst-first order.
#include "line/capability.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace line {

void CapabilityAccumulator::Add(double value, bool markedMarginal) {
    if (n_ > 0) movingRangeSum_ += std::fabs(value - previous_);
    previous_ = value;
    ++n_;
    const double delta = value - mean_;
    mean_ += delta / double(n_);
    sumSquares_ += delta * (value - mean_);
    const bool below = limits_.min && value < *limits_.min;
    const bool above = limits_.max && value > *limits_.max;
    if (below || above) {
        ++outside_;
    } else if (markedMarginal || (limits_.marginalMin && value < *limits_.marginalMin) ||
               (limits_.marginalMax && value > *limits_.marginalMax)) {
        ++marginal_;
    }
}

// The distance from the mean to the nearer limit in units of 3 σ; one-sided where only one
// limit exists (NIST/SEMATECH e-Handbook, 6.1.6).
static std::optional<double> Index(const Limits& limits, double mean, double sigma) {
    if (!(sigma > 0) || !limits.Any()) return std::nullopt;
    std::optional<double> index;
    if (limits.max) index = (*limits.max - mean) / (3 * sigma);
    if (limits.min) {
        const double lower = (mean - *limits.min) / (3 * sigma);
        index = index ? std::min(*index, lower) : lower;
    }
    return index;
}

Capability CapabilityAccumulator::Result() const {
    Capability result;
    result.n = n_;
    result.mean = mean_;
    result.marginal = marginal_;
    result.outside = outside_;
    result.lowerOnly = limits_.min && !limits_.max;
    result.upperOnly = limits_.max && !limits_.min;
    if (n_ < 2) return result;
    result.sigmaOverall = std::sqrt(sumSquares_ / double(n_ - 1));
    result.sigmaWithin = movingRangeSum_ / double(n_ - 1) / kD2MovingRange;
    result.ppk = Index(limits_, mean_, result.sigmaOverall);
    result.cpk = Index(limits_, mean_, result.sigmaWithin);
    return result;
}

bool WorseThan(const CapabilityRow& a, const CapabilityRow& b) {
    static constexpr double kNone = HUGE_VAL;
    auto key = [](const CapabilityRow& row) {
        return std::tuple<double, double, const std::string&, const std::string&>(
            row.figures.cpk.value_or(kNone), row.figures.ppk.value_or(kNone), row.measurement, row.limitsDigest);
    };
    return key(a) < key(b);
}

void SortWorstFirst(std::vector<CapabilityRow>* rows) { std::stable_sort(rows->begin(), rows->end(), WorseThan); }

void CapabilityTable::Add(const std::string& measurement, const std::string& digest,
                          const Limits& limits, const std::string& unit, double value, bool markedMarginal) {
    if (rows_.empty() || !current_ || rows_.back().measurement != measurement ||
        rows_.back().limitsDigest != digest) {
        Close();
        rows_.push_back(CapabilityRow{measurement, unit, digest, limits, {}});
        current_.emplace(limits);
    }
    current_->Add(value, markedMarginal);
}

void CapabilityTable::Close() {
    if (current_) rows_.back().figures = current_->Result();
    current_.reset();
}

std::vector<CapabilityRow> CapabilityTable::Rows() {
    Close();
    std::vector<CapabilityRow> rows = std::move(rows_);
    rows_.clear();
    SortWorstFirst(&rows);
    return rows;
}

}  // namespace line
