// The scan streaming test against the scripted fake library and fake platform: start and
// failure paths, the gate, restarts, the scan file and how the test ends.
#include "procedures/scan_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/option_table.h"
#include "tests/support/fake_device.h"
#include "tests/support/fake_platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_files.h"

namespace {

// A scanner that sends the counting words in blocks of at most blockBytes and advances the
// fake clock by msPerBlock for each read. A restart goes on from wherever the counter stands.
struct CountingScanner {
    uint16_t next = 0;
    int32_t blockBytes = 1000;
    uint32_t msPerBlock = 100;
    std::vector<uint8_t> sent;

    int32_t Read(uint8_t* buffer, int32_t requested, int32_t* received) {
        gFakePlatform.nowMs += msPerBlock;
        *received = requested < blockBytes ? requested : blockBytes;
        for (int32_t i = 0; i < *received; i += 2, ++next) {
            buffer[i] = static_cast<uint8_t>(next);
            buffer[i + 1] = static_cast<uint8_t>(next >> 8);
        }
        sent.insert(sent.end(), buffer, buffer + *received);
        return 0;
    }
};

class ScanStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFakeDevice();
        ResetFakePlatform();
        ResetOptionTargets();
        gFakePlatform.msPerReading = 0;
        gFakeDevice.onReadBlock = [this](uint8_t* buffer, int32_t requested, int32_t* received) {
            return scanner.Read(buffer, requested, received);
        };
        gFakeDevice.onClearReadBlock = [this] { scanner.next += 777; };
    }

    void ScanTo(const std::string& path) { file = path; }
    // -scan when no file was named.
    void Run() { RunScanStreamTest(file.empty() ? nullptr : file.c_str()); }

    std::vector<std::string> GateCalls() {
        std::vector<std::string> gate;
        for (const std::string& call : gFakeDevice.calls) {
            if (call.rfind("RegWrite", 0) == 0 || call.rfind("ClearReadBlock", 0) == 0) gate.push_back(call);
        }
        return gate;
    }

    int Lines(const std::string& text, const std::string& what) {
        int count = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
        return count;
    }

    CountingScanner scanner;
    TempDir dir;
    std::string file;
};

TEST_F(ScanStreamTest, KeyClosesGateAndLeavesFileHoldingEveryBlock) {
    ScanTo(dir.File("out.bin"));
    gFakePlatform.keyAtPoll = 30;
    LogCapture log;
    Run();
    EXPECT_EQ("Init_Firmware(scanner3.mcs, 1)", gFakeDevice.calls.front());
    const std::vector<std::string> gate = GateCalls();
    ASSERT_GE(gate.size(), 4u);
    EXPECT_EQ("RegWrite(4, 1)", gate[0]);
    EXPECT_EQ("RegWrite(5, 1)", gate[1]);
    EXPECT_EQ("RegWrite(4, 0)", gate[gate.size() - 2]);
    EXPECT_EQ("RegWrite(5, 0)", gate.back());
    EXPECT_EQ(29, gFakeDevice.Count("ReadBlock"));   // poll 1 is the drain before the loop
    EXPECT_EQ(scanner.sent, ReadFileBytes(dir.File("out.bin")));
    EXPECT_EQ(0, Lines(log.Text(), "Errors: 1"));
    EXPECT_EQ(1u, gFakePlatform.keys.size());   // the key is left unread
    EXPECT_FALSE(gFakePlatform.keyLoopActive);
}

// Reports come every 11 blocks of 100 ms; the restart after every second one resumes the
// counting elsewhere, and the first block after it is left unchecked.
TEST_F(ScanStreamTest, RestartAfterEverySecondReportKeepsErrorsAtZero) {
    gFakePlatform.keyAtPoll = 60;
    LogCapture log;
    Run();
    EXPECT_EQ(5, Lines(log.Text(), "Errors: 0\n"));
    EXPECT_EQ(2, gFakeDevice.Count("ClearReadBlock"));
    const std::vector<std::string> restart{"RegWrite(4, 0)", "RegWrite(5, 0)", "ClearReadBlock()",
                                           "RegWrite(4, 1)", "RegWrite(5, 1)"};
    const std::vector<std::string> gate = GateCalls();
    EXPECT_EQ(restart, std::vector<std::string>(gate.begin() + 2, gate.begin() + 7));
    EXPECT_NE(std::string::npos, log.Text().find("Total bytes transferred: 11000, Data Rate: 11000,"));
}

