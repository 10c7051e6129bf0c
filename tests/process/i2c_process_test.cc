// tests/process/i2c_process_test.cc: the I2C commands of the real tool with the virtual
// scanner: plausible readings and the dump, and the stress loop as a user drives it, from
// a terminal with keys and without one through signals.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "tests/support/pty_process.h"
#include "tests/support/temp_files.h"

namespace {

class I2cProcess : public ::testing::Test {
protected:
    ToolRun Tool(std::vector<std::string> args, std::vector<std::string> env = {}) {
        return ToolRun{std::move(args), std::move(env), dir.Path(), ""};
    }

    // The figures of the last "Count of I2C-Reads" line, false when there is none.
    static bool LastReport(const std::string& text, long* reads, long* errors) {
        const size_t at = text.rfind("ksutest: Count of I2C-Reads:");
        if (at == std::string::npos) return false;
        return std::sscanf(text.c_str() + at, "ksutest: Count of I2C-Reads:%ld, errors:%ld", reads,
                           errors) == 2;
    }

    TempDir dir;
};

}  // namespace

TEST_F(I2cProcess, SingleCommandsOfAHealthyScannerInTheirFixedOrder) {
    const ProcessResult run = RunToTheEnd(
        Tool({"-trd", "-adread", "-dao", "100", "-dumpe", "-rde", "9", "-wre", "9", "-val", "5c", "-id", "a0"},
             {"KELVOSIM=adc.noise = 0"}));
    EXPECT_EQ(0, run.exitCode);
    const size_t dump = run.err.find("ksutest: I2C_PROM_write success ID:a0 Adr:9 Val:0x5c!\n"
                                     "ksutest: I2C_PROM_read success ID:a0 Adr:9 Val:0x5c!\n"
                                     "ksutest: I2C_PROM_dump Adr.:0 from ID:0xa0!\n"
                                     "0000: FF FF FF FF  FF FF FF FF  FF 5C FF FF");
    const size_t rest = run.err.find("00F0: FF FF");
    ASSERT_NE(std::string::npos, dump);
    ASSERT_LT(dump, rest);
    // The DAC setting shows on the high-voltage monitor, channel 0.
    EXPECT_LT(rest, run.err.find("ksutest: I2C_DACout High Voltage in 488.300000 V\n"
                                      "ksutest: AD Channel 0: 100\n"
                                      "ksutest: AD Channel 3,3V in V: 3.300570\n"
                                      "ksutest: AD Channel 5V in V: 5.008590\n"
                                      "ksutest: AD Channel 24V in V: 24.050840\n"
                                      "ksutest: I2C_TEMPread: Value: 25\n"));
}

TEST_F(I2cProcess, HealthyStressLoopReportsEverySecondWithoutErrorsUntilAKey) {
    ChildProcess tool = ChildProcess::StartUnderPty(Tool({"-iictest"}));
    ASSERT_TRUE(tool.WaitForText("ksutest: Count of I2C-Reads:", 10000));
    ASSERT_TRUE(tool.WaitForText(", errors:0\r\nksutest: Count of I2C-Reads:", 10000));
    tool.Type("q");
    EXPECT_EQ(0, tool.WaitForExit(10000));
    EXPECT_TRUE(tool.EchoIsOn());
    EXPECT_EQ(std::string::npos, tool.Out().find("Error"));
    long reads = 0, errors = -1;
    ASSERT_TRUE(LastReport(tool.Out(), &reads, &errors));
    EXPECT_GT(reads, 0);
    EXPECT_EQ(0, reads % 3);
    EXPECT_EQ(0, errors);
}

TEST_F(I2cProcess, KeyTypedBeforeTheLoopStartsDoesNotEndIt) {
    // A slow EEPROM write runs before the loop; the key is typed while it is under way.
    ChildProcess tool = ChildProcess::StartUnderPty(
        Tool({"-iictest", "-wre", "0", "-id", "a0"}, {"KELVOSIM=eeprom.a0.page_write_us = 1500000"}));
    ASSERT_TRUE(tool.WaitForText("kelvotest", 5000));
    tool.Type("x");
    ASSERT_TRUE(tool.WaitForText("ksutest: I2C_PROM_write success", 10000));
    // Ended by the early key, the loop would stop after its first pass, long before a report.
    EXPECT_TRUE(tool.WaitForText("ksutest: Count of I2C-Reads:", 10000));
    tool.Type("q");
    EXPECT_EQ(0, tool.WaitForExit(10000));
    EXPECT_TRUE(tool.EchoIsOn());
}

TEST_F(I2cProcess, DegradedScannerCountsErrorsAndSignalsEndTheLoopCleanly) {
    // A sagging 3.3 V rail and a silent sensor: two errors in every pass of three reads.
    for (int signalNumber : {SIGINT, SIGTERM}) {
        ChildProcess tool = ChildProcess::StartWithPipes(
            Tool({"-iictest", "-trd"}, {"KELVOSIM=adc.ch1 = 2.9; temp.fail = 1"}));
        ASSERT_TRUE(tool.WaitForText("ksutest: Count of I2C-Reads:", 10000));
        tool.Signal(signalNumber);
        EXPECT_EQ(0, tool.WaitForExit(10000)) << signalNumber;
        long reads = 0, errors = 0;
        ASSERT_TRUE(LastReport(tool.Err(), &reads, &errors));
        EXPECT_GT(errors, 0);
        EXPECT_EQ(reads / 3 * 2, errors);
        EXPECT_NE(std::string::npos, tool.Err().find("ksutest: Error I2C_ADCread from channel 1! Value:2."));
        EXPECT_NE(std::string::npos, tool.Err().find("ksutest: Error I2C_TEMPinit!\n"));
        // A stop request skips every later action: the sensor is not read.
        EXPECT_EQ(std::string::npos, tool.Err().find("I2C_TEMPread"));
    }
}

TEST_F(I2cProcess, KeyEndingTheLoopIsDrainedByTheStreamingTest) {
    ChildProcess tool = ChildProcess::StartUnderPty(Tool({"-scan", "-iictest"}));
    ASSERT_TRUE(tool.WaitForText("ksutest: Count of I2C-Reads:", 10000));
    tool.Type("q");
    ASSERT_TRUE(tool.WaitForText("ReadBlock from Scanner without File!", 10000));
    // Had the stress loop's key reached it, the streaming test would end before a report.
    EXPECT_TRUE(tool.WaitForText("ksutest: Total bytes transferred:", 10000));
    tool.Type("q");
    EXPECT_EQ(0, tool.WaitForExit(10000));
    EXPECT_TRUE(tool.EchoIsOn());
}
