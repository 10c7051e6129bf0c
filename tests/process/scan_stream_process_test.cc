// The scan streaming test as a user runs it, with the virtual scanner: ended by a key under a
// terminal or by a signal without one, the scan file checked against what was reported.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/pty_process.h"
#include "tests/support/temp_files.h"

namespace {

// Slow enough for small files, fast enough for a report a second.
const char kSlowStream[] = "KELVOSIM=stream.rate = 2000000";
const char kReport[] = "Total bytes transferred: ";

class ScanStreamProcess : public ::testing::Test {
protected:
    ToolRun Run(std::vector<std::string> args, std::string env = kSlowStream) {
        return ToolRun{std::move(args), {std::move(env)}, dir.Path(), ""};
    }

    // Waits for the nth throughput line; generous, for a loaded machine.
    static bool WaitForReports(ChildProcess& tool, int reports) {
        for (int waited = 0; waited < 300; ++waited) {
            if (tool.Occurrences("Errors: ") >= reports) return true;
            tool.WaitForText("\n", 100);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // The totals of all reports, in order.
    static std::vector<uint64_t> Totals(const std::string& output) {
        std::vector<uint64_t> totals;
        for (size_t at = output.find(kReport); at != std::string::npos; at = output.find(kReport, at + 1)) {
            totals.push_back(std::strtoull(output.c_str() + at + sizeof kReport - 1, nullptr, 10));
        }
        return totals;
    }

    // The file must be the counting words, broken only where the data flow was restarted:
    // after the 2nd, 4th, ... report, at the total that report printed.
    static void ExpectCountingFile(const std::vector<uint8_t>& bytes, const std::vector<uint64_t>& totals) {
        ASSERT_FALSE(totals.empty());
        EXPECT_GE(bytes.size(), totals.back());
        ASSERT_EQ(0u, bytes.size() % 2);
        std::set<uint64_t> restarts;
        for (size_t i = 1; i < totals.size(); i += 2) restarts.insert(totals[i]);
        for (size_t at = 2; at + 1 < bytes.size(); at += 2) {
            const uint16_t previous = static_cast<uint16_t>(bytes[at - 2] | bytes[at - 1] << 8);
            const uint16_t word = static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
            if (word != static_cast<uint16_t>(previous + 1)) {
                ASSERT_TRUE(restarts.count(at)) << "break at byte " << at;
            }
        }
    }

    TempDir dir;
};

TEST_F(ScanStreamProcess, KeyEndsTheTestWithTheFileComplete) {
    ChildProcess tool = ChildProcess::StartUnderPty(Run({"-scanfile", "out.bin"}));
    ASSERT_TRUE(WaitForReports(tool, 3));   // past the first restart
    tool.Type("q");
    EXPECT_EQ(0, tool.WaitForExit(10000));
    EXPECT_TRUE(tool.EchoIsOn());
    EXPECT_EQ(std::string::npos, tool.Out().find("Error "));
    EXPECT_EQ(tool.Occurrences(kReport), tool.Occurrences("Errors: 0\r\n"));
    ExpectCountingFile(ReadFileBytes(dir.File("out.bin")), Totals(tool.Out()));
}

TEST_F(ScanStreamProcess, InterruptWithoutTerminalEndsLikeAKey) {
    ChildProcess tool = ChildProcess::StartWithPipes(Run({"-scanfile", "out.bin"}));
    ASSERT_TRUE(WaitForReports(tool, 1));
    tool.Signal(SIGINT);
    EXPECT_EQ(0, tool.WaitForExit(10000));
    EXPECT_EQ(std::string::npos, tool.Err().find("Error "));
    EXPECT_EQ(tool.Occurrences(kReport), tool.Occurrences("Errors: 0\n"));
    EXPECT_EQ('\n', tool.Err().back());   // the interface was closed cleanly
    ExpectCountingFile(ReadFileBytes(dir.File("out.bin")), Totals(tool.Err()));
}

TEST_F(ScanStreamProcess, ScanFlagWithFileNameWritesNoFile) {
    ChildProcess tool = ChildProcess::StartWithPipes(Run({"-scanfile", "out.bin", "-scan"}));
    ASSERT_TRUE(WaitForReports(tool, 1));
    tool.Signal(SIGTERM);
    EXPECT_EQ(0, tool.WaitForExit(10000));
    EXPECT_NE(std::string::npos, tool.Err().find("\n\nReadBlock from Scanner without File!\nksutest: Total"));
    EXPECT_FALSE(FileExists(dir.File("out.bin")));
}

TEST_F(ScanStreamProcess, UnopenableFileStillStreams) {
    ChildProcess tool = ChildProcess::StartWithPipes(Run({"-scanfile", "no/dir/out.bin"}));
    ASSERT_TRUE(WaitForReports(tool, 1));
    tool.Signal(SIGTERM);
    EXPECT_EQ(0, tool.WaitForExit(10000));
    EXPECT_NE(std::string::npos, tool.Err().find("Cannot open scannerfile no/dir/out.bin\nksutest: Total"));
    EXPECT_NE(std::string::npos, tool.Err().find("Errors: 0\n"));
}

// Word 300000 (byte 0x927c0) arrives inverted: counted, and its place in the first-error line.
// (A second error comes only when it happens to end a block.)
TEST_F(ScanStreamProcess, InjectedFaultIsCountedWithItsPosition) {
    ChildProcess tool = ChildProcess::StartWithPipes(
        Run({"-scan"}, std::string(kSlowStream) + "; stream.corrupt = at 300000"));
    ASSERT_TRUE(WaitForReports(tool, 2));
    tool.Signal(SIGINT);
    EXPECT_EQ(0, tool.WaitForExit(10000));
    EXPECT_NE(std::string::npos, tool.Err().find("\nFirst ErrPosition:0x927c0 errorvalue:0x6c1f!\n"));
    EXPECT_EQ(1, tool.Occurrences("First ErrPosition"));
    EXPECT_EQ(std::string::npos, tool.Err().find("Errors: 0"));
    EXPECT_EQ(std::string::npos, tool.Err().find("Errors: 3"));
}

}  // namespace