// The first block after a restart may hold words the scanner had queued before it: it is
// stored and counted, never checked.
TEST_F(ScanStreamTest, FirstBlockAfterRestartGoesUncheckedEvenWhenStale) {
    bool afterRestart = false;
    gFakeDevice.onClearReadBlock = [&afterRestart] { afterRestart = true; };
    gFakeDevice.onReadBlock = [this, &afterRestart](uint8_t* buffer, int32_t requested, int32_t* received) {
        const int32_t status = scanner.Read(buffer, requested, received);
        if (afterRestart) buffer[4] ^= 0xFF;   // a stale word in the middle of the block
        afterRestart = false;
        return status;
    };
    gFakePlatform.keyAtPoll = 60;
    LogCapture log;
    Run();
    EXPECT_EQ(2, gFakeDevice.Count("ClearReadBlock"));
    EXPECT_EQ(5, Lines(log.Text(), "Errors: 0\n"));
}

// Without the error bit the test still streams and reports throughput; without the results
// bit it prints everything but the throughput line.
TEST_F(ScanStreamTest, EachLineNeedsItsOwnLevelBit) {
    gFakePlatform.keyAtPoll = 25;
    {
        LogCapture log(LEVEL_RESULTS);
        Run();
        EXPECT_EQ(2, Lines(log.Text(), "ksutest: Total bytes transferred:"));
        EXPECT_EQ(0, Lines(log.Text(), "ReadBlock from Scanner"));
    }
    ResetFakePlatform();
    gFakePlatform.msPerReading = 0;
    gFakePlatform.keyAtPoll = 25;
    scanner.next = 0;
    gFakeDevice.Script("ReadBlock", {-301});
    LogCapture log(LEVEL_ERRORS);
    Run();
    EXPECT_EQ("ReadBlock from Scanner without File!\nError BlockRead:-301\n", log.Text());
}

// A scan file that exists already is emptied first: afterwards it holds this run's blocks only.
TEST_F(ScanStreamTest, ExistingScanFileIsTruncated) {
    ScanTo(dir.Write("out.bin", std::vector<uint8_t>(100000, 0xEE)));
    gFakePlatform.keyAtPoll = 5;
    Run();
    EXPECT_EQ(scanner.sent, ReadFileBytes(dir.File("out.bin")));
}

// The first error's stream offset is printed whole beyond 4 GiB: the stream runs clean at full
// blocks until then, and one word just past 2^32 bytes is wrong.
TEST_F(ScanStreamTest, FirstErrorBeyondFourGibibytesIsPrintedWhole) {
    std::vector<uint8_t> pattern(2 * (65536 + 16384));
    for (size_t word = 0; word < pattern.size() / 2; ++word) {
        pattern[2 * word] = static_cast<uint8_t>(word);
        pattern[2 * word + 1] = static_cast<uint8_t>(word >> 8);
    }
    uint64_t delivered = 0;
    constexpr uint64_t kBadOffset = (uint64_t{1} << 32) + 0x1000;
    gFakeDevice.onReadBlock = [&](uint8_t* buffer, int32_t requested, int32_t* received) {
        std::memcpy(buffer, pattern.data() + (delivered / 2 % 65536) * 2, static_cast<size_t>(requested));
        if (delivered <= kBadOffset && kBadOffset < delivered + static_cast<uint64_t>(requested)) {
            buffer[kBadOffset - delivered] ^= 0x01;
            gFakePlatform.nowMs += 5000;   // the next clock reading makes the report
            gFakePlatform.keys.push_back('q');
        }
        delivered += static_cast<uint64_t>(requested);
        *received = requested;
        return 0;
    };
    gFakeDevice.calls.reserve(300000);
    LogCapture log;
    Run();
    EXPECT_NE(std::string::npos, log.Text().find("First ErrPosition:0x100001000 errorvalue:0x0801!\n"));
}

TEST_F(ScanStreamTest, FirstErrorLineNamesTheStreamOffset) {
    gFakePlatform.keyAtPoll = 12;
    gFakeDevice.onReadBlock = [this](uint8_t* buffer, int32_t requested, int32_t* received) {
        const int32_t status = scanner.Read(buffer, requested, received);
        if (scanner.sent.size() == 3000) buffer[10] ^= 0x40;
        return status;
    };
    LogCapture log;
    Run();
    EXPECT_NE(std::string::npos, log.Text().find("Errors: 1\nFirst ErrPosition:0x7da errorvalue:0x03ad!\n"));
}

