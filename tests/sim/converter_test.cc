// tests/sim/converter_test.cc: the virtual converter through the library interface: healthy
// rails inside the stress loop's window despite the noise, configured and sagging rails,
// the DAC and its monitor channel, and the chip's failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/sim_session.h"

namespace {

constexpr uint8_t kConverter = 0x90;

class ConverterTest : public SimTest {
protected:
    // Bus time off: these tests make thousands of conversions.
    void Open(const std::string& settings) { SimTest::Open("adc.transfer_us = 0;" + settings); }
    static std::vector<int32_t> Readings(int32_t channel, int count) {
        std::vector<int32_t> readings;
        for (int i = 0; i < count; ++i) readings.push_back(I2C_ADCread(kConverter, channel));
        return readings;
    }
};

}  // namespace

TEST_F(ConverterTest, HealthyRailsStayNearTheirCountsAndInsideTheStressWindow) {
    Open("");
    const struct { int32_t channel; int32_t count; } rails[] = {{1, 169}, {2, 171}, {3, 188}};
    for (const auto& rail : rails) {
        bool varied = false;
        const std::vector<int32_t> readings = Readings(rail.channel, 2000);
        for (int32_t reading : readings) {
            EXPECT_GE(reading, rail.count - 1) << "channel " << rail.channel;
            EXPECT_LE(reading, rail.count + 1) << "channel " << rail.channel;
            varied = varied || reading != readings.front();
        }
        EXPECT_TRUE(varied) << "channel " << rail.channel << " shows no noise";
    }
}

TEST_F(ConverterTest, SameSettingsGiveTheSameReadings) {
    Open("");
    const std::vector<int32_t> first = Readings(1, 50);
    Free_Interface();
    Open("");
    EXPECT_EQ(first, Readings(1, 50));
    Free_Interface();
    Open("adc.seed = 12345");
    EXPECT_NE(first, Readings(1, 50));
}

TEST_F(ConverterTest, ConfiguredVoltagesAndSaturation) {
    Open("adc.noise = 0; adc.ch1 = 3.0; adc.ch2 = 0; adc.ch3 = 40; adc.ch0 = 42");
    EXPECT_EQ(154, I2C_ADCread(kConverter, 1));   // 3.0 / 0.01953 = 153.6
    EXPECT_EQ(0, I2C_ADCread(kConverter, 2));
    EXPECT_EQ(255, I2C_ADCread(kConverter, 3));   // 40 V is past the divider's range
    EXPECT_EQ(42, I2C_ADCread(kConverter, 0));
}

TEST_F(ConverterTest, SaggingRailDipsOnEveryNthConversion) {
    Open("adc.noise = 0; adc.sag = 0.4; adc.sag.every = 3");   // 2.9 V reads 148
    EXPECT_EQ((std::vector<int32_t>{169, 169, 148, 169, 169, 148}), Readings(1, 6));
    EXPECT_EQ(171, I2C_ADCread(kConverter, 2));   // other rails hold
}

TEST_F(ConverterTest, DacIsRememberedAndWatchedOnChannelZero) {
    Open("adc.noise = 0");
    EXPECT_EQ(0, I2C_ADCread(kConverter, 0));     // powers up at 0
    EXPECT_EQ(0, I2C_DACout(kConverter, 100));
    EXPECT_EQ(100, I2C_ADCread(kConverter, 0));
    EXPECT_EQ(kErrBadArgument, I2C_DACout(kConverter, 256));
    EXPECT_EQ(kErrBadArgument, I2C_DACout(kConverter, -5));
    EXPECT_EQ(100, I2C_ADCread(kConverter, 0));   // a refused value changes nothing
    EXPECT_EQ(0, I2C_DACout(kConverter, 255));     // full scale is a value, not a step too far
    EXPECT_EQ(255, I2C_ADCread(kConverter, 0));
    EXPECT_EQ(0, I2C_DACout(kConverter, 100));
    ASSERT_EQ(0, Free_Interface());
    ASSERT_EQ(0, Init_Interface());
    EXPECT_EQ(0, I2C_ADCread(kConverter, 0));     // power cycle
}

TEST_F(ConverterTest, WrongAddressChannelOrSilentChipFail) {
    Open("");
    EXPECT_EQ(kErrChannel, I2C_ADCread(kConverter, 4));
    EXPECT_EQ(kErrChannel, I2C_ADCread(kConverter, -1));
    EXPECT_EQ(kErrNoAck, I2C_ADCread(0x92, 1));
    EXPECT_EQ(kErrNoAck, I2C_DACout(0x92, 1));
    EXPECT_EQ(kErrNoAck, GetLastKelvoError(1));
    Free_Interface();
    Open("adc.nak = 1");
    EXPECT_EQ(kErrNoAck, I2C_ADCread(kConverter, 1));
    EXPECT_EQ(kErrNoAck, I2C_DACout(kConverter, 1));
}
