// tests/plan/plan_process_test.cc: kelvotest-plan as a user runs it, against the real tool and
// the virtual scanner (--virtual): the sample plan passes; the rail fault fails it with all
// three reports agreeing; the OCP output follows the 2.0 rules; a recorded run replays to the
// same verdict; Ctrl-C and SIGKILL during a stream step; plan errors; time-outs; --read.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "plan/tool_args.h"
#include "plan/transcript.h"
#include "tests/plan/ocp_validator.h"
#include "tests/plan/plan_run.h"
#include "tests/support/pty_process.h"
#include "tests/support/temp_files.h"

namespace {

using nlohmann::json;

using namespace plan_test;

const std::string kSamplePlan = KELVO_SAMPLE_PLAN;

constexpr const char* kShortPlan = R"(name = "short"
[dut]
part = "SC-3"
[[step]]
name = "rails"
args = ["-adread", "-trd"]
[step.limits]
"adc.3v3" = [3.2, 3.4]
"adc.24v" = [22.8, 25.2]
"temp.raw" = [0, 60]
[[step]]
name = "registers"
args = ["-wd", "20", "-val", "12345678", "-rd", "20", "-wb", "30", "-rb", "30"]
[step.expect]
"reg.rd.0x20" = 0x12345678
"reg.wd.0x20" = true
"reg.rb.0x30" = 0x78
[[step]]
name = "eeprom"
args = ["-wre", "7", "-val", "a5", "-rde", "7", "-id", "a0", "-dumpe"]
[step.expect]
"eeprom.a0.7" = 0xa5
[[step]]
name = "motor"
args = ["-motor", "2", "-lines", "-stat", "-dao", "10", "-tinit", "170"]
[step.expect]
"motor.started" = true
)";

constexpr const char* kStreamPlan = R"(name = "stream"
[[step]]
name = "rails"
args = ["-adread"]
[[step]]
name = "registers"
args = ["-rd", "0"]
[[step]]
name = "stream"
args = ["-scanfile", "stream.bin"]
duration = 60
[[step]]
name = "after"
args = ["-stat"]
)";

TEST(PlanProcess, SamplePlanPassesAgainstTheVirtualScanner) {
    TempDir dir;
    const ProcessResult r = RunToTheEnd(Plan({kSamplePlan, "--virtual", "--serial", "SN0001", "--out", dir.File("out")}), 60000);
    ASSERT_EQ(0, r.exitCode) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find("PASS: scanner final test, 6 of 6 steps passed")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("VIRTUAL SCANNER")) << r.out;
    ExpectReportsValid(dir.File("out"));
    const std::string ocpText = ReadFileText(dir.File("out/ocp.jsonl"));
    const auto artifacts = Artifacts(dir.File("out/ocp.jsonl"));
    EXPECT_EQ("PASS", RunResultOf(artifacts));
    EXPECT_TRUE(FailVerdicts(artifacts).empty());
    EXPECT_NE(std::string::npos, ocpText.find("\"dutInfoId\":\"SN0001\""));
    EXPECT_NE(std::string::npos, ocpText.find("\"scanner\":\"virtual\""));
    const std::string junit = ReadFileText(dir.File("out/junit.xml"));
    EXPECT_NE(std::string::npos, junit.find("tests=\"6\" failures=\"0\" errors=\"0\" skipped=\"0\""));
    const std::string html = ReadFileText(dir.File("out/report.html"));
    EXPECT_NE(std::string::npos, html.find("id=\"verdict\">PASS<"));
    EXPECT_NE(std::string::npos, html.find("<svg class=\"plot\""));
    EXPECT_TRUE(FileExists(dir.File("out/06-stream/stderr.txt")));
    EXPECT_TRUE(FileExists(dir.File("out/06-stream/kelvotest.log")));
    EXPECT_TRUE(FileExists(dir.File("out/plan.toml")));
}

