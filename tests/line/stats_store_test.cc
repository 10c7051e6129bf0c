// tests/line/stats_store_test.cc: yield, pareto and capability from a hand-made store of ten
// units (tests/line/ten_units.h), against SQLite and PostgreSQL: the engines group, count and
// order, and the figures must be the ones worked out by hand.
#include <cstdlib>
#include <ctime>

#include "line/stats_query.h"
#include "tests/line/line_test_support.h"
#include "tests/line/ten_units.h"

namespace {

using line::Param;

class StatsStoreTest : public linetest::StoreTest {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);   // days and shifts are local time
        tzset();
        linetest::StoreTest::SetUp();
        if (store_) Fill();
    }

    int64_t Insert(const line_test::HandRun& run, const char* digest) {
        // kelvotest-plan stores a stop as ABORTED with a "run-aborted" error; another program's
        // run that ended in ERROR is ABORTED with status ERROR and no such error.
        const std::string result = run.result;
        const bool error = result == "ERROR";
        const std::string stored = result == "PASS" || result == "FAIL" ? result : "ABORTED";
        Exec("INSERT INTO runs (run_id, fingerprint, serial, station, plan_name, limits_digest, source, started_at,"
             " result, ocp_status, ocp_result, ingested_at) VALUES (:1, :2, :3, :4, :5, :6, :7, :8, :9, :10, :11, :12)",
             {run.runId, "f", *run.serial ? Param(run.serial) : Param(), run.station, "final test", digest,
              run.virtualRun ? "virtual" : "hardware", std::string(run.start).replace(19, 1, ".000Z"), stored,
              stored == "ABORTED" ? "ERROR" : "COMPLETE", error ? "FAIL" : stored, "2026-12-09T00:00:00.000Z"});
        const int64_t id = Count("SELECT id FROM runs WHERE run_id = :1", {run.runId});
        int64_t seq = 0;
        for (const std::string& verdict : run.verdicts) {
            Exec("INSERT INTO failures (run, step, seq, verdict) VALUES (:1, 1, :2, :3)", {id, seq++, verdict});
        }
        if (result == "ABORTED") Exec("INSERT INTO failures (run, seq, verdict) VALUES (:1, :2, 'run-aborted')", {id, seq});
        return id;
    }

    void Exec(const std::string& sql, const std::vector<Param>& params) {
        std::string error;
        ASSERT_TRUE(store_->Execute(sql, params, &error)) << error << "\n" << sql;
    }

    void Value(int64_t run, int64_t seq, double value, double max, bool marginal) {
        Exec("INSERT INTO measurements (run, step, seq, name, value, value_text, unit, limit_min, limit_max,"
             " marginal_max, result, marginal) VALUES (:1, 1, :2, 'adc.3v3', :3, '', 'V', 3.2, :4, 3.315, 'PASS', :5)",
             {run, seq, value, max, int64_t{marginal}});
    }

    // The ten units; the five hand-worked adc.3v3 values of stats_test.cc in the runs r01,
    // r02, r03a, r03b, r04a (in time order) under one digest, and one value under another.
    void Fill() {
        const double values[] = {3.30, 3.32, 3.28, 3.31, 3.29};
        size_t next = 0;
        for (const auto& run : line_test::TenUnits()) {
            const int64_t id = Insert(run, run.runId == std::string("r10") ? "sha256:b" : "sha256:a");
            if (next < std::size(values)) {
                Value(id, 100, values[next], 3.38, values[next] > 3.315);
                ++next;
            } else if (run.runId == std::string("r10")) {
                Value(id, 100, 3.3, 3.4, false);
            }
        }
    }
};

