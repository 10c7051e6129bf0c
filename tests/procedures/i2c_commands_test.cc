// tests/procedures/i2c_commands_test.cc: the I2C commands against the scripted device and
// the fake platform: their order, what each passes to the library, the volts and
// temperature interpretation, and the stress loop's counting, reporting and ending.
#include "procedures/i2c_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "console/stop_request.h"
#include "driver/option_table.h"
#include "driver/requests.h"
#include "log/trace_log.h"
#include "tests/support/fake_device.h"
#include "tests/support/fake_platform.h"
#include "tests/support/log_capture.h"

namespace {

class I2cCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFakeDevice();
        ResetFakePlatform();
        ResetOptionTargets();
        gFakePlatform.stopAtPoll = 100000;   // a loop that misses its key still ends
        log_.emplace();
    }
    void TearDown() override {
        log_.reset();
        ResetOptionTargets();
    }

    std::string Log() { return log_->Text(); }

    // Library calls without the error-text look-ups.
    std::vector<std::string> DeviceCalls() {
        std::vector<std::string> calls;
        for (const std::string& call : gFakeDevice.calls) {
            if (call.rfind("GetKelvoErrorText", 0) != 0) calls.push_back(call);
        }
        return calls;
    }

    static bool Contains(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }

    // The stress loop ends at the poll after `passes` passes: poll 1 is the initial drain.
    static void EndLoopAfterPasses(int passes) { gFakePlatform.keyAtPoll = passes + 1; }

    // Runs the stress loop with its 1024-byte EEPROM buffer.
    static I2cStressCounts RunStressLoop() {
        std::vector<uint8_t> buffer(1024);
        return RunI2cStressLoop(buffer.data());
    }

    std::optional<LogCapture> log_;
};

}  // namespace

TEST_F(I2cCommandsTest, AllEightRunInFixedOrderWhateverTheirRequestOrder) {
    gEepromId = 0xA0;
    gTempReadFlag = 1;
    gTempInitValue = 3;
    gAdReadFlag = 1;
    gDacValue = 7;
    gIicTestFlag = 1;
    gDumpEepromFlag = 1;
    gEepromReadAdr = 2;
    gEepromWriteAdr = 1;
    EndLoopAfterPasses(1);
    RunI2cCommands(I2cRequestsFromOptions(), StopRequested);
    const std::vector<std::string> expected = {
        "I2C_PROM_write(160, 1, 1)", "I2C_PROM_read(160, 2, 2)", "I2C_PROM_read(160, 0, 255)",
        "I2C_PROM_read(160, 0, 15)", "I2C_PROM_read(162, 0, 15)", "I2C_TEMPinit(146, 170)",
        "I2C_ADCread(144, 1)",       "I2C_DACout(144, 7)",         "I2C_ADCread(144, 0)",
        "I2C_ADCread(144, 1)",       "I2C_ADCread(144, 2)",        "I2C_ADCread(144, 3)",
        "I2C_TEMPinit(146, 3)",      "I2C_TEMPread(146)"};
    EXPECT_EQ(expected, DeviceCalls());
}

TEST_F(I2cCommandsTest, ByteWriteTakesLowByteOfValueAndDefaultsToFF) {
    gEepromWriteAdr = 7;   // -id not given: device 0 is addressed, unchecked
    RunI2cCommands(I2cRequestsFromOptions(), StopRequested);
    EXPECT_EQ(std::vector<std::string>{"I2C_PROM_write(0, 7, 7)"}, DeviceCalls());
    EXPECT_EQ(std::vector<uint8_t>{0xFF}, gFakeDevice.Cells(0, 7, 1));
    EXPECT_EQ("ksutest: I2C_PROM_write success ID:00 Adr:7 Val:0xff!\n", Log());

    ResetFakeDevice();
    gEepromId = 0xA0;
    gWriteValue = 0x1A2;
    RunI2cCommands(I2cRequestsFromOptions(), StopRequested);
    EXPECT_EQ(std::vector<uint8_t>{0xA2}, gFakeDevice.Cells(0xA0, 7, 1));
}

TEST_F(I2cCommandsTest, ByteReadPrintsTheByteAndFailuresOnlyTheErrorReport) {
    gEepromId = 0xA2;
    gEepromReadAdr = 300;   // the last address goes as its low byte
    gFakeDevice.Eeprom(0xA2)[300] = 0x5A;
    RunI2cCommands(I2cRequestsFromOptions(), StopRequested);
    EXPECT_EQ(std::vector<std::string>{"I2C_PROM_read(162, 300, 44)"}, DeviceCalls());
    EXPECT_EQ("ksutest: I2C_PROM_read success ID:a2 Adr:300 Val:0x5a!\n", Log());

    ResetFakeDevice();
    gFakeDevice.Script("I2C_PROM_read", {-601});
    RunI2cCommands(I2cRequestsFromOptions(), StopRequested);
    EXPECT_EQ("ksutest: I2C_PROM_read success ID:a2 Adr:300 Val:0x5a!\n"
              "ksutest: Error: -601 \n",
              Log());
}

