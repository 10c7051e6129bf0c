// tests/sim/registers_test.cc: the virtual scanner's register file through the library's
// C interface: widths and byte order, the protected registers, the counting forms, the limits.
#include <gtest/gtest.h>

#include "device/kelvoscanusb.h"

extern "C" void SimConfigure(const char*);

namespace {

constexpr int32_t kErrFpgaNotConfigured = -206;
constexpr int32_t kErrRegisterAddress = -501;
constexpr int32_t kErrRegisterReadOnly = -502;
constexpr int32_t kErrRegisterWriteOnly = -503;

class RegistersTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimConfigure("");
        ASSERT_EQ(0, Init_Interface());
        ASSERT_EQ(0, Init_Firmware("scanner3.mcs", 1));
    }
    void TearDown() override { Free_Interface(); }
};

TEST_F(RegistersTest, WidthsShareOneLittleEndianSpace) {
    ASSERT_NE(0, RegWriteLong(0x20, 0x12345678));
    EXPECT_EQ(0x12345678u, RegReadLong(0x20));
    EXPECT_EQ(0x5678u, RegReadShort(0x20));
    EXPECT_EQ(0x1234u, RegReadShort(0x22));
    EXPECT_EQ(0x78u, RegRead(0x20));
    EXPECT_EQ(0x12u, RegRead(0x23));
    ASSERT_NE(0, RegWrite(0x21, 0xAB));
    ASSERT_NE(0, RegWriteShort(0x22, 0xCDEF));
    EXPECT_EQ(0xCDEFAB78u, RegReadLong(0x20));
    EXPECT_EQ(0xEFABu, RegReadShort(0x21));   // unaligned access is allowed
}

TEST_F(RegistersTest, LastRegisterIsReachableAndOneBeyondIsNot) {
    EXPECT_NE(0, RegWrite(0xFF, 0x5A));
    EXPECT_EQ(0x5Au, RegRead(0xFF));
    EXPECT_NE(0, RegWriteLong(0xFC, 1));
    EXPECT_EQ(0, RegWriteLong(0xFD, 1));      // its last byte would lie at 0x100
    EXPECT_EQ(kErrRegisterAddress, GetLastKelvoError(0));
    EXPECT_EQ(0, RegWrite(0x100, 1));
    EXPECT_EQ(kErrRegisterAddress, GetLastKelvoError(0));
    // An address that wraps past 2^32 must not land back at the start.
    EXPECT_EQ(0, RegWriteLong(0xFFFFFFFE, 1));
    EXPECT_EQ(kErrRegisterAddress, GetLastKelvoError(0));
    EXPECT_EQ(0x4B530300u, RegReadLong(0));
}

TEST_F(RegistersTest, FailedAccessHasTextAndLeavesContentAlone) {
    ASSERT_NE(0, RegWriteLong(0x30, 0x11223344));
    EXPECT_EQ(0, RegWriteLong(0x200, 0));
    char text[128] = {};
    EXPECT_EQ(0, GetKelvoErrorText(GetLastKelvoError(1), text, sizeof text));
    EXPECT_STRNE("", text);
    EXPECT_EQ(0u, RegReadLong(0x200));
    EXPECT_EQ(0x11223344u, RegReadLong(0x30));
}

TEST_F(RegistersTest, IdentityAndStateAreReadOnlyEvenInPart) {
    EXPECT_EQ(0x4B530300u, RegReadLong(0x00));
    EXPECT_EQ(0, RegWrite(0x03, 0));
    EXPECT_EQ(kErrRegisterReadOnly, GetLastKelvoError(0));
    EXPECT_EQ(0, RegWriteLong(0x06, 0));      // covers 0x08, a byte of the state register
    EXPECT_EQ(kErrRegisterReadOnly, GetLastKelvoError(0));
    EXPECT_EQ(0x4B530300u, RegReadLong(0x00));
}

TEST_F(RegistersTest, StateShowsTheStreamGateOfRegistersFourAndFive) {
    EXPECT_EQ(0u, RegReadLong(0x08) & 1u);
    ASSERT_NE(0, RegWrite(0x04, 1));
    EXPECT_EQ(0u, RegReadLong(0x08) & 1u);    // one gate alone does not open
    ASSERT_NE(0, RegWrite(0x05, 1));
    EXPECT_EQ(1u, RegReadLong(0x08) & 1u);
    ASSERT_NE(0, RegWriteShort(0x04, 0x0201));  // gate B now 2: closed
    EXPECT_EQ(0u, RegReadLong(0x08) & 1u);
    ASSERT_NE(0, RegWriteShort(0x04, 0x0101));  // both at once, as one 16-bit write
    EXPECT_EQ(1u, RegReadLong(0x08) & 1u);
}

