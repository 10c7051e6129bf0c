// tests/line/stats_test.cc: capability, yield and the Pareto against figures worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "line/capability.h"
#include "line/control_chart.h"
#include "line/pareto.h"
#include "line/yield.h"
#include "tests/line/ten_units.h"

namespace {

// Five values of adc.3v3 in time order: 3.30 3.32 3.28 3.31 3.29, limits [3.2, 3.38].
//   mean            = 16.50 / 5 = 3.30
//   Σ(x - mean)²    = 0 + 0.0004 + 0.0004 + 0.0001 + 0.0001 = 0.0010
//   overall σ       = √(0.0010 / 4) = 0.0158114
//   moving ranges   = 0.02 0.04 0.03 0.02, mean 0.11 / 4 = 0.0275
//   within σ        = 0.0275 / 1.128 = 0.0243794
//   Ppk = min((3.38 - 3.30) / (3 · 0.0158114), (3.30 - 3.20) / (3 · 0.0158114))
//       = min(1.68655, 2.10819) = 1.68655
//   Cpk = min(0.08 / (3 · 0.0243794), 0.10 / (3 · 0.0243794)) = min(1.09382, 1.36727) = 1.09382
// With only the lower limit, both are one-sided: Ppl = 2.10819, Cpl = 1.36727. With the band
// [3.285, 3.315], 3.32 and 3.28 pass but are marginal: 2 / 5.
const double kValues[] = {3.30, 3.32, 3.28, 3.31, 3.29};

line::Capability Figures(const line::Limits& limits, const std::vector<double>& values) {
    line::CapabilityAccumulator accumulator(limits);
    for (double value : values) accumulator.Add(value);
    return accumulator.Result();
}

TEST(CapabilityTest, IndicesMatchTheHandWorkedDataSet) {
    struct Case {
        line::Limits limits;
        double ppk, cpk;
        const char* ppkLabel;
        const char* cpkLabel;
        uint64_t marginal, outside;
    };
    const Case cases[] = {
        {{3.2, 3.38, 3.285, 3.315}, 1.68655, 1.09382, "Ppk", "Cpk", 2, 0},
        {{3.2, std::nullopt, std::nullopt, std::nullopt}, 2.10819, 1.36727, "Ppl", "Cpl", 0, 0},
        {{std::nullopt, 3.38, std::nullopt, std::nullopt}, 1.68655, 1.09382, "Ppu", "Cpu", 0, 0},
        // 3.32 lies above 3.31: outside the limits, and so not also marginal; 3.31 is marginal.
        {{3.2, 3.31, std::nullopt, 3.30}, (3.31 - 3.30) / (3 * 0.0158114), (3.31 - 3.30) / (3 * 0.0243794),
         "Ppk", "Cpk", 1, 1},
    };
    const std::vector<double> values(std::begin(kValues), std::end(kValues));
    for (const Case& c : cases) {
        const line::Capability figures = Figures(c.limits, values);
        EXPECT_EQ(figures.n, 5u);
        EXPECT_NEAR(figures.mean, 3.30, 1e-12);
        EXPECT_NEAR(figures.sigmaOverall, 0.0158114, 1e-7);
        EXPECT_NEAR(figures.sigmaWithin, 0.0243794, 1e-7);
        ASSERT_TRUE(figures.ppk && figures.cpk);
        EXPECT_NEAR(*figures.ppk, c.ppk, 1e-4);
        EXPECT_NEAR(*figures.cpk, c.cpk, 1e-4);
        EXPECT_STREQ(figures.PpkLabel(), c.ppkLabel);
        EXPECT_STREQ(figures.CpkLabel(), c.cpkLabel);
        EXPECT_EQ(figures.marginal, c.marginal);
        EXPECT_EQ(figures.outside, c.outside);
        EXPECT_FALSE(figures.Meaningful());
    }
}

// The within σ follows the time order; the overall σ does not. Sorted, the same five values
// have moving ranges of 0.01 each: within σ = 0.01 / 1.128.
TEST(CapabilityTest, WithinSigmaFollowsTimeOrderAndNeedsTwoValues) {
    const line::Limits limits{3.2, 3.38, std::nullopt, std::nullopt};
    const line::Capability sorted = Figures(limits, {3.28, 3.29, 3.30, 3.31, 3.32});
    EXPECT_NEAR(sorted.sigmaWithin, 0.01 / 1.128, 1e-9);
    EXPECT_NEAR(sorted.sigmaOverall, 0.0158114, 1e-7);

    const line::Capability one = Figures(limits, {3.3});
    EXPECT_FALSE(one.ppk || one.cpk);
    const line::Capability flat = Figures(limits, std::vector<double>(30, 3.3));
    EXPECT_FALSE(flat.ppk || flat.cpk);
    EXPECT_TRUE(flat.Meaningful());
    EXPECT_FALSE(Figures(limits, std::vector<double>(24, 3.3)).Meaningful());
}

// A measurement whose limits changed gives one row per digest, and rows come worst Cpk first,
// those without an index last.
TEST(CapabilityTest, TableKeepsDigestsApartAndSortsWorstFirst) {
    line::CapabilityTable table;
    const line::Limits wide{3.0, 3.6, std::nullopt, std::nullopt};
    const line::Limits tight{3.2, 3.38, std::nullopt, std::nullopt};
    for (double value : kValues) table.Add("adc.3v3", "d-wide", wide, "V", value);
    for (double value : kValues) table.Add("adc.3v3", "d-tight", tight, "V", value);
    table.Add("adc.5v", "d-tight", {4.5, 5.5, std::nullopt, std::nullopt}, "V", 5.0);
    for (double value : kValues) table.Add("adc.1v8", "d-tight", {3.25, 3.4, std::nullopt, std::nullopt}, "V", value);

    const std::vector<line::CapabilityRow> rows = table.Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].measurement, "adc.1v8");   // Cpk 0.05 / 0.0731 = 0.68
    EXPECT_EQ(rows[1].limitsDigest, "d-tight");  // 1.09
    EXPECT_EQ(rows[2].limitsDigest, "d-wide");   // 0.3 / 0.0731 = 4.10
    EXPECT_EQ(rows[3].measurement, "adc.5v");    // one value: no index
    EXPECT_EQ(rows[1].figures.n, 5u);
    EXPECT_EQ(rows[2].figures.n, 5u);
}

