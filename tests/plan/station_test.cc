// tests/plan/station_test.cc: the parts of a station that need no process: the serial's
// check, the station file, the shift's tally and the verdict block.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "plan/plan_file.h"
#include "plan/serial_check.h"
#include "plan/station_file.h"
#include "plan/station_lock.h"
#include "plan/station_loop.h"
#include "plan/step_attempts.h"
#include "tests/support/temp_files.h"

namespace {

using namespace plan;

TEST(SerialCheck, PatternRefusesWithThePatternShownAndSpotsADoubleScan) {
    SerialCheck check("^SC3-[0-9]{6}$");
    struct Case {
        const char* serial;
        const char* refusal;   // "" accepted
    } const kCases[] = {
        {"SC3-000042", ""},
        {"SC3-42", "serial 'SC3-42' does not match the plan's serial_pattern ^SC3-[0-9]{6}$"},
        {"SC3-0000421", "serial 'SC3-0000421' does not match the plan's serial_pattern ^SC3-[0-9]{6}$"},
        {"SC3-00\x1b[2J", "serial 'SC3-00\\x1b[2J' does not match the plan's serial_pattern ^SC3-[0-9]{6}$"},
        {"", "the serial is empty"},
    };
    for (const Case& c : kCases) EXPECT_EQ(c.refusal, check.Refusal(c.serial)) << c.serial;
    EXPECT_NE("", check.Refusal(std::string(kMaxSerialBytes + 1, 'S')));
    EXPECT_EQ("", SerialCheck("").Refusal("anything at all"));

    EXPECT_FALSE(check.IsRepeat("SC3-000042"));
    check.Accepted("SC3-000042");
    EXPECT_TRUE(check.IsRepeat("SC3-000042"));
    EXPECT_FALSE(check.IsRepeat("SC3-000043"));
    EXPECT_EQ("test SC3-000042 again? [y/N]", RepeatQuestion("SC3-000042"));
}

TEST(SerialCheck, ABadPatternIsAPlanError) {
    PlanFile plan;
    std::string error;
    const std::string head = "name = \"t\"\n[dut]\nserial_pattern = ";
    const std::string steps = "\n[[step]]\nname = \"a\"\nargs = []\n";
    EXPECT_FALSE(ParsePlan(head + "\"^SC3-[0-9{6}$\"" + steps, "p.toml", &plan, &error));
    EXPECT_EQ(0u, error.find("p.toml:3: key 'dut.serial_pattern': is not a regular expression")) << error;
    ASSERT_TRUE(ParsePlan(head + "\"^SC3-[0-9]{6}$\"" + steps, "p.toml", &plan, &error)) << error;
    EXPECT_EQ("^SC3-[0-9]{6}$", plan.Dut("serial_pattern"));
}

// The loop with the operator's lines scripted and a unit run that fails one serial.
struct ScriptedShift {
    std::vector<std::string> lines;
    std::string screen;
    std::vector<std::string> runs;
    int exitCode = -1;

