// Virtual scanner: the interface's life cycle, error codes and texts, versions, injected
// failures, and the FPGA file loader.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "device/contract.h"
#include "device/kelvoscanusb.h"
#include "tests/support/temp_files.h"

extern "C" void SimConfigure(const char* settings);

namespace {

class SimInterfaceTest : public ::testing::Test {
protected:
    void SetUp() override { SimConfigure(""); }
    void TearDown() override { SimConfigure(""); }

    std::string Text(int32_t code) {
        char text[1024] = {};
        return GetKelvoErrorText(code, text, sizeof text) == 0 ? text : "<none>";
    }
    TempDir dir;
};

const char kGoodRecords[] =
    ":020000040000FA\n"
    ":10000000FFFFFFFFAA9955660001020304050607DA\n"
    ":00000001FF\n";

}  // namespace

TEST_F(SimInterfaceTest, OperationsBeforeOpeningFailWithTheirOwnCode) {
    uint16_t v[4];
    EXPECT_EQ(-101, GetKelvoVersion(&v[0], &v[1], &v[2], &v[3]));
    EXPECT_EQ(0, RegWrite(4, 1));
    EXPECT_EQ(-101, GetLastKelvoError(1));
    int32_t received = 7;
    uint8_t buffer[2];
    EXPECT_EQ(-101, ReadBlock(buffer, 2, &received));
    EXPECT_EQ(0, received);
    EXPECT_EQ("interface not open (call Init_Interface first)", Text(-101));
    // A converter read answers below the readings, so -101 is not taken for the byte 155.
    const int32_t adc = I2C_ADCread(0x90, 1);
    EXPECT_TRUE(AdcResultIsError(adc)) << adc;
    EXPECT_EQ(Text(-101), Text(adc));
}

TEST_F(SimInterfaceTest, OpensOnceAndClosesOnce) {
    EXPECT_EQ(0, Init_Interface());
    EXPECT_EQ(-102, Init_Interface());
    EXPECT_EQ(0, Free_Interface());
    EXPECT_EQ(0, Free_Interface());   // closing what is closed releases nothing and is no error
    EXPECT_EQ(0, Init_Interface());
    EXPECT_EQ(0, Free_Interface());
}

// Every code a failing call leaves behind has a text, found by making the calls fail rather
// than by listing the table; the tool's own codes have none, so the tool prints them bare.
TEST_F(SimInterfaceTest, CodesThatCallsReturnHaveTextsTheToolsOwnHaveNone) {
    std::vector<int32_t> codes;
    const auto last = [&codes] { codes.push_back(GetLastKelvoError(0)); };
    uint8_t buffer[512] = {};
    int32_t received = 0;
    RegWrite(4, 1), last();                                   // not open
    ASSERT_EQ(0, Init_Interface());
    Init_Interface(), last();                                 // already open
    RegRead(0x20), last();                                    // FPGA not configured
    Init_Firmware(dir.File("missing.mcs").c_str(), 0), last();
    ASSERT_EQ(0, Init_Firmware("scanner3.mcs", 1));
    RegWrite(0, 1), last();                                   // read-only
    RegRead(0x10), last();                                    // write-only
    RegRead(0x100), last();                                   // out of range
    I2C_PROM_read(buffer, 0xA4, 0, 0), last();                // no acknowledge
    I2C_PROM_read(buffer, 0xA0, 255, 1), last();              // past the end
    I2C_ADCread(0x90, 9), last();                             // no such channel
    I2C_DACout(0x90, 999), last();                            // invalid argument
    Pentamotor_init(-1), last();                              // out of range
    SetUsbTimeout(10);
    ReadBlock(buffer, 2, &received), last();                  // gate closed: no data
    Free_Interface();
    SimConfigure("versoin.library = 1");
    Init_Interface(), last();                                 // a setting it cannot honour
    ASSERT_EQ(14u, codes.size());
    for (int32_t code : codes) {
        EXPECT_LT(code, 0);
        EXPECT_NE("<none>", Text(code)) << code;
    }
    for (int32_t code : {-300, -400, -401, 1, -9999}) EXPECT_EQ("<none>", Text(code)) << code;
    char tiny[8];
    ASSERT_EQ(0, GetKelvoErrorText(-306, tiny, sizeof tiny));
    EXPECT_STREQ("no data", tiny);
}

