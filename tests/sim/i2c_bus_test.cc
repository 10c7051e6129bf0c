// tests/sim/i2c_bus_test.cc: the virtual scanner's EEPROMs through the library interface:
// what is written reads back, ranges and absent devices fail cleanly, state files persist,
// and each injected fault does what it says.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/sim_session.h"
#include "tests/support/temp_files.h"

namespace {

constexpr uint8_t kConfigEeprom = 0xA0;
constexpr uint8_t kBootEeprom = 0xA2;
constexpr int32_t kBootBytes = 128 * 1024;

class I2cBusTest : public SimTest {
protected:
    // Closes and reopens without reconfiguring: a later run of the tool on the same scanner.
    void Reopen() {
        ASSERT_EQ(0, Free_Interface());
        ASSERT_EQ(0, Init_Interface());
    }

    std::vector<uint8_t> ReadLarge(uint8_t deviceId, uint32_t first, int32_t count) {
        std::vector<uint8_t> bytes(static_cast<size_t>(count));
        int32_t length = count;
        EXPECT_EQ(0, I2C_LargePROMrd(deviceId, first, bytes.data(), &length));
        EXPECT_EQ(count, length);
        return bytes;
    }

    int32_t WriteLarge(uint8_t deviceId, uint32_t first, std::vector<uint8_t> bytes,
                       int32_t* moved = nullptr) {
        int32_t length = static_cast<int32_t>(bytes.size());
        const int32_t status = I2C_LargePROMwr(deviceId, first, bytes.data(), &length);
        if (moved != nullptr) *moved = length;
        return status;
    }

