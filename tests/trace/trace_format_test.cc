// tests/trace/trace_format_test.cc: trace records as the recorder writes them and the
// reader gets them back: every field, stream data with its deviations, the size of a clean
// stream, traces cut off anywhere in their last record, traces from a newer format, damaged and
// crafted traces, and traces of the first format version.
#include "trace/trace_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

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
    TraceFormat() { encoder.AppendHeader(bytes, 1700000000123u); }

    void Add(const Call& call) { encoder.Append(call, bytes); }

    // As the recorder does at the end of the process: the last group gets its check record,
    // and the closing record follows.
    std::string Save() {
        trace::Encoder copy = encoder;
        std::vector<uint8_t> closed = bytes;
        copy.AppendClosing(closed);
        return dir.Write("t.kvtrace", closed);
    }

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
    firmware.text = "scan\"ner\n3\x1b[2J\\.mcs";   // shown escaped: no new line, no escape sequence
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
    EXPECT_EQ("Init_Firmware(useDefault 0x1, \"scan\\\"ner\\n3\\x1b[2J\\\\.mcs\") = -201", trace::DescribeCall(calls[0], true));
    EXPECT_EQ(firmware.text, calls[0].text);
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
    const size_t cleanBytes = bytes.size() - beforeClean;

    std::vector<Call> calls;
    ASSERT_EQ(trace::ReadStatus::kEnd, ReadAll(Save(), &calls));
    ASSERT_EQ(blocks.size() + 3, calls.size());
    for (size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(blocks[i], Data(calls[i])) << "block " << i;
    EXPECT_EQ(shortData, Data(calls[blocks.size()]));
    EXPECT_EQ(2000, calls[blocks.size()].args[0]);
    EXPECT_EQ(-306, calls[blocks.size() + 1].result);
    EXPECT_EQ(clean, Data(calls.back()));
    EXPECT_LE(cleanBytes, 7u);   // length, operation, time, requested
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

// A byte off anywhere in a block's end, and at its start, is seen whatever the block's length
// leaves after the check's strides and single vectors: the block comes back as it was.
TEST_F(TraceFormat, DeviationInAnyOfABlocksLastBytesIsSeen) {
    std::vector<std::vector<uint8_t>> blocks;
    uint32_t next = 2 * 65500;   // each block where the last ended, across word 65535 too
    for (const uint32_t count : {2u, 63u, 64u, 66u, 127u, 128u, 130u, 254u, 256u, 258u, 300u, 511u, 512u, 514u, 1001u, 1030u}) {
        for (uint32_t at = 0; at < count; at = at == 1 && count > 132 ? count - 130 : at + 1) {
            const uint8_t* pattern = CountingPatternAt(next);
            blocks.emplace_back(pattern, pattern + count);
            blocks.back()[at] ^= 0x10;
            next = (next + count) % kPatternBytes;
        }
    }
    for (const auto& data : blocks) Add(Block(data, static_cast<int32_t>(data.size())));
    std::vector<Call> calls;
    ASSERT_EQ(trace::ReadStatus::kEnd, ReadAll(Save(), &calls));
    ASSERT_EQ(blocks.size(), calls.size());
    for (size_t i = 0; i < blocks.size(); ++i) ASSERT_EQ(blocks[i], Data(calls[i])) << "block " << i;
}

TEST_F(TraceFormat, TraceCutAnywhereInItsLastRecordIsReadUpToTheRecordBefore) {
    Call open;
    open.op = Op::Init_Interface;
    Add(open);
    std::vector<uint8_t> corrupt = Pattern(7, 4000);
    corrupt[100] = 0;
    Add(Block(corrupt, 4000));
    Add(trace::CallOf(Op::ClearReadBlock));   // closes the stream's group
    const size_t lastStart = bytes.size();
    Call status;
    status.op = Op::GetScanStatus;
    status.dataOut = DistinctBytes(16);
    status.timeMs = 300;
    Add(status);
    const std::vector<uint8_t> whole = bytes;
    // A cut that falls between two groups leaves whole groups, but no closing record.
    for (size_t cut = lastStart; cut < whole.size(); ++cut) {
        bytes.assign(whole.begin(), whole.begin() + static_cast<long>(cut));
        std::vector<Call> calls;
        const trace::ReadStatus end = ReadAll(dir.Write("t.kvtrace", bytes), &calls);
        EXPECT_EQ(cut == lastStart ? trace::ReadStatus::kUnclosed : trace::ReadStatus::kTruncated, end) << cut;
        ASSERT_EQ(3u, calls.size()) << cut;
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
    EXPECT_NE(std::string::npos, error.find("trace format version 4 is newer than this reader understands (3)")) << error;
    bytes[8] = 0;
    trace::Reader zero;
    EXPECT_FALSE(zero.Open(Save(), &error));
    EXPECT_NE(std::string::npos, error.find("damaged trace: its header names format version 0")) << error;
    trace::Reader foreign;
    EXPECT_FALSE(foreign.Open(dir.WriteText("x.bin", "not a trace at all, just text"), &error));
    EXPECT_NE(std::string::npos, error.find("is not a trace")) << error;
    trace::Reader missing;
    EXPECT_FALSE(missing.Open(dir.File("none.kvtrace"), &error));
}

// Every single-bit flip anywhere in a trace is refused, by the header's check or a group's
// check record; none reads as a whole trace with other calls, nor as one the recorder cut.
TEST_F(TraceFormat, EveryBitFlipIsRefused) {
    Add(trace::CallOf(Op::Init_Interface));
    Call reg = trace::CallOf(Op::RegReadLong, 0x20);
    reg.result = 0x1234;
    reg.timeMs = 40;
    Add(reg);
    const std::vector<uint8_t> data = Pattern(100, 600);
    Add(Block(data, 600));
    Add(trace::CallOf(Op::I2C_ADCread, 0x90, 3));
    encoder.AppendClosing(bytes);
    const std::vector<uint8_t> whole = bytes;
    for (size_t bit = 0; bit < 8 * whole.size(); ++bit) {
        std::vector<uint8_t> flipped = whole;
        flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        trace::Reader reader;
        std::string error;
        if (!reader.OpenBytes(flipped.data(), flipped.size(), &error)) continue;
        Call call;
        trace::ReadStatus status;
        while ((status = reader.Next(call)) == trace::ReadStatus::kCall) {
        }
        EXPECT_TRUE(status == trace::ReadStatus::kCorrupt || status == trace::ReadStatus::kTruncated)
            << "bit " << bit << ": " << static_cast<int>(status);
    }
}

std::vector<uint8_t> FromHex(const char* hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    }
    return bytes;
}

// How a trace held in memory ends, and after how many calls.
trace::ReadStatus EndOf(const std::vector<uint8_t>& trace, uint64_t* calls = nullptr, uint64_t* problemEnd = nullptr) {
    trace::Reader reader;
    std::string error;
    EXPECT_TRUE(reader.OpenBytes(trace.data(), trace.size(), &error)) << error;
    Call call;
    trace::ReadStatus status;
    while ((status = reader.Next(call)) == trace::ReadStatus::kCall) {
    }
    if (calls != nullptr) *calls = reader.Records();
    if (problemEnd != nullptr) *problemEnd = reader.ProblemEnd();
    return status;
}

// A length prefix beyond any record is damage, whatever the file's size, and reading stops at
// the prefix (nothing is read or allocated for the payload); a stream record whose runs fall
// short of its count is damaged; a value of INT64_MIN is described without overflow; a FIFO
// is refused at once.
TEST_F(TraceFormat, CraftedTracesAreRefused) {
    for (const std::vector<uint8_t>& length : {std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0x07},
                                               std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
                                               std::vector<uint8_t>{0xF9, 0xA5, 0x04}}) {   // 70393
        std::vector<uint8_t> huge = bytes;
        huge.insert(huge.end(), length.begin(), length.end());
        if (length.size() == 3) huge.resize(huge.size() + 70393);   // the claimed bytes are there
        uint64_t problemEnd = 0;
        EXPECT_EQ(trace::ReadStatus::kCorrupt, EndOf(huge, nullptr, &problemEnd)) << length.size();
        EXPECT_EQ(trace::kHeaderBytes + length.size(), problemEnd);
    }
    Call call;
    std::string error;

    // ReadBlock with status 0 that received all of 100 requested: one pattern run of 100
    // bytes is a block, one of 50 is damaged.
    const uint8_t wholeRuns[] = {0x7D, 0, 0xC8, 0x01, 1, 0xC9, 0x01, 0};
    const uint8_t shortRuns[] = {0x7D, 0, 0xC8, 0x01, 1, 101, 0};
    uint64_t lastMs = 0;
    uint32_t patternByte = 0;
    EXPECT_TRUE(trace::DecodePayload(wholeRuns, sizeof wholeRuns, &lastMs, &patternByte, call));
    EXPECT_FALSE(trace::DecodePayload(shortRuns, sizeof shortRuns, &lastMs, &patternByte, call));

    Call extreme = trace::CallOf(Op::RegWriteLong, std::numeric_limits<int64_t>::min(), 1);
    EXPECT_EQ("RegWriteLong(address -0x8000000000000000, value 0x1)", trace::DescribeCall(extreme, false));

#if !defined(_WIN32)
    const std::string fifo = dir.File("fifo.kvtrace");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    trace::Reader fromFifo;
    EXPECT_FALSE(fromFifo.Open(fifo, &error));
    EXPECT_NE(std::string::npos, error.find("is not a regular file")) << error;
#endif
    trace::Reader missing;
    EXPECT_FALSE(missing.Open(dir.File("none.kvtrace"), &error));
    EXPECT_NE(std::string::npos, error.find("none.kvtrace: ")) << error;
}