TEST_F(SimInterfaceTest, VersionsAreConsistentByDefaultAndSetByTheScenario) {
    uint16_t hardware, firmware, library, usb;
    ASSERT_EQ(0, Init_Interface());
    ASSERT_EQ(0, GetKelvoVersion(&hardware, &firmware, &library, &usb));
    EXPECT_EQ(firmware, library);
    SimConfigure("version.library = 0x0102; version.firmware = 0x0103");
    ASSERT_EQ(0, Init_Interface());
    ASSERT_EQ(0, GetKelvoVersion(&hardware, &firmware, &library, &usb));
    EXPECT_EQ(0x0102, library);
    EXPECT_EQ(0x0103, firmware);
}

TEST_F(SimInterfaceTest, InjectedFailuresHitTheChosenCalls) {
    SimConfigure("fail.Init_Interface = -103 at 2\nfail.Free_Interface = -301 from 2 # comment");
    EXPECT_EQ(0, Init_Interface());
    EXPECT_EQ(0, Free_Interface());
    EXPECT_EQ(-103, Init_Interface());
    EXPECT_EQ(-103, GetLastKelvoError(0));   // 0 reads and clears
    EXPECT_EQ(0, GetLastKelvoError(1));
    EXPECT_EQ(0, Init_Interface());
    EXPECT_EQ(-301, Free_Interface());
    EXPECT_EQ(-301, Free_Interface());
}

TEST_F(SimInterfaceTest, FpgaFileIsCheckedRecordByRecord) {
    ASSERT_EQ(0, Init_Interface());
    const struct {
        const char* content;
        int32_t expected;
    } cases[] = {
        {kGoodRecords, 0},
        {":10000000FFFFFFFFAA9955660001020304050607DB\n:00000001FF\n", -203},   // checksum
        {":1000000GFFFFFFFFAA995566000102030405060736\n:00000001FF\n", -202},   // not hex
        {":0F000000FFFFFFFFAA995566000102030405060736\n:00000001FF\n", -202},   // length
        {"garbage\n", -202},
        {":00000006FA\n:00000001FF\n", -204},                                   // record type
        {":10000000FFFFFFFFAA9955660001020304050607DA\n", -205},                // no end record
        {"", -205},
    };
    for (const auto& c : cases) {
        const std::string path = dir.WriteText("fpga.mcs", c.content);
        EXPECT_EQ(c.expected, Init_Firmware(path.c_str(), 0)) << c.content;
    }
    const std::string record = ":10000000FFFFFFFFAA9955660001020304050607DA\n";
    const std::string longLine = ":" + std::string(2000, '0') + "\n" + ":00000001FF\n";
    EXPECT_EQ(-202, Init_Firmware(dir.WriteText("long.mcs", longLine).c_str(), 0));
    // Larger than any FPGA's image: refused before it is read (sparse, so the test stays quick).
    const std::string huge = dir.WriteText("huge.mcs", std::string(kGoodRecords));
    std::filesystem::resize_file(huge, (uint64_t{64} << 20) + 1);
    EXPECT_EQ(-202, Init_Firmware(huge.c_str(), 0));
    EXPECT_EQ(-201, Init_Firmware(dir.File("missing.mcs").c_str(), 0));
    EXPECT_EQ(-201, GetLastKelvoError(1));
    EXPECT_EQ(-201, Init_Firmware(dir.Path().c_str(), 0));   // a folder is no file, and no exception
}

TEST_F(SimInterfaceTest, DefaultFpgaFileIsFoundBesideTheLibrary) {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());               // a folder without scanner3.mcs
    ASSERT_EQ(0, Init_Interface());
    EXPECT_EQ(0, Init_Firmware("scanner3.mcs", 1));
    EXPECT_EQ(-201, Init_Firmware("scanner3.mcs", 0));     // a named file is taken as given
    dir.WriteText("scanner3.mcs", "not a record\n");
    EXPECT_EQ(-202, Init_Firmware("scanner3.mcs", 1));     // the working directory comes first
    std::filesystem::current_path(previous);
}