TEST(PlanProcess, RailFaultFailsTheSamplePlanAndAllReportsAgree) {
    TempDir dir;
    const ProcessResult r = RunToTheEnd(Plan({kSamplePlan, "--virtual", "--out", dir.File("out")}, {"KELVOSIM=adc.ch1 = 2.9"}), 60000);
    ASSERT_EQ(1, r.exitCode) << r.out << r.err;
    const std::string message = "adc.3v3 = 2.90997 V, below its limits [3.2, 3.4]";
    EXPECT_NE(std::string::npos, r.out.find(message)) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("FAIL: scanner final test, 5 of 6 steps passed")) << r.out;

    ExpectReportsValid(dir.File("out"));
    const auto artifacts = Artifacts(dir.File("out/ocp.jsonl"));
    EXPECT_EQ("FAIL", RunResultOf(artifacts));
    EXPECT_EQ(std::vector<std::string>{"1:adc.3v3-low"}, FailVerdicts(artifacts));
    bool measured = false;
    for (const json& a : artifacts) {
        if (!a.contains("testStepArtifact") || !a["testStepArtifact"].contains("measurement")) continue;
        const json& m = a["testStepArtifact"]["measurement"];
        if (m["name"] != "adc.3v3") continue;
        measured = true;
        EXPECT_NEAR(2.90997, m["value"].get<double>(), 1e-6);
        EXPECT_EQ("V", m["unit"]);
        ASSERT_EQ(2u, m["validators"].size());
        EXPECT_EQ("GREATER_THAN_OR_EQUAL", m["validators"][0]["type"]);
        EXPECT_EQ(3.2, m["validators"][0]["value"].get<double>());
        EXPECT_EQ("LESS_THAN_OR_EQUAL", m["validators"][1]["type"]);
        EXPECT_EQ(3.4, m["validators"][1]["value"].get<double>());
    }
    EXPECT_TRUE(measured);

    const std::string junit = ReadFileText(dir.File("out/junit.xml"));
    EXPECT_NE(std::string::npos, junit.find("tests=\"6\" failures=\"1\" errors=\"0\" skipped=\"0\""));
    EXPECT_NE(std::string::npos, junit.find("<failure message=\"" + message + "\" type=\"adc.3v3-low\">"));
    const std::string html = ReadFileText(dir.File("out/report.html"));
    EXPECT_NE(std::string::npos, html.find("id=\"verdict\">FAIL<"));
    EXPECT_NE(std::string::npos, html.find(message));
    EXPECT_NE(std::string::npos, html.find("<strong>FAIL</strong> adc.3v3-low"));
}

TEST(PlanProcess, RecordedRunReplaysToTheSameVerdict) {
    TempDir dir;
    dir.WriteText("short.toml", kShortPlan);
    for (const std::string scenario : {"adc.ch1 = 2.9; eeprom.a0.read_flip = 7", ""}) {
        SCOPED_TRACE(scenario);
        const std::string recorded = dir.File(scenario.empty() ? "recorded-pass" : "recorded-fail");
        const std::string replayed = recorded + "-replayed";
        const ProcessResult rec = RunToTheEnd(
            Plan({dir.File("short.toml"), "--virtual", "--record", "--out", recorded}, {"KELVOSIM=" + scenario}), 60000);
        ASSERT_EQ(scenario.empty() ? 0 : 1, rec.exitCode) << rec.out << rec.err;
        ExpectReportsValid(recorded);
        EXPECT_TRUE(FileExists(recorded + "/01-rails/session.kvtrace"));
        const ProcessResult rep = RunToTheEnd(Plan({dir.File("short.toml"), "--replay", recorded, "--out", replayed}), 60000);
        EXPECT_EQ(rec.exitCode, rep.exitCode) << rep.out << rep.err;
        ExpectReportsValid(replayed);
        EXPECT_NE(std::string::npos, rep.out.find("REPLAY")) << rep.out;
        const auto recordedArtifacts = Artifacts(recorded + "/ocp.jsonl");
        const auto replayedArtifacts = Artifacts(replayed + "/ocp.jsonl");
        EXPECT_EQ(FailVerdicts(recordedArtifacts), FailVerdicts(replayedArtifacts));
        EXPECT_EQ(RunResultOf(recordedArtifacts), RunResultOf(replayedArtifacts));
        if (!scenario.empty()) {
            EXPECT_EQ((std::vector<std::string>{"0:adc.3v3-low", "2:eeprom.a0.7-mismatch"}), FailVerdicts(replayedArtifacts));
        }
        for (const char* step : {"01-rails", "02-registers", "03-eeprom", "04-motor"}) {
            EXPECT_EQ(ReadFileText(recorded + "/" + step + "/stderr.txt"), ReadFileText(replayed + "/" + step + "/stderr.txt"))
                << step;
        }
        EXPECT_NE(std::string::npos, ReadFileText(replayed + "/report.html").find("REPLAY"));
        EXPECT_NE(std::string::npos, ReadFileText(replayed + "/junit.xml").find("<property name=\"scanner\" value=\"replay\"/>"));
    }
    // A loop step, across a restart of the data flow: the replay is stopped where the bench's
    // loop ended, and finds no error the bench did not have.
    dir.WriteText("loop.toml", "name = \"loop\"\n[[step]]\nname = \"stream\"\nargs = [\"-scan\"]\nduration = 5\n"
                               "[step.limits]\n\"stream.errors\" = [0, 0]\n");
    ASSERT_EQ(0, RunToTheEnd(Plan({dir.File("loop.toml"), "--virtual", "--record", "--out", dir.File("loop")}), 60000).exitCode);
    const ProcessResult loop = RunToTheEnd(Plan({dir.File("loop.toml"), "--replay", dir.File("loop"), "--out", dir.File("loop-replayed")}), 60000);
    EXPECT_EQ(0, loop.exitCode) << loop.out << loop.err;
}

