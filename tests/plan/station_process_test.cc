// tests/plan/station_process_test.cc: kelvotest-plan as a station runs it: a scripted shift
// with serials on standard input, the same shift under a pseudo-terminal with the operator's
// answers typed, a step that passes on its third attempt as every report records it, and one
// plan per station. The tool is a script that plays the tool's transcripts, failing the runs
// it is told to, so that a unit's verdict is chosen by the test.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tests/plan/ocp_validator.h"
#include "tests/plan/plan_run.h"
#include "tests/support/pty_process.h"
#include "tests/support/temp_files.h"

namespace {

using nlohmann::json;
using plan_test::Artifacts;
using plan_test::ExpectReportsValid;

// Plays rails.txt (3.32 V) as the tool's transcript, or rail_low.txt (2.91 V) on the runs
// whose numbers FAIL_RUNS lists, and waits to be stopped on those HOLD_RUNS lists; the count of
// runs is kept in the station's folder.
constexpr const char* kTool = R"(#!/bin/sh
n=$(cat "$STATION_DIR/runs" 2>/dev/null || echo 0)
n=$((n + 1))
echo "$n" > "$STATION_DIR/runs"
case " $FAIL_RUNS " in
  *" $n "*) cat "$TRANSCRIPTS/rail_low.txt" >&2 ;;
  *) cat "$TRANSCRIPTS/rails.txt" >&2 ;;
esac
case " $HOLD_RUNS " in
  *" $n "*) exec sleep 300 ;;
esac
)";

constexpr const char* kPlan = R"(name = "station"
[dut]
part = "SC-3"
serial_pattern = "^SC3-[0-9]{6}$"
[[step]]
name = "rails"
args = ["-adread"]
retries = RETRIES
[step.limits]
"adc.3v3" = [3.2, 3.4]
)";

struct Station {
    TempDir dir;
    std::string plan;
    std::string holdRuns;

    explicit Station(const std::string& failRuns, int retries = 0, const std::string& prompt = "") {
        std::string text = std::regex_replace(kPlan, std::regex("RETRIES"), std::to_string(retries));
        if (!prompt.empty()) {
            text += "[[step]]\nname = \"cable\"\nprompt = \"" + prompt + "\"\n";
        }
        plan = dir.WriteText("station-plan.toml", text);
        dir.WriteText("tool", kTool);
        chmod(dir.File("tool").c_str(), 0755);
        failRuns_ = failRuns;
    }
    ToolRun Run(std::vector<std::string> args, const std::string& stdinFile = "") const {
        std::vector<std::string> all{plan, "--tool", dir.File("tool"), "--station", "bench-1"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<std::string> env{"STATION_DIR=" + dir.Path(), "FAIL_RUNS=" + failRuns_, "HOLD_RUNS=" + holdRuns,
                                     std::string("TRANSCRIPTS=") + KELVO_PLAN_TRANSCRIPTS,
                                     "XDG_DATA_HOME=" + dir.File("data"), "TERM=xterm"};
        if (stdinFile.empty()) return ToolRun{all, env, dir.Path(), KELVOTEST_PLAN_PATH};
        // Standard input from a file: the shell opens it and becomes kelvotest-plan.
        all.insert(all.begin(), {"-c", "exec \"$0\" \"$@\" < '" + stdinFile + "'", KELVOTEST_PLAN_PATH});
        return ToolRun{all, env, dir.Path(), "/bin/sh"};
    }

private:
    std::string failRuns_;
};

std::vector<std::string> FilesNamed(const std::string& dir, const std::string& name) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir, error)) {
        if (entry.path().filename() == name) files.push_back(entry.path().string());
    }
    return files;
}

// Waits for the count-th appearance of a text on the terminal.
bool WaitForCount(ChildProcess& process, const std::string& text, int count) {
    for (int waited = 0; waited < 300; ++waited) {
        if (process.Occurrences(text) >= count) return true;
        process.WaitForText("\x01never", 100);   // reads what came, for up to 0.1 s
    }
    return false;
}

