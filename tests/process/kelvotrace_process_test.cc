// tests/process/kelvotrace_process_test.cc: kelvotrace on traces written by the trace encoder:
// where a cut trace ends, to the byte; a stream that starts in the middle of the pattern and
// stays in it has no deviation; the tool's pattern check over the recorded blocks; damaged,
// killed and old traces told as such by kelvotrace and by a replay.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/contract.h"
#include "tests/support/pty_process.h"
#include "tests/support/temp_files.h"
#include "trace/trace_format.h"

namespace {

trace::Call Block(const uint8_t* data, int32_t bytes) {
    trace::Call call = trace::CallOf(trace::Op::ReadBlock, bytes);
    call.outs[0] = bytes;
    call.stream = data;
    return call;
}

TEST(Kelvotrace, CutOffsetAndAStreamStartingMidPattern) {
    TempDir dir;
    std::vector<uint8_t> bytes;
    trace::Encoder encoder;
    encoder.AppendHeader(bytes, 1700000000000u);
    encoder.Append(trace::CallOf(trace::Op::Init_Interface), bytes);
    std::vector<uint8_t> data(6000);
    std::memcpy(data.data(), CountingPatternAt(2 * 5000), data.size());   // from word 5000 on
    encoder.Append(Block(data.data(), 3000), bytes);
    encoder.Append(Block(data.data() + 3000, 3000), bytes);
    encoder.Append(trace::CallOf(trace::Op::ClearReadBlock), bytes);
    const size_t wholeBytes = bytes.size();
    encoder.Append(trace::CallOf(trace::Op::Free_Interface), bytes);
    encoder.AppendClosing(bytes);
    const std::vector<uint8_t> whole = bytes;

    const ToolRun stats{{"stats", dir.Write("t.kvtrace", whole)}, {}, dir.Path(), KELVOTRACE_PATH};
    const ProcessResult clean = RunToTheEnd(stats);
    EXPECT_EQ(0, clean.exitCode) << clean.err;
    EXPECT_NE(std::string::npos, clean.out.find("deviations from the counting pattern:\n  none\ncalls: 5")) << clean.out;
    EXPECT_NE(std::string::npos, clean.out.find("6000 bytes in 2 blocks; counting pattern 6000 bytes, 0 jumps")) << clean.out;
    EXPECT_NE(std::string::npos, clean.out.find("as the tool counts: 0 errors")) << clean.out;

    bytes.assign(whole.begin(), whole.end() - 11);   // the closing group (9 bytes) and into the check before it
    const ProcessResult cut = RunToTheEnd(ToolRun{{"dump", dir.Write("t.kvtrace", bytes)}, {}, dir.Path(), KELVOTRACE_PATH});
    EXPECT_EQ(2, cut.exitCode);
    EXPECT_NE(std::string::npos, cut.err.find("cut off after record 4 (byte " + std::to_string(wholeBytes) + ")")) << cut.err;
}

// An ADC reading handed back sign-extended (-87, -255) is a reading, a result below them a
// failure; the first block after a restart of the data flow (ClearReadBlock) only sets where
// the pattern stands, as the tool's check does, so a jump inside it is no error.
TEST(Kelvotrace, FailuresAndPatternErrorsAsTheToolCountsThem) {
    TempDir dir;
    std::vector<uint8_t> bytes;
    trace::Encoder encoder;
    encoder.AppendHeader(bytes, 1700000000000u);
    for (const int32_t result : {-87, -255, -256, AdcErrorResult(-110)}) {
        trace::Call read = trace::CallOf(trace::Op::I2C_ADCread, 0x90, 1);
        read.result = result;
        encoder.Append(read, bytes);
    }
    std::vector<uint8_t> data(9000);
    std::memcpy(data.data(), CountingPatternAt(0), 3000);
    // After the restart: from word 40000, and within the same block on from word 50000.
    std::memcpy(data.data() + 3000, CountingPatternAt(2 * 40000), 1500);
    std::memcpy(data.data() + 4500, CountingPatternAt(2 * 50000), 4500);
    encoder.Append(Block(data.data(), 3000), bytes);
    encoder.Append(trace::CallOf(trace::Op::ClearReadBlock), bytes);
    encoder.Append(Block(data.data() + 3000, 3000), bytes);
    encoder.Append(Block(data.data() + 6000, 3000), bytes);
    encoder.AppendClosing(bytes);
    const std::string path = dir.Write("t.kvtrace", bytes);

    const ProcessResult stats = RunToTheEnd(ToolRun{{"stats", path}, {}, dir.Path(), KELVOTRACE_PATH});
    EXPECT_EQ(0, stats.exitCode) << stats.err;
    EXPECT_NE(std::string::npos, stats.out.find("failures:\n  I2C_ADCread -1110        1\n  I2C_ADCread -256         1\nstream:"))
        << stats.out;
    EXPECT_NE(std::string::npos, stats.out.find("as the tool counts: 0 errors")) << stats.out;
    const ProcessResult dump = RunToTheEnd(ToolRun{{"dump", path}, {}, dir.Path(), KELVOTRACE_PATH});
    EXPECT_NE(std::string::npos, dump.out.find("channel 0x1) = -87\n2 0.000 I2C_ADCread(id 0x90, channel 0x1) = -255\n"))
        << dump.out;
    EXPECT_NE(std::string::npos, dump.out.find("channel 0x1) = -256  FAILED\n")) << dump.out;
}

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// Each trace as kelvotrace reports it and as a replay of it ends: a record length beyond any
// record (in a file far shorter than it), blocks that ask for 0xFFFFFFFE bytes, a session
// that was killed, a header of version 0, and a version 1 trace, which carries no checks.
TEST(Kelvotrace, DamagedKilledAndOldTracesAreToldSo) {
    TempDir dir;
    std::vector<uint8_t> header;
    trace::Encoder::AppendHeader(header, 1700000000000u);
    std::vector<uint8_t> huge = header;
    huge.insert(huge.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
    std::vector<uint8_t> killed = header;
    trace::Encoder encoder;
    encoder.Append(trace::CallOf(trace::Op::SetTraceMask, 0x8f07), killed);   // the tool's first two calls
    encoder.Append(trace::CallOf(trace::Op::Init_Interface), killed);
    std::vector<uint8_t> zero = header;
    zero[8] = 0;
    const struct {
        std::vector<uint8_t> trace;
        const char* command;
        int exitCode;
        const char* told;
        const char* toldByReplay;
    } kCases[] = {
        {huge, "dump", 2, "damaged record after record 0 (bytes 24 to 29)", "is damaged after record 0"},
        {FromHex("4b454c564f545243020000000000000000000000022200051f0d6508ac07fd00fcffffff1f07fd00fcffffff1f022600051f"
                 "be51fd72"), "stats", 2, "damaged record after record 1", nullptr},
        {killed, "dump", 2, "ends after record 2 without its closing record: the recorded program was killed",
         "without its closing record (the recorded program was killed)"},
        {zero, "dump", 1, "its header names format version 0, which no recorder writes", "format version 0"},
        {ReadFileBytes(KELVO_TRACE_VERSION1), "stats", 0, "format version 1 carries no checks", nullptr},
    };
    for (const auto& c : kCases) {
        const std::string path = dir.Write("t.kvtrace", c.trace);
        const ProcessResult told = RunToTheEnd(ToolRun{{c.command, path}, {}, dir.Path(), KELVOTRACE_PATH});
        EXPECT_EQ(c.exitCode, told.exitCode) << c.told;
        EXPECT_NE(std::string::npos, told.err.find(c.told)) << told.err;
        if (c.toldByReplay == nullptr) continue;
        const ProcessResult replay = RunToTheEnd(ToolRun{{"-stat"}, {"KELVOSIM=replay = t.kvtrace"}, dir.Path(), ""});
        EXPECT_NE(std::string::npos, replay.err.find(c.toldByReplay)) << replay.err;
        EXPECT_NE(0, replay.exitCode);
    }
}

}  // namespace