TEST(PlanProcess, KilledDuringAStreamStepLeavesEveryFinishedStepReadable) {
    TempDir dir;
    dir.WriteText("stream.toml", kStreamPlan);
    const std::string out = dir.File("out");
    ChildProcess plan = ChildProcess::StartWithPipes(Plan({dir.File("stream.toml"), "--virtual", "--out", out}));
    ASSERT_TRUE(WaitForFileText(out + "/03-stream/stderr.txt", "Total bytes transferred", 15000));
    plan.Signal(SIGKILL);
    EXPECT_EQ(128 + SIGKILL, plan.WaitForExit(5000));

    ExpectReportsValid(out, /*finished=*/false);
    const auto artifacts = Artifacts(out + "/ocp.jsonl");
    int ended = 0;
    bool streamStarted = false;
    for (const json& a : artifacts) {
        if (!a.contains("testStepArtifact")) continue;
        if (a["testStepArtifact"].contains("testStepEnd")) ++ended;
        if (a["testStepArtifact"].contains("testStepStart") && a["testStepArtifact"]["testStepId"] == "2") streamStarted = true;
    }
    EXPECT_EQ(2, ended);
    EXPECT_TRUE(streamStarted);
    // The tool got its stop request when kelvotest-plan died: it closed its file and ended.
    EXPECT_TRUE(WaitUntilNoProcessIn(out + "/03-stream", 10000));
}

TEST(PlanProcess, CtrlCStopsTheStepCleanlyReportsWhatRanAndExits2) {
    // SIGTERM and SIGHUP stop a run as Ctrl-C does, and are named as what they are.
    for (const auto& [number, name] : {std::pair{SIGINT, "Ctrl-C"}, std::pair{SIGTERM, "SIGTERM"}}) {
    SCOPED_TRACE(name);
    TempDir dir;
    dir.WriteText("stream.toml", kStreamPlan);
    const std::string out = dir.File("out");
    ChildProcess plan = ChildProcess::StartWithPipes(Plan({dir.File("stream.toml"), "--virtual", "--out", out}));
    ASSERT_TRUE(WaitForFileText(out + "/03-stream/stderr.txt", "Total bytes transferred", 15000));
    plan.Signal(number);
    EXPECT_EQ(2, plan.WaitForExit(15000)) << plan.Out() << plan.Err();
    EXPECT_NE(std::string::npos, plan.Out().find("ABORTED")) << plan.Out();
    EXPECT_TRUE(std::regex_search(plan.Out(), std::regex(std::string("stopped by ") + name + " after [0-9]+\\.[0-9]{2} s\n"))) << plan.Out();
    ExpectReportsValid(out);
    const std::string ocpText = ReadFileText(out + "/ocp.jsonl");
    EXPECT_NE(std::string::npos, ocpText.find("\"testRunEnd\":{\"result\":\"FAIL\",\"status\":\"ERROR\"}"));
    const std::string junit = ReadFileText(out + "/junit.xml");
    EXPECT_NE(std::string::npos, junit.find("tests=\"4\" failures=\"0\" errors=\"1\" skipped=\"1\"")) << junit;
    // The tool ended its loop as on Ctrl-C: the interface closed, exit 0, the file complete.
    const std::string transcript = ReadFileText(out + "/03-stream/stderr.txt");
    const plan::Transcript t = plan::ParseTranscript(transcript, plan::ParseToolArgs({"-scanfile", "stream.bin"}));
    EXPECT_EQ(0u, t.errorCount) << transcript;
    EXPECT_TRUE(t.bringUpComplete);
    EXPECT_EQ(0, std::get<int64_t>(t.Find("stream.errors")->value));
    EXPECT_GE(ReadFileBytes(out + "/03-stream/stream.bin").size(), static_cast<size_t>(std::get<int64_t>(t.Find("stream.bytes")->value)));
    EXPECT_NE(std::string::npos, ReadFileText(out + "/report.html").find("ABORTED"));
    }
}