// A decoded field outside its parameter's type or the contract's bounds is damage: two clean
// blocks that asked for 0xFFFFFFFE bytes (a version 2 trace), and one field of each kind at
// the first value past its bound, beside the last value within it.
TEST_F(TraceFormat, FieldsOutsideTheirBoundsAreDamage) {
    uint64_t calls = 0;
    EXPECT_EQ(trace::ReadStatus::kCorrupt,
              EndOf(FromHex("4b454c564f545243020000000000000000000000022200051f0d6508ac07fd00fcffffff1f07fd00fcffffff1f0226"
                            "00051fbe51fd72"), &calls));
    EXPECT_EQ(1u, calls);   // the Init_Interface before them
    const auto block = [](int64_t requested) {
        Call call = trace::CallOf(Op::ReadBlock, requested);
        call.result = -306;
        return call;
    };
    Call text = trace::CallOf(Op::GetKelvoErrorText, -1, 4);
    text.text = "abcd";
    Call longText = text;
    longText.text = "abcde";
    Call status = trace::CallOf(Op::GetScanStatus);
    status.dataOut.resize(sizeof(ScannerStatus));
    Call shortStatus = status;
    shortStatus.dataOut.pop_back();
    Call version = trace::CallOf(Op::GetKelvoVersion);
    version.outs[3] = 0xFFFF;
    Call bigVersion = version;
    bigVersion.outs[3] = 0x10000;
    Call read = trace::CallOf(Op::I2C_PROM_read, 0xa0, 0, 3);
    read.dataOut = {1, 2, 3, 4};
    Call longRead = read;
    longRead.dataOut.push_back(5);
    Call registerRead = trace::CallOf(Op::RegRead, 0x20);
    registerRead.result = 255;
    Call wideRegister = registerRead;
    wideRegister.result = 256;
    const struct {
        Call within, beyond;
    } kCases[] = {
        {block(kLargestTransferBytes), block(kLargestTransferBytes + 1)},
        {block(std::numeric_limits<int32_t>::min()), block(int64_t{std::numeric_limits<int32_t>::min()} - 1)},
        {trace::CallOf(Op::RegWrite, 0xFFFFFFFF, 255), trace::CallOf(Op::RegWrite, 0xFFFFFFFF, 256)},
        {trace::CallOf(Op::RegWrite, 0, 0), trace::CallOf(Op::RegWrite, 0x100000000, 0)},
        {trace::CallOf(Op::I2C_LargePROMrd, 0xa2, 8, kLargestTransferBytes),
         trace::CallOf(Op::I2C_LargePROMrd, 0xa2, 8, kLargestTransferBytes + 1)},
        {text, longText}, {status, shortStatus}, {version, bigVersion}, {read, longRead}, {registerRead, wideRegister},
    };
    for (const auto& c : kCases) {
        for (const bool beyond : {false, true}) {
            std::vector<uint8_t> one;
            trace::Encoder fresh;
            fresh.AppendHeader(one, 0);
            fresh.Append(beyond ? c.beyond : c.within, one);
            fresh.AppendClosing(one);
            EXPECT_EQ(beyond ? trace::ReadStatus::kCorrupt : trace::ReadStatus::kEnd, EndOf(one))
                << trace::DescribeCall(beyond ? c.beyond : c.within, true);
        }
    }
}

