// tests/plan/plan_verdict_process_test.cc: what a line trusts kelvotest-plan's reports for,
// through real runs: every report valid against its published schema for any bytes and
// readings, time stamps that are the run's own, and the stream's figures (the first error,
// the throughput series) as the scanner produced them.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tests/plan/plan_run.h"
#include "tests/support/pty_process.h"
#include "tests/support/temp_files.h"

namespace {

using nlohmann::json;

using plan_test::Artifacts;
using plan_test::ExpectReportsValid;
using plan_test::Plan;

// The step artifacts of one kind ("measurement", "measurementSeriesElement"), in order.
std::vector<json> StepArtifacts(const std::vector<json>& artifacts, const std::string& kind) {
    std::vector<json> found;
    for (const json& a : artifacts) {
        if (a.contains("testStepArtifact") && a["testStepArtifact"].contains(kind)) found.push_back(a["testStepArtifact"][kind]);
    }
    return found;
}

// A transcript of a tool that brought the scanner up and then printed `lines`.
std::string BroughtUp(const std::string& lines) {
    return "ksutest: Init_Interface success!\nksutest: \nHardwareVersion:            0x0300\n"
           "FirmwareVersion:            0x0104\nDllVersion:                 0x0104\n"
           "USB-DriverVersion:          0x0210!\n\n" + lines;
}

// A stand-in for the tool that prints `transcript` as its standard error and exits 0.
std::string FakeTool(const TempDir& dir, const std::string& name, const std::string& transcript) {
    const std::string text = dir.WriteText(name + ".txt", transcript);
    const std::string tool = dir.WriteText(name, "#!/bin/sh\ncat '" + text + "' >&2\n");
    chmod(tool.c_str(), 0755);
    return tool;
}

constexpr const char* kRailsPlan = R"(name = "rails"
[dut]
part = "SC-3"
[dut.info]
line = "L2"
[[step]]
name = "rails"
args = ["-adread", "-trd"]
[step.limits]
"adc.3v3" = [3.2, 3.4]
)";

// Bytes that are not UTF-8 and characters that XML cannot carry, from the command line and
// from the tool, and a reading that is not a number: all three reports stay valid, and each
// shows a byte that is not UTF-8 as U+FFFD.
TEST(PlanVerdictProcess, EveryReportIsValidForAnyBytesAndReadings) {
    TempDir dir;
    const std::string plan = dir.WriteText("rails.toml", kRailsPlan);
    const std::string rails = "ksutest: AD Channel 3,3V in V: 3.300000\nksutest: I2C_TEMPread: Value: 25\n";
    const std::string latin1 = FakeTool(dir, "latin1", BroughtUp(rails + "ksutest: Error: -601 Ger\xe4t antwortet nicht\x01\n"));
    const std::string nan = FakeTool(dir, "nan", BroughtUp("ksutest: AD Channel 3,3V in V: nan\n"));
    const struct {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        const char* shown;   // as junit.xml and report.html must show it
    } kCases[] = {
        {"virtual scanner", {"--virtual", "--serial", "SN0001"}, 0, "SN0001"},
        {"serial not UTF-8", {"--virtual", "--serial", "SN\xff", "--station", "bench\x01"}, 0, "SN\xEF\xBF\xBD"},
        {"device error in Windows-1252", {"--tool", latin1, "--serial", "SN2"}, 1, "Ger\xEF\xBF\xBDt antwortet nicht?"},
        {"reading not a number", {"--tool", nan, "--serial", "SN3"}, 1, "adc.3v3 = nan V is not a finite number"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.File(std::string("out-") + c.name);
        std::vector<std::string> args{plan, "--out", out};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult r = RunToTheEnd(Plan(args), 60000);
        ASSERT_EQ(c.exitCode, r.exitCode) << r.out << r.err;
        ExpectReportsValid(out);
        EXPECT_NE(std::string::npos, ReadFileText(out + "/junit.xml").find(c.shown));
        EXPECT_NE(std::string::npos, ReadFileText(out + "/report.html").find(c.shown));
        // [dut.info] is the DUT's metadata in every report.
        EXPECT_NE(std::string::npos, ReadFileText(out + "/junit.xml").find("<property name=\"dut.info.line\" value=\"L2\"/>"));
        json start;
        for (const json& a : Artifacts(out + "/ocp.jsonl")) {
            if (a.contains("testRunArtifact") && a["testRunArtifact"].contains("testRunStart")) start = a["testRunArtifact"]["testRunStart"];
        }
        EXPECT_EQ("L2", start["dutInfo"]["metadata"].value("line", "")) << start.dump();
        EXPECT_NE(std::string::npos, ReadFileText(out + "/report.html").find("<th>DUT line</th><td>L2</td>"));
    }
}

// "2026-12-09T19:46:33.123Z" (OCP) or "2026-12-09T19:46:33" (JUnit, UTC) as a time point.
std::chrono::system_clock::time_point ParseUtc(const std::string& text) {
    std::tm utc{};
    int millis = 0;
    EXPECT_GE(std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d", &utc.tm_year, &utc.tm_mon, &utc.tm_mday,
                          &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &millis), 6) << text;
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    return std::chrono::system_clock::from_time_t(timegm(&utc)) + std::chrono::milliseconds(millis);
}