// The serial and verdict of each run under `dir` ("SC3-000002 FAIL"), in the order of the
// runs, read from their OCP output.
std::vector<std::string> RunVerdicts(const std::string& dir, std::vector<std::string>* runIds) {
    std::vector<std::pair<std::string, std::string>> runs;   // start time, "serial verdict"
    for (const std::string& ocpPath : FilesNamed(dir, "ocp.jsonl")) {
        std::string serial, verdict, start;
        for (const json& a : Artifacts(ocpPath)) {
            if (!a.contains("testRunArtifact")) continue;
            const json& r = a["testRunArtifact"];
            if (r.contains("testRunStart")) {
                serial = r["testRunStart"]["dutInfo"]["hardwareInfos"][0].value("serialNumber", "");
                start = a["timestamp"];
                if (runIds) runIds->push_back(r["testRunStart"]["parameters"].value("runId", ""));
            }
            if (r.contains("testRunEnd")) verdict = r["testRunEnd"]["result"];
        }
        ExpectReportsValid(std::filesystem::path(ocpPath).parent_path().string());
        runs.emplace_back(start, serial + " " + verdict);
    }
    std::sort(runs.begin(), runs.end());
    std::vector<std::string> verdicts;
    for (const auto& run : runs) verdicts.push_back(run.second);
    return verdicts;
}

TEST(StationProcess, AScriptedShiftRunsEachGoodSerialOnceAndRefusesTheRest) {
    Station station("2");
    const std::string serials = station.dir.WriteText(
        "serials.txt", "SC3-000001\nSC3-000002\nSC3-42\nSC3-000003\nSC3-000003\nn\nSC3-000004\n");
    const ProcessResult r = RunToTheEnd(station.Run({"--loop", "--out", "shift"}, serials), 60000);
    EXPECT_EQ(1, r.exitCode) << r.out << r.err;
    std::vector<std::string> runIds;
    const std::vector<std::string> verdicts{"SC3-000001 PASS", "SC3-000002 FAIL", "SC3-000003 PASS", "SC3-000004 PASS"};
    EXPECT_EQ(verdicts, RunVerdicts(station.dir.File("shift"), &runIds));
    std::sort(runIds.begin(), runIds.end());
    EXPECT_EQ(runIds.end(), std::adjacent_find(runIds.begin(), runIds.end()));   // each unit its own run
    EXPECT_EQ(32u, runIds.front().size() - 4) << runIds.front();                  // UUID form, 128 bits
    EXPECT_NE(std::string::npos, r.out.find("refused: serial 'SC3-42' does not match the plan's serial_pattern ^SC3-[0-9]{6}$"));
    EXPECT_NE(std::string::npos, r.out.find("test SC3-000003 again? [y/N]"));
    EXPECT_NE(std::string::npos, r.out.find("unit SC3-000002: FAIL\n  adc.3v3 = 2.90997 V, below its limits [3.2, 3.4]"));
    EXPECT_NE(std::string::npos, r.out.find("end of the shift. shift: 4 units, 3 passed, 1 failed, first-pass yield 75.0 %"));

    // --serial is checked the same way, and never becomes a run.
    const ProcessResult bad = RunToTheEnd(station.Run({"--serial", "SC3-42"}), 30000);
    EXPECT_EQ(2, bad.exitCode);
    EXPECT_NE(std::string::npos, bad.err.find("serial 'SC3-42' does not match the plan's serial_pattern")) << bad.err;
    EXPECT_EQ(4u, FilesNamed(station.dir.Path(), "ocp.jsonl").size());   // the shift's four, and no more
}

TEST(StationProcess, UnderATerminalTheOperatorAnswersAndSeesTheVerdictInLargeType) {
    Station station("", 0, "Connect the fixture cable, then press Enter");
    ChildProcess plan = ChildProcess::StartUnderPty(station.Run({"--loop"}));
    ASSERT_TRUE(plan.WaitForText("serial (Enter to finish):", 30000)) << plan.Out();
    plan.Type("SC3-000001\r");
    ASSERT_TRUE(plan.WaitForText("Connect the fixture cable, then press Enter [Enter, or n to decline]", 30000)) << plan.Out();
    plan.Type("\r");
    ASSERT_TRUE(plan.WaitForText("  ####    ###    ####   ####\r\n", 30000)) << plan.Out();   // PASS, its first row
    ASSERT_TRUE(plan.WaitForText("shift: 1 unit, 1 passed, 0 failed, first-pass yield 100.0 %", 30000)) << plan.Out();
    plan.Type("SC3-000002\r");
    ASSERT_TRUE(WaitForCount(plan, "decline] ", 2)) << plan.Out();
    plan.Type("n\r");
    ASSERT_TRUE(plan.WaitForText("  #####   ###    ###   #\r\n", 30000)) << plan.Out();   // FAIL, in red
    EXPECT_NE(std::string::npos, plan.Out().find("\033[1;31m"));
    ASSERT_TRUE(plan.WaitForText("the operator declined: Connect the fixture cable", 30000)) << plan.Out();
    ASSERT_TRUE(plan.WaitForText("shift: 2 units, 1 passed, 1 failed, first-pass yield 50.0 %", 30000)) << plan.Out();
    plan.Type("\r");
    EXPECT_EQ(1, plan.WaitForExit(30000)) << plan.Out();
    EXPECT_TRUE(plan.TerminalModesAsAtStart());
    // The prompts are steps of the runs, with the operator's answers.
    const std::vector<std::string> verdicts{"SC3-000001 PASS", "SC3-000002 FAIL"};
    EXPECT_EQ(verdicts, RunVerdicts(station.dir.Path(), nullptr));
    bool declined = false;
    for (const std::string& ocpPath : FilesNamed(station.dir.Path(), "ocp.jsonl")) {
        declined = declined || ReadFileText(ocpPath).find("\"verdict\":\"operator-declined\"") != std::string::npos;
    }
    EXPECT_TRUE(declined);
}