TEST(PlanProcess, PlanErrorsExit2BeforeAnyStep) {
    TempDir dir;
    dir.WriteText("bad.toml", "name = \"bad\"\n[[step]]\nname = \"s\"\nargs = [\"-adread\"]\n[step.limits]\n\"adc.3V3\" = [1, 2]\n");
    const ProcessResult r = RunToTheEnd(Plan({dir.File("bad.toml"), "--virtual", "--out", dir.File("out")}));
    EXPECT_EQ(2, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find(dir.File("bad.toml") + ":6: key 'adc.3V3': no such measurement")) << r.err;
    EXPECT_FALSE(FileExists(dir.File("out")));
    const ProcessResult missing = RunToTheEnd(Plan({dir.File("none.toml"), "--virtual"}));
    EXPECT_EQ(2, missing.exitCode);
    const ProcessResult noTool = RunToTheEnd(Plan({kSamplePlan, "--tool", dir.File("nothere")}));
    EXPECT_EQ(2, noTool.exitCode);
    EXPECT_NE(std::string::npos, noTool.err.find("is not there")) << noTool.err;
    const ProcessResult usage = RunToTheEnd(Plan({kSamplePlan, "--bogus"}));
    EXPECT_EQ(2, usage.exitCode);
}

TEST(PlanProcess, EarlierReportsAreNeverOverwritten) {
    TempDir dir;
    dir.WriteText("p.toml", "name = \"p\"\n[[step]]\nname = \"s\"\nargs = [\"-adread\"]\n");
    ASSERT_EQ(0, RunToTheEnd(Plan({dir.File("p.toml"), "--virtual", "--out", dir.File("out")})).exitCode);
    ExpectReportsValid(dir.File("out"));
    const ProcessResult again = RunToTheEnd(Plan({dir.File("p.toml"), "--virtual", "--out", dir.File("out")}));
    EXPECT_EQ(2, again.exitCode);
    EXPECT_NE(std::string::npos, again.err.find("already holds the reports")) << again.err;
    // A link at a report's name, even one that points nowhere, is never written through.
    ASSERT_EQ(0, mkdir(dir.File("linked").c_str(), 0755));
    ASSERT_EQ(0, symlink(dir.File("victim").c_str(), dir.File("linked/junit.xml").c_str()));
    EXPECT_EQ(2, RunToTheEnd(Plan({dir.File("p.toml"), "--virtual", "--out", dir.File("linked")})).exitCode);
    EXPECT_NE(0, access(dir.File("victim").c_str(), F_OK));
    // Without --out: a new folder in the working folder, named for the time and the serial.
    const ProcessResult named = RunToTheEnd(Plan({dir.File("p.toml"), "--virtual", "--serial", "SN 7"}, {}, dir.Path()));
    EXPECT_EQ(0, named.exitCode);
    EXPECT_TRUE(std::regex_search(named.out, std::regex("kelvotest-plan-[0-9]{8}-[0-9]{6}-SN_7"))) << named.out;
}

TEST(PlanProcess, StopOnFailSkipsTheRest) {
    TempDir dir;
    dir.WriteText("short.toml", kShortPlan);
    const ProcessResult r = RunToTheEnd(
        Plan({dir.File("short.toml"), "--virtual", "--stop-on-fail", "--out", dir.File("out")}, {"KELVOSIM=adc.ch1 = 2.9"}));
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, ReadFileText(dir.File("out/junit.xml")).find("failures=\"1\" errors=\"0\" skipped=\"3\""));
    EXPECT_FALSE(FileExists(dir.File("out/02-registers/stderr.txt")));
    ExpectReportsValid(dir.File("out"));
}

