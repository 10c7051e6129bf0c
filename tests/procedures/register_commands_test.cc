// Register options against the scripted fake library: order, widths, value cuts, the
// failure report and the exact lines.
#include "procedures/register_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/option_table.h"
#include "driver/requests.h"
#include "tests/support/command_line.h"
#include "tests/support/fake_device.h"
#include "tests/support/log_capture.h"

using Calls = std::vector<std::string>;

class RegisterCommandsTest : public ::testing::Test {
protected:
    void SetUp() override { ResetFakeDevice(); }
    void TearDown() override { ResetOptionTargets(); }

    // Parses the words as the command line, runs the register commands, returns the log.
    std::string Run(std::vector<std::string> words, uint32_t levelMask = 7) {
        ResetOptionTargets();
        CommandLine line(std::move(words));
        EXPECT_EQ(nullptr, ParseCommandLine(line.Count(), line.Vector(), kOptionTable));
        LogCapture log(levelMask);
        RunRegisterCommands(RegisterRequestsFromOptions());
        return log.Text();
    }
};

TEST_F(RegisterCommandsTest, AllWritesRunBeforeAllReadsInFixedOrder) {
    Run({"-rdi", "9", "-rd", "8", "-rwi", "7", "-rw", "6", "-rb", "5", "-wdi", "4", "-wd", "3",
         "-wwi", "2", "-ww", "1", "-wb", "0", "-val", "1"});
    EXPECT_EQ((Calls{"RegWrite(0, 1)", "RegWriteShort(1, 1)", "RegWriteShort(2, 1)", "RegWriteLong(3, 1)",
                     "RegWriteLongInc(4, 1)", "RegRead(5)", "RegReadShort(6)", "RegReadShortInc(7)",
                     "RegReadLong(8)", "RegReadLongInc(9)"}),
              gFakeDevice.calls);
}

TEST_F(RegisterCommandsTest, ValueIsCutToEachWidthAndDefaultsToAllOnes) {
    EXPECT_EQ("ksutest: RegWrite success!\nksutest: RegWriteShort success!\n"
              "ksutest: RegWriteShortInc success!\nksutest: RegWriteLong success!\n"
              "ksutest: RegWriteLongInc success!\n",
              Run({"-wb", "10", "-ww", "11", "-wwi", "12", "-wd", "13", "-wdi", "14", "-val", "12345"}));
    EXPECT_EQ((Calls{"RegWrite(16, 69)", "RegWriteShort(17, 9029)", "RegWriteShort(18, 9029)",
                     "RegWriteLong(19, 74565)", "RegWriteLongInc(20, 74565)"}),
              gFakeDevice.calls);
    ResetFakeDevice();
    Run({"-wb", "10", "-ww", "10", "-wd", "10"});
    EXPECT_EQ((Calls{"RegWrite(16, 255)", "RegWriteShort(16, 65535)", "RegWriteLong(16, 4294967295)"}),
              gFakeDevice.calls);
}

TEST_F(RegisterCommandsTest, AllOnesAddressMeansNotRequested) {
    EXPECT_EQ("", Run({"-rb", "FFFFFFFF", "-wd", "ffffffff", "-val", "1"}));
    EXPECT_TRUE(gFakeDevice.calls.empty());
}

TEST_F(RegisterCommandsTest, FailedWriteReportsLastErrorAndTheRestStillRuns) {
    gFakeDevice.Script("RegWriteShort", {1, 0});
    gFakeDevice.Script("RegWriteLongInc", {0});
    gFakeDevice.lastError = -501;
    gFakeDevice.errorTexts[-501] = "register address out of range";
    gFakeDevice.Script("RegReadLong", {0xAB});
    EXPECT_EQ("ksutest: RegWriteShort success!\n"
              "ksutest: Err.RegWriteShortInc\nksutest: GetLastError:register address out of range\n"
              "ksutest: Err.RegWriteLong\nksutest: GetLastError:register address out of range\n"
              "ksutest: RegReadDword from Adr.32 Byte:0x000000AB\n",
              Run({"-ww", "1", "-wwi", "400", "-wdi", "400", "-rd", "20"}));
}

// Addresses from 0x80000000 up are negative as 32-bit targets, yet requested and passed on
// unchanged: only all ones means "not requested".
TEST_F(RegisterCommandsTest, HighAddressesAreRequestedAndPassedUnchanged) {
    Run({"-wb", "80000000", "-wd", "fffffffe", "-rb", "80000001", "-val", "5"});
    EXPECT_EQ((Calls{"RegWrite(2147483648, 5)", "RegWriteLong(4294967294, 5)", "RegRead(2147483649)"}),
              gFakeDevice.calls);
}

// Every call is made whatever the level; each line needs its own bit, and the last-error report
// tests the error bit itself.
TEST_F(RegisterCommandsTest, EachLineNeedsItsOwnLevelBit) {
    gFakeDevice.errorTexts[-501] = "register address out of range";
    gFakeDevice.lastError = -501;
    const std::vector<std::string> words{"-wb", "1", "-ww", "2", "-rb", "3"};
    gFakeDevice.Script("RegWriteShort", {0});
    EXPECT_EQ("ksutest: Err.RegWriteShort\nksutest: GetLastError:register address out of range\n",
              Run(words, LEVEL_ERRORS));
    gFakeDevice.Script("RegWriteShort", {0});
    EXPECT_EQ("ksutest: RegWrite success!\nksutest: RegRead from Adr.3 Byte:0x00\n", Run(words, LEVEL_RESULTS));
    EXPECT_EQ(6, gFakeDevice.Count("RegWrite") + gFakeDevice.Count("RegWriteShort") + gFakeDevice.Count("RegRead"));
}

TEST_F(RegisterCommandsTest, ReadsPrintDecimalAddressAndDigitsOfTheirWidth) {
    gFakeDevice.Script("RegRead", {0x7});
    gFakeDevice.Script("RegReadShort", {0xAB});
    gFakeDevice.Script("RegReadShortInc", {0xFFFF});
    gFakeDevice.Script("RegReadLong", {0xAB});
    gFakeDevice.Script("RegReadLongInc", {0xDEADBEEF});
    EXPECT_EQ("ksutest: RegRead from Adr.16 Byte:0x07\n"
              "ksutest: RegReadShort from Adr.32 Byte:0x00AB\n"
              "ksutest: RegReadShortInc from Adr.3 Byte:0xFFFF\n"
              "ksutest: RegReadDword from Adr.64 Byte:0x000000AB\n"
              "ksutest: RegReadDwordInc from Adr.-2 Byte:0xDEADBEEF\n",
              Run({"-rb", "10", "-rw", "20", "-rwi", "3", "-rd", "40", "-rdi", "FFFFFFFE"}));
}