// Runs ordered by unit and time, as the store hands them over.
std::vector<line::YieldRun> TenUnitRuns() {
    std::vector<line_test::HandRun> runs = line_test::TenUnits();
    std::vector<line::YieldRun> yieldRuns;
    for (const auto& run : runs) {
        yieldRuns.push_back({"final test", line::UnitKey(run.serial, run.runId), std::string(run.start).substr(0, 10),
                             line::RunResultFromText(run.result), run.virtualRun});
    }
    std::stable_sort(yieldRuns.begin(), yieldRuns.end(),
                     [](const auto& a, const auto& b) { return a.unit < b.unit; });
    return yieldRuns;
}

// Hardware only: 9 units (S01-S07, R09, R10). First pass S01 S02 S07 R09: 4 / 9. Final pass
// S01-S05 S07 R09: 7 / 9. Retested S03 S04 S05: 3 / 9. One aborted run; 13 attempts.
// With the virtual S08: 10 units, 4 / 10 and 7 / 10. By day of the first attempt: Dec 1 has
// S01-S05 (first pass 2, final 5), Dec 2 has S06 S07 R09 R10 and the aborted run.
TEST(YieldTest, TenHandMadeUnits) {
    line::YieldCounter hardware(false);
    for (const auto& run : TenUnitRuns()) hardware.Add(run);
    const std::vector<line::YieldRow> rows = hardware.Rows();
    ASSERT_EQ(rows.size(), 3u);
    const line::YieldRow& all = rows.back();
    EXPECT_EQ(all.units, 9u);
    EXPECT_EQ(all.firstPass, 4u);
    EXPECT_EQ(all.finalPass, 7u);
    EXPECT_EQ(all.retested, 3u);
    EXPECT_EQ(all.aborted, 1u);
    EXPECT_EQ(all.attempts, 13u);
    EXPECT_NEAR(all.FirstPassYield(), 4.0 / 9, 1e-12);
    EXPECT_NEAR(all.RetestRate(), 3.0 / 9, 1e-12);
    EXPECT_EQ(hardware.virtualLeftOut(), 1u);
    EXPECT_EQ(rows[0].group, "2026-12-01");
    EXPECT_EQ(rows[0].units, 5u);
    EXPECT_EQ(rows[0].firstPass, 2u);
    EXPECT_EQ(rows[0].finalPass, 5u);
    EXPECT_EQ(rows[1].units, 4u);
    EXPECT_EQ(rows[1].aborted, 1u);

    line::YieldCounter withVirtual(true);
    for (const auto& run : TenUnitRuns()) withVirtual.Add(run);
    const line::YieldRow everything = withVirtual.Rows().back();
    EXPECT_EQ(everything.units, 10u);
    EXPECT_EQ(everything.firstPass, 4u);
    EXPECT_EQ(everything.finalPass, 7u);
    EXPECT_EQ(withVirtual.virtualLeftOut(), 0u);
}

