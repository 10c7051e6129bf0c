// tests/line/store_test.cc: the store against both engines: idempotent ingest, a different
// run under a known id refused, a cut run stored as ABORTED, hostile text kept exactly,
// history and the run list, and the schema's version.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "line/ingest.h"
#include "line/ocp_run.h"
#include "line/stats_query.h"
#include "tests/line/line_test_support.h"

namespace linetest {
namespace {

using line::Engine;
using line::Stored;

line::RunRecord Read(const std::string& path) {
    line::RunRecord run;
    std::string error;
    EXPECT_TRUE(line::ReadOcpRun(path, &run, &error)) << error;
    return run;
}

TEST_P(StoreTest, SameRunTwiceIsStoredOnceAndAnotherRunUnderItsIdIsRefused) {
    const line::RunRecord run = Read(dir_.WriteText("a.jsonl", PassingRun()));
    EXPECT_EQ(line::StoreRun(*store_, run).outcome, Stored::kNew);
    EXPECT_EQ(line::StoreRun(*store_, run).outcome, Stored::kAlready);
    // The same run id on other content: a station that reused an id, or a damaged copy.
    std::string other = PassingRun();
    other.replace(other.find("\"value\":0"), 9, "\"value\":7");
    const line::StoreResult conflict = line::StoreRun(*store_, Read(dir_.WriteText("b.jsonl", other)));
    EXPECT_EQ(conflict.outcome, Stored::kConflict);
    EXPECT_NE(conflict.message.find("6f1c2a8e-93b4-4d07-a5e2-0c7d9b3e1f42"), std::string::npos) << conflict.message;
    EXPECT_EQ(Count("SELECT COUNT(*) FROM runs"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM measurements"), static_cast<int64_t>(run.measurements.size()));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM steps WHERE result = 'PASS'"), 6);
    // The band as kelvotest-plan writes it: in the measurement's metadata, not its validators.
    EXPECT_EQ(Count("SELECT COUNT(*) FROM measurement_limits WHERE name = 'adc.3v3' AND limit_min = 3.2"
                    " AND marginal_min = 3.22 AND marginal_max = 3.38 AND marginal = 0"), 1);
    EXPECT_EQ(Count("SELECT runs FROM runs_per_hour WHERE source = 'virtual'"), 1);
}

TEST_P(StoreTest, RunCutShortIsStoredAsAbortedWithTheStepsThatFinished) {
    const std::string whole = FailingRun();
    // Killed while writing the fourth step: its last line is half there.
    const size_t cut = whole.find("\"testStepId\":\"3\"},\"timestamp\"");
    const line::RunRecord run = Read(dir_.WriteText("cut.jsonl", whole.substr(0, cut)));
    ASSERT_EQ(line::StoreRun(*store_, run).outcome, Stored::kNew);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM runs WHERE result = 'ABORTED' AND ocp_status IS NULL"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM steps WHERE status = 'COMPLETE'"), 3);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM failures WHERE verdict = 'adc.3v3-low' AND measurement = 'adc.3v3'"), 1);
}