    TempDir dir_;
};

TEST_F(I2cBusTest, BlockWriteReadsBackAcrossPagesAndReopen) {
    Open("");
    EXPECT_EQ(std::vector<uint8_t>(256, 0xFF), ReadLarge(kConfigEeprom, 0, 256));   // erased
    const std::vector<uint8_t> image = DistinctBytes(69991);
    int32_t moved = 0;
    ASSERT_EQ(0, WriteLarge(kBootEeprom, 8, image, &moved));
    EXPECT_EQ(69991, moved);
    Reopen();   // the EEPROM is non-volatile: a new session keeps it
    EXPECT_EQ(image, ReadLarge(kBootEeprom, 8, 69991));
    EXPECT_EQ(std::vector<uint8_t>(8, 0xFF), ReadLarge(kBootEeprom, 0, 8));
}

TEST_F(I2cBusTest, RangePastTheEndFailsAndStoresNothing) {
    Open("");
    int32_t moved = -1;
    EXPECT_EQ(kErrAddressRange, WriteLarge(kConfigEeprom, 250, std::vector<uint8_t>(7, 0), &moved));
    EXPECT_EQ(0, moved);
    EXPECT_EQ(std::vector<uint8_t>(6, 0xFF), ReadLarge(kConfigEeprom, 250, 6));
    // The last byte itself is reachable; one further is not, nor a start beyond the end.
    EXPECT_EQ(0, WriteLarge(kBootEeprom, kBootBytes - 1, {0x5A}));
    EXPECT_EQ(kErrAddressRange, WriteLarge(kBootEeprom, kBootBytes, {0x5A}));
    std::vector<uint8_t> buffer(4);
    int32_t length = 4;
    EXPECT_EQ(kErrAddressRange, I2C_LargePROMrd(kBootEeprom, 0xFFFFFFFEu, buffer.data(), &length));
    EXPECT_EQ(0, length);
}

TEST_F(I2cBusTest, AbsentOrSilentDeviceGetsNoAck) {
    Open("eeprom.a0.nak = 1");
    std::vector<uint8_t> buffer(4, 0);
    EXPECT_EQ(kErrNoAck, I2C_PROM_read(buffer.data(), 0xA4, 0, 3));
    EXPECT_EQ(kErrNoAck, I2C_PROM_write(buffer.data(), 0xA3, 0, 3));   // read/write bit set
    EXPECT_EQ(kErrNoAck, I2C_PROM_write(buffer.data(), kConfigEeprom, 0, 3));
    EXPECT_EQ(kErrNoAck, GetLastKelvoError(1));
    char text[1024] = "";
    EXPECT_EQ(0, GetKelvoErrorText(kErrNoAck, text, sizeof text));
    EXPECT_NE(std::string(), text);
    EXPECT_EQ(0, I2C_PROM_write(buffer.data(), kBootEeprom, 0, 3));
}

TEST_F(I2cBusTest, StateFileIsWrittenThroughAndLoadedAgain) {
    const std::string path = dir_.File("boot.bin");
    Open("eeprom.a2.file = " + path);
    ASSERT_EQ(0, WriteLarge(kBootEeprom, 8, DistinctBytes(300)));
    // Written through at once, before the interface closes: a killed process keeps it.
    std::vector<uint8_t> onDisk = ReadFileBytes(path);
    ASSERT_EQ(static_cast<size_t>(kBootBytes), onDisk.size());
    EXPECT_EQ(DistinctBytes(300), std::vector<uint8_t>(onDisk.begin() + 8, onDisk.begin() + 308));
    EXPECT_EQ(0xFF, onDisk[308]);

    Open("eeprom.a2.file = " + path);   // a fresh process on the same file
    EXPECT_EQ(DistinctBytes(300), ReadLarge(kBootEeprom, 8, 300));
}

TEST_F(I2cBusTest, FolderSettingKeepsOneFilePerEeprom) {
    Open("eeprom.dir = " + dir_.Path());
    ASSERT_EQ(0, WriteLarge(kConfigEeprom, 0, {0x42}));
    EXPECT_EQ(0x42, ReadFileBytes(dir_.File("eeprom_a0.bin")).at(0));
    EXPECT_EQ(0xFF, ReadFileBytes(dir_.File("eeprom_a2.bin")).at(0));
}

TEST_F(I2cBusTest, ShortStateFileKeepsItsBytesAndRestIsErased) {
    const std::string path = dir_.Write("a0.bin", {0x10, 0x20});
    Open("eeprom.a0.file = " + path);
    EXPECT_EQ((std::vector<uint8_t>{0x10, 0x20, 0xFF}), ReadLarge(kConfigEeprom, 0, 3));
}

TEST_F(I2cBusTest, BrokenWriteStoresOnlyTheBytesBeforeTheBreak) {
    const std::string path = dir_.File("boot.bin");
    Open("eeprom.a2.write_fail_after = 1000; eeprom.a2.file = " + path);
    int32_t moved = 0;
    EXPECT_EQ(kErrBusTimeout, WriteLarge(kBootEeprom, 8, DistinctBytes(5000), &moved));
    EXPECT_EQ(1000, moved);
    const std::vector<uint8_t> cells = ReadLarge(kBootEeprom, 8, 1001);
    EXPECT_EQ(DistinctBytes(1000), std::vector<uint8_t>(cells.begin(), cells.begin() + 1000));
    EXPECT_EQ(0xFF, cells[1000]);
    EXPECT_EQ(0xFF, ReadFileBytes(path).at(1008));
    // Transfers no longer than the break point go through: the header write still works, and so
    // does one of exactly the break point's length.
    EXPECT_EQ(0, WriteLarge(kBootEeprom, 0, std::vector<uint8_t>(8, 0)));
    EXPECT_EQ(0, WriteLarge(kBootEeprom, 2000, DistinctBytes(1000), &moved));
    EXPECT_EQ(1000, moved);
    EXPECT_EQ(kErrBusTimeout, WriteLarge(kBootEeprom, 4000, DistinctBytes(1001), &moved));
    EXPECT_EQ(1000, moved);
}

TEST_F(I2cBusTest, ReadFlipChangesOneByteOnTheWayOutOnly) {
    Open("eeprom.a2.read_flip = 0x100");
    ASSERT_EQ(0, WriteLarge(kBootEeprom, 0x80, std::vector<uint8_t>(0x100, 0x30)));
    std::vector<uint8_t> expected(0x100, 0x30);
    expected[0x80] = 0x31;
    EXPECT_EQ(expected, ReadLarge(kBootEeprom, 0x80, 0x100));
    EXPECT_EQ(std::vector<uint8_t>(4, 0x30), ReadLarge(kBootEeprom, 0x101, 4));
}

}  // namespace
