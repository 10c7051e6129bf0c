// tests/line/ocp_run_test.cc: what the reader refuses, and quickly, in bounded memory; the
// digest against FIPS 180-4's vectors; the store's one form of time.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "line/ocp_run.h"
#include "line/times.h"
#include "tests/line/line_test_support.h"

namespace linetest {
namespace {

long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(OcpRun, NotARunIsRefusedWithItsReasonWithoutHangingOrFillingMemory) {
    TempDir dir;
    {
        FILE* f = std::fopen(dir.File("one-line.jsonl").c_str(), "wb");
        const std::string chunk(1 << 20, 'x');
        std::fputs("{\"schemaVersion\":{\"major\":2,\"minor\":0}}\n{\"a\":\"", f);
        for (int i = 0; i < 100; ++i) std::fwrite(chunk.data(), 1, chunk.size(), f);
        std::fclose(f);
    }
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink(dir.WriteText("real.jsonl", PassingRun()).c_str(), dir.File("link").c_str()), 0);
    mkdir(dir.File("folder").c_str(), 0755);
    const std::string whole = PassingRun();
    const struct {
        std::string path, reason;
    } cases[] = {
        {dir.File("one-line.jsonl"), "line 2 is longer than 1 MiB"},
        {dir.File("fifo"), "is not a regular file"},
        {dir.File("link"), "is a link"},
        {dir.File("folder"), "is a folder"},
        {dir.WriteText("empty.jsonl", ""), "is empty"},
        {dir.WriteText("text.jsonl", "hello\n"), "damaged at line 1"},
        {dir.WriteText("junit.jsonl", "{\"testsuites\":1}\n"), "not OCP 2.0 output"},
        {dir.WriteText("damaged.jsonl", whole.substr(0, whole.find("\n", 200) + 1) + "{\"sequence\n" + whole),
         "damaged at line 3"},
        {dir.WriteText("nostart.jsonl", whole.substr(0, whole.find('\n') + 1)), "no testRunStart"},
    };
    const long before = PeakRssKb();
    const auto start = std::chrono::steady_clock::now();
    for (const auto& c : cases) {
        line::RunRecord run;
        std::string error;
        EXPECT_FALSE(line::ReadOcpRun(c.path, &run, &error)) << c.path;
        EXPECT_NE(error.find(c.path + ": "), std::string::npos) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    // Bounded by the line cap, not by the file: far less than its 100 MB.
    EXPECT_LT(PeakRssKb() - before, 16 * 1024);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));   // no FIFO wait
}

TEST(OcpRun, RunReadsItsIdentityLimitsAndVerdicts) {
    TempDir dir;
    line::RunRecord run;
    std::string error;
    ASSERT_TRUE(line::ReadOcpRun(dir.WriteText("r.jsonl", FailingRun()), &run, &error)) << error;
    EXPECT_EQ(run.runId, "d2b7e914-5a60-4c8f-b1e3-7a9c04f6d583");
    EXPECT_EQ(run.serial, "SN0002");
    EXPECT_EQ(run.part, "SC-3");
    EXPECT_EQ(run.station, "st2");
    EXPECT_EQ(run.operatorName, "bob");
    EXPECT_EQ(run.planName, "scanner final test");
    EXPECT_EQ(run.planRevision, "3");
    EXPECT_EQ(run.source, "virtual");
    EXPECT_EQ(run.result, "FAIL");
    EXPECT_EQ(run.steps.size(), 6u);
    ASSERT_EQ(run.failures.size(), 1u);
    EXPECT_EQ(run.failures[0].verdict, "adc.3v3-low");
    const auto adc = std::find_if(run.measurements.begin(), run.measurements.end(),
                                  [](const line::MeasurementRecord& m) { return m.name == "adc.3v3"; });
    ASSERT_NE(adc, run.measurements.end());
    EXPECT_EQ(adc->limitMin, 3.2);
    EXPECT_EQ(adc->limitMax, 3.4);
    EXPECT_EQ(adc->result, "FAIL");
    EXPECT_EQ(adc->unit, "V");
}

TEST(Times, TimestampsBecomeUtcWithMilliseconds) {
    const std::pair<const char*, const char*> cases[] = {
        {"2026-12-07T18:33:07.123Z", "2026-12-07T18:33:07.123Z"},
        {"2026-12-07T19:33:07.1+01:00", "2026-12-07T18:33:07.100Z"},
        {"2026-12-31T23:30:00-01:00", "2027-01-01T00:30:00.000Z"},
        {"2026-12-07t18:33:07.123456789z", "2026-12-07T18:33:07.123Z"},
        {"2026-12-31T23:59:60.500Z", "2027-01-01T00:00:00.500Z"},   // a leap second, in the stored form's shape
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(line::NormaliseTimestamp(in), out) << in;
    for (const char* bad : {"2026-12-07", "2026-02-30T00:00:00Z", "2026-02-30T00:00:00.000Z", "yesterday", "2026-12-07T25:00:00Z"}) {
        EXPECT_EQ(line::NormaliseTimestamp(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(line::ParseTimeArgument("2026-12-07"), "2026-12-07T00:00:00.000Z");
    EXPECT_EQ(line::ParseTimeArgument("2026-12-07 06:00"), "2026-12-07T06:00:00.000Z");
    EXPECT_LT(*line::ParseTimeArgument("2d"), *line::ParseTimeArgument("1d"));
}

}  // namespace
}  // namespace linetest
