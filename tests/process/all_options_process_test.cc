// Every option of the command line in one run of the real tool against the virtual scanner,
// given in reverse of their running order: each action must still appear, in its fixed place.
// The two endless loops are ended by a key each, so the run needs a terminal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/pty_process.h"
#include "tests/support/temp_files.h"

namespace {

// One line of each action, in the order the tool runs them.
const char* const kActionsInOrder[] = {
    "ksutest: program EEPROM with ID 0xa2 from file image.iic successfull",
    "ksutest: RegWrite success!",
    "ksutest: RegWriteShort success!",
    "ksutest: RegWriteShortInc success!",
    "ksutest: RegWriteLong success!",
    "ksutest: RegWriteLongInc success!",
    "ksutest: RegRead from Adr.32 Byte:0x34",
    "ksutest: RegReadShort from Adr.36 Byte:0x1234",
    "ksutest: RegReadShortInc from Adr.38 Byte:0x1234",
    "ksutest: RegReadDword from Adr.40 Byte:0x00001234",
    "ksutest: RegReadDwordInc from Adr.44 Byte:0x00001234",
    "ksutest: I2C_PROM_write success ID:a0 Adr:5 Val:0x34!",
    "ksutest: I2C_PROM_read success ID:a0 Adr:5 Val:0x34!",
    "ksutest: I2C_PROM_dump Adr.:0 from ID:0xa0!",
    "ksutest: iictest, read from U4_EEPROM,RAMPROM and ADC, init temp.!",
    "ksutest: Count of I2C-Reads:",
    "ksutest: I2C_DACout High Voltage in",
    "ksutest: AD Channel 0:",
    "ksutest: AD Channel 24V in V:",
    "ksutest: I2C_TEMPinit success!",
    "ksutest: I2C_TEMPread: Value:",
    "ksutest: Pentamotor_init success",
    "ksutest: Anz_ScanLine success Lines:",
    "ksutest: scannerStatus:",
    "ReadBlock from Scanner without File!",
    "ksutest: Total bytes transferred:",
};

}  // namespace

TEST(AllOptionsProcess, EveryActionRunsOnceInItsFixedOrder) {
    TempDir dir;
    dir.Write("image.iic", DistinctBytes(1000));
    const std::string fpgaFile = LibraryDir() + "/scanner3.mcs";
    ToolRun run{{"-scanfile", "scan.bin", "-scan", "-stat", "-lines", "-motor", "3", "-trd", "-tinit", "0",
                 "-adread", "-dao", "100", "-iictest", "-dumpe", "-rde", "5", "-wre", "5", "-id", "A0",
                 "-ini", fpgaFile, "-prg", "image.iic", "-rdi", "2C", "-rd", "28", "-rwi", "26", "-rw",
                 "24", "-rb", "20", "-wdi", "2C", "-wd", "28", "-wwi", "26", "-ww", "24", "-wb", "20",
                 "-val", "1234"},
                {"KELVOSIM=motor.revs_per_query = 1; stream.rate = 2000000"},
                dir.Path(),
                ""};
    ChildProcess tool = ChildProcess::StartUnderPty(run);
    ASSERT_TRUE(tool.WaitForText("ksutest: Count of I2C-Reads:", 10000)) << tool.Out();
    tool.Type("q");
    ASSERT_TRUE(tool.WaitForText("ksutest: Total bytes transferred:", 10000)) << tool.Out();
    tool.Type("q");
    ASSERT_EQ(0, tool.WaitForExit(10000)) << tool.Out();

    const std::string& out = tool.Out();
    size_t previous = 0;
    const char* previousText = "the start";
    for (const char* text : kActionsInOrder) {
        const size_t at = out.find(text);
        ASSERT_NE(std::string::npos, at) << "missing: " << text << "\n" << out;
        EXPECT_LT(previous, at) << text << " comes before " << previousText;
        previous = at;
        previousText = text;
    }
    // -scan wins over -scanfile: the data is checked, not stored.
    EXPECT_FALSE(FileExists(dir.File("scan.bin")));
    EXPECT_TRUE(tool.EchoIsOn());
}
