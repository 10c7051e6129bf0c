// Virtual scanner, replay: the settings it takes, a trace it cannot read, the recording's
// loops entered, left early or run longer, and the recorded pace, on a clock the test moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "device/contract.h"
#include "device/kelvoscanusb.h"
#include "tests/support/temp_files.h"
#include "tests/support/virtual_clock.h"
#include "trace/call_packing.h"
#include "trace/trace_format.h"

extern "C" void SimConfigure(const char* settings);

namespace {

using trace::Call;
using trace::Op;

Call At(Call call, uint64_t timeMs, int64_t result = 0) {
    call.timeMs = timeMs;
    call.result = result;
    return call;
}

Call Reg(uint32_t address, uint64_t timeMs = 0) { return At(trace::CallOf(Op::RegRead, address), timeMs, address * 11); }

// A block of `bytes` received of `requested`, with its status.
Call Block(int64_t requested, int64_t bytes, uint64_t timeMs = 0, int64_t status = 0) {
    static const std::vector<uint8_t> data(1 << 16, 0x5A);
    Call block = At(trace::CallOf(Op::ReadBlock, requested), timeMs, status);
    block.outs[0] = bytes;
    block.stream = data.data();
    return block;
}

const Call kOpen = trace::CallOf(Op::Init_Interface);
const Call kClose = trace::CallOf(Op::Free_Interface);

class SimReplayTest : public ::testing::Test {
protected:
    void TearDown() override { SimConfigure(""); }

    std::string Trace(const std::vector<Call>& calls) {
        std::vector<uint8_t> bytes;
        trace::Encoder encoder;
        encoder.AppendHeader(bytes, 0);
        for (const Call& call : calls) encoder.Append(call, bytes);
        encoder.CloseGroup(bytes);
        encoder.AppendClosing(bytes);   // a session that ended
        return dir.Write("t" + std::to_string(++traces) + ".kvtrace", bytes);
    }
    // Replays the calls (the first one Init_Interface) with the further settings given.
    void Replay(const std::vector<Call>& calls, const std::string& settings = "") {
        SimConfigure(("replay = " + Trace(calls) + settings).c_str());
        ASSERT_EQ(0, Init_Interface());
    }
    static int32_t Write(uint8_t first, std::vector<uint8_t> bytes) {
        return I2C_PROM_write(bytes.data(), 0xA0, first, static_cast<uint8_t>(first + bytes.size() - 1));
    }
    static std::string Stderr(const std::function<void()>& run) {
        ::testing::internal::CaptureStderr();
        run();
        return ::testing::internal::GetCapturedStderr();
    }