TEST(StationProcess, ACtrlCStopsTheUnitAndTheOperatorChoosesToGoOn) {
    Station station("");
    station.holdRuns = "1";
    ChildProcess plan = ChildProcess::StartUnderPty(station.Run({"--loop"}));
    ASSERT_TRUE(plan.WaitForText("serial (Enter to finish):", 30000)) << plan.Out();
    plan.Type("SC3-000001\r");
    ASSERT_TRUE(plan.WaitForText("[1/1] rails", 30000)) << plan.Out();
    plan.Type("\x03");   // the terminal's Ctrl-C
    ASSERT_TRUE(plan.WaitForText("the unit was stopped; go on with the next unit? [y/N]", 30000)) << plan.Out();
    EXPECT_NE(std::string::npos, plan.Out().find("   ###   ####    ###   ####   #####  #####  ####\r\n"));   // ABORTED
    plan.Type("y\r");
    plan.Type("SC3-000002\r");
    ASSERT_TRUE(plan.WaitForText("shift: 2 units, 1 passed, 1 failed, first-pass yield 50.0 %", 30000)) << plan.Out();
    plan.Type("\r");
    EXPECT_EQ(1, plan.WaitForExit(30000)) << plan.Out();
    EXPECT_EQ((std::vector<std::string>{"SC3-000001 FAIL", "SC3-000002 PASS"}), RunVerdicts(station.dir.Path(), nullptr));
}

TEST(StationProcess, AStepThatPassesOnItsThirdAttemptIsThreeAttemptsInEveryReport) {
    Station station("1 2", 2);
    station.dir.WriteText("station.toml", "[station]\nfixture_id = \"FX-07\"\ncalibration_due = 2999-01-01\n");
    const ProcessResult r = RunToTheEnd(station.Run({"--serial", "SC3-000001", "--out", "out"}), 60000);
    EXPECT_EQ(0, r.exitCode) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find("passed on attempt 3 of 3"));
    for (const char* folder : {"out/01-rails", "out/01-rails.attempt2", "out/01-rails.attempt3"}) {
        EXPECT_TRUE(FileExists(station.dir.File(folder) + "/stderr.txt")) << folder;
    }

    ExpectReportsValid(station.dir.File("out"));
    const std::string ocpText = ReadFileText(station.dir.File("out/ocp.jsonl"));
    const auto problems = ocp::Validate(ocpText);
    EXPECT_TRUE(problems.empty()) << problems.front();
    std::vector<std::string> attempts;   // "stepId attempt/of verdict"
    std::string station_metadata;
    for (const json& a : Artifacts(station.dir.File("out/ocp.jsonl"))) {
        if (a.contains("testRunArtifact") && a["testRunArtifact"].contains("testRunStart")) {
            station_metadata = a["testRunArtifact"]["testRunStart"]["metadata"].dump();
        }
        if (!a.contains("testStepArtifact")) continue;
        const json& s = a["testStepArtifact"];
        if (s.contains("measurement") && s["measurement"]["name"] == "step.attempt") {
            const json& m = s["measurement"]["metadata"];
            attempts.push_back(s["testStepId"].get<std::string>() + " " + std::to_string(m["attempt"].get<int>()) + "/" +
                               std::to_string(m["of"].get<int>()));
        }
        if (s.contains("diagnosis")) attempts.back() += " " + s["diagnosis"]["type"].get<std::string>();
    }
    EXPECT_EQ((std::vector<std::string>{"0 1/3 FAIL", "0.2 2/3 FAIL", "0.3 3/3 PASS"}), attempts);
    EXPECT_EQ("{\"station.calibration_due\":\"2999-01-01\",\"station.fixture_id\":\"FX-07\"}", station_metadata);

    const std::string junit = ReadFileText(station.dir.File("out/junit.xml"));
    EXPECT_NE(std::string::npos, junit.find("tests=\"1\" failures=\"0\""));
    EXPECT_NE(std::string::npos, junit.find("attempt 1 of 3: FAIL: adc.3v3 = 2.90997 V"));
    EXPECT_NE(std::string::npos, junit.find("attempt 2 of 3: FAIL"));
    EXPECT_NE(std::string::npos, junit.find("attempt 3 of 3: pass"));
    EXPECT_NE(std::string::npos, junit.find("<property name=\"station.fixture_id\" value=\"FX-07\"/>"));
    const std::string html = ReadFileText(station.dir.File("out/report.html"));
    for (const char* row : {"rails (attempt 1 of 3)", "rails (attempt 2 of 3)", "rails (attempt 3 of 3)",
                            "passed on attempt 3 of 3", "<th>station.fixture_id</th><td>FX-07</td>"}) {
        EXPECT_NE(std::string::npos, html.find(row)) << row;
    }
}