// Hardware: 9 units, first pass 4, final 7, retested 3, one aborted run, 13 attempts (the
// ERROR run of S04 among them); with the virtual unit 10 units.
TEST_P(StatsStoreTest, YieldOfTenHandMadeUnits) {
    if (!store_) return;
    std::string error;
    std::vector<line::YieldRow> rows;
    ASSERT_TRUE(line::QueryYield(*store_, {}, line::GroupBy::kNone, &rows, &error)) << error;
    ASSERT_EQ(1u, rows.size());   // without --by, the plan's total alone
    const line::YieldRow& all = rows.back();
    EXPECT_EQ("final test", all.plan);
    EXPECT_EQ(9u, all.units);
    EXPECT_EQ(4u, all.firstPass);
    EXPECT_EQ(7u, all.finalPass);
    EXPECT_EQ(3u, all.retested);
    EXPECT_EQ(13u, all.attempts);
    EXPECT_EQ(1u, all.aborted);
    uint64_t leftOut = 0;
    ASSERT_TRUE(line::CountVirtualLeftOut(*store_, {}, &leftOut, &error)) << error;
    EXPECT_EQ(1u, leftOut);

    line::StatsFilter withVirtual;
    withVirtual.includeVirtual = true;
    rows.clear();
    ASSERT_TRUE(line::QueryYield(*store_, withVirtual, line::GroupBy::kDay, &rows, &error)) << error;
    ASSERT_EQ(3u, rows.size());
    EXPECT_EQ("2026-12-01", rows[0].group);
    EXPECT_EQ(5u, rows[0].units);
    EXPECT_EQ(2u, rows[0].firstPass);
    EXPECT_EQ(5u, rows[1].units);   // S06 S07 S08 R09 R10
    EXPECT_EQ(10u, rows[2].units);

    line::StatsFilter station;
    station.station = "st2";   // the runs on st2: units S02 S04 S05 S07 R10
    rows.clear();
    ASSERT_TRUE(line::QueryYield(*store_, station, line::GroupBy::kStation, &rows, &error)) << error;
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ("st2", rows[0].group);
    EXPECT_EQ(5u, rows[0].units);
}

// adc.3v3-low S03 S05 S06 = 3, tool-exit S04 R10 = 2, stream.errors-high S05 = 1; the aborted
// run's error is no failure of a unit.
TEST_P(StatsStoreTest, ParetoOfTenHandMadeUnits) {
    if (!store_) return;
    std::string error;
    std::vector<line::ParetoRow> rows;
    ASSERT_TRUE(line::QueryPareto(*store_, {}, &rows, &error)) << error;
    ASSERT_EQ(3u, rows.size());
    EXPECT_EQ("adc.3v3-low", rows[0].verdict);
    EXPECT_EQ(3u, rows[0].units);
    EXPECT_EQ("tool-exit", rows[1].verdict);
    EXPECT_EQ(2u, rows[1].units);
    EXPECT_EQ("stream.errors-high", rows[2].verdict);
    EXPECT_NEAR(5.0 / 6, rows[1].cumulative, 1e-12);
}

// The engine hands the values over in time order: the hand-worked Cpk needs that order. The
// value under the other digest is a row of its own.
TEST_P(StatsStoreTest, CapabilityPerDigestInTimeOrder) {
    if (!store_) return;
    std::string error;
    std::vector<line::CapabilityRow> rows;
    ASSERT_TRUE(line::QueryCapability(*store_, {}, {"adc.3v3"}, &rows, &error)) << error;
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ("sha256:a", rows[0].limitsDigest);
    EXPECT_EQ(5u, rows[0].figures.n);
    ASSERT_TRUE(rows[0].figures.cpk && rows[0].figures.ppk);
    EXPECT_NEAR(1.09382, *rows[0].figures.cpk, 1e-4);
    EXPECT_NEAR(1.68655, *rows[0].figures.ppk, 1e-4);
    EXPECT_NEAR(0.2, rows[0].figures.MarginalShare(), 1e-12);   // 3.32 only: the band has no lower edge
    EXPECT_EQ("sha256:b", rows[1].limitsDigest);
    EXPECT_EQ(1u, rows[1].figures.n);
}

INSTANTIATE_TEST_SUITE_P(Engines, StatsStoreTest,
                         ::testing::Values(line::Engine::kSqlite, line::Engine::kPostgresql), linetest::EngineName);

}  // namespace