TEST(PlanProcess, AStepFarPastItsDurationIsKilledAndAnError) {
    TempDir dir;
    // A "tool" that ignores its stop request.
    dir.WriteText("stubborn", "#!/bin/sh\n[ \"$1\" = -iictest ] || exit 0\ntrap '' INT\nwhile :; do sleep 1; done\n");
    chmod(dir.File("stubborn").c_str(), 0755);
    dir.WriteText("p.toml", "name = \"p\"\n[[step]]\nname = \"loop\"\nargs = [\"-iictest\"]\nduration = 0.5\ntimeout = 1.5\n"
                            "[[step]]\nname = \"next\"\nargs = []\n");
    const ProcessResult r = RunToTheEnd(Plan({dir.File("p.toml"), "--tool", dir.File("stubborn"), "--out", dir.File("out")}), 30000);
    EXPECT_EQ(1, r.exitCode) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find("still running after 1.5 s (timeout) although its duration had ended; it was stopped and killed")) << r.out;
    EXPECT_NE(std::string::npos, ReadFileText(dir.File("out/junit.xml")).find("errors=\"1\""));
    ExpectReportsValid(dir.File("out"));
}

// A stand-in for the tool that prints a transcript whose checks pass, for the tests of what
// kelvotest-plan itself does; `extra` runs after it.
std::string FakeTool(const TempDir& dir, const std::string& name, const std::string& extra = "") {
    dir.WriteText(name, "#!/bin/sh\ncat '" + std::string(KELVO_PLAN_TRANSCRIPTS) + "/rails.txt' >&2\n" + extra + "\n");
    chmod(dir.File(name).c_str(), 0755);
    return dir.File(name);
}

int TestRunStarts(const std::string& folder) {
    int starts = 0;
    for (const json& a : Artifacts(folder + "/ocp.jsonl")) {
        starts += a.contains("testRunArtifact") && a["testRunArtifact"].contains("testRunStart") ? 1 : 0;
    }
    return starts;
}

std::string ReportsFolder(const std::string& out) {
    std::smatch match;
    return std::regex_search(out, match, std::regex("reports in ([^\n:]+)\n")) ? match[1].str() : "";
}

TEST(PlanProcess, TwoRunsStartedAtOnceNeverShareAFolder) {
    TempDir dir;
    const std::string tool = FakeTool(dir, "tool");
    dir.WriteText("p.toml", "name = \"p\"\n[[step]]\nname = \"s\"\nargs = []\n");
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        // The same --out: one run has it, the other is refused.
        const std::string out = dir.File("out" + std::to_string(round));
        // Each on a station of its own: one plan per station would refuse the second before its folder.
        ChildProcess a = ChildProcess::StartWithPipes(Plan({dir.File("p.toml"), "--tool", tool, "--out", out, "--station", "a"}));
        ChildProcess b = ChildProcess::StartWithPipes(Plan({dir.File("p.toml"), "--tool", tool, "--out", out, "--station", "b"}));
        const int codes[] = {a.WaitForExit(30000), b.WaitForExit(30000)};
        EXPECT_EQ(1, (codes[0] == 0) + (codes[1] == 0)) << a.Out() << a.Err() << b.Out() << b.Err();
        EXPECT_EQ(1, (codes[0] == 2) + (codes[1] == 2));
        EXPECT_EQ(1, TestRunStarts(out));
        // The default name: each run its own folder.
        const std::string serial = "SN" + std::to_string(round);
        ChildProcess c = ChildProcess::StartWithPipes(
            Plan({dir.File("p.toml"), "--tool", tool, "--serial", serial, "--station", "c"}, {}, dir.Path()));
        ChildProcess d = ChildProcess::StartWithPipes(
            Plan({dir.File("p.toml"), "--tool", tool, "--serial", serial, "--station", "d"}, {}, dir.Path()));
        EXPECT_EQ(0, c.WaitForExit(30000)) << c.Out() << c.Err();
        EXPECT_EQ(0, d.WaitForExit(30000)) << d.Out() << d.Err();
        const std::string folders[] = {ReportsFolder(c.Out()), ReportsFolder(d.Out())};
        EXPECT_NE(folders[0], folders[1]);
        for (const std::string& folder : folders) EXPECT_EQ(1, TestRunStarts(folder)) << folder;
    }
    // Each run is named: a random runId, the same in all three reports.
    const std::string ocpText = ReadFileText(dir.File("out0/ocp.jsonl"));
    std::smatch id;
    ASSERT_TRUE(std::regex_search(ocpText, id, std::regex("\"runId\":\"([0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12})\"")));
    EXPECT_NE(std::string::npos, ReadFileText(dir.File("out0/junit.xml")).find("<property name=\"runId\" value=\"" + id[1].str() + "\"/>"));
    EXPECT_NE(std::string::npos, ReadFileText(dir.File("out0/report.html")).find(id[1].str()));
    EXPECT_EQ(std::string::npos, ReadFileText(dir.File("out1/ocp.jsonl")).find(id[1].str()));
    ExpectReportsValid(dir.File("out0"));
}