TEST_F(I2cCommandsTest, DumpRefusesIdZeroWithoutDeviceCallAndSequenceGoesOn) {
    gDumpEepromFlag = 1;
    gDacValue = 0;
    RunI2cCommands(I2cRequestsFromOptions(), StopRequested);
    EXPECT_EQ(std::vector<std::string>{"I2C_DACout(144, 0)"}, DeviceCalls());
    EXPECT_EQ("ksutest: Error: not valid ID parameter!\n"
              "ksutest: I2C_DACout High Voltage in 0.000000 V\n",
              Log());
}

TEST_F(I2cCommandsTest, StressLoopCountsReadingsOutsideTheRailWindow) {
    gFakeDevice.Script("I2C_ADCread", {158, 159, 179, 180});
    EndLoopAfterPasses(4);
    const I2cStressCounts counts = RunStressLoop();
    EXPECT_EQ(12u, counts.reads);
    EXPECT_EQ(2u, counts.errors);
    const std::string log = Log();
    EXPECT_TRUE(Contains(log, "ksutest: Error I2C_ADCread from channel 1! Value:3.085740!\n"));
    EXPECT_TRUE(Contains(log, "ksutest: Error I2C_ADCread from channel 1! Value:3.515400!\n"));
    EXPECT_FALSE(Contains(log, "3.105270"));
    EXPECT_FALSE(Contains(log, "3.495870"));
}

TEST_F(I2cCommandsTest, StressLoopCountsThreeReadsAPassAndEachFailedStep) {
    // First pass: both EEPROM reads, the sensor and the converter fail; the rest are healthy.
    gFakeDevice.Script("I2C_PROM_read", {-601, -603});
    gFakeDevice.Script("I2C_TEMPinit", {-606});
    gFakeDevice.Script("I2C_ADCread", {-601});
    for (int i = 0; i < 9; ++i) gFakeDevice.results["I2C_ADCread"].push_back(169);
    EndLoopAfterPasses(10);
    const I2cStressCounts counts = RunStressLoop();
    EXPECT_EQ(30u, counts.reads);
    EXPECT_EQ(4u, counts.errors);
    const std::string log = Log();
    EXPECT_TRUE(Contains(log, "ksutest: Error I2C_TEMPinit!\nksutest: Error: -606 \n"));
    EXPECT_EQ(4, gFakeDevice.Count("GetKelvoErrorText"));   // -601 twice, -603, -606
}

TEST_F(I2cCommandsTest, StressLoopReportsOnlyAfterMoreThanASecond) {
    gFakeDevice.Script("I2C_ADCread", {169, 169, 169, 169, 169, 169});
    gFakePlatform.msPerReading = 200;   // start 1000; pass n reads 1000 + 400n (the key look reads too)
    EndLoopAfterPasses(6);
    RunStressLoop();
    // 1400, 1800: not yet; 2200 (> 1000 after 1000): report, fresh mark 2600;
    // 3000, 3400: no (800 ms); 3800 (1200 ms): report.
    EXPECT_EQ("ksutest: iictest, read from U4_EEPROM,RAMPROM and ADC, init temp.!\n"
              "ksutest: Count of I2C-Reads:9, errors:0\n"
              "ksutest: Count of I2C-Reads:18, errors:0\n",
              Log());
}

TEST_F(I2cCommandsTest, StressLoopIgnoresEarlierKeysAndLeavesItsOwnUnread) {
    gFakePlatform.keys = {0xE0, 0x48, 'x'};   // a cursor key and a letter typed beforehand
    gFakePlatform.keyAtPoll = 4 + 3;           // the drain takes polls 1 to 4
    const I2cStressCounts counts = RunStressLoop();
    EXPECT_EQ(9u, counts.reads);
    ASSERT_EQ(1u, gFakePlatform.keys.size());
    EXPECT_EQ('q', gFakePlatform.keys.front());
    EXPECT_EQ(1, gFakePlatform.keyLoopsBegun);
    EXPECT_FALSE(gFakePlatform.keyLoopActive);
    EXPECT_FALSE(gFakePlatform.stopArmed);
}

TEST_F(I2cCommandsTest, StressLoopEndsOnStopRequestLikeAKey) {
    gFakePlatform.stopAtPoll = 3;
    const I2cStressCounts counts = RunStressLoop();
    EXPECT_EQ(6u, counts.reads);
    EXPECT_FALSE(gFakePlatform.keyLoopActive);
    EXPECT_FALSE(gFakePlatform.stopArmed);
}

