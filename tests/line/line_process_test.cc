// tests/line/line_process_test.cc: the collector as a process, through the faults a line
// meets: killed at random points and restarted, its PostgreSQL stopped and started, four
// collectors at once, and a full disk under the SQLite file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <thread>

#include "line/run_files.h"
#include "tests/line/line_test_support.h"

namespace linetest {
namespace {

using line::Engine;

size_t RunsIn(const std::string& folder) { return line::RunFolders(folder).size(); }

void PublishRuns(const std::string& spool, int first, int count) {
    const std::string base = PassingRun();
    for (int i = first; i < first + count; ++i) Publish(spool, RunIdFor(i), RunWith(RunIdFor(i), "SN" + std::to_string(i), base));
}

class CollectorTest : public StoreTest {};

TEST_P(CollectorTest, KilledAtRandomPointsAndRestartedStoresEveryRunExactlyOnce) {
    const std::string spool = dir_.File("spool");
    PublishRuns(spool, 0, 1000);
    std::mt19937 random(20261209);
    for (int restart = 0; restart < 20; ++restart) {
        const pid_t pid = StartLine({"watch", "--once", "--db", url_, spool}, dir_.File("watch.out"));
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 150)(random)));
        ::kill(pid, SIGKILL);
        WaitFor(pid);
    }
    const Result last = RunLine({"watch", "--once", "--db", url_, spool});
    ASSERT_EQ(last.status, 0) << last.err;
    EXPECT_EQ(RunsIn(spool + "/new"), 0u);
    EXPECT_EQ(RunsIn(spool + "/cur"), 1000u);
    EXPECT_EQ(RunsIn(spool + "/bad"), 0u);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM runs"), 1000);
    EXPECT_EQ(Count("SELECT COUNT(DISTINCT run_id) FROM runs"), 1000);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM measurements"), 1000 * Count("SELECT COUNT(*) FROM measurements WHERE run = 1"));
}

INSTANTIATE_TEST_SUITE_P(Engines, CollectorTest, ::testing::Values(Engine::kSqlite, Engine::kPostgresql), EngineName);

TEST(CollectorPostgreSQL, ServerStoppedDuringWatchAndStartedAgainLosesAndDoublesNothing) {
    OwnPostgres server;
    std::string skip;
    if (!server.Started(&skip)) {
        if (skip.empty()) FAIL() << "the test server did not start";
        GTEST_SKIP() << skip;
    }
    TempDir dir;
    const std::string spool = dir.File("spool");
    PublishRuns(spool, 0, 50);
    const pid_t watch = StartLine({"watch", "--db", server.Url(), spool}, dir.File("watch.out"));
    auto waitUntil = [&](size_t stored) {
        for (int i = 0; i < 600 && RunsIn(spool + "/cur") < stored; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return RunsIn(spool + "/cur");
    };
    ASSERT_EQ(waitUntil(50), 50u);
    server.Pause();
    PublishRuns(spool, 50, 50);
    // The collector finds the store gone and says so: the runs wait.
    for (int i = 0; i < 600 && ReadFileText(dir.File("watch.out.err")).find("fails") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(RunsIn(spool + "/cur"), 50u);
    server.Resume();
    EXPECT_EQ(waitUntil(100), 100u);
    kill(watch, SIGTERM);
    EXPECT_EQ(WaitFor(watch), 0);
    const std::string err = ReadFileText(dir.File("watch.out.err"));
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << "said once, and once that it is back:\n" << err;
    const Result list = RunLine({"runs", "--db", server.Url(), "--format", "csv"});
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 101) << list.err;
    EXPECT_EQ(RunsIn(spool + "/new"), 0u);
}

TEST(CollectorPostgreSQL, FourCollectorsAtOnceFromOneSpoolAndFromFourSpoolsCountExactly) {
    std::string skip;
    const std::string url = FreshPostgresDatabase(&skip);
    if (url.empty()) GTEST_SKIP() << skip;
    TempDir dir;
    PublishRuns(dir.File("shared"), 0, 200);
    for (int s = 0; s < 4; ++s) PublishRuns(dir.File("spool" + std::to_string(s)), 1000 + 100 * s, 100);
    std::vector<pid_t> collectors;
    for (int c = 0; c < 4; ++c) {
        collectors.push_back(StartLine({"watch", "--once", "--db", url, dir.File("shared")}, dir.File("a" + std::to_string(c))));
        collectors.push_back(StartLine({"watch", "--once", "--db", url, dir.File("spool" + std::to_string(c))},
                                       dir.File("b" + std::to_string(c))));
    }
    for (pid_t pid : collectors) EXPECT_EQ(WaitFor(pid), 0);
    EXPECT_EQ(RunsIn(dir.File("shared/cur")), 200u);
    EXPECT_EQ(RunsIn(dir.File("shared/new")) + RunsIn(dir.File("shared/bad")), 0u);
    const Result list = RunLine({"runs", "--db", url, "--format", "csv"});
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 1 + 200 + 400) << list.err;
}

TEST(CollectorSQLite, FullDiskStopsWithAClearMessageAndLeavesSpoolAndStoreSound) {
    TempDir dir;
    const std::string disk = dir.File("disk");
    std::filesystem::create_directories(disk);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    const std::string spool = dir.File("spool");
    PublishRuns(spool, 0, 200);
    const std::string url = "sqlite:" + disk + "/results.db";
    const Result watch = RunLine({"watch", "--once", "--db", url, spool});
    const size_t stored = RunsIn(spool + "/cur");
    EXPECT_EQ(watch.status, 2);
    EXPECT_NE(watch.err.find("disk is full"), std::string::npos) << watch.err;
    EXPECT_LT(stored, 200u);
    EXPECT_EQ(RunsIn(spool + "/new") + stored, 200u);
    EXPECT_EQ(RunsIn(spool + "/bad"), 0u);
    const Result ingest = RunLine({"ingest", "--db", url, spool + "/new"});
    EXPECT_EQ(ingest.status, 2);
    EXPECT_NE(ingest.err.find("disk is full"), std::string::npos) << ingest.err;
    {
        std::string error, check;
        auto store = line::Store::Open(url, &error);
        ASSERT_TRUE(store) << error;
        EXPECT_TRUE(store->Query("PRAGMA integrity_check", {}, [&](const line::Row& row) { check = row.Text(0); }, &error));
        EXPECT_EQ(check, "ok");
        int64_t runs = -1;
        store->Query("SELECT COUNT(*) FROM runs", {}, [&](const line::Row& row) { runs = row.Int(0); }, &error);
        EXPECT_EQ(static_cast<size_t>(runs), stored);
    }
    umount(disk.c_str());
}

}  // namespace
}  // namespace linetest