TEST(PlanProcess, NoPartOfAStepOutlivesThePlan) {
    TempDir dir;
    // What a step's program leaves running in its group ends with it.
    dir.WriteText("p.toml", "name = \"p\"\n[[step]]\nname = \"s\"\nargs = []\n");
    const std::string tool = FakeTool(dir, "tool", "sleep 300 &");
    const ProcessResult r = RunToTheEnd(Plan({dir.File("p.toml"), "--tool", tool, "--out", dir.File("left")}));
    EXPECT_EQ(0, r.exitCode) << r.out << r.err;
    EXPECT_TRUE(WaitUntilNoProcessIn(dir.File("left/01-s"), 2000));
    // SIGKILL during a recorded stream step: the recorder ignores INT, the tool does not.
    dir.WriteText("stream.toml", kStreamPlan);
    const std::string out = dir.File("out");
    ChildProcess plan = ChildProcess::StartWithPipes(Plan({dir.File("stream.toml"), "--virtual", "--record", "--out", out}));
    ASSERT_TRUE(WaitForFileText(out + "/03-stream/stderr.txt", "Total bytes transferred", 15000)) << plan.Out() << plan.Err();
    plan.Signal(SIGKILL);
    EXPECT_EQ(128 + SIGKILL, plan.WaitForExit(5000));
    const auto killed = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitUntilNoProcessIn(out + "/03-stream", 10000));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
    EXPECT_LT(seconds, 2.0) << "the tool ended " << seconds << " s after kelvotest-plan was killed";
    ExpectReportsValid(out, /*finished=*/false);
}

TEST(PlanProcess, ABrokenOrAnotherRecordingCouldNotRun) {
    TempDir dir;
    dir.WriteText("short.toml", kShortPlan);
    const std::string recorded = dir.File("rec");
    ASSERT_EQ(0, RunToTheEnd(Plan({dir.File("short.toml"), "--virtual", "--record", "--out", recorded}), 60000).exitCode);
    // A plan whose steps differ from the recording's is refused, naming the first that differs.
    std::string changed = kShortPlan;
    changed.replace(changed.find("\"-rd\", \"20\""), 11, "\"-rd\", \"24\"");
    dir.WriteText("changed.toml", changed);
    const ProcessResult other = RunToTheEnd(Plan({dir.File("changed.toml"), "--replay", recorded, "--out", dir.File("o")}));
    EXPECT_EQ(2, other.exitCode) << other.out;
    EXPECT_NE(std::string::npos, other.err.find("step 2 'registers'")) << other.err;
    // A cut trace and an empty one: the replay's own reason, exit 2.
    const std::string trace = recorded + "/01-rails/session.kvtrace";
    const std::string whole = ReadFileText(trace);
    for (const std::string& bytes : {whole.substr(0, whole.size() / 2), std::string()}) {
        SCOPED_TRACE(bytes.size());
        dir.WriteText("rec/01-rails/session.kvtrace", bytes);
        const std::string out = dir.File("rep" + std::to_string(bytes.size()));
        const ProcessResult r = RunToTheEnd(Plan({dir.File("short.toml"), "--replay", recorded, "--out", out}));
        EXPECT_EQ(2, r.exitCode) << r.out;
        EXPECT_NE(std::string::npos, r.out.find("the replay could not run: " + trace)) << r.out;
        EXPECT_EQ(std::string::npos, r.out.find("was not found")) << r.out;
        ExpectReportsValid(out);
    }
}

TEST(PlanProcess, PathsAreTakenFromTheWorkingFolderAndStayInTheRun) {
    TempDir dir;
    FakeTool(dir, "fake.sh");
    dir.WriteText("p.toml", "name = \"p\"\n[[step]]\nname = \"a\"\nargs = []\n");
    const ProcessResult relative = RunToTheEnd(Plan({"p.toml", "--tool", "./fake.sh", "--out", "rel"}, {}, dir.Path()));
    EXPECT_EQ(0, relative.exitCode) << relative.out << relative.err;
    // A link already in --out is never written through: such a folder is not this run's.
    ASSERT_EQ(0, mkdir(dir.File("o3").c_str(), 0755));
    ASSERT_EQ(0, mkdir(dir.File("victim").c_str(), 0755));
    ASSERT_EQ(0, symlink(dir.File("victim").c_str(), dir.File("o3/01-a").c_str()));
    EXPECT_EQ(2, RunToTheEnd(Plan({"p.toml", "--tool", "./fake.sh", "--out", "o3"}, {}, dir.Path())).exitCode);
    EXPECT_FALSE(FileExists(dir.File("victim/stderr.txt")));
    // A step's file stays in its folder.
    for (const char* file : {"/tmp/x.bin", "../../x.bin"}) {
        dir.WriteText("s.toml", std::string("name = \"s\"\n[[step]]\nname = \"s\"\nargs = [\"-scanfile\", \"") + file +
                                    "\"]\nduration = 1\n");
        const ProcessResult r = RunToTheEnd(Plan({"s.toml", "--virtual", "--out", "s"}, {}, dir.Path()));
        EXPECT_EQ(2, r.exitCode) << file;
        EXPECT_NE(std::string::npos, r.err.find("plan error: s.toml:2: key 'args': -scanfile '" + std::string(file))) << r.err;
    }
}

