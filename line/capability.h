// line/capability.h: process capability of one measurement under one set of limits: n, mean,
// the overall and the within σ, Ppk and Cpk, and the shares outside the marginal band and
// outside the limits (kelvotest-line-stats(7), "CAPABILITY").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace line {

// A measurement's limits as its plan stated them; the marginal band lies inside them.
struct Limits {
    std::optional<double> min;
    std::optional<double> max;
    std::optional<double> marginalMin;
    std::optional<double> marginalMax;

    bool Any() const { return min || max; }
};

// Below this many values the indices are shown, but marked as not yet meaningful.
inline constexpr uint64_t kMeaningfulValues = 25;
// d2 for subgroups of two: the mean moving range of consecutive values is 1.128 σ.
inline constexpr double kD2MovingRange = 1.128;

struct Capability {
    uint64_t n = 0;
    double mean = 0;
    double sigmaOverall = 0;           // sample standard deviation (n - 1)
    double sigmaWithin = 0;            // mean moving range / 1.128
    std::optional<double> ppk;         // from sigmaOverall; absent when it is 0 or n < 2
    std::optional<double> cpk;         // from sigmaWithin; absent when it is 0 or n < 2
    bool lowerOnly = false;            // one-sided: Ppl/Cpl
    bool upperOnly = false;            // one-sided: Ppu/Cpu
    uint64_t marginal = 0;             // inside the limits, outside the band
    uint64_t outside = 0;              // outside the limits
    double MarginalShare() const { return n ? double(marginal) / double(n) : 0; }
    double OutsideShare() const { return n ? double(outside) / double(n) : 0; }
    bool Meaningful() const { return n >= kMeaningfulValues; }
    // "Cpk", "Cpl" or "Cpu"; "Ppk", "Ppl" or "Ppu".
    const char* CpkLabel() const { return lowerOnly ? "Cpl" : upperOnly ? "Cpu" : "Cpk"; }
    const char* PpkLabel() const { return lowerOnly ? "Ppl" : upperOnly ? "Ppu" : "Ppk"; }
};

// One pass over the values in time order: Welford's running mean and sum of squares, and the
// moving range from the value before. It holds no storage, so a million values cost nothing
// but the time to add them.
class CapabilityAccumulator {
public:
    explicit CapabilityAccumulator(const Limits& limits) : limits_(limits) {}
    // markedMarginal: the store says the value was judged marginal (by a band the store may
    // not know); a value outside the band is marginal either way.
    void Add(double value, bool markedMarginal = false);
    Capability Result() const;
    const Limits& limits() const { return limits_; }

private:
    Limits limits_;
    uint64_t n_ = 0;
    uint64_t marginal_ = 0;
    uint64_t outside_ = 0;
    double mean_ = 0;
    double sumSquares_ = 0;            // of the deviations from the running mean
    double previous_ = 0;
    double movingRangeSum_ = 0;
};
static_assert(std::is_trivially_copyable_v<CapabilityAccumulator>,
              "the accumulator must hold no storage: one pass, no allocation per value");

// A capability per measurement and limits digest: values judged by different limits are never
// pooled.
struct CapabilityRow {
    std::string measurement;
    std::string unit;
    std::string limitsDigest;
    Limits limits;
    Capability figures;
};

// Worst first: the lowest Cpk, then the lowest Ppk; rows without an index (σ = 0, or one
// value) after all others; ties by name and digest so that the order is the same every time.
void SortWorstFirst(std::vector<CapabilityRow>* rows);
bool WorseThan(const CapabilityRow& a, const CapabilityRow& b);   // the order SortWorstFirst makes

// Folds a stream of values ordered by (measurement, digest, time) into rows, one row per
// (measurement, digest), without keeping the values.
class CapabilityTable {
public:
    void Add(const std::string& measurement, const std::string& digest, const Limits& limits,
             const std::string& unit, double value, bool markedMarginal = false);
    std::vector<CapabilityRow> Rows();   // sorted worst first

private:
    void Close();
    std::vector<CapabilityRow> rows_;
    std::optional<CapabilityAccumulator> current_;
};

}  // namespace line
