// tests/sim/motor_test.cc: the virtual scanner's motor, line counter and status record through
// the library's C interface. The motor turns per query here, so no test depends on the clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/sim_session.h"

class MotorTest : public SimTest {
protected:
    void Open(const std::string& settings) {
        SimTest::Open("motor.revs_per_query = 1; lines.per_rev = 100; " + settings, true);
    }
    void SetUp() override { Open(""); }

    ScannerStatus Status() {
        ScannerStatus status{};
        EXPECT_EQ(0, GetScanStatus(&status));
        return status;
    }
};

TEST_F(MotorTest, RefusesRevolutionsOutsideZeroToTenThousand) {
    EXPECT_EQ(0, Pentamotor_init(10000));
    EXPECT_EQ(-701, Pentamotor_init(10001));
    EXPECT_EQ(-701, Pentamotor_init(-1));
    EXPECT_EQ(-701, Status().LastError);
}

TEST_F(MotorTest, LinesFollowTheRevolutionsUntilTheTargetOrAStop) {
    ASSERT_EQ(0, Pentamotor_init(2));
    EXPECT_EQ(0x08, Status().LED & 0x08);   // turning: one of two revolutions done
    std::vector<int32_t> counts = {Anz_ScanLine(), Anz_ScanLine()};
    EXPECT_EQ(0, Status().LED & 0x08);
    ASSERT_EQ(0, Pentamotor_init(10));
    counts.push_back(Anz_ScanLine());
    ASSERT_EQ(0, Pentamotor_init(0));       // stops; what it turned stays counted
    counts.push_back(Anz_ScanLine());
    EXPECT_EQ((std::vector<int32_t>{200, 200, 300, 300}), counts);
}

TEST_F(MotorTest, CommandRegisterClearsTheCounterAndStopsTheMotor) {
    ASSERT_EQ(0, Pentamotor_init(10));
    EXPECT_EQ(100, Anz_ScanLine());
    ASSERT_NE(0, RegWrite(0x10, 0x3));
    EXPECT_EQ(0, Anz_ScanLine());
}

TEST_F(MotorTest, StreamDataAdvancesTheCounterByWholeLines) {
    TearDown();
    Open("stream.rate = unlimited; lines.bytes = 4096");
    ASSERT_NE(0, RegWriteShort(0x04, 0x0101));
    std::vector<uint8_t> block(3 * 4096 - 2);
    int32_t received = 0;
    ASSERT_EQ(0, ReadBlock(block.data(), static_cast<int32_t>(block.size()), &received));
    ASSERT_EQ(static_cast<int32_t>(block.size()), received);
    EXPECT_EQ(2, Anz_ScanLine());
    const ScannerStatus status = Status();
    EXPECT_EQ(2, status.AnzDat);
    EXPECT_EQ(0x06, status.LED & 0x06);       // FPGA configured, stream gate open
    // Words made on demand never wait in the FIFO: filling, nothing held, nothing lost.
    EXPECT_EQ(0, status.RamFIFO);
    EXPECT_EQ(0x02, status.RAMStatus);
}

TEST_F(MotorTest, StalledMotorRefusesToStartButCanBeStopped) {
    TearDown();
    Open("motor.stall = 1");
    EXPECT_EQ(-702, Pentamotor_init(5));
    EXPECT_EQ(0, Pentamotor_init(0));
    EXPECT_EQ(0, Anz_ScanLine());
}

TEST_F(MotorTest, StatusShowsControlRegisters) {
    ASSERT_NE(0, RegWrite(0x0C, 0xA5));      // only the upper four bits are the panel's
    ASSERT_NE(0, RegWrite(0x0D, 0x05));
    const ScannerStatus status = Status();
    EXPECT_EQ(0x05, status.LS);
    EXPECT_EQ(0xA3, status.LED);              // panel LEDs, power and FPGA
    EXPECT_EQ(0, status.RamFIFO);
}
