// Motor, scan-line count and status commands against the scripted fake library, alone and
// as the main sequence runs them.
#include "procedures/motor_status.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/main_sequence.h"
#include "driver/option_table.h"
#include "tests/support/fake_device.h"
#include "tests/support/fake_platform.h"
#include "tests/support/log_capture.h"

namespace {

class MotorStatusTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFakeDevice();
        ResetFakePlatform();
        ResetOptionTargets();
    }
    void TearDown() override { ResetOptionTargets(); }

    // The whole tool with these options; returns the calls made between bring-up and shutdown.
    std::vector<std::string> ActionCalls(std::vector<std::string> words) {
        words.insert(words.begin(), "kelvotest");
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        RunMainSequence(static_cast<int>(words.size()), argv.data());
        testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        std::vector<std::string> calls = gFakeDevice.calls;
        calls.erase(calls.begin(), calls.begin() + 5);   // trace mask, open, time-out, versions, FPGA
        calls.pop_back();                                // Free_Interface
        return calls;
    }

    std::string err;
};

int32_t FillExampleStatus(ScannerStatus* status) {
    status->reserved = 0x77;   // byte 0 belongs to the library and must not show
    status->LS = 0x05;
    status->LED = 0xFF;
    status->RAMStatus = 0x00;
    status->AnzDat = 1024;
    status->RamFIFO = -1;
    status->LastError = static_cast<int16_t>(0xFFFE);
    return 0;
}

}  // namespace

TEST_F(MotorStatusTest, ZeroRevolutionsIsARequestOnlyMinusOneIsNot) {
    EXPECT_EQ((std::vector<std::string>{"Pentamotor_init(0)"}), ActionCalls({"-motor", "0"}));
    SetUp();
    EXPECT_TRUE(ActionCalls({"-motor", "-1"}).empty());
}

TEST_F(MotorStatusTest, MainSequenceRunsMotorLinesStatusInThatOrder) {
    EXPECT_EQ((std::vector<std::string>{"Pentamotor_init(3)", "Anz_ScanLine()", "GetScanStatus()"}),
              ActionCalls({"-stat", "-lines", "-motor", "3"}));
}

TEST_F(MotorStatusTest, MotorFailureIsReportedWithItsCode) {
    gFakeDevice.Script("Pentamotor_init", {-701});
    gFakeDevice.errorTexts[-701] = "motor: revolutions out of range";
    LogCapture log;
    RunMotorCommand(20000);
    EXPECT_EQ("ksutest: Error Pentamotor_init!\nksutest: Error: -701 motor: revolutions out of range\n",
              log.Text());
}

TEST_F(MotorStatusTest, MotorSuccess) {
    LogCapture log;
    RunMotorCommand(5);
    EXPECT_EQ("ksutest: Pentamotor_init success\n", log.Text());
}

TEST_F(MotorStatusTest, OnlyTwoToTheTwentySevenIsALineCountFailure) {
    const struct {
        int64_t result;
        const char* expected;
    } cases[] = {
        {0, "ksutest: Anz_ScanLine success Lines:0\n"},
        {0x80000000, "ksutest: Anz_ScanLine success Lines:-2147483648\n"},
        {0x07FFFFFF, "ksutest: Anz_ScanLine success Lines:134217727\n"},
        {0x08000001, "ksutest: Anz_ScanLine success Lines:134217729\n"},
        {0x08000000, "ksutest: Error Anz_ScanLine, call GetLastError!\nksutest: Error: -703 counter lost\n"},
    };
    for (const auto& c : cases) {
        ResetFakeDevice();
        gFakeDevice.lastError = -703;
        gFakeDevice.errorTexts[-703] = "counter lost";
        gFakeDevice.Script("Anz_ScanLine", {c.result});
        LogCapture log;
        RunScanLineCommand();
        EXPECT_EQ(c.expected, log.Text()) << c.result;
    }
}

TEST_F(MotorStatusTest, LineCountFailureReadsLastErrorWithoutClearingIt) {
    gFakeDevice.Script("Anz_ScanLine", {0x08000000});
    gFakeDevice.lastError = -703;
    LogCapture log(0);
    RunScanLineCommand();
    EXPECT_EQ("", log.Text());
    EXPECT_EQ((std::vector<std::string>{"Anz_ScanLine()", "GetLastKelvoError(1)", "GetKelvoErrorText(-703)"}),
              gFakeDevice.calls);
}

TEST_F(MotorStatusTest, StatusRecordPrintsSevenPaddedLines) {
    gFakeDevice.onScanStatus = FillExampleStatus;
    LogCapture log;
    RunStatusCommand();
    EXPECT_EQ("ksutest: scannerStatus:\n"
              "LS:           05 \n"
              "LED:          ff \n"
              "RAMStatus:    00 \n"
              "AnzDat:       1024 \n"
              "RamFIFO:      -1 \n"
              "LastError:    -2\n",
              log.Text());
}

TEST_F(MotorStatusTest, StatusFailureIsSilent) {
    gFakeDevice.onScanStatus = FillExampleStatus;
    gFakeDevice.Script("GetScanStatus", {-802});
    LogCapture log;
    RunStatusCommand();
    EXPECT_EQ("", log.Text());
    EXPECT_EQ((std::vector<std::string>{"GetScanStatus()"}), gFakeDevice.calls);
}

TEST_F(MotorStatusTest, QuietLogStillAsksTheScanner) {
    gFakeDevice.Script("Pentamotor_init", {-701});
    LogCapture log(0);
    RunMotorCommand(1);
    RunScanLineCommand();
    RunStatusCommand();
    EXPECT_EQ("", log.Text());
    EXPECT_EQ(1, gFakeDevice.Count("Pentamotor_init"));
    EXPECT_EQ(1, gFakeDevice.Count("Anz_ScanLine"));
    EXPECT_EQ(1, gFakeDevice.Count("GetScanStatus"));
}