TEST_P(StoreTest, HostileSerialsAreStoredAndShownExactlyAndTheTablesStayIntact) {
    const std::vector<std::string> serials = {"'; DROP TABLE runs; --", "a\"b'c\\d", "Prüfling ✓ 日本",
                                              "SN\xEF\xBF\xBD", "SN\x1b[2J", ":1 :name ?"};
    std::vector<std::string> args = {"ingest", "--db", url_};
    for (size_t i = 0; i < serials.size(); ++i) args.push_back(dir_.WriteText(std::to_string(i) + ".jsonl", RunWith(RunIdFor(int(i)), serials[i])));
    const Result ingest = RunLine(args);
    ASSERT_EQ(ingest.status, 0) << ingest.err;
    for (const std::string& serial : serials) {
        const Result history = RunLine({"history", serial, "--db", url_, "--json"});
        ASSERT_EQ(history.status, 0) << serial << history.err;
        const auto json = nlohmann::json::parse(history.out);
        EXPECT_EQ(json["serial"], serial);
        EXPECT_EQ(json["runs"].size(), 1u) << serial;
        EXPECT_EQ(Count("SELECT COUNT(*) FROM runs WHERE serial = :1", {serial}), 1);
    }
    // On a terminal the escape character is shown, never sent.
    const Result text = RunLine({"history", "SN\x1b[2J", "--db", url_});
    EXPECT_NE(text.out.find("SN\\x1b[2J"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM runs"), static_cast<int64_t>(serials.size()));
    // Bytes that are not UTF-8 are not JSON: such a file is refused with its line.
    std::string raw8 = RunWith(RunIdFor(99), "SN0001");
    for (size_t at = raw8.find("\"SN0001\""); at != std::string::npos; at = raw8.find("\"SN0001\"", at)) raw8.replace(at, 8, "\"SN\xff\"");
    const Result raw = RunLine({"ingest", "--db", url_, dir_.WriteText("raw.jsonl", raw8)});
    EXPECT_EQ(raw.status, 1);
    EXPECT_NE(raw.err.find("damaged at line 2"), std::string::npos) << raw.err;
}

TEST_P(StoreTest, HistoryShowsBothRunsOfARetestedUnitAndRunsFiltersThem) {
    std::string retest = RunWith(RunIdFor(2), "SN0002");
    for (size_t at = retest.find("2026-12-09T19:5"); at != std::string::npos; at = retest.find("2026-12-09T19:5", at)) {
        retest.replace(at, 15, "2026-12-09T20:5");   // an hour later
    }
    const Result ingest = RunLine({"ingest", "--db", url_, dir_.WriteText("fail.jsonl", FailingRun()),
                                   dir_.WriteText("pass.jsonl", retest)});
    ASSERT_EQ(ingest.status, 0) << ingest.err;
    const Result history = RunLine({"history", "SN0002", "--db", url_});
    ASSERT_EQ(history.status, 0) << history.err;
    const size_t fail = history.out.find("FAIL"), pass = history.out.find("PASS");
    ASSERT_NE(fail, std::string::npos) << history.out;
    EXPECT_LT(fail, pass) << "oldest first:\n" << history.out;
    EXPECT_NE(history.out.find("failed rails: adc.3v3-low: adc.3v3 = 2.90997 V, below its limits [3.2, 3.4]  "
                               "[value 2.90997 V, limits [3.2, 3.4]]"),
              std::string::npos) << history.out;
    const Result csv = RunLine({"runs", "--db", url_, "--result", "FAIL", "--format", "csv", "--since", "2026-12-09"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 2) << csv.out;
    EXPECT_NE(csv.out.find(",d2b7e914-5a60-4c8f-b1e3-7a9c04f6d583,SN0002,SC-3,st2,bob,scanner final test,3,FAIL,virtual,"),
              std::string::npos) << csv.out;
    const Result none = RunLine({"runs", "--db", url_, "--until", "2026-12-09T19:00Z", "--format", "json"});
    EXPECT_EQ(none.out, "[]\n");
    EXPECT_EQ(RunLine({"history", "SN0404", "--db", url_}).status, 1);
}

// kelvotest-plan's run of a step that failed twice and passed on its third attempt, on a
// station past its calibration: three steps stored as attempts 1-3 of 3, the run a first-pass
// pass with one retried step, and the station's facts in the run's row.
TEST_P(StoreTest, RetriedStepAndTheStationsFactsAreStoredAndCountedByTheRule) {
    const line::RunRecord run = Read(std::string(KELVO_LINE_TEST_DATA) + "/retried.jsonl");
    ASSERT_EQ(line::StoreRun(*store_, run).outcome, Stored::kNew);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM steps WHERE name = 'rails' AND attempts_allowed = 3 AND attempt = idx + 1"), 3);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM runs WHERE fixture_id = 'FX-07' AND calibration_due = '2026-12-01'"
                    " AND uncalibrated = 1"), 1);
    const Result listed = RunLine({"runs", "--db", url_, "--format", "json"});
    EXPECT_NE(listed.out.find("\"fixture_id\":\"FX-07\",\"limits_digest\""), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("\"station_facts\":{\"calibration\":\"PAST DUE\","), std::string::npos) << listed.out;
    std::string error;
    for (const line::GroupBy by : {line::GroupBy::kNone, line::GroupBy::kStep}) {
        std::vector<line::YieldRow> rows;
        ASSERT_TRUE(line::QueryYield(*store_, {}, by, &rows, &error)) << error;
        const line::YieldRow& all = rows.back();
        EXPECT_EQ(all.units, 1u);
        EXPECT_EQ(all.firstPass, 1u);
        EXPECT_EQ(all.attempts, 1u);
        EXPECT_EQ(all.steps, 1u);
        EXPECT_EQ(all.retriedSteps, 1u);
    }
}

TEST_P(StoreTest, StoreOfANewerSchemaIsRefused) {
    std::string error;
    // A store of version 1 is brought up to date: PostgreSQL gets the index of values with
    // limits, the runs their station's facts and the steps their attempts.
    ASSERT_TRUE(store_->Execute("DROP INDEX IF EXISTS measurements_with_limits", {}, &error)) << error;
    for (const char* later : {"runs DROP COLUMN fixture_id", "runs DROP COLUMN calibration_date",
                              "runs DROP COLUMN calibration_due", "runs DROP COLUMN uncalibrated",
                              "runs DROP COLUMN station_facts", "steps DROP COLUMN attempt",
                              "steps DROP COLUMN attempts_allowed"}) {
        ASSERT_TRUE(store_->Execute(std::string("ALTER TABLE ") + later, {}, &error)) << error;
    }
    ASSERT_TRUE(store_->Execute("DELETE FROM schema_version WHERE version > 1", {}, &error)) << error;
    store_ = line::Store::Open(url_, &error);
    ASSERT_NE(store_, nullptr) << error;
    EXPECT_EQ(Count("SELECT MAX(version) FROM schema_version"), 3);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM runs WHERE uncalibrated = 0 AND fixture_id IS NULL"),
              Count("SELECT COUNT(*) FROM runs"));
    if (GetParam() == Engine::kPostgresql) {
        EXPECT_EQ(Count("SELECT COUNT(*) FROM pg_indexes WHERE indexname = 'measurements_with_limits'"), 1);
    }
    ASSERT_TRUE(store_->Execute("INSERT INTO schema_version (version, applied_at) VALUES (99, 'later')", {}, &error)) << error;
    store_.reset();
    EXPECT_EQ(line::Store::Open(url_, &error), nullptr);
    EXPECT_NE(error.find("has schema version 99, newer than this program's 3"), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Engines, StoreTest, ::testing::Values(Engine::kSqlite, Engine::kPostgresql), EngineName);

}  // namespace
}  // namespace linetest
