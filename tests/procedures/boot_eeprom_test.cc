// Boot EEPROM programming against the scripted fake library: the calls made for each kind of
// image file, what the EEPROM holds after every way the run can end, and what is printed.
#include "procedures/boot_eeprom.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_device.h"
#include "tests/support/fake_platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_files.h"

namespace {

constexpr uint8_t kBoot = 0xA2;
constexpr uint32_t kTraceAll = 0x407;

std::vector<uint8_t> Zeros(size_t count) { return std::vector<uint8_t>(count, 0); }
std::vector<uint8_t> Untouched(size_t count) { return std::vector<uint8_t>(count, 0xCC); }

class BootEepromTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFakeDevice();
        ResetFakePlatform();
    }

    int32_t Program(const std::string& path) {
        testing::internal::CaptureStderr();
        const int32_t result = ProgBootPROM(path.c_str(), kBoot);
        err = testing::internal::GetCapturedStderr();
        return result;
    }

    std::vector<uint8_t> Header() { return gFakeDevice.Cells(kBoot, 0, 8); }

    TempDir dir;
    std::string err;
};

TEST_F(BootEepromTest, UnopenablePathTouchesNoDevice) {
    LogCapture log(kTraceAll);
    const std::string path = dir.File("missing.iic");
    EXPECT_EQ(kErrOpenImage, Program(path));
    EXPECT_EQ("Cannot open " + path, err);   // straight to stderr, no line end
    EXPECT_EQ(0, gFakeDevice.deviceCalls);
    EXPECT_EQ("ksutest: [ProgBootPROM\nksutest: Error: -400 \nksutest: ]ProgBootPROM\n", log.Text());
}

// Files that cannot be an image: empty, shorter than the header, at or past the read limit.
TEST_F(BootEepromTest, RefusedFileTouchesNoDevice) {
    for (size_t bytes : {0, 1, 7, 70000, 70001}) {
        ResetFakeDevice();
        LogCapture log(kTraceAll);
        EXPECT_EQ(kErrReadImage, Program(dir.Write("image.iic", DistinctBytes(bytes)))) << bytes;
        EXPECT_EQ(0, gFakeDevice.deviceCalls) << bytes;
        EXPECT_EQ(Untouched(8), Header()) << bytes;
        EXPECT_NE(std::string::npos, log.Text().find("ksutest: Err.read File!\nksutest: Error: -401 \n"))
            << bytes;
    }
}

TEST_F(BootEepromTest, EightByteImageWritesOnlyTheHeader) {
    const std::vector<uint8_t> image = DistinctBytes(8);
    EXPECT_EQ(0, Program(dir.Write("image.iic", image)));
    EXPECT_EQ((std::vector<std::string>{"I2C_PROM_write(162, 0, 7)", "I2C_LargePROMrd(162, 8, 0)",
                                        "I2C_PROM_write(162, 0, 7)"}),
              gFakeDevice.calls);
    EXPECT_EQ(image, Header());
    EXPECT_EQ(Untouched(4), gFakeDevice.Cells(kBoot, 8, 4));
}

TEST_F(BootEepromTest, LargestImageGoesInOneBlockEachWay) {
    const std::vector<uint8_t> image = DistinctBytes(69999);
    EXPECT_EQ(0, Program(dir.Write("image.iic", image)));
    EXPECT_EQ((std::vector<std::string>{"I2C_PROM_write(162, 0, 7)", "I2C_LargePROMwr(162, 8, 69991)",
                                        "I2C_LargePROMrd(162, 8, 69991)", "I2C_PROM_write(162, 0, 7)"}),
              gFakeDevice.calls);
    EXPECT_EQ(image, gFakeDevice.Cells(kBoot, 0, 69999));
    EXPECT_EQ(Untouched(1), gFakeDevice.Cells(kBoot, 69999, 1));
}

TEST_F(BootEepromTest, HeaderStaysZeroWhenVerifyFails) {
    LogCapture log(kTraceAll);
    gFakeDevice.onLargeRead = [](uint8_t* buffer, int32_t*) {
        buffer[200] ^= 0x10;
        return 0;
    };
    EXPECT_EQ(kErrVerify, Program(dir.Write("image.iic", DistinctBytes(300))));
    EXPECT_EQ(1, gFakeDevice.Count("I2C_PROM_write"));
    EXPECT_EQ(Zeros(8), Header());
    EXPECT_NE(std::string::npos, log.Text().find("ksutest: Err.Verify EEPROM!\nksutest: Error: -300 \n"));
}

