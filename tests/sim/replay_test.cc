// Virtual scanner, replay: the settings it takes, a trace it cannot read, and a recorded pause
// that would last for decades.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "device/contract.h"
#include "device/kelvoscanusb.h"
#include "tests/support/temp_files.h"
#include "trace/trace_format.h"

extern "C" void SimConfigure(const char* settings);

namespace {

TEST(SimReplayTest, SettingsMissingTraceAndLongPauses) {
    TempDir dir;
    std::vector<uint8_t> bytes;
    trace::Encoder encoder;
    encoder.AppendHeader(bytes, 0);
    encoder.Append(trace::CallOf(trace::Op::Init_Interface), bytes);
    trace::Call late = trace::CallOf(trace::Op::RegReadLong, 0x20);
    late.result = 7;
    late.timeMs = uint64_t{1} << 40;
    encoder.Append(late, bytes);
    const std::string path = dir.Write("t.kvtrace", bytes);

    // A setting of the simulated scanner would do nothing under replay: refused.
    SimConfigure(("replay = " + path + "; fail.ReadBlock = -301").c_str());
    EXPECT_EQ(-105, Init_Interface());

    // A missing trace is told as such, and every call fails with the code that says so.
    SimConfigure(("replay = " + dir.File("none.kvtrace")).c_str());
    EXPECT_EQ(-111, Init_Interface());
    char text[256] = {};
    ASSERT_EQ(0, GetKelvoErrorText(-111, text, sizeof text));
    EXPECT_EQ(std::string("replay: the trace cannot be read (see standard error)"), text);
    EXPECT_TRUE(AdcResultIsError(I2C_ADCread(0x90, 1)));

    // 2^40 ms after the first call: the wait is cut to the USB time-out.
    SimConfigure(("replay = " + path + "; replay.pace = recorded").c_str());
    EXPECT_EQ(0, Init_Interface());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(7u, RegReadLong(0x20));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    SimConfigure("");
}

// A pass made twice in a row is a loop: run longer it gets the pass again, left early it
// skips the rest; a call made once is no loop. Recorded pace keeps the recorded gaps.
TEST(SimReplayTest, LoopsAndPace) {
    TempDir dir;
    const auto traceOf = [&dir](const std::vector<trace::Call>& calls) {
        std::vector<uint8_t> bytes;
        trace::Encoder encoder;
        encoder.AppendHeader(bytes, 0);
        for (const trace::Call& call : calls) encoder.Append(call, bytes);
        return dir.Write("t.kvtrace", bytes);
    };
    trace::Call one = trace::CallOf(trace::Op::RegRead, 1);
    one.result = 11;
    trace::Call two = trace::CallOf(trace::Op::RegRead, 2);
    two.result = 22;
    trace::Call late = trace::CallOf(trace::Op::RegRead, 3);
    late.timeMs = 300;
    const trace::Call open = trace::CallOf(trace::Op::Init_Interface);
    const trace::Call close = trace::CallOf(trace::Op::Free_Interface);
    const std::string loop = traceOf({open, one, two, one, two, one, two, close});

    SimConfigure(("replay = " + loop).c_str());   // longer than recorded
    ASSERT_EQ(0, Init_Interface());
    for (int pass = 0; pass < 5; ++pass) {
        EXPECT_EQ(11, RegRead(1));
        EXPECT_EQ(22, RegRead(2));
    }
    EXPECT_EQ(0, Free_Interface());
    SimConfigure(("replay = " + loop).c_str());   // left after one pass
    ASSERT_EQ(0, Init_Interface());
    EXPECT_EQ(11, RegRead(1));
    EXPECT_EQ(22, RegRead(2));
    EXPECT_EQ(0, Free_Interface());

    SimConfigure(("replay = " + traceOf({open, one, close})).c_str());
    ASSERT_EQ(0, Init_Interface());
    EXPECT_EQ(11, RegRead(1));
    EXPECT_EQ(0, RegRead(1));   // once is no loop: the replay stops
    EXPECT_EQ(-110, Free_Interface());

    SimConfigure(("replay = " + traceOf({open, one, late, close}) + "; replay.pace = recorded").c_str());
    ASSERT_EQ(0, Init_Interface());
    EXPECT_EQ(11, RegRead(1));
    const auto before = std::chrono::steady_clock::now();
    RegRead(3);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(290));
    SimConfigure("");
}

}  // namespace
