// Register options against the scripted fake library: order, widths, value cuts, the
// failure report and the exact lines.
#include "driver/register_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/option_table.h"
#include "tests/support/fake_device.h"
#include "tests/support/log_capture.h"

namespace {

class RegisterCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFakeDevice();
        ResetOptionTargets();
    }
    void TearDown() override { ResetOptionTargets(); }

    // Parses the words as the command line and runs the register commands; returns the log.
    std::string Run(std::vector<std::string> words, uint32_t levelMask = 7) {
        words.insert(words.begin(), "kelvotest");
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        EXPECT_EQ(nullptr, ParseCommandLine(static_cast<int>(words.size()), argv.data(), kOptionTable));
        LogCapture log(levelMask);
        RunRegisterCommands();
        return log.Text();
    }
};

}  // namespace

TEST_F(RegisterCommandsTest, AddressIsPrintedInDecimal) {
    gFakeDevice.Script("RegRead", {0x5A});
    EXPECT_EQ("ksutest: RegRead from Adr.16 Byte:0x5A\n", Run({"-rb", "10"}));
    EXPECT_EQ((std::vector<std::string>{"RegRead(16)"}), gFakeDevice.calls);
}

TEST_F(RegisterCommandsTest, AllWritesRunBeforeAllReadsInFixedOrder) {
    Run({"-rdi", "9", "-rd", "8", "-rwi", "7", "-rw", "6", "-rb", "5", "-wdi", "4", "-wd", "3",
         "-wwi", "2", "-ww", "1", "-wb", "0", "-val", "1"});
    EXPECT_EQ((std::vector<std::string>{"RegWrite(0, 1)", "RegWriteShort(1, 1)", "RegWriteShort(2, 1)",
                                        "RegWriteLong(3, 1)", "RegWriteLongInc(4, 1)", "RegRead(5)",
                                        "RegReadShort(6)", "RegReadShortInc(7)", "RegReadLong(8)",
                                        "RegReadLongInc(9)"}),
              gFakeDevice.calls);
}

TEST_F(RegisterCommandsTest, ValueIsCutToEachWidth) {
    const std::string log = Run({"-wb", "10", "-ww", "11", "-wwi", "12", "-wd", "13", "-wdi", "14",
                                 "-val", "ABCD1234"});
    EXPECT_EQ((std::vector<std::string>{"RegWrite(16, 52)", "RegWriteShort(17, 4660)",
                                        "RegWriteShort(18, 4660)", "RegWriteLong(19, 2882343476)",
                                        "RegWriteLongInc(20, 2882343476)"}),
              gFakeDevice.calls);
    EXPECT_EQ("ksutest: RegWrite success!\nksutest: RegWriteShort success!\n"
              "ksutest: RegWriteShortInc success!\nksutest: RegWriteLong success!\n"
              "ksutest: RegWriteLongInc success!\n",
              log);
}

TEST_F(RegisterCommandsTest, ShortWriteKeepsLowSixteenBits) {
    Run({"-ww", "10", "-val", "12345"});
    EXPECT_EQ((std::vector<std::string>{"RegWriteShort(16, 9029)"}), gFakeDevice.calls);   // 0x2345
}

TEST_F(RegisterCommandsTest, MissingValueWritesAllOnes) {
    Run({"-wb", "10", "-ww", "10", "-wd", "10"});
    EXPECT_EQ((std::vector<std::string>{"RegWrite(16, 255)", "RegWriteShort(16, 65535)",
                                        "RegWriteLong(16, 4294967295)"}),
              gFakeDevice.calls);
}

TEST_F(RegisterCommandsTest, AllOnesAddressMeansNotRequested) {
    EXPECT_EQ("", Run({"-rb", "FFFFFFFF", "-wd", "ffffffff", "-val", "1"}));
    EXPECT_TRUE(gFakeDevice.calls.empty());
}

TEST_F(RegisterCommandsTest, FailedWriteReportsLastErrorAndTheReadStillRuns) {
    gFakeDevice.Script("RegWriteLong", {0});
    gFakeDevice.lastError = -501;
    gFakeDevice.errorTexts[-501] = "register address out of range";
    gFakeDevice.Script("RegReadLong", {0xAB});
    const std::string log = Run({"-wd", "400", "-rd", "20", "-val", "1"});
    EXPECT_EQ("ksutest: Err.RegWriteLong\nksutest: GetLastError:register address out of range\n"
              "ksutest: RegReadDword from Adr.32 Byte:0x000000AB\n",
              log);
}

TEST_F(RegisterCommandsTest, EachFailedWriteHasItsOwnErrorLine) {
    gFakeDevice.Script("RegWrite", {0});
    gFakeDevice.Script("RegWriteShort", {0, 0});
    gFakeDevice.Script("RegWriteLongInc", {0});
    gFakeDevice.errorTexts[0] = "no error";
    const std::string log = Run({"-wb", "1", "-ww", "2", "-wwi", "3", "-wdi", "5"});
    EXPECT_EQ("ksutest: Err.RegWrite\nksutest: GetLastError:no error\n"
              "ksutest: Err.RegWriteShort\nksutest: GetLastError:no error\n"
              "ksutest: Err.RegWriteShortInc\nksutest: GetLastError:no error\n"
              "ksutest: Err.RegWriteLong\nksutest: GetLastError:no error\n",
              log);
}

TEST_F(RegisterCommandsTest, ReadsPrintAsManyDigitsAsTheirWidth) {
    gFakeDevice.Script("RegRead", {0x7});
    gFakeDevice.Script("RegReadShort", {0xAB});
    gFakeDevice.Script("RegReadShortInc", {0xFFFF});
    gFakeDevice.Script("RegReadLong", {0xAB});
    gFakeDevice.Script("RegReadLongInc", {0xDEADBEEF});
    EXPECT_EQ("ksutest: RegRead from Adr.1 Byte:0x07\n"
              "ksutest: RegReadShort from Adr.32 Byte:0x00AB\n"
              "ksutest: RegReadShortInc from Adr.3 Byte:0xFFFF\n"
              "ksutest: RegReadDword from Adr.64 Byte:0x000000AB\n"
              "ksutest: RegReadDwordInc from Adr.-2 Byte:0xDEADBEEF\n",
              Run({"-rb", "1", "-rw", "20", "-rwi", "3", "-rd", "40", "-rdi", "FFFFFFFE"}));
}

TEST_F(RegisterCommandsTest, QuietLogStillMakesEveryCall) {
    gFakeDevice.Script("RegWrite", {0});
    EXPECT_EQ("", Run({"-wb", "1", "-rb", "1"}, 0));
    EXPECT_EQ((std::vector<std::string>{"RegWrite(1, 255)", "GetLastKelvoError(1)", "GetKelvoErrorText(0)",
                                        "RegRead(1)"}),
              gFakeDevice.calls);
}
