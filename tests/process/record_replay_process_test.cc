// tests/process/record_replay_process_test.cc: sessions recorded through kelvotest-record in
// front of the virtual scanner with injected faults, then replayed by the virtual scanner
// from the trace alone: the tool's transcript comes out the same, a changed command line
// stops the replay at the right call, and a missing real library is never a silent pass.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
        return std::regex_replace(WithoutAnnouncements(text), figures, "Total bytes transferred: N, Data Rate: N,");
    }
    // The virtual scanner's own lines ("kelvosim: ...") say how it runs, which differs between
    // recording and replay; the tool's lines are compared.
    static std::string WithoutAnnouncements(const std::string& text) {
        std::string kept;
        for (size_t at = 0; at < text.size();) {
            const size_t end = text.find('\n', at);
            const size_t next = end == std::string::npos ? text.size() : end + 1;
            if (text.compare(at, 10, "kelvosim: ") != 0) kept.append(text, at, next - at);
            at = next;
        }
        return kept;
    }

    // Under a terminal, one key ends each loop. A key typed before its loop has started is
    // discarded, so each comes a while after its loop's first line, however slowly the machine
    // starts the tool.
    struct KeyAfter {
        std::string loopStarted;
        int milliseconds;
    };
    static ProcessResult EndLoopsWithKeys(const ToolRun& run, const std::vector<KeyAfter>& keys) {
        ChildProcess tool = ChildProcess::StartUnderPty(run);
        for (const KeyAfter& key : keys) {
            EXPECT_TRUE(tool.WaitForText(key.loopStarted, 20000)) << tool.Out();
            std::this_thread::sleep_for(std::chrono::milliseconds(key.milliseconds));
            tool.Type("q");
        }
        const int exitCode = tool.WaitForExit(20000);
        return ProcessResult{exitCode, tool.Out(), ""};
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
    EXPECT_EQ(WithoutAnnouncements(recorded.err), WithoutAnnouncements(replayed.err));
    EXPECT_EQ(recorded.out, replayed.out);
}

