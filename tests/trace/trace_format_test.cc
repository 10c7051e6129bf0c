// tests/trace/trace_format_test.cc: trace records as the recorder writes them and the
// reader gets them back: every field, stream data with its deviations, the size of a clean
// stream, traces cut off anywhere in their last record, and traces from a newer format.
#include "trace/trace_format.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/temp_files.h"

namespace {

using trace::Call;
using trace::Op;

std::vector<uint8_t> Pattern(uint32_t firstWord, size_t bytes) {
    std::vector<uint8_t> data(bytes);
    std::memcpy(data.data(), CountingPatternAt(2 * firstWord), bytes);
    return data;
}

Call Block(const std::vector<uint8_t>& data, int32_t requested, int32_t status = 0) {
    Call call;
    call.op = Op::ReadBlock;
    call.args[0] = requested;
    call.outs[0] = static_cast<int64_t>(data.size());
    call.result = status;
    call.stream = data.data();
    return call;
}

class TraceFormat : public ::testing::Test {
protected:
    TraceFormat() { trace::AppendHeader(bytes, 1700000000123u); }

    void Add(const Call& call) { encoder.Append(call, bytes); }

    std::string Save() { return dir.Write("t.kvtrace", bytes); }

    // Reads the trace back; its calls, and how it ended.
    trace::ReadStatus ReadAll(const std::string& path, std::vector<Call>* calls) {
        trace::Reader reader;
        std::string error;
        EXPECT_TRUE(reader.Open(path, &error)) << error;
        Call call;
        trace::ReadStatus status;
        while ((status = reader.Next(call)) == trace::ReadStatus::kCall) calls->push_back(call);
        return status;
    }

    static std::vector<uint8_t> Data(const Call& call) {
        std::vector<uint8_t> data(trace::StreamBytes(call));
        trace::ExpandStream(call, 0, static_cast<uint32_t>(data.size()), data.data());
        return data;
    }

