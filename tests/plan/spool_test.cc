// tests/plan/spool_test.cc: publishing runs into a spool: whole and only once, with the logs
// only when asked, and through the outbox when the spool's share cannot be reached.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "plan/spool.h"

namespace {

namespace fs = std::filesystem;

class SpoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("kelvo-spool-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "spool" / "new");
        settings_ = {(root_ / "spool").string(), false, (root_ / "outbox").string()};
    }
    void TearDown() override { fs::remove_all(root_); }
    // A finished run folder as kelvotest-plan leaves it.
    std::string MakeRun(const std::string& name) {
        const fs::path run = root_ / name;
        fs::create_directories(run / "01-bring-up");
        for (const char* file : {"ocp.jsonl", "plan.toml", "junit.xml", "report.html", "01-bring-up/stderr.txt",
                                 "01-bring-up/stdout.txt", "01-bring-up/scan.bin"}) {
            std::ofstream(run / file) << name << " " << file << "\n";
        }
        return run.string();
    }
    size_t Count(const fs::path& folder) {
        std::error_code ec;
        return static_cast<size_t>(std::distance(fs::directory_iterator(folder, ec), fs::directory_iterator()));
    }
    fs::path root_;
    plan::SpoolSettings settings_;
};

TEST_F(SpoolTest, RunIsPublishedWholeIntoNewWithTheStepsLogsOnlyWhenAsked) {
    const plan::SpoolResult plain = plan::PublishRun(MakeRun("a"), "run-a", settings_);
    EXPECT_TRUE(plain.published);
    EXPECT_EQ(plain.line, "spool: run run-a published to " + (root_ / "spool" / "new" / "run-a").string());
    EXPECT_EQ(Count(root_ / "spool" / "new" / "run-a"), 4u);
    EXPECT_EQ(Count(root_ / "spool" / "tmp"), 0u);
    settings_.logs = true;
    EXPECT_TRUE(plan::PublishRun(MakeRun("b"), "run-b", settings_).published);
    EXPECT_TRUE(fs::exists(root_ / "spool" / "new" / "run-b" / "01-bring-up" / "stderr.txt"));
    EXPECT_FALSE(fs::exists(root_ / "spool" / "new" / "run-b" / "01-bring-up" / "scan.bin"));
    // Published once: a second publication of the same run, or of one the collector has taken, adds nothing.
    fs::create_directories(root_ / "spool" / "cur");
    fs::rename(root_ / "spool" / "new" / "run-a", root_ / "spool" / "cur" / "run-a");
    EXPECT_TRUE(plan::PublishRun(MakeRun("a"), "run-a", settings_).published);
    EXPECT_EQ(Count(root_ / "spool" / "new"), 1u);
    EXPECT_FALSE(plan::PublishRun(MakeRun("c"), "../c", settings_).published);
}

TEST_F(SpoolTest, UnreachableShareKeepsTheRunInTheOutboxAndTheNextRunSendsIt) {
    fs::remove_all(root_ / "spool" / "new");   // the share is not mounted: its mount point is empty
    const plan::SpoolResult kept = plan::PublishRun(MakeRun("a"), "run-a", settings_);
    EXPECT_FALSE(kept.published);
    EXPECT_TRUE(kept.waiting);
    EXPECT_NE(kept.line.find("waits in the outbox " + settings_.outbox), std::string::npos) << kept.line;
    EXPECT_EQ(Count(root_ / "spool"), 0u) << "nothing half-written on the share";
    EXPECT_TRUE(plan::FlushOutbox(settings_).waiting);   // still unreachable: it keeps waiting
    EXPECT_EQ(Count(fs::path(settings_.outbox) / "new" / "run-a"), 4u);
    // The share is back: the next run sends the waiting one first, then itself.
    fs::create_directories(root_ / "spool" / "new");
    const plan::SpoolResult flushed = plan::FlushOutbox(settings_);
    EXPECT_EQ(flushed.line, "spool: sent 1 waiting run from the outbox to " + settings_.dir);
    EXPECT_TRUE(plan::PublishRun(MakeRun("b"), "run-b", settings_).published);
    EXPECT_EQ(Count(root_ / "spool" / "new"), 2u);
    EXPECT_EQ(Count(root_ / "spool" / "new" / "run-a"), 4u);
    EXPECT_EQ(Count(fs::path(settings_.outbox) / "new"), 0u);
    EXPECT_EQ(plan::FlushOutbox(settings_).line, "");
}

TEST_F(SpoolTest, OutboxCopyOfARunTheSpoolHoldsAlreadyIsNotSentTwice) {
    // A flush that died after its rename and before it removed the outbox's copy.
    fs::remove_all(root_ / "spool" / "new");
    plan::PublishRun(MakeRun("a"), "run-a", settings_);
    fs::create_directories(root_ / "spool" / "new");
    fs::copy(fs::path(settings_.outbox) / "new" / "run-a", root_ / "spool" / "new" / "run-a");
    std::ofstream(root_ / "spool" / "new" / "run-a" / "ocp.jsonl") << "the spool's copy\n";
    EXPECT_TRUE(plan::FlushOutbox(settings_).published);
    std::ifstream copy(root_ / "spool" / "new" / "run-a" / "ocp.jsonl");
    std::string text;
    std::getline(copy, text);
    EXPECT_EQ(text, "the spool's copy");
    EXPECT_EQ(Count(fs::path(settings_.outbox) / "new"), 0u);
}

}  // namespace
