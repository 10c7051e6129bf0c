// tests/sim/registers_test.cc: the virtual scanner's register file through the library's
// C interface: widths and byte order, the protected registers, the counting forms, the limits.
#include <gtest/gtest.h>

#include "tests/support/sim_session.h"

class RegistersTest : public SimTest {
protected:
    void SetUp() override { Open("", true); }
};

TEST_F(RegistersTest, WidthsShareOneLittleEndianSpace) {
    ASSERT_NE(0, RegWriteLong(0x20, 0x12345678));
    ASSERT_NE(0, RegWrite(0x21, 0xAB));
    ASSERT_NE(0, RegWriteShort(0x22, 0xCDEF));
    EXPECT_EQ(0xCDEFAB78u, RegReadLong(0x20));
    EXPECT_EQ(0xEFABu, RegReadShort(0x21));   // any byte address
    EXPECT_EQ(0xCDu, RegRead(0x23));
}

TEST_F(RegistersTest, AccessPastTheLastRegisterFailsAndChangesNothing) {
    EXPECT_NE(0, RegWriteLong(0xFC, 0x11223344));
    for (uint32_t address : {0xFDu, 0x100u, 0xFFFFFFFEu}) {   // the last wraps past 2^32
        EXPECT_EQ(0, RegWriteLong(address, 1)) << address;
        EXPECT_EQ(-501, GetLastKelvoError(0)) << address;
    }
    EXPECT_EQ(0x11223344u, RegReadLong(0xFC));
    EXPECT_EQ(0x4B530300u, RegReadLong(0x00));
}

TEST_F(RegistersTest, ProtectedRegistersRefuseEvenAPartialAccess) {
    EXPECT_EQ(0, RegWriteLong(0x06, 0));   // its third byte is the read-only state register
    EXPECT_EQ(-502, GetLastKelvoError(0));
    EXPECT_EQ(0u, RegRead(0x13));          // the write-only command register
    EXPECT_EQ(-503, GetLastKelvoError(0));
    EXPECT_EQ(0, RegWriteLongInc(0x10, 1));
    EXPECT_EQ(-503, GetLastKelvoError(0));
}

TEST_F(RegistersTest, StateShowsTheGateOnlyWhileFourAndFiveBothHoldOne) {
    ASSERT_NE(0, RegWrite(0x04, 1));
    EXPECT_EQ(0u, RegReadLong(0x08) & 1u);
    ASSERT_NE(0, RegWrite(0x05, 1));
    EXPECT_EQ(1u, RegReadLong(0x08) & 1u);
    ASSERT_NE(0, RegWriteShort(0x04, 0x0201));
    EXPECT_EQ(0u, RegReadLong(0x08) & 1u);
    ASSERT_NE(0, RegWriteShort(0x04, 0x0101));
    ASSERT_EQ(0, Init_Firmware("scanner3.mcs", 1));   // a reload closes it again
    EXPECT_EQ(0u, RegReadLong(0x08) & 1u);
}

TEST_F(RegistersTest, CountingFormsWrapInTheirWidth) {
    ASSERT_NE(0, RegWriteLong(0x40, 0x0001FFFF));
    EXPECT_EQ(0xFFFFu, RegReadShortInc(0x40));
    EXPECT_EQ(0x00010000u, RegReadLong(0x40));   // no carry into the next 16 bits
    EXPECT_EQ(0x00010000u, RegReadLongInc(0x40));
    ASSERT_NE(0, RegWriteLongInc(0x40, 0xFFFFFFFF));   // adds -1
    EXPECT_EQ(0x00010000u, RegReadLong(0x40));
    EXPECT_EQ(0x4B530300u, RegReadLongInc(0x00));   // read-only: reads, never counts
    EXPECT_EQ(0x4B530300u, RegReadLong(0x00));
}

TEST_F(RegistersTest, AccessNeedsTheFpgaAndHonoursInjectedFaults) {
    TearDown();
    Open("fail.RegWriteLong = -301 at 2", false);
    EXPECT_EQ(0, RegWriteLong(0x20, 1));
    EXPECT_EQ(-206, GetLastKelvoError(0));
    ASSERT_EQ(0, Init_Firmware("scanner3.mcs", 1));
    EXPECT_EQ(0, RegWriteLong(0x20, 2));
    EXPECT_EQ(-301, GetLastKelvoError(0));
    EXPECT_NE(0, RegWriteLong(0x20, 3));
    EXPECT_EQ(3u, RegReadLong(0x20));
}