TEST_F(ScanStreamTest, BadBlocksAreNotAccepted) {
    gFakePlatform.keyAtPoll = 5;
    int call = 0;
    gFakeDevice.onReadBlock = [&call](uint8_t*, int32_t requested, int32_t* received) {
        const int32_t results[][2] = {{-306, 0}, {-301, 0}, {0, requested + 2}, {0, -2}};
        *received = results[call][1];
        return results[call++][0];
    };
    gFakePlatform.msPerReading = 250;   // a report after the third block (the key look reads the clock too)
    LogCapture log;
    Run();
    EXPECT_EQ("ReadBlock from Scanner without File!\nError BlockRead:-301\nError BlockRead:-350\n"
              "ksutest: Total bytes transferred: 0, Data Rate: 0, Errors: 0\nError BlockRead:-350\n",
              log.Text());
}

TEST_F(ScanStreamTest, LostFileWriteIsReportedAndEndsTheTest) {
    if (!FileExists("/dev/full")) GTEST_SKIP();
    ScanTo("/dev/full");
    // fails when the stream's buffer first goes out, within a few blocks
    gFakePlatform.keyAtPoll = 100;
    LogCapture log;
    Run();
    EXPECT_LT(gFakeDevice.Count("ReadBlock"), 99);
    EXPECT_EQ(1, Lines(log.Text(), "Error FileWrite!\n"));
    EXPECT_EQ("RegWrite(5, 0)", GateCalls().back());
}

TEST_F(ScanStreamTest, TailLostAtCloseIsReported) {
    if (!FileExists("/dev/full")) GTEST_SKIP();
    ScanTo("/dev/full");
    gFakePlatform.keyAtPoll = 2;   // one small block, still in the stream's buffer
    LogCapture log;
    Run();
    EXPECT_EQ(1, Lines(log.Text(), "Error FileWrite!\n"));
}

TEST_F(ScanStreamTest, FailedStartTouchesNoFile) {
    ScanTo(dir.File("out.bin"));
    {
        gFakeDevice.Script("Init_Firmware", {-201});
        LogCapture log;
        Run();
        EXPECT_NE(std::string::npos, log.Text().find("ksutest: Err. Init_Firmware\n"));
        EXPECT_TRUE(GateCalls().empty());
    }
    for (int failing : {4, 5}) {
        ResetFakeDevice();
        gFakeDevice.Script("RegWrite", failing == 4 ? std::vector<int64_t>{0} : std::vector<int64_t>{1, 0});
        LogCapture log;
        Run();
        EXPECT_NE(std::string::npos, log.Text().find(failing == 4 ? "Err.RegWrite reg.4 \n" : "Err.RegWrite reg. 5\n"));
        EXPECT_EQ(failing == 4 ? 1 : 2, gFakeDevice.Count("RegWrite"));
        EXPECT_EQ(0, gFakeDevice.Count("ReadBlock"));
    }
    EXPECT_FALSE(FileExists(dir.File("out.bin")));
}

TEST_F(ScanStreamTest, FailedRestartEndsTestWithFileClosed) {
    ScanTo(dir.File("out.bin"));
    gFakeDevice.Script("RegWrite", {1, 1, 1, 1, 0});   // the gate's reopening at the restart
    gFakePlatform.keyAtPoll = 1000;
    Run();
    EXPECT_EQ(22, gFakeDevice.Count("ReadBlock"));
    EXPECT_EQ(5, gFakeDevice.Count("RegWrite"));
    EXPECT_EQ(scanner.sent, ReadFileBytes(dir.File("out.bin")));
}

TEST(ThroughputTest, RateIsTheWhole64BitQuotient) {
    LogCapture log;
    ReportThroughput(0x500000000ull, 2999, 3);   // 2 s: 10 GiB/s, above 2^32
    ReportThroughput(5000, 999, 0);              // under a second: rate 0
    EXPECT_EQ("ksutest: Total bytes transferred: 21474836480, Data Rate: 10737418240, Errors: 3\n"
              "ksutest: Total bytes transferred: 5000, Data Rate: 0, Errors: 0\n",
              log.Text());
}

}  // namespace