TEST(StationProcess, OnePlanPerStationAndAKilledOneLeavesItFree) {
    Station station("", 0, "Connect the fixture cable, then press Enter");
    ChildProcess first = ChildProcess::StartUnderPty(station.Run({"--serial", "SC3-000001", "--out", "first"}));
    ASSERT_TRUE(first.WaitForText("[Enter, or n to decline]", 30000)) << first.Out();

    const ProcessResult second = RunToTheEnd(station.Run({"--serial", "SC3-000002", "--yes", "--out", "second"}), 30000);
    EXPECT_EQ(2, second.exitCode);
    EXPECT_TRUE(std::regex_search(second.err, std::regex("station 'bench-1' is in use by kelvotest-plan process [0-9]+, "
                                                         "running the plan .*station-plan.toml")))
        << second.err;
    EXPECT_FALSE(FileExists(station.dir.File("second")));

    first.Signal(SIGKILL);
    EXPECT_EQ(128 + SIGKILL, first.WaitForExit(30000));
    const ProcessResult third = RunToTheEnd(station.Run({"--serial", "SC3-000003", "--yes", "--out", "third"}), 30000);
    EXPECT_EQ(0, third.exitCode) << third.out << third.err;

    // A calibration past due stops the station, unless the run is marked for it.
    station.dir.WriteText("station.toml", "[station]\ncalibration_due = 2020-01-01\n");
    const ProcessResult due = RunToTheEnd(station.Run({"--serial", "SC3-000004", "--yes", "--out", "due"}), 30000);
    EXPECT_EQ(2, due.exitCode);
    EXPECT_NE(std::string::npos, due.err.find("calibration was due 2020-01-01")) << due.err;
    const ProcessResult allowed =
        RunToTheEnd(station.Run({"--serial", "SC3-000004", "--yes", "--out", "due", "--allow-uncalibrated"}), 30000);
    EXPECT_EQ(0, allowed.exitCode) << allowed.err;
    EXPECT_NE(std::string::npos,
              ReadFileText(station.dir.File("due/junit.xml")).find("<property name=\"station.calibration\" value=\"PAST DUE\"/>"));
}

// doc/station.md's scripted station, on a copy of examples/: the example station.toml with its
// due date moved past any day this test runs on.
TEST(StationProcess, TheGuidesStationRunsOnTheVirtualScanner) {
    TempDir dir;
    const std::string examples = KELVO_EXAMPLES_DIR;
    dir.WriteText("station-final-test.toml", ReadFileText(examples + "/station-final-test.toml"));
    dir.WriteText("station.toml", std::regex_replace(ReadFileText(examples + "/station.toml"),
                                                     std::regex("calibration_due = [0-9-]+"), "calibration_due = 2999-01-01"));
    const std::string command = "printf 'SC3-000001\\nSC3-000002\\n' | \"$0\" --virtual --loop --yes station-final-test.toml";
    const ProcessResult r = RunToTheEnd(ToolRun{{"-c", command, KELVOTEST_PLAN_PATH}, {"XDG_DATA_HOME=" + dir.File("data")},
                                                dir.Path(), "/bin/sh"},
                                        120000);
    EXPECT_EQ(0, r.exitCode) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find("unit SC3-000001: PASS")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("unit SC3-000002: PASS"));
    EXPECT_NE(std::string::npos, r.out.find("shift: 2 units, 2 passed, 0 failed, first-pass yield 100.0 %"));
    const std::vector<std::string> junits = FilesNamed(dir.Path(), "junit.xml");
    ASSERT_EQ(2u, junits.size());
    for (const std::string& junit : junits) ExpectReportsValid(std::filesystem::path(junit).parent_path().string());
    EXPECT_NE(std::string::npos, ReadFileText(junits[0]).find("<property name=\"station.fixture_id\" value=\"FX-SC3-07\"/>"));
}

}  // namespace