TEST_F(RegistersTest, FpgaReloadRestoresPowerOnValues) {
    ASSERT_NE(0, RegWriteShort(0x04, 0x0101));
    ASSERT_NE(0, RegWriteLong(0x40, 99));
    ASSERT_EQ(0, Init_Firmware("scanner3.mcs", 1));
    EXPECT_EQ(0u, RegReadLong(0x40));
    EXPECT_EQ(0u, RegReadLong(0x08) & 1u);
    EXPECT_EQ(0x4B530300u, RegReadLong(0x00));
}

TEST_F(RegistersTest, CommandRegisterIsWriteOnly) {
    EXPECT_NE(0, RegWriteLong(0x10, 0));
    EXPECT_EQ(0u, RegReadLong(0x10));
    EXPECT_EQ(kErrRegisterWriteOnly, GetLastKelvoError(0));
    EXPECT_EQ(0u, RegRead(0x13));
    EXPECT_EQ(kErrRegisterWriteOnly, GetLastKelvoError(0));
}

TEST_F(RegistersTest, IncrementingReadsCountInTheirWidth) {
    ASSERT_NE(0, RegWriteLong(0x40, 0x0001FFFF));
    EXPECT_EQ(0xFFFFu, RegReadShortInc(0x40));
    EXPECT_EQ(0x0000u, RegReadShortInc(0x40));   // wraps within 16 bits, no carry into 0x42
    EXPECT_EQ(0x00010001u, RegReadLong(0x40));
    ASSERT_NE(0, RegWriteLong(0x44, 0xFFFFFFFF));
    EXPECT_EQ(0xFFFFFFFFu, RegReadLongInc(0x44));
    EXPECT_EQ(0u, RegReadLongInc(0x44));
    EXPECT_EQ(1u, RegReadLong(0x44));
    // The identity cannot count: it reads the same every time.
    EXPECT_EQ(0x4B530300u, RegReadLongInc(0x00));
    EXPECT_EQ(0x4B530300u, RegReadLongInc(0x00));
}

TEST_F(RegistersTest, IncrementingWriteAddsTheValue) {
    ASSERT_NE(0, RegWriteLong(0x48, 10));
    ASSERT_NE(0, RegWriteLongInc(0x48, 5));
    ASSERT_NE(0, RegWriteLongInc(0x48, 0xFFFFFFFF));   // adding -1
    EXPECT_EQ(14u, RegReadLong(0x48));
    EXPECT_EQ(0, RegWriteLongInc(0x00, 1));
    EXPECT_EQ(kErrRegisterReadOnly, GetLastKelvoError(0));
    EXPECT_EQ(0, RegWriteLongInc(0x10, 1));
    EXPECT_EQ(kErrRegisterWriteOnly, GetLastKelvoError(0));
}

TEST(RegistersWithoutFpga, AccessFailsUntilConfigured) {
    SimConfigure("");
    ASSERT_EQ(0, Init_Interface());
    EXPECT_EQ(0, RegWriteLong(0x20, 1));
    EXPECT_EQ(kErrFpgaNotConfigured, GetLastKelvoError(0));
    EXPECT_EQ(0u, RegReadLong(0x00));
    EXPECT_EQ(kErrFpgaNotConfigured, GetLastKelvoError(0));
    Free_Interface();
}

TEST(RegistersWithFaults, InjectedFailureReachesTheCaller) {
    SimConfigure("fail.RegWriteLong = -301 at 2");
    ASSERT_EQ(0, Init_Interface());
    ASSERT_EQ(0, Init_Firmware("scanner3.mcs", 1));
    EXPECT_NE(0, RegWriteLong(0x20, 1));
    EXPECT_EQ(0, RegWriteLong(0x20, 2));
    EXPECT_EQ(-301, GetLastKelvoError(0));
    EXPECT_EQ(1u, RegReadLong(0x20));
    Free_Interface();
}

}  // namespace