    std::vector<uint8_t> bytes;
    trace::Encoder encoder;
    TempDir dir;
};

TEST_F(TraceFormat, EveryFieldComesBackAsWritten) {
    Call firmware;
    firmware.op = Op::Init_Firmware;
    firmware.args[0] = 1;
    firmware.text = "scanner3.mcs";
    firmware.result = -201;
    firmware.timeMs = 15;
    Call large;
    large.op = Op::I2C_LargePROMwr;
    large.args[0] = 0xa2;
    large.args[1] = 8;
    large.args[2] = 5;
    large.dataIn = {1, 2, 3, 4, 5};
    large.outs[0] = 3;
    large.result = -604;
    large.timeMs = 2000;
    Call text;
    text.op = Op::GetKelvoErrorText;
    text.args[0] = -604;
    text.args[1] = 1024;
    text.text = "I2C: EEPROM write cycle failed";
    text.timeMs = 2001;
    Call reg;
    reg.op = Op::RegReadLong;
    reg.args[0] = 0x20;
    reg.result = 0xFFFFFFFF;
    reg.timeMs = 2001;
    for (const Call& call : {firmware, large, text, reg}) Add(call);

    std::vector<Call> calls;
    ASSERT_EQ(trace::ReadStatus::kEnd, ReadAll(Save(), &calls));
    ASSERT_EQ(4u, calls.size());
    EXPECT_EQ("Init_Firmware(useDefault 0x1, \"scanner3.mcs\") = -201", trace::DescribeCall(calls[0], true));
    EXPECT_EQ(15u, calls[0].timeMs);
    EXPECT_EQ(large.dataIn, calls[1].dataIn);
    EXPECT_EQ(3, calls[1].outs[0]);
    EXPECT_EQ(-604, calls[1].result);
    EXPECT_EQ(2000u, calls[1].timeMs);
    EXPECT_EQ(text.text, calls[2].text);
    EXPECT_EQ(0, calls[2].result);
    EXPECT_EQ(0xFFFFFFFF, calls[3].result);
    EXPECT_TRUE(trace::SameArguments(large, calls[1]));
}

// Lost words, a corrupted word, odd lengths, random bytes, a failed block, a short block:
// each comes back byte for byte, and the clean blocks between them still cost little.
TEST_F(TraceFormat, StreamDataWithDeviationsComesBackExactly) {
    std::vector<std::vector<uint8_t>> blocks;
    blocks.push_back(Pattern(0, 20000));
    std::vector<uint8_t> dropped = Pattern(10000, 30000);
    dropped.erase(dropped.begin() + 1000, dropped.begin() + 1002);   // one word lost
    blocks.push_back(dropped);
    std::vector<uint8_t> corrupt = Pattern(25000, 32768);
    corrupt[4000] ^= 0xFF;
    corrupt[4001] ^= 0xFF;
    corrupt[32767] ^= 0x01;   // the last byte of the block
    blocks.push_back(corrupt);
    blocks.push_back(Pattern(65000, 7777));   // odd, and across word 65535
    blocks.push_back(DistinctBytes(5000));
    blocks.push_back(Pattern(123, 3));
    for (const auto& data : blocks) Add(Block(data, static_cast<int32_t>(data.size())));
    const std::vector<uint8_t> shortData = Pattern(500, 100);
    Add(Block(shortData, 2000));
    Add(Block({}, 1000, -306));
    const size_t beforeClean = bytes.size();
    std::vector<uint8_t> clean = Pattern(550, 16000);
    Add(Block(clean, 16000));

    std::vector<Call> calls;
    ASSERT_EQ(trace::ReadStatus::kEnd, ReadAll(Save(), &calls));
    ASSERT_EQ(blocks.size() + 3, calls.size());
    for (size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(blocks[i], Data(calls[i])) << "block " << i;
    EXPECT_EQ(shortData, Data(calls[blocks.size()]));
    EXPECT_EQ(2000, calls[blocks.size()].args[0]);
    EXPECT_EQ(-306, calls[blocks.size() + 1].result);
    EXPECT_EQ(clean, Data(calls.back()));
    EXPECT_LE(bytes.size() - beforeClean, 7u);   // length, operation, time, requested
    // A lost word is a jump in the pattern, a corrupted word two bytes as they came.
    EXPECT_EQ(2u, calls[1].runs.size());
    EXPECT_TRUE(calls[1].runs[0].pattern && calls[1].runs[1].pattern);
    ASSERT_EQ(4u, calls[2].runs.size());
    EXPECT_EQ(2u, calls[2].runs[1].bytes);
    // Served from the middle, as the replay does for a smaller request.
    std::vector<uint8_t> part(500);
    trace::ExpandStream(calls[2], 3900, 500, part.data());
    EXPECT_EQ(std::vector<uint8_t>(corrupt.begin() + 3900, corrupt.begin() + 4400), part);
}

TEST_F(TraceFormat, TraceCutAnywhereInItsLastRecordIsReadUpToTheRecordBefore) {
    Call open;
    open.op = Op::Init_Interface;
    Add(open);
    std::vector<uint8_t> corrupt = Pattern(7, 4000);
    corrupt[100] = 0;
    Add(Block(corrupt, 4000));
    const size_t lastStart = bytes.size();
    Call status;
    status.op = Op::GetScanStatus;
    status.dataOut = DistinctBytes(16);
    status.timeMs = 300;
    Add(status);
    const std::vector<uint8_t> whole = bytes;
    for (size_t cut = lastStart; cut < whole.size(); ++cut) {
        bytes.assign(whole.begin(), whole.begin() + static_cast<long>(cut));
        std::vector<Call> calls;
        const trace::ReadStatus end = ReadAll(Save(), &calls);
        EXPECT_EQ(cut == lastStart ? trace::ReadStatus::kEnd : trace::ReadStatus::kTruncated, end) << cut;
        ASSERT_EQ(2u, calls.size()) << cut;
        EXPECT_EQ(corrupt, Data(calls[1]));
    }
    bytes = whole;
    std::vector<Call> calls;
    EXPECT_EQ(trace::ReadStatus::kEnd, ReadAll(Save(), &calls));
    EXPECT_EQ(status.dataOut, calls.back().dataOut);
}

TEST_F(TraceFormat, NewerFormatAndForeignFilesAreRefusedWithAReason) {
    Call open;
    open.op = Op::Init_Interface;
    Add(open);
    bytes[8] = static_cast<uint8_t>(trace::kFormatVersion + 1);
    trace::Reader newer;
    std::string error;
    EXPECT_FALSE(newer.Open(Save(), &error));
    EXPECT_NE(std::string::npos, error.find("trace format version 2 is newer than this reader understands (1)")) << error;
    trace::Reader foreign;
    EXPECT_FALSE(foreign.Open(dir.WriteText("x.bin", "not a trace at all, just text"), &error));
    EXPECT_NE(std::string::npos, error.find("is not a trace")) << error;
    trace::Reader missing;
    EXPECT_FALSE(missing.Open(dir.File("none.kvtrace"), &error));
}

}  // namespace