    TempDir dir;
    int traces = 0;
    VirtualClock clock;
};

TEST_F(SimReplayTest, SettingsMissingTraceAndLongPauses) {
    const std::string path = Trace({kOpen, At(trace::CallOf(Op::RegReadLong, 0x20), uint64_t{1} << 40, 7)});

    // A setting of the simulated scanner would do nothing under replay; a replay setting does
    // nothing without a trace. Both are refused.
    SimConfigure(("replay = " + path + "; fail.ReadBlock = -301").c_str());
    EXPECT_EQ(-105, Init_Interface());
    for (const std::string key : {"replay.pace", "replay.end"}) {
        const std::string told = Stderr([&key] { SimConfigure((key + (key == "replay.end" ? " = stop" : " = recorded")).c_str()); });
        EXPECT_EQ(-105, Init_Interface()) << key;
        EXPECT_NE(std::string::npos, told.find(key + " needs a trace to replay")) << told;
    }

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
    const uint64_t before = VirtualClock::Ms();
    EXPECT_EQ(7u, RegReadLong(0x20));
    EXPECT_EQ(5000u, VirtualClock::Ms() - before);
}

// A pass made twice in a row is a loop: run longer it gets the pass again, left early it
// skips the rest; a call made once is no loop. A loop never entered is an action left out,
// told with the record the program skipped; every difference raises a stop request.
TEST_F(SimReplayTest, LoopsEnteredLeftOrSkipped) {
    const std::vector<Call> loop{kOpen, Reg(1), Reg(2), Reg(1), Reg(2), Reg(1), Reg(2), kClose};
    Replay(loop);   // longer than recorded
    for (int pass = 0; pass < 5; ++pass) {
        EXPECT_EQ(11, RegRead(1));
        EXPECT_EQ(22, RegRead(2));
    }
    EXPECT_EQ(0, Free_Interface());
    Replay(loop);   // left after one pass
    EXPECT_EQ(11, RegRead(1));
    EXPECT_EQ(22, RegRead(2));
    EXPECT_EQ(0, Free_Interface());
    EXPECT_EQ(0, VirtualClock::stopRequests);

    Replay(loop);   // never entered
    const std::string told = Stderr([] { EXPECT_EQ(-110, Free_Interface()); });
    EXPECT_EQ("kelvosim: replay: call 2 differs from the recording: recorded RegRead(address 0x1) (record 2), asked "
              "Free_Interface()\n",
              told);
    EXPECT_EQ(1, VirtualClock::stopRequests);

    Replay({kOpen, Reg(1), kClose});
    EXPECT_EQ(11, RegRead(1));
    EXPECT_EQ(0, RegRead(1));   // once is no loop: the replay stops
    EXPECT_EQ(-110, Free_Interface());
}

// A pass with a failed call and the program's look-up of its text is a pass of the same loop:
// leaving after the first pass skips them all, and a loop run longer gets the clean pass.
TEST_F(SimReplayTest, ErrorPassesStayInTheirLoop) {
    const Call init = trace::CallOf(Op::I2C_TEMPinit, 0x92, 1);
    const Call lookUp = trace::CallOf(Op::GetKelvoErrorText, -601, 64);
    std::vector<Call> calls{kOpen};
    for (int pass = 0; pass < 8; ++pass) {
        calls.push_back(At(init, 0, pass == 3 ? -601 : 0));
        if (pass == 3) calls.push_back(lookUp);
        calls.push_back(Reg(2));
    }
    calls.push_back(kClose);
    for (const int passes : {1, 12}) {
        Replay(calls);
        for (int pass = 0; pass < passes; ++pass) {
            const int32_t status = I2C_TEMPinit(0x92, 1);
            if (status != 0) {
                char text[64];
                EXPECT_EQ(pass, 3) << passes;
                EXPECT_EQ(0, GetKelvoErrorText(status, text, sizeof text));
            }
            EXPECT_EQ(22, RegRead(2)) << passes << " passes, pass " << pass;
        }
        EXPECT_EQ(0, Free_Interface()) << passes;
    }
}

// replay.end = stop: the stop request comes when the program goes on with a loop past its
// recorded end, not for a call the program repeats by itself; and the program's skipping what
// followed that loop is no difference.
TEST_F(SimReplayTest, StopEndsEachLoopWhereTheRecordingsEnded) {
    const Call load = trace::CallOf(Op::Init_Firmware, 1);
    Replay({kOpen, load, load, Reg(1), Reg(2), Reg(1), Reg(2), Reg(3), Reg(3), kClose}, "; replay.end = stop");
    EXPECT_EQ(0, Init_Firmware(nullptr, 1));
    EXPECT_EQ(0, Init_Firmware(nullptr, 1));
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(11, RegRead(1));
        EXPECT_EQ(22, RegRead(2));
    }
    EXPECT_EQ(0, VirtualClock::stopRequests);
    EXPECT_EQ(11, RegRead(1));
    EXPECT_EQ(1, VirtualClock::stopRequests);
    EXPECT_EQ(22, RegRead(2));
    const std::string told = Stderr([] { EXPECT_EQ(0, Free_Interface()); });
    EXPECT_NE(std::string::npos, told.find("records 8 to 9, what the recording holds after that loop, were not replayed"))
        << told;
}