// A library that reports success but delivers nothing must not pass for a zero-filled payload.
TEST_F(BootEepromTest, ReadBackThatDeliversNothingFailsVerify) {
    gFakeDevice.Script("I2C_LargePROMrd", {0});   // success, buffer left as it was
    EXPECT_EQ(kErrVerify, Program(dir.Write("image.iic", Zeros(300))));
    EXPECT_EQ(Zeros(8), Header());
}

// The last payload byte is compared too, and a read-back that the library itself reports as
// short cannot verify the bytes it says it never delivered.
TEST_F(BootEepromTest, LastByteAndShortReadBackBothFailVerify) {
    const std::vector<uint8_t> image = DistinctBytes(300);
    gFakeDevice.onLargeRead = [](uint8_t* buffer, int32_t* length) {
        buffer[*length - 1] ^= 0x01;
        return 0;
    };
    EXPECT_EQ(kErrVerify, Program(dir.Write("image.iic", image)));
    ResetFakeDevice();
    gFakeDevice.onLargeRead = [](uint8_t*, int32_t* length) {
        *length -= 1;   // every byte arrived, but the library says one did not
        return 0;
    };
    EXPECT_EQ(kErrVerify, Program(dir.Write("image.iic", image)));
    EXPECT_EQ(Zeros(8), Header());
}

TEST_F(BootEepromTest, FailedBlockWritePrintsTheLengthTheLibraryLeft) {
    LogCapture log(kTraceAll);
    gFakeDevice.onLargeWrite = [](int32_t* length) {
        *length = 1234;
        return -603;
    };
    EXPECT_EQ(-603, Program(dir.Write("image.iic", DistinctBytes(5000))));
    EXPECT_NE(std::string::npos,
              log.Text().find("ksutest: Err.I2C_LargePROMwr Length:1234\nksutest: Error: -603 \n"));
    EXPECT_EQ(0, gFakeDevice.Count("I2C_LargePROMrd"));
    EXPECT_EQ(Zeros(8), Header());
}

// Fail each device call in turn. Wherever the procedure stops, the header must be left zeroed.
TEST_F(BootEepromTest, AnyFailedCallLeavesHeaderZeroed) {
    const std::string path = dir.Write("image.iic", DistinctBytes(300));
    for (int n = 2;; ++n) {   // call 1 is the zeroing write itself
        ResetFakeDevice();
        gFakeDevice.failDeviceCall = n;
        const int32_t result = Program(path);
        if (!gFakeDevice.failureInjected) {
            EXPECT_EQ(0, result);
            EXPECT_EQ(DistinctBytes(8), Header());
            break;
        }
        EXPECT_EQ(kFakeFailStatus, result) << "failing call " << n;
        EXPECT_EQ(Zeros(8), Header()) << "failing call " << n;
        EXPECT_EQ(n, gFakeDevice.deviceCalls) << "no device call after the failure";
    }
}

TEST_F(BootEepromTest, FailedZeroingWriteStopsAtOnce) {
    LogCapture log(kTraceAll);
    gFakeDevice.failDeviceCall = 1;
    EXPECT_EQ(kFakeFailStatus, Program(dir.Write("image.iic", DistinctBytes(300))));
    EXPECT_EQ(1, gFakeDevice.deviceCalls);
    EXPECT_EQ(Untouched(8), Header());
    EXPECT_NE(std::string::npos, log.Text().find("ksutest: Err.I2C_PROM_write adr.0..7\n"));
}

TEST_F(BootEepromTest, TraceLinesNeedTheirOwnBit) {
    {
        LogCapture log(7);
        EXPECT_EQ(0, Program(dir.Write("image.iic", DistinctBytes(300))));
        EXPECT_EQ("", log.Text());
    }
    {
        LogCapture log(7);
        gFakeDevice.Script("I2C_LargePROMrd", {-603});
        gFakeDevice.errorTexts[-603] = "I2C: bus time-out";
        EXPECT_EQ(-603, Program(dir.Write("image.iic", DistinctBytes(300))));
        EXPECT_EQ("ksutest: Error: -603 I2C: bus time-out\n", log.Text());
    }
}

}  // namespace