TEST(PlanProcess, AFullDiskAndOddPlansAreSaidAsTheyAre) {
    TempDir dir;
    const std::string tool = FakeTool(dir, "tool", "yes transcript | head -c 40000 >&2");
    dir.WriteText("p.toml", "name = \"p\"\n[[step]]\nname = \"a\"\nargs = []\n[[step]]\nname = \"b\"\nargs = []\n");
    // A file size limit stands in for a full disk: the reports cannot be written whole.
    const ProcessResult full = RunToTheEnd(ToolRun{{"-c", "ulimit -f 32; exec \"$0\" \"$@\"", PlanProgram(), "p.toml", "--tool",
                                                    tool, "--out", "full"}, {}, dir.Path(), "/bin/sh"});
    EXPECT_EQ(2, full.exitCode) << full.out << full.err;
    EXPECT_EQ(std::string::npos, full.out.find("PASS")) << full.out;
    EXPECT_NE(std::string::npos, full.err.find("stderr.txt: File too large")) << full.err;
    // A plan from a pipe: read once, its copy written from what was read.
    ASSERT_EQ(0, mkfifo(dir.File("fifo").c_str(), 0644));
    const ProcessResult piped = RunToTheEnd(ToolRun{{"-c", "cat p.toml > fifo & exec \"$0\" \"$@\"", PlanProgram(), "fifo",
                                                     "--tool", FakeTool(dir, "quiet"), "--out", "piped"}, {}, dir.Path(), "/bin/sh"});
    EXPECT_EQ(0, piped.exitCode) << piped.out << piped.err;
    EXPECT_EQ(ReadFileText(dir.File("p.toml")), ReadFileText(dir.File("piped/plan.toml")));
    // A folder or a device is no plan.
    for (const auto& [plan, message] : {std::pair{dir.Path(), ": is a folder"}, std::pair{std::string("/dev/zero"), ": is neither a file nor a pipe"}}) {
        const ProcessResult r = RunToTheEnd(Plan({plan, "--tool", tool, "--out", dir.File("none")}));
        EXPECT_EQ(2, r.exitCode);
        EXPECT_NE(std::string::npos, r.err.find(plan + message)) << r.err;
    }
    // Nor a transcript, nor a station's file: refused, never read as empty.
    const ProcessResult read = RunToTheEnd(Plan({"--read", dir.Path()}));
    EXPECT_EQ(2, read.exitCode) << read.out;
    EXPECT_NE(std::string::npos, read.err.find(dir.Path() + ": is a folder, not a transcript")) << read.err;
    const ProcessResult station = RunToTheEnd(Plan({dir.File("p.toml"), "--station-file", dir.Path(), "--tool", tool}));
    EXPECT_EQ(2, station.exitCode) << station.out;
    EXPECT_NE(std::string::npos, station.err.find(dir.Path() + ": is a folder, not a station file")) << station.err;
}

TEST(PlanProcess, StepNamesReachTheTerminalEscapedAndAligned) {
    TempDir dir;
    const std::string tool = FakeTool(dir, "tool");
    dir.WriteText("p.toml", "name = \"p\"\n[[step]]\nname = \"red\\u001b[31m\"\nargs = []\n[[step]]\nname = \"日本語\"\nargs = []\n"
                            "[[step]]\nname = \"Größe\"\nargs = []\n");
    const ProcessResult r = RunToTheEnd(Plan({dir.File("p.toml"), "--tool", tool, "--out", dir.File("out")}));
    EXPECT_EQ(0, r.exitCode) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find('\x1b')) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("red\\x1b[31m")) << r.out;
    // The summary's result column, in terminal columns: 日本語 takes six.
    for (const char* row : {"  1  red\\x1b[31m  pass", "  2  日本語       pass", "  3  Größe        pass"}) {
        EXPECT_NE(std::string::npos, r.out.find(row)) << row << "\n" << r.out;
    }
}