// The closing record ends a trace: a whole group taken out before it, or anything after it,
// is damage. A version 2 trace, which has none, ends where its groups end.
TEST_F(TraceFormat, ClosingRecordCountsTheCallsAndEndsTheTrace) {
    Add(trace::CallOf(Op::Init_Interface));
    const size_t second = bytes.size();
    Add(trace::CallOf(Op::RegRead, 1));
    const size_t third = bytes.size();
    Add(trace::CallOf(Op::Free_Interface));
    std::vector<uint8_t> whole = bytes;
    encoder.AppendClosing(whole);
    uint64_t calls = 0;
    EXPECT_EQ(trace::ReadStatus::kEnd, EndOf(whole, &calls));
    EXPECT_EQ(3u, calls);
    std::vector<uint8_t> missing = whole;
    missing.erase(missing.begin() + static_cast<long>(second), missing.begin() + static_cast<long>(third));
    EXPECT_EQ(trace::ReadStatus::kCorrupt, EndOf(missing));
    std::vector<uint8_t> after = whole;
    after.insert(after.end(), whole.begin() + static_cast<long>(second), whole.begin() + static_cast<long>(third));
    EXPECT_EQ(trace::ReadStatus::kCorrupt, EndOf(after));
    EXPECT_EQ(trace::ReadStatus::kEnd,
              EndOf(FromHex("4b454c564f545243020000000000000000000000022200051f0d6508ac081d0001d904d00f00022600051fc3785683"),
                    &calls));
    EXPECT_EQ(3u, calls);
}