// Every time stamp in the reports lies within the run, as the test's own clock saw it.
TEST(PlanVerdictProcess, TimestampsAreTheRunsOwn) {
    TempDir dir;
    const std::string plan = dir.WriteText("rails.toml", kRailsPlan);
    const auto before = std::chrono::system_clock::now() - std::chrono::seconds(1);
    ASSERT_EQ(0, RunToTheEnd(Plan({plan, "--virtual", "--out", dir.File("out")}), 60000).exitCode);
    const auto after = std::chrono::system_clock::now() + std::chrono::seconds(1);
    std::vector<std::string> stamps;
    for (const json& a : Artifacts(dir.File("out/ocp.jsonl"))) stamps.push_back(a["timestamp"]);
    const std::string junit = ReadFileText(dir.File("out/junit.xml"));
    const std::regex kJUnitStamp("timestamp=\"([^\"]+)\"");
    for (auto it = std::sregex_iterator(junit.begin(), junit.end(), kJUnitStamp); it != std::sregex_iterator(); ++it) {
        stamps.push_back((*it)[1]);
    }
    ASSERT_GT(stamps.size(), 5u);
    for (const std::string& stamp : stamps) {
        const auto at = ParseUtc(stamp);
        EXPECT_TRUE(at >= before && at <= after) << stamp;
    }
}

// A stream at a steady 2 MB/s with a word corrupted every 300000 words: the OCP throughput
// series draws 2 MB/s in every interval, and stream.first_error_position is the run's first
// error, not a later interval's.
TEST(PlanVerdictProcess, StreamFiguresAreTheScannersOwn) {
    TempDir dir;
    const std::string plan = dir.WriteText("stream.toml", "name = \"stream\"\n[[step]]\nname = \"stream\"\nargs = [\"-scan\"]\n"
                                                          "duration = 5\nallow_errors = true\n");
    const ProcessResult r = RunToTheEnd(
        Plan({plan, "--virtual", "--out", dir.File("out")},
             {"KELVOSIM=stream.rate = 2000000; stream.fifo = 40000000; stream.corrupt = every 300000"}), 60000);
    ASSERT_EQ(0, r.exitCode) << r.out << r.err;
    ExpectReportsValid(dir.File("out"));
    const auto artifacts = Artifacts(dir.File("out/ocp.jsonl"));
    const auto elements = StepArtifacts(artifacts, "measurementSeriesElement");
    ASSERT_GE(elements.size(), 3u);
    for (const json& element : elements) EXPECT_NEAR(2e6, element["value"].get<double>(), 2e6 * 0.05) << element;
    std::vector<json> firstErrors;
    for (const json& m : StepArtifacts(artifacts, "measurement")) {
        if (m["name"] == "stream.first_error_position") firstErrors.push_back(m);
    }
    ASSERT_EQ(1u, firstErrors.size());
    EXPECT_EQ(2 * 300000, firstErrors[0]["value"].get<int64_t>());   // the first corrupted word, in bytes
    int reportsWithAnError = 0;
    for (const json& element : elements) reportsWithAnError += element["metadata"].contains("firstErrorPosition") ? 1 : 0;
    EXPECT_GE(reportsWithAnError, 2);   // later intervals had first errors of their own
}

}  // namespace
