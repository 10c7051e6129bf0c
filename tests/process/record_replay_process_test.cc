// tests/process/record_replay_process_test.cc: sessions recorded through kelvotest-record in
// front of the virtual scanner with injected faults, then replayed by the virtual scanner
// from the trace alone: the tool's transcript comes out the same, a changed command line
// stops the replay at the right call, and a missing real library is never a silent pass.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/pty_process.h"
#include "tests/support/temp_files.h"

namespace {

const std::string kRecordScript = std::string(KELVO_RECORDER_DIR) + "/kelvotest-record";
const std::string kFaults =
    "KELVOSIM=eeprom.a0.nak = 1; fail.RegWriteLong = -301; stream.rate = 2000000; stream.drop = at 30000; "
    "stream.corrupt = at 90000; fail.ReadBlock = -306 at 5; eeprom.a2.read_flip = 100";

class RecordReplay : public ::testing::Test {
protected:
    ToolRun Recorded(std::vector<std::string> args, std::string env = kFaults) {
        std::vector<std::string> words{"trace.kvtrace", "--", ToolPath()};
        words.insert(words.end(), args.begin(), args.end());
        return ToolRun{words, {std::move(env)}, dir.Path(), kRecordScript};
    }
    ToolRun Replayed(std::vector<std::string> args, const std::string& pace = "fast") {
        return ToolRun{std::move(args), {"KELVOSIM=replay = trace.kvtrace; replay.pace = " + pace}, dir.Path(), ""};
    }

    // The figures of the throughput lines follow the replaying machine's clock.
    static std::string WithoutThroughputFigures(const std::string& text) {
        static const std::regex figures("Total bytes transferred: [0-9]+, Data Rate: [0-9]+,");
        return std::regex_replace(text, figures, "Total bytes transferred: N, Data Rate: N,");
    }

    TempDir dir;
};

TEST_F(RecordReplay, FaultySessionReplaysToTheSameTranscript) {
    const std::vector<std::string> args{"-rde", "9", "-id", "a0", "-wd", "20", "-val", "5", "-rb", "10", "-stat",
                                        "-lines", "-motor", "3", "-trd", "-adread"};
    const ProcessResult recorded = RunToTheEnd(Recorded(args));
    ASSERT_NE(std::string::npos, recorded.err.find("ksutest: Err.RegWriteLong")) << recorded.err;
    ASSERT_NE(std::string::npos, recorded.err.find("no acknowledge")) << recorded.err;
    const ProcessResult replayed = RunToTheEnd(Replayed(args));
    EXPECT_EQ(recorded.exitCode, replayed.exitCode);
    EXPECT_EQ(recorded.err, replayed.err);
    EXPECT_EQ(recorded.out, replayed.out);
}

TEST_F(RecordReplay, FailedVerifyOfTheBootEepromReplaysToTheSameTranscript) {
    dir.Write("image.iic", DistinctBytes(3000));
    const ProcessResult recorded = RunToTheEnd(Recorded({"-prg", "image.iic"}));
    ASSERT_NE(std::string::npos, recorded.err.find("ksutest: Error: -300 \nksutest: Err. gBootFilename\n")) << recorded.err;
    const ProcessResult replayed = RunToTheEnd(Replayed({"-prg", "image.iic"}));
    EXPECT_EQ(recorded.exitCode, replayed.exitCode);
    EXPECT_EQ(recorded.err, replayed.err);
}

// Ended by Ctrl-C after three reports, recorded and replayed alike; with recorded pace the
// reports come when they came, and the stream (a lost word, a corrupted one, a -306 status)
// gives the same errors at the same positions. Up to the first restart (about 4 MB in) the
// file is the recorded data; after it, the replay's clock decides where the restart falls.
TEST_F(RecordReplay, StreamWithRecordedPaceGivesTheSameReportsAndErrors) {
    const auto runUntilThirdReport = [](const ToolRun& run) {
        ChildProcess tool = ChildProcess::StartWithPipes(run);
        for (int waited = 0; waited < 200 && tool.Occurrences("Errors: ") < 3; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        tool.Signal(SIGINT);
        const int exitCode = tool.WaitForExit(10000);
        return ProcessResult{exitCode, tool.Out(), tool.Err()};
    };
    const ProcessResult recorded = runUntilThirdReport(Recorded({"-scanfile", "out.bin"}));
    ASSERT_NE(std::string::npos, recorded.err.find("First ErrPosition:0xea60 errorvalue:0x7531!")) << recorded.err;
    const std::vector<uint8_t> recordedFile = ReadFileBytes(dir.File("out.bin"));
    const ProcessResult replayed = runUntilThirdReport(Replayed({"-scanfile", "out.bin"}, "recorded"));
    EXPECT_EQ(recorded.exitCode, replayed.exitCode);
    EXPECT_EQ(WithoutThroughputFigures(recorded.err), WithoutThroughputFigures(replayed.err));
    const std::vector<uint8_t> replayedFile = ReadFileBytes(dir.File("out.bin"));
    constexpr size_t kBeforeFirstRestart = 1000000;
    ASSERT_GT(replayedFile.size(), kBeforeFirstRestart);
    ASSERT_GT(recordedFile.size(), kBeforeFirstRestart);
    EXPECT_TRUE(std::equal(replayedFile.begin(), replayedFile.begin() + kBeforeFirstRestart, recordedFile.begin()));
}

TEST_F(RecordReplay, ChangedCommandLineStopsTheReplayAtTheFirstDifferentCall) {
    ASSERT_EQ(0, RunToTheEnd(Recorded({"-rb", "10", "-stat"})).exitCode);
    const ProcessResult replayed = RunToTheEnd(Replayed({"-rb", "11", "-stat"}));
    // Calls 1-5: trace mask, open, time-out, versions, FPGA file; call 6 is the register read.
    EXPECT_NE(std::string::npos,
              replayed.err.find("kelvosim: replay: call 6 differs from the recording: recorded RegRead(address 0x10) "
                                "(record 6), asked RegRead(address 0x11)\n"))
        << replayed.err;
    // That call and every later one fail with the replay's own code.
    EXPECT_EQ(std::string::npos, replayed.err.find("scannerStatus"));
    EXPECT_NE(std::string::npos, replayed.err.find("ksutest: Error occured during test: -110!"));
    EXPECT_EQ(2, replayed.exitCode);
}

TEST_F(RecordReplay, MissingRealLibraryFailsEveryCallWithAMessage) {
    ToolRun run = Recorded({"-rb", "10"});
    run.args.insert(run.args.begin(), {"--library", dir.File("nowhere/libkelvoscanusb.so.1")});
    EXPECT_EQ(1, RunToTheEnd(run).exitCode);   // the script refuses a library that is not there
    run.program = ToolPath();
    run.args = {"-rb", "10"};
    run.env = {"LD_LIBRARY_PATH=" + std::string(KELVO_RECORDER_DIR), "KELVOREC_TRACE=trace.kvtrace",
               "KELVOREC_LIBRARY=" + dir.File("nowhere.so")};
    const ProcessResult result = RunToTheEnd(run);
    EXPECT_NE(std::string::npos, result.err.find("kelvorec: cannot load " + dir.File("nowhere.so"))) << result.err;
    EXPECT_NE(std::string::npos, result.err.find("Error occured during test: -190!")) << result.err;
    EXPECT_EQ(2, result.exitCode);
}

}  // namespace
