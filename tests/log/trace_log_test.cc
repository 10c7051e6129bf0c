// Trace log: line formatting, the 64-bit forms, cutting at the line limit, stamps and the
// hex dump layout.
#include "log/trace_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/fake_platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_files.h"

namespace {

std::string Dump(const std::vector<uint8_t>& bytes) {
    LogCapture capture;
    gTraceLog.HexDump(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return capture.Text();
}

}  // namespace

TEST(TraceLogTest, SixtyFourBitFormsPrintValuesAboveFourGigabytes) {
    LogCapture capture;
    const uint64_t total = 0x123456789ABCull;
    gTraceLog.Print("ksutest: Total bytes transferred: %I64u, Data Rate: %u, Errors: %u\n", total, 5u, 0u);
    gTraceLog.Print("First ErrPosition:0x%I64x errorvalue:0x%04hx!\n", total, static_cast<unsigned short>(0xAB));
    EXPECT_EQ("ksutest: Total bytes transferred: 20015998343868, Data Rate: 5, Errors: 0\n"
              "First ErrPosition:0x123456789abc errorvalue:0x00ab!\n",
              capture.Text());
}

TEST(TraceLogTest, PercentSignsAndPlainFormatsPassThrough) {
    LogCapture capture;
    gTraceLog.Print("%d%% %s %08X %2x\n", 50, "done", 0xABCu, 0xA2u);
    EXPECT_EQ("50% done 00000ABC a2\n", capture.Text());
}

TEST(TraceLogTest, LongLineIsCutAtTheLimitAndStaysTerminated) {
    LogCapture capture;
    const std::string huge(20000, 'x');
    gTraceLog.Print("%s\n", huge.c_str());
    const std::string text = capture.Text();
    EXPECT_EQ(kLineBytes - 1, text.size());
    EXPECT_EQ(std::string::npos, text.find('\n'));   // the cut line loses its own line end
}

TEST(TraceLogTest, StampsAndPrefixFollowTheFormatFlags) {
    ResetFakePlatform();
    gFakePlatform.nowMs = 1234;
    LogCapture capture;
    gTraceLog.lastTick = 0;
    gTraceLog.SetFormat(STAMP_TICKS | STAMP_DELTA | NAME_PREFIX);
    gTraceLog.Print("a\n");   // first delta: the whole tick count, since lastTick starts at 0
    gFakePlatform.nowMs = 1300;
    gTraceLog.Print("b\n");
    gTraceLog.SetFormat(STAMP_DELTA | NAME_PREFIX);   // delta alone adds nothing
    gTraceLog.Print("c\n");
    gTraceLog.name = nullptr;
    gTraceLog.Print("d\n");
    EXPECT_EQ("00001234(1234) ksutest: a\n00001300(0066) ksutest: b\nksutest: c\nd\n", capture.Text());
    EXPECT_EQ(1300u, gTraceLog.lastTick);
}

TEST(TraceLogTest, DestinationsReceiveTheSameWholeLine) {
    ResetFakePlatform();
    LogCapture capture;
    gTraceLog.SetOutput(TO_FILE | TO_DEBUGGER, gTraceLog.file);
    gTraceLog.Print("ksutest: Init_Interface success!\n");
    ASSERT_EQ(1u, gFakePlatform.debugLines.size());
    EXPECT_EQ("ksutest: Init_Interface success!\n", gFakePlatform.debugLines[0]);
    EXPECT_EQ(gFakePlatform.debugLines[0], capture.Text());
}

// A file destination without a stream is skipped; the other destinations still get the line.
TEST(TraceLogTest, FileDestinationWithoutStreamIsSkipped) {
    ResetFakePlatform();
    LogCapture capture;
    gTraceLog.SetOutput(TO_FILE | TO_DEBUGGER, nullptr);
    gTraceLog.Print("kept\n");
    EXPECT_EQ(std::vector<std::string>{"kept\n"}, gFakePlatform.debugLines);
    EXPECT_EQ("", capture.Text());
}

TEST(HexDumpTest, MatchesTheLayoutToTheColumn) {
    std::vector<uint8_t> bytes;
    for (uint8_t b = 0x41; b <= 0x50; ++b) bytes.push_back(b);
    for (uint8_t b : {0x00, 0x1F, 0x80, 0xFF, 0x61, 0x20, 0x63}) bytes.push_back(b);   // a space shows as one
    EXPECT_EQ("0000: 41 42 43 44  45 46 47 48  49 4A 4B 4C  4D 4E 4F 50   ABCDEFGHIJKLMNOP\n"
              "0010: 00 1F 80 FF  61 20 63                                ....a c\n",
              Dump(bytes));
}

TEST(HexDumpTest, LineBoundaries) {
    EXPECT_EQ("", Dump({}));
    const std::string sixteen = Dump(std::vector<uint8_t>(16, 0x20));
    EXPECT_EQ(76u, sixteen.size());   // 75 characters and the newline, no second line
    const std::string seventeen = Dump(std::vector<uint8_t>(17, 0x7F));
    EXPECT_EQ("0010: 7F" + std::string(51, ' ') + "\x7F\n", seventeen.substr(76));
    EXPECT_EQ("0000: 01   ", Dump({0x01}).substr(0, 11));
}

TEST(HexDumpTest, OffsetRestartsAfterSixtyFourKilobytes) {
    const std::string text = Dump(std::vector<uint8_t>(65536 + 16, 0x30));
    const std::string lastLine = text.substr(text.size() - 76);
    EXPECT_EQ("0000: 30", lastLine.substr(0, 8));
    EXPECT_EQ(4097u * 76u, text.size());
}

TEST(OpenTraceLogTest, CreatesTheFileEmptyAndClosesIt) {
    TempDir dir;
    const std::string path = dir.WriteText("kelvotest.log", "old content");
    const TraceLog saved = gTraceLog;
    OpenTraceLog(7, 0, TO_STDERR | TO_DEBUGGER, path.c_str());
    ASSERT_NE(nullptr, gLogFile);
    EXPECT_EQ(gLogFile, gTraceLog.file);
    EXPECT_EQ(7u, gTraceLog.levelMask);
    EXPECT_EQ(0u, gTraceLog.formatFlags);
    CloseTraceLog();
    EXPECT_EQ(nullptr, gLogFile);
    CloseTraceLog();   // a second close does nothing
    gTraceLog = saved;
    EXPECT_EQ("", ReadFileText(path));
}

// A log file that cannot be created is no error: the log runs on without it.
TEST(OpenTraceLogTest, UncreatableFileLeavesTheLogWithoutFile) {
    ResetFakePlatform();
    const TraceLog saved = gTraceLog;
    OpenTraceLog(7, 0, TO_FILE | TO_DEBUGGER, "/nonexistent-folder/kelvotest.log");
    EXPECT_EQ(nullptr, gLogFile);
    EXPECT_EQ(nullptr, gTraceLog.file);
    EXPECT_EQ(7u, gTraceLog.levelMask);
    gTraceLog.Print("still printed\n");
    CloseTraceLog();
    gTraceLog = saved;
    EXPECT_EQ(std::vector<std::string>{"still printed\n"}, gFakePlatform.debugLines);
}
