// Main sequence against the scripted fake library: what is called, what is printed, what is
// skipped after each failure, and the exit code.
#include "driver/main_sequence.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/command_line.h"
#include "tests/support/fake_device.h"
#include "tests/support/fake_platform.h"
#include "tests/support/temp_files.h"

namespace {

const char kVersionReport[] =
    "ksutest: \nHardwareVersion:            0x0300\nFirmwareVersion:            0x0104\n"
    "DllVersion:                 0x0104\nUSB-DriverVersion:          0x0210!\n\n";

class MainSequenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFakeDevice();
        ResetFakePlatform();
    }

    int Run(std::vector<std::string> words) {
        CommandLine line(std::move(words));
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int code = RunMainSequence(line.Count(), line.Vector());
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return code;
    }

    std::string out;
    std::string err;
};

}  // namespace

TEST_F(MainSequenceTest, NoOptionsBringsTheScannerUpAndDown) {
    EXPECT_EQ(0, Run({}));
    EXPECT_EQ("kelvotest\n", out);
    EXPECT_EQ(std::string("ksutest: Init_Interface success!\n") + kVersionReport + "\n\n" + "\n", err);
    EXPECT_EQ((std::vector<std::string>{"SetTraceMask(36615)", "Init_Interface()", "SetUsbTimeout(5000)",
                                        "GetKelvoVersion()", "Init_Firmware(scanner3.mcs, 1)",
                                        "Free_Interface()"}),
              gFakeDevice.calls);
    // Every line also went to the debugger channel, whole.
    ASSERT_FALSE(gFakePlatform.debugLines.empty());
    EXPECT_EQ("ksutest: Init_Interface success!\n", gFakePlatform.debugLines.front());
}

// Motor, lines and status run after the I2C commands, in that order, and 0 revolutions is a
// request: only -1 is not.
TEST_F(MainSequenceTest, MotorLinesAndStatusRunInTheirPlace) {
    EXPECT_EQ(0, Run({"-stat", "-lines", "-motor", "0", "-trd"}));
    std::vector<std::string> order;
    for (const std::string& call : gFakeDevice.calls) {
        for (const char* operation : {"I2C_TEMPread(", "Pentamotor_init(", "Anz_ScanLine(", "GetScanStatus(",
                                      "Free_Interface("}) {
            if (call.rfind(operation, 0) == 0) order.push_back(call);
        }
    }
    EXPECT_EQ((std::vector<std::string>{"I2C_TEMPread(146)", "Pentamotor_init(0)", "Anz_ScanLine()",
                                        "GetScanStatus()", "Free_Interface()"}),
              order);
}

TEST_F(MainSequenceTest, LogFileIsLeftEmpty) {
    TempDir dir;
    dir.WriteText("kelvotest.log", "stale");
    const std::string previous = std::filesystem::current_path().string();
    std::filesystem::current_path(dir.Path());
    EXPECT_EQ(0, Run({"-rb", "10"}));
    std::filesystem::current_path(previous);
    EXPECT_TRUE(FileExists(dir.File("kelvotest.log")));
    EXPECT_EQ("", ReadFileText(dir.File("kelvotest.log")));
}

TEST_F(MainSequenceTest, HelpPrintsOnlyTheUsageAndTouchesNoDevice) {
    EXPECT_EQ(1, Run({"-rb", "10", "-?"}));
    EXPECT_EQ(0u, err.find("ksutest: PROG_NAME V1.04\n"));
    EXPECT_EQ((std::vector<std::string>{"SetTraceMask(36615)"}), gFakeDevice.calls);
}

TEST_F(MainSequenceTest, ParseErrorWinsOverHelp) {
    EXPECT_EQ(1, Run({"-?", "bogus"}));
    EXPECT_EQ(0u, err.find("ksutest: Error in command line parameter bogus\n\nksutest: PROG_NAME V1.04\n"));
    EXPECT_EQ(1u, gFakeDevice.calls.size());
}

TEST_F(MainSequenceTest, FailedOpenIsReportedAndStillClosed) {
    gFakeDevice.Script("Init_Interface", {-103});
    gFakeDevice.errorTexts[-103] = "no scanner found";
    EXPECT_EQ(0, Run({"-rb", "10"}));
    EXPECT_EQ("ksutest: Err. Init_Interface!\nksutest: Error: -103 no scanner found\n\n", err);
    EXPECT_EQ(0, gFakeDevice.Count("GetKelvoVersion"));
    EXPECT_EQ(0, gFakeDevice.Count("RegRead"));
    EXPECT_EQ(1, gFakeDevice.Count("Free_Interface"));
}

TEST_F(MainSequenceTest, ErrorWithoutLibraryTextPrintsTheCodeAlone) {
    gFakeDevice.Script("Init_Interface", {-42});
    EXPECT_EQ(0, Run({}));
    EXPECT_NE(std::string::npos, err.find("ksutest: Error: -42 \n"));
}

TEST_F(MainSequenceTest, FailedCloseEndsWithTwo) {
    gFakeDevice.Script("Free_Interface", {-5});
    EXPECT_EQ(2, Run({}));
    const std::string tail = "ksutest: Error Free_interface!\nksutest: Error occured during test: -5!\n";
    EXPECT_EQ(err.size() - tail.size(), err.rfind(tail));
}

TEST_F(MainSequenceTest, FailedVersionReadSkipsTheRestWithoutErrorText) {
    gFakeDevice.Script("GetKelvoVersion", {-9});
    EXPECT_EQ(0, Run({}));
    EXPECT_EQ("ksutest: Init_Interface success!\nksutest: Err.GetKelvoVersion!\n\n", err);
    EXPECT_EQ(0, gFakeDevice.Count("GetKelvoErrorText"));
    EXPECT_EQ(0, gFakeDevice.Count("Init_Firmware"));
}

