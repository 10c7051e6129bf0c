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

}  // namespace