TEST(PlanProcess, AStepThatTimedOutIsAnErrorThoughItsChecksPass) {
    TempDir dir;
    // Ignores the stop at the end of its duration, exits 0 on the next: the time-out's.
    const std::string tool = FakeTool(dir, "late", "[ \"$1\" = -iictest ] || exit 0\nn=0\n"
                                                   "trap 'n=$((n+1)); [ $n -ge 2 ] && exit 0' INT\nwhile :; do sleep 0.1; done");
    dir.WriteText("p.toml", "name = \"p\"\n[[step]]\nname = \"loop\"\nargs = [\"-iictest\"]\nduration = 2\n");
    const ProcessResult r = RunToTheEnd(Plan({dir.File("p.toml"), "--tool", tool, "--out", dir.File("out")}), 60000);
    EXPECT_EQ(1, r.exitCode) << r.out << r.err;
    // The default time-out of a short loop step: its duration and ten seconds.
    EXPECT_NE(std::string::npos, r.out.find("still running after 12 s (timeout) although its duration had ended; it was stopped\n")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("FAIL: p, 0 of 1 steps passed")) << r.out;
    ExpectReportsValid(dir.File("out"));
}

TEST(PlanProcess, ReadPrintsTheMeasurementsOfASavedTranscript) {
    const ProcessResult r = RunToTheEnd(Plan({"--read", std::string(KELVO_PLAN_TRANSCRIPTS) + "/write_failure.txt", "--", "-wd",
                                              "20", "-wdi", "24", "-val", "1"}));
    ASSERT_EQ(0, r.exitCode) << r.err;
    const json j = json::parse(r.out);
    bool found = false;
    for (const json& m : j["measurements"]) found = found || (m["name"] == "reg.wd.0x20" && m["value"] == false);
    EXPECT_TRUE(found) << r.out;
    EXPECT_EQ(1, j["error_count"]);
    EXPECT_EQ(2, RunToTheEnd(Plan({"--read", "/nonexistent/transcript"})).exitCode);
}

// The parser keeps up with the tool: live transcripts of every one-shot action.
TEST(PlanProcess, ParserReadsEveryActionOfALiveTranscript) {
    TempDir dir;
    const std::vector<std::string> args{"-wb", "30", "-ww", "32", "-wwi", "34", "-wd", "38", "-wdi", "3c", "-val", "1234",
                                        "-rb", "30", "-rw", "32", "-rwi", "34", "-rd", "38", "-rdi", "3c", "-wre", "9",
                                        "-rde", "9", "-id", "a0", "-dumpe", "-dao", "20", "-adread", "-tinit", "170",
                                        "-trd", "-motor", "1", "-lines", "-stat"};
    const ProcessResult r = RunToTheEnd(ToolRun{args, {}, dir.Path(), ""});
    ASSERT_EQ(0, r.exitCode);
    const plan::Transcript t = plan::ParseTranscript(r.err, plan::ParseToolArgs(args));
    for (const char* name : {"versions.hardware", "versions.firmware", "versions.library", "versions.usb_driver",
                             "versions.match", "fpga.loaded", "reg.wb.0x30", "reg.ww.0x32", "reg.wwi.0x34", "reg.wd.0x38",
                             "reg.wdi.0x3c", "reg.rb.0x30", "reg.rw.0x32", "reg.rwi.0x34", "reg.rd.0x38", "reg.rdi.0x3c",
                             "eeprom.a0.9.written", "eeprom.a0.9", "eeprom.a0.dump", "dac.set", "adc.raw", "adc.3v3",
                             "adc.5v", "adc.24v", "temp.init", "temp.raw", "motor.started", "lines.count", "status.ls",
                             "status.led", "status.ram", "status.count", "status.fifo", "status.last_error", "errors.count"}) {
        char kind = 0;
        EXPECT_TRUE(plan::IsKnownMeasurement(name, &kind)) << name;
        EXPECT_NE(nullptr, t.Find(name)) << name << "\n" << r.err;
    }
    EXPECT_EQ(0u, t.errorCount) << r.err;
    EXPECT_TRUE(t.bringUpComplete);
    EXPECT_EQ(plan::Value{int64_t{0x34}}, t.Find("eeprom.a0.9")->value);
}

}  // namespace