// A trace of format version 1 (written by that version's encoder) is still read: a block
// across the pattern's wrap, one with a corrupted word, a failed one.
TEST_F(TraceFormat, VersionOneTraceIsStillRead) {
    std::vector<Call> calls;
    ASSERT_EQ(trace::ReadStatus::kEnd, ReadAll(KELVO_TRACE_VERSION1, &calls));
    ASSERT_EQ(9u, calls.size());
    EXPECT_EQ("I2C_PROM_read(id 0xa0, first 0x0, last 0x3) = 0 [4: 09 08 07 06]", trace::DescribeCall(calls[3], true));
    EXPECT_EQ(Pattern(65000, 4000), Data(calls[4]));
    std::vector<uint8_t> corrupt = Pattern(65000 + 2000 - 65536, 4000);
    corrupt[1000] ^= 0xFF;
    EXPECT_EQ(corrupt, Data(calls[5]));
    EXPECT_EQ(-306, calls[6].result);
    EXPECT_EQ(Op::Free_Interface, calls[8].op);
}

// A block across the wrap from word 65535 to word 0 with a corrupted word after the wrap
// reads back byte for byte: the pattern position runs modulo the pattern's length.
TEST_F(TraceFormat, CorruptedWordAfterThePatternWrapComesBackExactly) {
    std::vector<uint8_t> data = Pattern(65000, 8000);
    data[6000] ^= 0x10;
    Add(Block(Pattern(64000, 2000), 2000));
    Add(Block(data, 8000));
    std::vector<Call> calls;
    ASSERT_EQ(trace::ReadStatus::kEnd, ReadAll(Save(), &calls));
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(data, Data(calls[1]));
}

}  // namespace
