// tests/sim/motor_test.cc: the virtual scanner's motor, line counter and status record through
// the library's C interface. The motor turns per query here, so no test depends on the clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/kelvoscanusb.h"

extern "C" void SimConfigure(const char*);

namespace {

constexpr int32_t kErrRegisterAddress = -501;
constexpr int32_t kErrMotorRange = -701;
constexpr int32_t kErrMotorStalled = -702;
constexpr int32_t kErrLineCounter = -703;
constexpr uint8_t kLedMotor = 0x08;

class MotorTest : public ::testing::Test {
protected:
    void Open(const std::string& settings) {
        SimConfigure(("motor.revs_per_query = 1; lines.per_rev = 100; " + settings).c_str());
        ASSERT_EQ(0, Init_Interface());
        ASSERT_EQ(0, Init_Firmware("scanner3.mcs", 1));
    }
    void SetUp() override { Open(""); }
    void TearDown() override { Free_Interface(); }

    ScannerStatus Status() {
        ScannerStatus status{};
        EXPECT_EQ(0, GetScanStatus(&status));
        return status;
    }
};

TEST_F(MotorTest, RevolutionRangeIsZeroToTenThousand) {
    EXPECT_EQ(0, Pentamotor_init(0));
    EXPECT_EQ(0, Pentamotor_init(10000));
    EXPECT_EQ(kErrMotorRange, Pentamotor_init(10001));
    EXPECT_EQ(kErrMotorRange, Pentamotor_init(-1));
    EXPECT_EQ(kErrMotorRange, GetLastKelvoError(1));
    char text[128] = {};
    EXPECT_EQ(0, GetKelvoErrorText(kErrMotorRange, text, sizeof text));
}

TEST_F(MotorTest, LinesAdvanceWhileTheMotorTurnsAndStopAtTheTarget) {
    EXPECT_EQ(0, Anz_ScanLine());
    ASSERT_EQ(0, Pentamotor_init(3));
    std::vector<int32_t> counts;
    for (int i = 0; i < 4; ++i) counts.push_back(Anz_ScanLine());
    EXPECT_EQ((std::vector<int32_t>{100, 200, 300, 300}), counts);
}

TEST_F(MotorTest, StatusShowsTheMotorTurningOnlyUntilItsLastRevolution) {
    ASSERT_EQ(0, Pentamotor_init(2));
    EXPECT_EQ(kLedMotor, Status().LED & kLedMotor);   // one of two revolutions done
    EXPECT_EQ(0, Status().LED & kLedMotor);
}

TEST_F(MotorTest, ZeroStopsTheMotorAndKeepsTheLinesSoFar) {
    ASSERT_EQ(0, Pentamotor_init(10));
    EXPECT_EQ(100, Anz_ScanLine());
    ASSERT_EQ(0, Pentamotor_init(0));
    EXPECT_EQ(100, Anz_ScanLine());
    ASSERT_EQ(0, Pentamotor_init(1));                 // a new run adds to what was counted
    EXPECT_EQ(200, Anz_ScanLine());
}

TEST_F(MotorTest, CommandRegisterClearsTheCounterAndStopsTheMotor) {
    ASSERT_EQ(0, Pentamotor_init(10));
    EXPECT_EQ(100, Anz_ScanLine());
    ASSERT_NE(0, RegWrite(0x10, 0x1));
    EXPECT_EQ(100, Anz_ScanLine());                   // cleared, then one more revolution
    ASSERT_NE(0, RegWrite(0x10, 0x2));
    EXPECT_EQ(100, Anz_ScanLine());
    EXPECT_EQ(0, Status().LED & kLedMotor);
}

TEST_F(MotorTest, StreamDataAdvancesTheCounter) {
    TearDown();
    Open("stream.rate = unlimited; lines.bytes = 4096");
    ASSERT_NE(0, RegWriteShort(0x04, 0x0101));
    std::vector<uint8_t> block(3 * 4096 - 2);
    int32_t received = 0;
    ASSERT_EQ(0, ReadBlock(block.data(), static_cast<int32_t>(block.size()), &received));
    ASSERT_EQ(static_cast<int32_t>(block.size()), received);
    EXPECT_EQ(2, Anz_ScanLine());                     // whole lines only
    EXPECT_EQ(2, Status().AnzDat);
}

TEST_F(MotorTest, StalledMotorRefusesToStart) {
    TearDown();
    Open("motor.stall = 1");
    EXPECT_EQ(kErrMotorStalled, Pentamotor_init(5));
    EXPECT_EQ(0, Pentamotor_init(0));                 // stopping always works
    EXPECT_EQ(0, Anz_ScanLine());
    EXPECT_EQ(kErrMotorStalled, Status().LastError);
}

TEST_F(MotorTest, InjectedLineCounterFailureGivesTheMarker) {
    TearDown();
    Open("fail.Anz_ScanLine = -703 at 2");
    EXPECT_EQ(0, Anz_ScanLine());
    EXPECT_EQ(0x08000000, Anz_ScanLine());
    EXPECT_EQ(kErrLineCounter, GetLastKelvoError(1));
}

TEST_F(MotorTest, StatusReflectsControlRegistersAndTheLastError) {
    ASSERT_NE(0, RegWrite(0x0C, 0xA0));
    ASSERT_NE(0, RegWrite(0x0D, 0x05));
    ASSERT_EQ(0, RegWrite(0x300, 1));
    const ScannerStatus status = Status();
    EXPECT_EQ(0x05, status.LS);
    EXPECT_EQ(0xA3, status.LED);                      // panel LEDs, power and FPGA
    EXPECT_EQ(kErrRegisterAddress, status.LastError);
    EXPECT_EQ(0, status.RAMStatus);
    EXPECT_EQ(0, status.RamFIFO);
}

TEST_F(MotorTest, StatusShowsTheFifoFilling) {
    TearDown();
    Open("stream.rate = unlimited");
    ASSERT_NE(0, RegWriteShort(0x04, 0x0101));
    const ScannerStatus status = Status();
    EXPECT_EQ(0x02, status.RAMStatus & 0x02);
    EXPECT_EQ(0x04, status.LED & 0x04);
    EXPECT_EQ(status.RamFIFO > 0 ? 1 : 0, status.RAMStatus & 0x01);
}

}  // namespace