TEST_F(RecordReplay, FailedVerifyOfTheBootEepromReplaysToTheSameTranscript) {
    dir.Write("image.iic", DistinctBytes(3000));
    const ProcessResult recorded = RunToTheEnd(Recorded({"-prg", "image.iic"}));
    ASSERT_NE(std::string::npos, recorded.err.find("ksutest: Error: -300 \nksutest: Err. gBootFilename\n")) << recorded.err;
    const ProcessResult replayed = RunToTheEnd(Replayed({"-prg", "image.iic"}));
    EXPECT_EQ(recorded.exitCode, replayed.exitCode);
    EXPECT_EQ(WithoutAnnouncements(recorded.err), WithoutAnnouncements(replayed.err));
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
    // Across the restart of the data flow too: the replay serves blocks a little ahead of their
    // time, so the replayed tool, restarting by its own clock, has read what the bench read.
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

// Ended by a key after 2.5 s, with one restart of the data flow on the way: replayed fast
// without a terminal (the replay raises the stop request where the recorded loop ended) and
// with recorded pace under a terminal (the stream is served, then no data until the key),
// each replay writes the recorded data file and ends cleanly.
TEST_F(RecordReplay, StreamedSessionReplaysToItsEnd) {
    const std::string stream = "ReadBlock from Scanner in File";
    const ProcessResult recorded =
        EndLoopsWithKeys(Recorded({"-scanfile", "a.bin"}, "KELVOSIM=stream.rate = 2000000"), {{stream, 2500}});
    ASSERT_EQ(0, recorded.exitCode) << recorded.out;
    const std::vector<uint8_t> data = ReadFileBytes(dir.File("a.bin"));
    ASSERT_GT(data.size(), 3000000u);

    ToolRun fast = Replayed({"-scanfile", "b.bin"});
    fast.env[0] += "; replay.end = stop";
    const ProcessResult stopped = RunToTheEnd(fast);
    EXPECT_EQ(0, stopped.exitCode) << stopped.err;
    EXPECT_EQ(std::string::npos, stopped.err.find("kelvosim: replay")) << stopped.err;
    EXPECT_TRUE(data == ReadFileBytes(dir.File("b.bin")));

    const ProcessResult paced = EndLoopsWithKeys(Replayed({"-scanfile", "c.bin"}, "recorded"), {{stream, 4000}});
    EXPECT_EQ(0, paced.exitCode) << paced.out;
    EXPECT_EQ(std::string::npos, paced.out.find("kelvosim: replay")) << paced.out;
    EXPECT_TRUE(data == ReadFileBytes(dir.File("c.bin")));

    // The I2C loop, then the stream. Under a terminal a key ends each loop, and the data file
    // is the recorded one.
    const std::string i2c = "ksutest: iictest";
    ASSERT_EQ(0, EndLoopsWithKeys(Recorded({"-iictest", "-scanfile", "d.bin"}, "KELVOSIM=stream.rate = 2000000"),
                                  {{i2c, 300}, {stream, 2500}})
                     .exitCode);
    const ProcessResult bothReplayed =
        EndLoopsWithKeys(Replayed({"-iictest", "-scanfile", "e.bin"}), {{i2c, 500}, {stream, 3000}});
    EXPECT_EQ(0, bothReplayed.exitCode) << bothReplayed.out;
    EXPECT_EQ(std::string::npos, bothReplayed.out.find("kelvosim: replay")) << bothReplayed.out;
    EXPECT_TRUE(ReadFileBytes(dir.File("d.bin")) == ReadFileBytes(dir.File("e.bin")));
    // Without a terminal, "replay.end = stop" ends the first loop where the bench's ended; the
    // stop request skips the stream, as Ctrl-C would have, and the replay says so.
    ToolRun both = Replayed({"-iictest", "-scanfile", "f.bin"});
    both.env[0] += "; replay.end = stop";
    const ProcessResult firstEnded = RunToTheEnd(both, 20000);
    EXPECT_EQ(0, firstEnded.exitCode) << firstEnded.err;
    EXPECT_NE(std::string::npos, firstEnded.err.find("what the recording holds after that loop, were not replayed"))
        << firstEnded.err;
    // The stress loop left out before the stream is an action left out.
    const ProcessResult streamOnly = RunToTheEnd(Replayed({"-scanfile", "g.bin"}), 20000);
    EXPECT_NE(std::string::npos, streamOnly.err.find("differs from the recording: recorded I2C_PROM_read(")) << streamOnly.err;
    EXPECT_EQ(2, streamOnly.exitCode);
}

// The data file is a FIFO read slowly: the tool restarts the data flow before it has read what
// the bench had, and the rest comes after its restarts. With "replay.end = stop" the stop comes
// only once the tool has read the last recorded block: the file is the bench's, whole.
TEST_F(RecordReplay, SlowReaderOfTheDataFileGetsTheWholeFile) {
    ChildProcess bench = ChildProcess::StartWithPipes(Recorded({"-scanfile", "a.bin"}, "KELVOSIM=stream.rate = 2000000"));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    bench.Signal(SIGINT);
    ASSERT_EQ(0, bench.WaitForExit(10000)) << bench.Err();
    const std::vector<uint8_t> recorded = ReadFileBytes(dir.File("a.bin"));
    ASSERT_GT(recorded.size(), 4000000u);

    ASSERT_EQ(0, mkfifo(dir.File("b.bin").c_str(), 0600));
    std::vector<uint8_t> replayed;
    std::thread reader([&replayed, path = dir.File("b.bin")] {
        const int fd = open(path.c_str(), O_RDONLY);
        std::vector<uint8_t> chunk(16384);
        for (ssize_t got; fd >= 0 && (got = read(fd, chunk.data(), chunk.size())) > 0;) {
            replayed.insert(replayed.end(), chunk.begin(), chunk.begin() + got);
            std::this_thread::sleep_for(std::chrono::milliseconds(32));   // about 0.5 MB/s: four restarts
        }
        if (fd >= 0) close(fd);
    });
    ToolRun run = Replayed({"-scanfile", "b.bin"});
    run.env[0] += "; replay.end = stop";
    const ProcessResult result = RunToTheEnd(run, 60000);
    // A replay that never opened its data file leaves the reader waiting for a writer: one
    // that opens and closes the FIFO ends it, so that the test fails instead of hanging.
    if (const int writer = open(dir.File("b.bin").c_str(), O_WRONLY | O_NONBLOCK); writer >= 0) close(writer);
    reader.join();
    EXPECT_EQ(0, result.exitCode) << result.err;
    EXPECT_EQ(recorded.size(), replayed.size()) << result.err;
    EXPECT_TRUE(recorded == replayed);
}

// A replay that has diverged raises a stop request, so that a stress loop whose every call now
// fails ends by itself without a terminal.
TEST_F(RecordReplay, DivergedReplayEndsWithoutATerminal) {
    ChildProcess bench = ChildProcess::StartUnderPty(Recorded({"-rde", "5", "-id", "a0", "-iictest"}, "KELVOSIM="));
    ASSERT_TRUE(bench.WaitForText("Count of I2C-Reads:", 10000));
    bench.Type("q");
    ASSERT_EQ(0, bench.WaitForExit(10000));
    const ProcessResult replayed = RunToTheEnd(Replayed({"-rde", "6", "-id", "a0", "-iictest"}), 10000);
    EXPECT_EQ(2, replayed.exitCode);
    EXPECT_NE(std::string::npos, replayed.err.find("differs from the recording")) << replayed.err.substr(0, 2000);
    EXPECT_LT(replayed.err.size(), 100000u);
}

// A pass with a failed read and the look-up of its error text is a pass of the one stress loop:
// ended earlier than on the bench, the replay goes on with what followed the loop.
TEST_F(RecordReplay, StressLoopWithErrorPassesEndedEarly) {
    const auto keyAfter = [](const ToolRun& run, int milliseconds) {
        return EndLoopsWithKeys(run, {{"ksutest: iictest", milliseconds}});
    };
    const ProcessResult bench = keyAfter(Recorded({"-iictest", "-stat"}, "KELVOSIM=fail.I2C_PROM_read = -601 at 2000"), 1500);
    ASSERT_EQ(0, bench.exitCode) << bench.out;
    ASSERT_NE(std::string::npos, bench.out.find("-601")) << bench.out;
    const ProcessResult replayed = keyAfter(Replayed({"-iictest", "-stat"}, "recorded"), 200);
    EXPECT_EQ(0, replayed.exitCode) << replayed.out;
    EXPECT_EQ(std::string::npos, replayed.out.find("kelvosim: replay")) << replayed.out;
    EXPECT_EQ(std::string::npos, replayed.out.find("-110")) << replayed.out;
}

// An action added after the I2C loop, or one left out, stops the replay with -110, although
// the added one is a call the loop makes on every pass.
TEST_F(RecordReplay, ActionAddedOrLeftOutStopsTheReplay) {
    const auto keyAfter = [](const ToolRun& run) { return EndLoopsWithKeys(run, {{"ksutest: iictest", 300}}); };
    ASSERT_EQ(0, keyAfter(Recorded({"-iictest"}, "KELVOSIM=")).exitCode);
    // The loop never entered is an action left out too, told with its first call.
    const ProcessResult noLoop = RunToTheEnd(Replayed({}));
    EXPECT_NE(std::string::npos, noLoop.err.find("differs from the recording")) << noLoop.err;
    EXPECT_EQ(2, noLoop.exitCode);
    const ProcessResult statusInstead = RunToTheEnd(Replayed({"-stat"}));
    EXPECT_NE(std::string::npos, statusInstead.err.find("call 6 differs from the recording: recorded I2C_PROM_read("))
        << statusInstead.err;
    const ProcessResult added = keyAfter(Replayed({"-iictest", "-tinit", "170"}));
    EXPECT_NE(std::string::npos, added.out.find("differs from the recording")) << added.out;
    EXPECT_NE(std::string::npos, added.out.find("Error occured during test: -110!")) << added.out;
    EXPECT_EQ(2, added.exitCode);

    ASSERT_EQ(0, keyAfter(Recorded({"-iictest", "-tinit", "170"}, "KELVOSIM=")).exitCode);
    const ProcessResult leftOut = keyAfter(Replayed({"-iictest"}));
    EXPECT_NE(std::string::npos, leftOut.out.find("differs from the recording")) << leftOut.out;
    EXPECT_EQ(2, leftOut.exitCode);
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

namespace {

const std::string kKelvotrace = KELVOTRACE_PATH;

class Recorder : public ::testing::Test {
protected:
    ToolRun Script(std::vector<std::string> args, std::string env = "KELVOSIM=") {
        return ToolRun{std::move(args), {std::move(env)}, dir.Path(), kRecordScript};
    }
    ProcessResult Kelvotrace(const std::string& command, const std::string& trace) {
        return RunToTheEnd(ToolRun{{command, trace}, {}, dir.Path(), kKelvotrace});
    }
    static int Count(const std::string& text, const std::string& what) {
        int count = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
        return count;
    }
    static void WaitForReports(ChildProcess& tool, int reports) {
        for (int waited = 0; waited < 200 && tool.Occurrences("Errors: ") < reports; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    TempDir dir;
};

// kelvotest-virtual as installed: the script, the tool and the virtual scanner's folder side
// by side. Recording through it records the virtual scanner; a program that writes no trace
// fails the recording.
TEST_F(Recorder, RecordingThroughKelvotestVirtualWritesATrace) {
    std::string script = ReadFileText(KELVO_VIRTUAL_SCRIPT_IN);
    script.replace(script.find("@KELVO_BIN_TO_VIRTUAL@"), 22, "virtual");
    dir.WriteText("kelvotest-virtual", script);
    ASSERT_EQ(0, chmod(dir.File("kelvotest-virtual").c_str(), 0755));
    ASSERT_EQ(0, symlink(ToolPath().c_str(), dir.File("kelvotest").c_str()));
    ASSERT_EQ(0, symlink(LibraryDir().c_str(), dir.File("virtual").c_str()));
    const std::string library = dir.File("virtual/libkelvoscanusb.so.1");
    const ProcessResult recorded =
        RunToTheEnd(Script({"--library", library, "t.kvtrace", "--", dir.File("kelvotest-virtual"), "-stat"}));
    EXPECT_EQ(0, recorded.exitCode) << recorded.err;
    const ProcessResult dump = Kelvotrace("dump", "t.kvtrace");
    EXPECT_EQ(0, dump.exitCode) << dump.err;
    EXPECT_NE(std::string::npos, dump.out.find("GetScanStatus() = 0")) << dump.out;

    const ProcessResult none = RunToTheEnd(Script({"--library", library, "none.kvtrace", "--", "true"}));
    EXPECT_EQ(1, none.exitCode);
    EXPECT_NE(std::string::npos, none.err.find("kelvotest-record: true ran, but no trace was written to none.kvtrace"))
        << none.err;
}

// The trace can take 4 KiB: recording stops with one message, the trace is marked as cut,
// and every later call still reaches the library, Free_Interface (failing with -301 by the
// scenario) included.
TEST_F(Recorder, FullTraceDiskStopsTheRecordingButNotTheSession) {
    ToolRun run{{"-c", "trap '' XFSZ; ulimit -f 8; exec \"$@\"", "sh", kRecordScript, "t.kvtrace", "--", ToolPath(), "-scan"},
                {"KELVOSIM=fail.Free_Interface = -301"}, dir.Path(), "/bin/sh"};
    ChildProcess tool = ChildProcess::StartWithPipes(run);
    WaitForReports(tool, 2);
    tool.Signal(SIGINT);
    EXPECT_EQ(2, tool.WaitForExit(10000));
    EXPECT_EQ(1, Count(tool.Err(), "kelvorec: ")) << tool.Err();
    EXPECT_NE(std::string::npos, tool.Err().find("recording stops here")) << tool.Err();
    EXPECT_EQ(std::string::npos, tool.Err().find("-190"));
    EXPECT_NE(std::string::npos, tool.Err().find("ksutest: Error Free_interface!\nksutest: Error occured during test: -301!"))
        << tool.Err();
    const ProcessResult stats = Kelvotrace("stats", "t.kvtrace");
    EXPECT_EQ(2, stats.exitCode);
    EXPECT_NE(std::string::npos, stats.err.find("the recording stopped after record")) << stats.err;
}

// A killed program leaves a trace without its closing record, read as cut; one that ends
// without Free_Interface, its last block still in an open group, leaves a whole trace.
TEST_F(Recorder, KilledSessionReadsAsCutAndOneEndedWithoutFreeAsWhole) {
    ChildProcess tool = ChildProcess::StartWithPipes(Script({"t.kvtrace", "--", ToolPath(), "-scan"}));
    WaitForReports(tool, 1);
    tool.Signal(SIGKILL);
    tool.WaitForExit(10000);
    const ProcessResult killed = Kelvotrace("dump", "t.kvtrace");
    EXPECT_EQ(2, killed.exitCode);
    EXPECT_NE(std::string::npos, killed.err.find("without its closing record: the recorded program was killed")) << killed.err;

    const std::string library = LibraryDir() + "/libkelvoscanusb.so.1";
    const ProcessResult ended = RunToTheEnd(Script({"--library", library, "e.kvtrace", "--", KELVO_LAST_BLOCK_CLIENT}));
    EXPECT_EQ(0, ended.exitCode) << ended.err;
    const ProcessResult dump = Kelvotrace("dump", "e.kvtrace");
    EXPECT_EQ(0, dump.exitCode) << dump.err;
    EXPECT_NE(std::string::npos, dump.out.find(" ReadBlock(requested 0x3e8) = ")) << dump.out;
}

// A FIFO at the trace's name is never opened by the script (nor by the recording library),
// and a program that cannot be started is told as such.
TEST_F(Recorder, FifoTraceOrMissingProgramIsToldAtOnce) {
    ASSERT_EQ(0, mkfifo(dir.File("f.kvtrace").c_str(), 0600));
    const ProcessResult fifo = RunToTheEnd(Script({"f.kvtrace", "--", ToolPath(), "-stat"}), 15000);
    EXPECT_NE(-1, fifo.exitCode) << "the script waits on the FIFO";
    EXPECT_NE(0, fifo.exitCode);
    EXPECT_NE(std::string::npos, fifo.err.find("kelvorec: cannot create the trace f.kvtrace: it is not a regular file"))
        << fifo.err;
    const ProcessResult missing = RunToTheEnd(Script({"t.kvtrace", "--", "nosuchprog"}));
    EXPECT_EQ(127, missing.exitCode);
    EXPECT_NE(std::string::npos, missing.err.find("kelvotest-record: nosuchprog: program not found; it could not be started"))
        << missing.err;
    EXPECT_EQ(std::string::npos, missing.err.find("ran, but")) << missing.err;
}

// A second recording to a trace in use is refused and the first goes on whole; a symbolic
// link at the trace's name is never followed.
TEST_F(Recorder, TraceInUseOrBehindALinkIsRefused) {
    ChildProcess first = ChildProcess::StartWithPipes(Script({"t.kvtrace", "--", ToolPath(), "-scan"}));
    WaitForReports(first, 1);
    const ProcessResult second = RunToTheEnd(Script({"t.kvtrace", "--", ToolPath(), "-stat"}));
    EXPECT_NE(0, second.exitCode);
    EXPECT_NE(std::string::npos,
              second.err.find("kelvorec: cannot create the trace t.kvtrace: another recording is writing it"))
        << second.err;
    first.Signal(SIGINT);
    EXPECT_EQ(0, first.WaitForExit(10000));
    const ProcessResult stats = Kelvotrace("stats", "t.kvtrace");
    EXPECT_EQ(0, stats.exitCode) << stats.err;
    EXPECT_NE(std::string::npos, stats.out.find("  Free_Interface     1")) << stats.out;

    dir.WriteText("victim.txt", "keep me");
    ASSERT_EQ(0, symlink("victim.txt", dir.File("link.kvtrace").c_str()));
    const ProcessResult linked = RunToTheEnd(Script({"link.kvtrace", "--", ToolPath(), "-stat"}));
    EXPECT_NE(0, linked.exitCode);
    EXPECT_NE(std::string::npos, linked.err.find("it is a symbolic link")) << linked.err;
    EXPECT_EQ("keep me", ReadFileText(dir.File("victim.txt")));
}

// With a FIFO of 4 KiB most blocks come short: each is recorded with its received length and
// its data, so the trace holds exactly the bytes of the scan file.
TEST_F(Recorder, ShortBlocksAreRecordedWithTheirData) {
    ChildProcess tool =
        ChildProcess::StartWithPipes(Script({"t.kvtrace", "--", ToolPath(), "-scanfile", "a.bin"}, "KELVOSIM=stream.fifo = 4096"));
    WaitForReports(tool, 1);
    tool.Signal(SIGINT);
    ASSERT_EQ(0, tool.WaitForExit(10000));
    const size_t fileBytes = ReadFileBytes(dir.File("a.bin")).size();
    ASSERT_GT(fileBytes, 0u);
    const ProcessResult stats = Kelvotrace("stats", "t.kvtrace");
    EXPECT_EQ(0, stats.exitCode) << stats.err;
    EXPECT_NE(std::string::npos, stats.out.find("stream: " + std::to_string(fileBytes) + " bytes")) << stats.out;
}

// A library that claims to have moved 100 bytes more than each request: the trace keeps the
// claim and exactly the requested bytes, read from the caller's buffer and nowhere else.
TEST_F(Recorder, ClaimBeyondTheRequestIsRecordedWithTheRequestedBytes) {
    ChildProcess tool = ChildProcess::StartWithPipes(
        Script({"--library", KELVO_GREEDY_LIBRARY, "t.kvtrace", "--", ToolPath(), "-scan"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    tool.Signal(SIGINT);
    tool.WaitForExit(10000);
    const ProcessResult dump = Kelvotrace("dump", "t.kvtrace");
    ASSERT_EQ(0, dump.exitCode) << dump.err;
    static const std::regex block("ReadBlock\\(requested 0x([0-9a-f]+)\\) = 0 -> 0x([0-9a-f]+) pattern from word 0x[0-9a-f]+ ([0-9]+) bytes\n");
    int blocks = 0;
    for (auto match = std::sregex_iterator(dump.out.begin(), dump.out.end(), block); match != std::sregex_iterator(); ++match) {
        const long requested = std::stol((*match)[1].str(), nullptr, 16);
        EXPECT_EQ(requested + 100, std::stol((*match)[2].str(), nullptr, 16));
        EXPECT_EQ(requested, std::stol((*match)[3].str()));
        ++blocks;
    }
    EXPECT_GT(blocks, 10) << dump.out.substr(0, 2000);
}

}  // namespace