TEST_F(MainSequenceTest, VersionMismatchWarnsAndGoesOn) {
    gFakeDevice.versions[1] = 0x0103;
    gFakeDevice.versions[2] = 0x0102;
    EXPECT_EQ(0, Run({}));
    EXPECT_NE(std::string::npos,
              err.find("DllVersion:                 0x0102\nUSB-DriverVersion:          0x0210!\n\n"
                       "ksutest: Version Error: DllVerison != FirmwareVerison, could lead to errors "
                       "during test!\n\n\n\n"));
    EXPECT_EQ(1, gFakeDevice.Count("Init_Firmware"));
}

TEST_F(MainSequenceTest, FpgaLoadFailuresDifferForDefaultAndNamedFile) {
    gFakeDevice.Script("Init_Firmware", {-201});
    EXPECT_EQ(0, Run({}));
    EXPECT_NE(std::string::npos, err.find("\n\nksutest: Err. Init_Firmware:-201\n\n"));

    SetUp();
    gFakeDevice.Script("Init_Firmware", {-202});
    EXPECT_EQ(0, Run({"-ini", "custom.mcs", "-prg", "image.iic", "-rb", "10", "-scan"}));
    EXPECT_NE(std::string::npos, err.find("\n\nksutest: Err. Init_Firmware\n\n"));
    EXPECT_EQ((std::vector<std::string>{"Init_Firmware(custom.mcs, 0)"}), gFakeDevice.CallsOf("Init_Firmware"));
    EXPECT_EQ(0, gFakeDevice.Count("GetKelvoErrorText"));
    EXPECT_EQ(0, gFakeDevice.Count("I2C_PROM_write"));
    EXPECT_EQ(0, gFakeDevice.Count("RegRead"));
    EXPECT_EQ(0, gFakeDevice.Count("ReadBlock"));
    EXPECT_EQ("Free_Interface()", gFakeDevice.calls.back());
}

// A stop request ends the loop it meets and skips every action still to come, also those
// after the loop, and the run shuts down as usual. A key keeps its meaning: it ends the stress
// loop only, the streaming test's drain discards it, and the later actions run.
TEST_F(MainSequenceTest, StopRequestSkipsEveryLaterActionWhereAKeyEndsOnlyItsLoop) {
    const std::vector<std::string> words = {"-iictest", "-dao", "100", "-motor", "1", "-scan"};
    gFakePlatform.stopAtPoll = 3;
    EXPECT_EQ(0, Run(words));
    EXPECT_GT(gFakeDevice.Count("I2C_TEMPinit"), 0);
    for (const char* skipped : {"I2C_DACout", "Pentamotor_init", "ReadBlock", "RegWrite"})
        EXPECT_EQ(0, gFakeDevice.Count(skipped)) << skipped;
    EXPECT_EQ("Free_Interface()", gFakeDevice.calls.back());
    EXPECT_FALSE(gFakePlatform.stopArmed);

    ResetFakeDevice();
    ResetFakePlatform();
    gFakePlatform.keyAtPoll = 3;
    gFakePlatform.stopAtPoll = 40;   // ends the streaming test
    EXPECT_EQ(0, Run(words));
    for (const char* ran : {"I2C_DACout", "Pentamotor_init", "ReadBlock"})
        EXPECT_GT(gFakeDevice.Count(ran), 0) << ran;
    EXPECT_EQ("Free_Interface()", gFakeDevice.calls.back());
}

// A request that comes between two actions (here while the status is read) is not forgotten
// when the streaming test arms its own handling: the test does not start.
TEST_F(MainSequenceTest, StopRequestBetweenActionsSkipsTheStreamingTest) {
    gFakeDevice.onScanStatus = [](ScannerStatus*) {
        gFakePlatform.stopSignalled = true;
        return 0;
    };
    EXPECT_EQ(0, Run({"-stat", "-scan"}));
    EXPECT_EQ(1, gFakeDevice.Count("Init_Firmware"));
    EXPECT_EQ(0, gFakeDevice.Count("RegWrite"));
    EXPECT_EQ("Free_Interface()", gFakeDevice.calls.back());
}

// A request that comes while a bring-up call runs (an open or an FPGA load may take seconds)
// is acted on when the call returns: every later step is skipped, the boot EEPROM is not
// programmed, and the interface is still freed.
TEST_F(MainSequenceTest, StopRequestDuringBringUpSkipsTheStepsAfterTheCall) {
    TempDir dir;
    const std::string image = dir.Write("image.iic", DistinctBytes(100));
    const struct { const char* call; const char* nextStep; } cases[] = {
        {"Init_Interface", "SetUsbTimeout"}, {"GetKelvoVersion", "Init_Firmware"}, {"Init_Firmware", "I2C_PROM_write"}};
    for (const auto& c : cases) {
        ResetFakeDevice();
        ResetFakePlatform();
        gFakeDevice.onDeviceCall = [&](const std::string& operation) {
            if (operation == c.call) gFakePlatform.stopSignalled = true;
        };
        EXPECT_EQ(0, Run({"-prg", image, "-rb", "10"})) << c.call;
        EXPECT_EQ(1, gFakeDevice.Count(c.call)) << c.call;
        for (const char* skipped : {c.nextStep, "I2C_PROM_write", "I2C_LargePROMwr", "RegRead"})
            EXPECT_EQ(0, gFakeDevice.Count(skipped)) << c.call << ": " << skipped;
        EXPECT_EQ(std::string::npos, err.find("program EEPROM")) << c.call;
        EXPECT_EQ("Free_Interface()", gFakeDevice.calls.back()) << c.call;
    }
}