    void Run(bool terminal) {
        SerialCheck check("^SC3-[0-9]{6}$");
        size_t next = 0;
        OperatorSide side;
        side.terminal = terminal;
        side.readLine = [&]() -> std::optional<std::string> {
            if (next == lines.size()) return std::nullopt;
            return lines[next++];
        };
        side.write = [&](const std::string& text) { screen += text; };
        exitCode = RunStationLoop(check, side, [&](const std::string& serial) {
            runs.push_back(serial);
            UnitVerdict verdict;
            verdict.exitCode = serial == "SC3-000002" ? 1 : 0;
            if (verdict.exitCode != 0) verdict.failures = {"adc.3v3 = 2.9 V, below its limits [3.2, 3.4]"};
            return verdict;
        });
    }
};

TEST(StationLoop, RefusesMalformedSerialsAsksOnADoubleScanAndKeepsTheTally) {
    ScriptedShift shift;
    shift.lines = {"SC3-000001", "SC3-000002", "SC3-42", "SC3-000003", "SC3-000003", "n", "SC3-000003", "y",
                   "SC3-000004"};
    shift.Run(false);
    const std::vector<std::string> runs{"SC3-000001", "SC3-000002", "SC3-000003", "SC3-000003", "SC3-000004"};
    EXPECT_EQ(runs, shift.runs);
    EXPECT_EQ(1, shift.exitCode);
    EXPECT_NE(std::string::npos,
              shift.screen.find("refused: serial 'SC3-42' does not match the plan's serial_pattern ^SC3-[0-9]{6}$"));
    EXPECT_NE(std::string::npos, shift.screen.find("test SC3-000003 again? [y/N] not tested again"));
    EXPECT_NE(std::string::npos, shift.screen.find("unit SC3-000002: FAIL\n  adc.3v3 = 2.9 V"));
    EXPECT_NE(std::string::npos, shift.screen.find("end of the shift. shift: 4 units, 4 passed, 1 failed, first-pass "
                                                   "yield 75.0 % (5 runs: units tested again)"));

    ScriptedShift good;
    good.lines = {"SC3-000001", ""};   // an empty serial ends the shift before the end of input
    good.lines.push_back("SC3-000002");
    good.Run(true);
    EXPECT_EQ(0, good.exitCode);
    EXPECT_EQ(std::vector<std::string>{"SC3-000001"}, good.runs);
    EXPECT_NE(std::string::npos, good.screen.find("  ####    ###    ####   ####\n"));   // P A S S, first row
}

TEST(Prompt, EnterPassesNDeclinesAndWithoutATerminalOnlyYesAnswers) {
    PlanFile plan;
    std::string error;
    ASSERT_TRUE(ParsePlan("name = \"t\"\n[[step]]\nname = \"cable\"\nprompt = \"Connect the fixture cable, then press Enter\"\n",
                          "p.toml", &plan, &error))
        << error;
    struct Case {
        bool terminal, yes;
        std::optional<std::string> typed;
        StepStatus status;
        const char* answer;    // "" none recorded
        const char* verdict;
    } const kCases[] = {
        {true, false, "", StepStatus::kComplete, "yes", ""},
        {true, false, "n", StepStatus::kComplete, "no", "operator-declined"},
        {true, false, std::nullopt, StepStatus::kError, "", ""},
        {false, false, "", StepStatus::kError, "", ""},
        {false, true, std::nullopt, StepStatus::kComplete, "--yes", ""},
    };
    for (const Case& c : kCases) {
        PromptSide side;
        side.terminal = c.terminal;
        side.yes = c.yes;
        side.readLine = [&c] { return c.typed; };
        std::string screen;
        side.write = [&screen](const std::string& text) { screen += text; };
        StepResult step;
        step.plan = &plan.steps[0];
        RunPrompt(side, &step);
        EXPECT_EQ(c.status, step.status) << screen;
        EXPECT_EQ(std::string(c.verdict).empty() && c.status == StepStatus::kComplete, step.Passed()) << screen;
        if (c.answer[0] != '\0') {
            ASSERT_NE(nullptr, step.transcript.Find("operator.answer"));
            EXPECT_EQ(Value{std::string(c.answer)}, step.transcript.Find("operator.answer")->value);
            EXPECT_NE(nullptr, step.transcript.Find("operator.seconds"));
            EXPECT_EQ(c.verdict, step.checks.at(0).verdict);
        }
    }
    EXPECT_FALSE(ParsePlan("name = \"t\"\n[[step]]\nname = \"a\"\nprompt = \"x\"\nargs = []\n", "p.toml", &plan, &error));
    EXPECT_EQ("p.toml:4: key 'prompt': step 'a' is a prompt for the operator: it has no args", error);
}

TEST(Retries, AFailedStepRunsAgainInAFolderOfItsOwnUntilItPassesOrNoAttemptIsLeft) {
    PlanFile plan;
    std::string error;
    ASSERT_TRUE(ParsePlan("name = \"t\"\n[[step]]\nname = \"s\"\nargs = []\nretries = 2\n", "p.toml", &plan, &error))
        << error;
    for (const int passOn : {1, 3, 4}) {
        StepResult step;
        step.plan = &plan.steps[0];
        step.folder = "01-s";
        std::vector<std::string> folders;
        RunAttempts(
            &step,
            [&](StepResult* attempt) {
                folders.push_back(attempt->folder);
                attempt->status = StepStatus::kComplete;
                attempt->checks = {Check{}};
                attempt->checks[0].passed = attempt->attempt >= passOn;
            },
            [] { return true; }, [](const StepResult&) {});
        const int attempts = std::min(passOn, 3);
        EXPECT_EQ(static_cast<size_t>(attempts), folders.size());
        EXPECT_EQ(static_cast<size_t>(attempts - 1), step.earlierAttempts.size());
        EXPECT_EQ(passOn <= 3, step.Passed());
        EXPECT_EQ(3, step.attemptsAllowed);
        if (passOn == 3) {
            EXPECT_EQ((std::vector<std::string>{"01-s", "01-s.attempt2", "01-s.attempt3"}), folders);
            EXPECT_EQ("passed on attempt 3 of 3", step.AttemptNote());
            EXPECT_EQ(1, step.earlierAttempts[0].attempt);
            EXPECT_FALSE(step.earlierAttempts[1].Passed());
        }
    }
    StepResult stopped;
    stopped.plan = &plan.steps[0];
    int runs = 0;
    RunAttempts(&stopped, [&](StepResult* attempt) { ++runs, attempt->status = StepStatus::kError; }, [] { return false; },
                [](const StepResult&) {});
    EXPECT_EQ(1, runs);   // a Ctrl-C: no retry
}

TEST(StationFile, ReadsFixtureCalibrationAndFreeKeysAndRefusesWhatCannotBeMeant) {
    StationIdentity station;
    std::string error;
    ASSERT_TRUE(ParseStationFile("[station]\nfixture_id = \"FX-07\"\ncalibration_date = 2026-06-01\n"
                                 "calibration_due = \"2027-06-01\"\nline = \"L2\"\nbay = 4\n",
                                 "station.toml", &station, &error))
        << error;
    EXPECT_EQ("FX-07", station.fixtureId);
    EXPECT_EQ("2026-06-01", station.calibrationDate);
    EXPECT_EQ("2027-06-01", station.calibrationDue);
    const std::vector<std::pair<std::string, std::string>> keys{{"line", "L2"}, {"bay", "4"}};
    EXPECT_EQ(keys, station.keys);   // file order
    EXPECT_FALSE(station.PastDue("2027-06-01"));
    EXPECT_TRUE(station.PastDue("2027-06-02"));

    struct Case {
        const char* text;
        const char* error;
    } const kCases[] = {
        {"[station]\ncalibration_due = \"2027-02-29\"\n",
         "s.toml:2: key 'station.calibration_due': must be a date in ISO form, e.g. 2026-06-01"},
        {"[station]\ncalibration_date = 2027-06-01\ncalibration_due = 2026-06-01\n",
         "s.toml:3: key 'station.calibration_due': is before calibration_date"},
        {"[statoin]\nfixture_id = \"FX\"\n", "s.toml:1: key 'statoin': unknown key (the file holds [station])"},
        {"fixture_id = \"FX\"\n", "s.toml:1: key 'fixture_id': unknown key (the file holds [station])"},
        {"[station]\nfixture = [1, 2]\n", "s.toml:2: key 'station.fixture': must be a text, a number, true/false or a date"},
    };
    for (const Case& c : kCases) {
        EXPECT_FALSE(ParseStationFile(c.text, "s.toml", &station, &error)) << c.text;
        EXPECT_EQ(c.error, error);
    }
}

TEST(StationLock, ASecondHolderIsRefusedWithTheFirstOnesProcessAndPlan) {
    TempDir data;
    const std::string folder = data.File("kelvotest");
    std::string error;
    auto first = std::make_unique<StationLock>();
    ASSERT_TRUE(first->Take(folder, "bench 3", "/lines/final.toml", &error)) << error;
    EXPECT_EQ(std::filesystem::path(folder) / "station-bench_3.lock", std::filesystem::path(StationLockPath(folder, "bench 3")));

    StationLock second;
    EXPECT_FALSE(second.Take(folder, "bench 3", "/lines/other.toml", &error));
    EXPECT_EQ("station 'bench 3' is in use by kelvotest-plan process " + std::to_string(ProcessId()) +
                  ", running the plan /lines/final.toml; one plan runs per station (give another --station "
                  "for a second fixture)",
              error);
    EXPECT_TRUE(StationLock().Take(folder, "bench 4", "/lines/other.toml", &error)) << error;

    first.reset();
    EXPECT_TRUE(second.Take(folder, "bench 3", "/lines/other.toml", &error)) << error;
}

}  // namespace
