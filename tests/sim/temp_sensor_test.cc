// tests/sim/temp_sensor_test.cc: the virtual temperature sensor through the library
// interface: its reading in whole degrees, its range, the stored configuration and the
// sensor that does not answer.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/sim_session.h"

namespace {

constexpr uint8_t kSensor = 0x92;
constexpr int32_t kReadFailed = -32768;

class TempSensorTest : public SimTest {
protected:
    void Open(const std::string& settings) { SimTest::Open("temp.transfer_us = 0;" + settings); }
};

}  // namespace

// Whole degrees as a signed 16-bit value, inside the sensor's range: never the failure value.
TEST_F(TempSensorTest, ReadsWholeDegreesInsideTheSensorRange) {
    const struct { const char* setting; int32_t raw; } cases[] = {
        {"", 25}, {"temp.celsius = -50.4", -50}, {"temp.celsius = -40000", -55},
        {"temp.celsius = 1e9", 150}};
    for (const auto& c : cases) {
        Open(c.setting);
        EXPECT_EQ(c.raw, I2C_TEMPread(kSensor)) << c.setting;
        Free_Interface();
    }
    SimConfigure("temp.celsius = nan");   // no temperature at all: the scenario is refused
    EXPECT_EQ(kErrScenario, Init_Interface());
}

TEST_F(TempSensorTest, ShutdownBitStopsReadingsUntilCleared) {
    Open("");
    EXPECT_EQ(0, I2C_TEMPinit(kSensor, 0x01));
    EXPECT_EQ(kReadFailed, I2C_TEMPread(kSensor));
    EXPECT_EQ(kErrSensor, GetLastKelvoError(1));
    EXPECT_EQ(kErrBadArgument, I2C_TEMPinit(kSensor, 0x100));
    EXPECT_EQ(kReadFailed, I2C_TEMPread(kSensor));   // the refused value left it shut down
    EXPECT_EQ(0, I2C_TEMPinit(kSensor, 0xAA));
    EXPECT_EQ(25, I2C_TEMPread(kSensor));
    EXPECT_EQ(0, I2C_TEMPinit(kSensor, 0x01));
    ASSERT_EQ(0, Free_Interface());
    ASSERT_EQ(0, Init_Interface());
    EXPECT_EQ(25, I2C_TEMPread(kSensor));   // power-up configuration
}

TEST_F(TempSensorTest, SilentSensorOrWrongAddressFails) {
    Open("temp.fail = 1");
    EXPECT_EQ(kErrSensor, I2C_TEMPinit(kSensor, 0xAA));
    EXPECT_EQ(kReadFailed, I2C_TEMPread(kSensor));
    Free_Interface();
    Open("");
    EXPECT_EQ(kErrNoAck, I2C_TEMPinit(0x90, 0));
    EXPECT_EQ(kReadFailed, I2C_TEMPread(0x94));
}