// Under recorded pace, a loop left early does not wait out its recorded rest: what follows it
// keeps its recorded gap. Run longer, its passes keep the recording's mean pass time; fast,
// they still pause a millisecond each.
TEST_F(SimReplayTest, PaceAroundLoops) {
    const std::vector<Call> calls{kOpen,          Reg(1, 1000), Reg(2, 1500), Reg(1, 4000), Reg(2, 4500),
                                  Reg(1, 7000),   Reg(2, 7500), At(kClose, 8000)};
    Replay(calls, "; replay.pace = recorded");
    uint64_t start = VirtualClock::Ms();
    EXPECT_EQ(11, RegRead(1));
    EXPECT_EQ(22, RegRead(2));
    const std::string told = Stderr([] { EXPECT_EQ(0, Free_Interface()); });
    EXPECT_EQ(2000u, VirtualClock::Ms() - start);
    EXPECT_EQ("", told);

    const struct {
        const char* pace;
        uint64_t extraPassesMs;   // the time three passes past the recording take to begin
    } kCases[] = {{"recorded", 2 * 3000}, {"fast", 2}};
    for (const auto& c : kCases) {
        Replay(calls, std::string("; replay.pace = ") + c.pace);
        for (int pass = 0; pass < 3; ++pass) {
            EXPECT_EQ(11, RegRead(1));
            EXPECT_EQ(22, RegRead(2));
        }
        start = VirtualClock::Ms();
        for (int pass = 0; pass < 3; ++pass) {
            EXPECT_EQ(11, RegRead(1));
            EXPECT_EQ(22, RegRead(2));
        }
        EXPECT_EQ(c.extraPassesMs, VirtualClock::Ms() - start) << c.pace;
        EXPECT_EQ(0, Free_Interface());
    }
}

// Stream blocks come 50 ms ahead of their recorded time; other calls at it.
TEST_F(SimReplayTest, PacedStreamBlocksComeFiftyMillisecondsEarly) {
    Replay({kOpen, Block(64, 64, 0), Block(64, 64, 1000), Reg(7, 2000)}, "; replay.pace = recorded");
    const uint64_t start = VirtualClock::Ms();
    uint8_t buffer[64];
    int32_t received = 0;
    ASSERT_EQ(0, ReadBlock(buffer, 64, &received));
    ASSERT_EQ(0, ReadBlock(buffer, 64, &received));
    EXPECT_EQ(950u, VirtualClock::Ms() - start);
    EXPECT_EQ(77, RegRead(7));
    EXPECT_EQ(2000u, VirtualClock::Ms() - start);
}

// Whatever count the trace holds for a failed or empty block, no more than was asked comes back.
TEST_F(SimReplayTest, ReadBlockNeverGivesMoreThanAsked) {
    for (const int32_t requested : {-1, 0, 10}) {
        Replay({kOpen, Block(-1, 1000, 0, -301), Block(0, 1000), kClose});
        for (int block = 0; block < 2; ++block) {
            std::vector<uint8_t> buffer(16);
            int32_t received = 0;
            ReadBlock(buffer.data(), requested, &received);
            EXPECT_EQ(block == 0 ? std::min(requested > 0 ? requested : 0, 1000) : 0, received)
                << "requested " << requested << ", block " << block;
        }
    }
}

// Bytes written to an EEPROM or the boot image are part of the call: other bytes than were
// recorded stop the replay.
TEST_F(SimReplayTest, OtherBytesWrittenThanRecordedStopTheReplay) {
    std::vector<uint8_t> recorded{1, 2, 3};
    int32_t length = 3;
    const Call writes[] = {trace::asked::I2C_PROM_write(recorded.data(), 0xA0, 0, 2),
                           At(trace::asked::I2C_LargePROMwr(0xA2, 0, recorded.data(), &length), 0)};
    const struct {
        std::vector<uint8_t> bytes;
        int32_t expected;
    } kCases[] = {{{1, 2, 3}, 0}, {{1, 2, 4}, -110}, {{0, 2, 3}, -110}};
    for (const Call& write : writes) {
        for (const auto& c : kCases) {
            Call answer = write;
            answer.outs[0] = 3;
            Replay({kOpen, answer, kClose});
            std::vector<uint8_t> bytes = c.bytes;
            int32_t asked = 3;
            const int32_t status = write.op == Op::I2C_PROM_write ? Write(0, bytes)
                                                                  : I2C_LargePROMwr(0xA2, 0, bytes.data(), &asked);
            EXPECT_EQ(c.expected, status) << trace::DescribeCall(write, false) << " given " << int(c.bytes[2]);
        }
    }
}

}  // namespace
