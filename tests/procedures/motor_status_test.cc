// Motor, scan-line count and status commands against the scripted fake library.
#include "procedures/motor_status.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_device.h"
#include "tests/support/log_capture.h"

class MotorStatusTest : public ::testing::Test {
protected:
    void SetUp() override { ResetFakeDevice(); }
};

TEST_F(MotorStatusTest, MotorFailureIsReportedWithItsCode) {
    gFakeDevice.Script("Pentamotor_init", {-701});
    gFakeDevice.errorTexts[-701] = "motor: revolutions out of range";
    LogCapture log;
    RunMotorCommand(20000);
    EXPECT_EQ("ksutest: Error Pentamotor_init!\nksutest: Error: -701 motor: revolutions out of range\n",
              log.Text());
}

TEST_F(MotorStatusTest, OnlyTwoToTheTwentySevenIsALineCountFailure) {
    const struct {
        int64_t result;
        const char* expected;
    } cases[] = {
        {0, "ksutest: Anz_ScanLine success Lines:0\n"},
        {0x80000000, "ksutest: Anz_ScanLine success Lines:-2147483648\n"},
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
    EXPECT_EQ((std::vector<std::string>{"GetLastKelvoError(1)"}), gFakeDevice.CallsOf("GetLastKelvoError"));
}

// With the results bit clear the three commands still ask the library; only the error report,
// which tests the error bit itself, prints.
TEST_F(MotorStatusTest, CallsAreMadeWhateverTheLevel) {
    gFakeDevice.Script("Pentamotor_init", {-702});
    gFakeDevice.Script("Anz_ScanLine", {0x08000000});
    gFakeDevice.lastError = -703;
    LogCapture log(LEVEL_ERRORS);
    RunMotorCommand(5);
    RunScanLineCommand();
    RunStatusCommand();
    EXPECT_EQ("ksutest: Error: -702 \nksutest: Error: -703 \n", log.Text());
    EXPECT_EQ(1, gFakeDevice.Count("GetScanStatus"));
}

TEST_F(MotorStatusTest, StatusRecordPrintsSevenPaddedLinesAndFailsSilently) {
    gFakeDevice.onScanStatus = [](ScannerStatus* status) {
        *status = ScannerStatus{0x77, 0x05, 0xFF, 0x00, 1024, -1, static_cast<int16_t>(0xFFFE), {}};
        return 0;
    };
    LogCapture log;
    RunStatusCommand();
    const std::string printed = log.Text();
    EXPECT_EQ("ksutest: scannerStatus:\nLS:           05 \nLED:          ff \nRAMStatus:    00 \n"
              "AnzDat:       1024 \nRamFIFO:      -1 \nLastError:    -2\n",
              printed);
    gFakeDevice.Script("GetScanStatus", {-802});
    RunStatusCommand();
    EXPECT_EQ(2, gFakeDevice.Count("GetScanStatus"));
    EXPECT_EQ(printed, log.Text());   // the failed read added nothing
    EXPECT_EQ(0, gFakeDevice.Count("GetKelvoErrorText"));
}