TEST_F(I2cCommandsTest, AdcChannelsInVoltsWithExactFactors) {
    gAdReadFlag = 1;
    gFakeDevice.Script("I2C_ADCread", {169, 169, 169, 169, 0, 0, 0, 0});
    RunI2cCommands(I2cRequestsFromOptions(), StopRequested);
    RunI2cCommands(I2cRequestsFromOptions(), StopRequested);   // a reading of 0 is a reading: 0 V, not silence
    EXPECT_EQ("ksutest: AD Channel 0: 169\n"
              "ksutest: AD Channel 3,3V in V: 3.300570\n"
              "ksutest: AD Channel 5V in V: 4.950010\n"
              "ksutest: AD Channel 24V in V: 21.620170\n"
              "ksutest: AD Channel 0: 0\n"
              "ksutest: AD Channel 3,3V in V: 0.000000\n"
              "ksutest: AD Channel 5V in V: 0.000000\n"
              "ksutest: AD Channel 24V in V: 0.000000\n",
              Log());
}

TEST_F(I2cCommandsTest, AdcChannelWithoutAnswerIsReportedAndOthersStillRead) {
    gAdReadFlag = 1;
    gFakeDevice.Script("I2C_ADCread", {10, -601, 0x1FF, 255});
    RunI2cCommands(I2cRequestsFromOptions(), StopRequested);
    EXPECT_EQ("ksutest: AD Channel 0: 10\n"
              "ksutest: Error: -601 \n"
              "ksutest: AD Channel 5V in V: 7.468950\n"
              "ksutest: AD Channel 24V in V: 32.622150\n",
              Log());
}

// A library that sign-extends its byte hands back -87 for 169: -255 to -1 are readings, only
// what no byte can give is an error code.
TEST_F(I2cCommandsTest, SignExtendedReadingsCountAndOnlyBelowMinus255IsAnError) {
    gAdReadFlag = 1;
    gFakeDevice.Script("I2C_ADCread", {-1, -87, -255, -256});
    RunI2cCommands(I2cRequestsFromOptions(), StopRequested);
    EXPECT_EQ("ksutest: AD Channel 0: 255\n"
              "ksutest: AD Channel 3,3V in V: 3.300570\n"
              "ksutest: AD Channel 5V in V: 0.029290\n"
              "ksutest: Error: -256 \n",
              Log());
}

TEST_F(I2cCommandsTest, TemperatureReadPrintsRawValueOrTheFailureLine) {
    gTempReadFlag = 1;
    const struct { int64_t result; const char* line; } cases[] = {
        {0x8000, "ksutest: Error I2C_TEMPread: Value: -32768\n"},
        {0x0019, "ksutest: I2C_TEMPread: Value: 25\n"},
        {0xFFCE, "ksutest: I2C_TEMPread: Value: -50\n"}};
    for (const auto& c : cases) {
        gFakeDevice.Script("I2C_TEMPread", {c.result});
        const size_t before = Log().size();
        RunI2cCommands(I2cRequestsFromOptions(), StopRequested);
        EXPECT_EQ(c.line, Log().substr(before));
    }
}

TEST_F(I2cCommandsTest, DacPrintsHighVoltageAndPassesNegativeValuesUnchanged) {
    gDacValue = 100;
    RunI2cCommands(I2cRequestsFromOptions(), StopRequested);
    gDacValue = -5;
    RunI2cCommands(I2cRequestsFromOptions(), StopRequested);
    EXPECT_EQ((std::vector<std::string>{"I2C_DACout(144, 100)", "I2C_DACout(144, -5)"}), DeviceCalls());
    EXPECT_EQ("ksutest: I2C_DACout High Voltage in 488.300000 V\n"
              "ksutest: I2C_DACout High Voltage in -24.415000 V\n",
              Log());
}

TEST_F(I2cCommandsTest, ResultsGateClearStillMakesEveryCallButPrintsOnlyErrors) {
    gTraceLog.SetLevelMask(0x1);
    gEepromId = 0xA0;
    gDumpEepromFlag = 1;
    gIicTestFlag = 1;
    gAdReadFlag = 1;
    gTempReadFlag = 1;
    gFakeDevice.Script("I2C_ADCread", {0});   // out of the window: counted, not printed
    gFakeDevice.Script("I2C_TEMPread", {0x8000});
    gFakeDevice.Script("I2C_TEMPinit", {-606});
    gFakePlatform.msPerReading = 2000;
    EndLoopAfterPasses(2);
    RunI2cCommands(I2cRequestsFromOptions(), StopRequested);
    EXPECT_EQ(2 + 4, gFakeDevice.Count("I2C_ADCread"));
    EXPECT_EQ(1 + 4, gFakeDevice.Count("I2C_PROM_read"));
    EXPECT_EQ(1, gFakeDevice.Count("I2C_TEMPread"));
    EXPECT_EQ("ksutest: Error: -606 \n", Log());
}