// Units per verdict, each unit once (S05 failed adc.3v3-low twice): adc.3v3-low S03 S05 S06 = 3,
// tool-exit S04 R10 = 2, stream.errors-high S05 = 1; of 6: 50 %, 33 %, 17 %; cumulative 50 %,
// 83 %, 100 %. With S08 stream.errors-high ties tool-exit at 2 and comes first by name.
TEST(ParetoTest, TenHandMadeUnitsInOrder) {
    for (bool includeVirtual : {false, true}) {
        std::map<std::string, std::set<std::string>> units;
        for (const auto& run : line_test::TenUnits()) {
            if (run.virtualRun && !includeVirtual) continue;
            for (const auto& verdict : run.verdicts) units[verdict].insert(line::UnitKey(run.serial, run.runId));
        }
        std::vector<std::pair<std::string, uint64_t>> counts;
        for (const auto& [verdict, set] : units) counts.emplace_back(verdict, set.size());
        const std::vector<line::ParetoRow> rows = line::BuildPareto(counts);
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows[0].verdict, "adc.3v3-low");
        EXPECT_EQ(rows[0].units, 3u);
        if (!includeVirtual) {
            EXPECT_EQ(rows[1].verdict, "tool-exit");
            EXPECT_NEAR(rows[0].share, 0.5, 1e-12);
            EXPECT_NEAR(rows[1].cumulative, 5.0 / 6, 1e-12);
        } else {
            EXPECT_EQ(rows[1].verdict, "stream.errors-high");
            EXPECT_EQ(rows[2].verdict, "tool-exit");
            EXPECT_NEAR(rows[1].cumulative, 5.0 / 7, 1e-12);
        }
        EXPECT_NEAR(rows[2].cumulative, 1.0, 1e-12);
    }
}

// In units of σ about a centre of 0: -3.1 breaks rule 1; 2.1 _ 2.2 rule 2 at the second;
// 2.2 _ 1.5 1.2 1.3 and _ 1.5 1.2 1.3 1.1 rule 3 at their ends; the eight values from 1.5 on
// lie above the centre, rule 4 at the eighth.
TEST(ControlChartTest, WesternElectricRulesFlagWhereTheRunEnds) {
    const std::vector<double> z = {0.1, -3.1, 0.1, 2.1, 0.1, 2.2, -0.5, 1.5, 1.2, 1.3, 1.1, 0.2, 0.3, 0.4, 0.5};
    std::vector<double> values;
    for (double v : z) values.push_back(10 + 0.5 * v);   // mean 10, σ 0.5
    std::vector<uint8_t> flags;
    const line::RuleCounts counts = line::WesternElectric(values, 10, 0.5, &flags);
    const std::vector<std::vector<size_t>> expected = {{}, {1}, {5}, {9, 10}, {14}};
    for (int rule = 1; rule <= 4; ++rule) {
        std::vector<size_t> flagged;
        for (size_t i = 0; i < flags.size(); ++i) {
            if (flags[i] & (1 << rule)) flagged.push_back(i);
        }
        EXPECT_EQ(expected[rule], flagged) << "rule " << rule;
        EXPECT_EQ(expected[rule].size(), counts.rule[rule]);
    }
}

}  // namespace
