// tests/process/kelvotrace_process_test.cc: kelvotrace on traces written by the trace encoder:
// where a cut trace ends, to the byte; a stream that starts in the middle of the pattern and
// stays in it has no deviation; the tool's pattern check over the recorded blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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
    const std::vector<uint8_t> whole = bytes;

    const ToolRun stats{{"stats", dir.Write("t.kvtrace", whole)}, {}, dir.Path(), KELVOTRACE_PATH};
    const ProcessResult clean = RunToTheEnd(stats);
    EXPECT_EQ(0, clean.exitCode) << clean.err;
    EXPECT_NE(std::string::npos, clean.out.find("deviations from the counting pattern:\n  none\ncalls: 5")) << clean.out;
    EXPECT_NE(std::string::npos, clean.out.find("6000 bytes in 2 blocks; counting pattern 6000 bytes, 0 jumps")) << clean.out;
    EXPECT_NE(std::string::npos, clean.out.find("as the tool counts: 0 errors")) << clean.out;

    bytes.assign(whole.begin(), whole.end() - 2);
    const ProcessResult cut = RunToTheEnd(ToolRun{{"dump", dir.Write("t.kvtrace", bytes)}, {}, dir.Path(), KELVOTRACE_PATH});
    EXPECT_EQ(2, cut.exitCode);
    EXPECT_NE(std::string::npos, cut.err.find("cut off after record 4 (byte " + std::to_string(wholeBytes) + ")")) << cut.err;
}

}  // namespace
