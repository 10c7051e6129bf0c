// The fault matrix: for every library operation the tool calls, a run of the real tool in which
// the virtual scanner fails that operation. Each row names the command line that makes the
// tool call it, the messages the failure must produce (in order), a later step that must be
// skipped or must still run, and the exit code. Every run must also end through the usual
// shutdown: the interface freed (Free_Interface's failure path not taken unless the row fails
// it) and the closing empty line.
#include <gtest/gtest.h>

#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/pty_process.h"
#include "tests/support/temp_files.h"

namespace {

struct FaultRow {
    const char* name;
    const char* fault;                    // the KELVOSIM settings
    std::vector<std::string> args;
    std::vector<std::string> messages;    // must appear, in this order
    const char* skipped;                  // must not appear; nullptr: nothing to check
    const char* stillRuns;                // a later step that must appear; nullptr: none
    int exitCode;
    const char* stopAfter = nullptr;      // endless runs: SIGTERM once this text has appeared
};

const FaultRow kFaultMatrix[] = {
    // Bring-up: a failure skips every action.
    {"Init_Interface", "fail.Init_Interface = -103", {"-rb", "10"},
     {"ksutest: Err. Init_Interface!\nksutest: Error: -103 no scanner found on the USB bus\n"}, "RegRead", nullptr, 0},
    {"SetUsbTimeout", "fail.SetUsbTimeout = -301", {"-rb", "10"}, {}, "Error", "ksutest: RegRead from Adr.16", 0},
    {"GetKelvoVersion", "fail.GetKelvoVersion = -301", {"-rb", "10"}, {"ksutest: Err.GetKelvoVersion!\n"},
     "RegRead", nullptr, 0},
    {"Init_Firmware", "fail.Init_Firmware = -205", {"-rb", "10"}, {"ksutest: Err. Init_Firmware:-205\n"},
     "RegRead", nullptr, 0},
    {"Free_Interface", "fail.Free_Interface = -301", {"-rb", "10"},
     {"ksutest: RegRead from Adr.16", "ksutest: Error Free_interface!\nksutest: Error occured during test: -301!\n"},
     nullptr, nullptr, 2},
    // Boot EEPROM programming: a failure skips every action.
    {"I2C_PROM_write_BootHeader", "fail.I2C_PROM_write = -301", {"-prg", "image.iic", "-rb", "10"},
     {"ksutest: Error: -301 USB transfer error\nksutest: Err. gBootFilename\nksutest: GetLastError:USB transfer error\n"},
     "RegRead", nullptr, 0},
    {"I2C_LargePROMwr", "fail.I2C_LargePROMwr = -301", {"-prg", "image.iic", "-rb", "10"},
     {"ksutest: Error: -301 USB transfer error\nksutest: Err. gBootFilename\n"}, "RegRead", nullptr, 0},
    {"I2C_LargePROMrd", "fail.I2C_LargePROMrd = -301", {"-prg", "image.iic", "-rb", "10"},
     {"ksutest: Error: -301 USB transfer error\nksutest: Err. gBootFilename\n"}, "RegRead", nullptr, 0},
    // Register commands: each reports its failure and the next one runs.
    {"RegWrite", "fail.RegWrite = -301", {"-wb", "20", "-rb", "20"},
     {"ksutest: Err.RegWrite\nksutest: GetLastError:USB transfer error\n"}, nullptr, "ksutest: RegRead from Adr.32", 0},
    {"RegWriteShort", "fail.RegWriteShort = -301", {"-ww", "24", "-wwi", "26", "-rb", "20"},
     {"ksutest: Err.RegWriteShort\nksutest: GetLastError:", "ksutest: Err.RegWriteShortInc\n"}, nullptr,
     "ksutest: RegRead from Adr.32", 0},
    {"RegWriteLong", "fail.RegWriteLong = -301", {"-wd", "28", "-rb", "20"},
     {"ksutest: Err.RegWriteLong\nksutest: GetLastError:USB transfer error\n"}, nullptr, "ksutest: RegRead", 0},
    {"RegWriteLongInc", "fail.RegWriteLongInc = -301", {"-wdi", "2c", "-rb", "20"},
     {"ksutest: Err.RegWriteLong\nksutest: GetLastError:USB transfer error\n"}, "RegWriteLongInc success",
     "ksutest: RegRead", 0},
    // Reads carry no error indication: the failed read shows 0 and the sequence goes on.
    {"RegRead", "fail.RegRead = -301", {"-rb", "20", "-lines"}, {"ksutest: RegRead from Adr.32 Byte:0x00\n"},
     nullptr, "ksutest: Anz_ScanLine success", 0},
    {"RegReadShort", "fail.RegReadShort = -301", {"-rw", "24", "-lines"},
     {"ksutest: RegReadShort from Adr.36 Byte:0x0000\n"}, nullptr, "ksutest: Anz_ScanLine success", 0},
    {"RegReadShortInc", "fail.RegReadShortInc = -301", {"-rwi", "26", "-lines"},
     {"ksutest: RegReadShortInc from Adr.38 Byte:0x0000\n"}, nullptr, "ksutest: Anz_ScanLine success", 0},
    {"RegReadLong", "fail.RegReadLong = -301", {"-rd", "28", "-lines"},
     {"ksutest: RegReadDword from Adr.40 Byte:0x00000000\n"}, nullptr, "ksutest: Anz_ScanLine success", 0},
    {"RegReadLongInc", "fail.RegReadLongInc = -301", {"-rdi", "2c", "-lines"},
     {"ksutest: RegReadDwordInc from Adr.44 Byte:0x00000000\n"}, nullptr, "ksutest: Anz_ScanLine success", 0},
    // I2C commands: each reports its failure and the next one runs.
    {"I2C_PROM_write", "fail.I2C_PROM_write = -301", {"-wre", "5", "-rde", "5", "-id", "a0"},
     {"ksutest: Error: -301 USB transfer error\n"}, "I2C_PROM_write success", "ksutest: I2C_PROM_read success", 0},
    {"I2C_PROM_read", "fail.I2C_PROM_read = -301", {"-rde", "5", "-dumpe", "-id", "a0", "-trd"},
     {"ksutest: Error: -301 USB transfer error\nksutest: Error: -301 USB transfer error\n"}, "I2C_PROM_read success",
     "ksutest: I2C_TEMPread: Value:", 0},
    {"I2C_DACout", "fail.I2C_DACout = -301", {"-dao", "100", "-trd"}, {"ksutest: Error: -301 USB transfer error\n"},
     "High Voltage", "ksutest: I2C_TEMPread: Value:", 0},
    {"I2C_ADCread", "fail.I2C_ADCread = -301 at 2", {"-adread", "-trd"},
     {"ksutest: AD Channel 0:", "ksutest: Error: -301 USB transfer error\nksutest: AD Channel 5V in V:"}, "3,3V",
     "ksutest: I2C_TEMPread: Value:", 0},
    {"I2C_TEMPinit", "fail.I2C_TEMPinit = -301", {"-tinit", "0", "-trd"},
     {"ksutest: Error I2C_TEMPinit!\nksutest: Error: -301 USB transfer error\n"}, "I2C_TEMPinit success",
     "ksutest: I2C_TEMPread: Value:", 0},
    {"I2C_TEMPread", "fail.I2C_TEMPread = -301", {"-trd", "-motor", "1"},
     {"ksutest: Error I2C_TEMPread: Value: -32768\n"}, nullptr, "ksutest: Pentamotor_init success", 0},
    // The stress loop counts each failure and goes on until it is stopped.
    {"I2C_PROM_read_StressLoop", "fail.I2C_PROM_read = -301 every 2", {"-iictest"},
     {"ksutest: Error: -301 USB transfer error\n", "ksutest: Count of I2C-Reads:"}, "errors:0\n", nullptr, 0,
     "ksutest: Count of I2C-Reads:"},
    // Motor, scan lines and status.
    {"Pentamotor_init", "fail.Pentamotor_init = -702", {"-motor", "1", "-lines"},
     {"ksutest: Error Pentamotor_init!\nksutest: Error: -702 motor: stalled\n"}, nullptr,
     "ksutest: Anz_ScanLine success", 0},
    {"Anz_ScanLine", "fail.Anz_ScanLine = -703", {"-lines", "-stat"},
     {"ksutest: Error Anz_ScanLine, call GetLastError!\nksutest: Error: -703 scan-line counter not readable\n"},
     nullptr, "ksutest: scannerStatus:", 0},
    {"GetScanStatus", "fail.GetScanStatus = -802", {"-stat", "-scan"}, {}, "scannerStatus", "ksutest: Total bytes", 0,
     "ksutest: Total bytes"},
    // The streaming test.
    {"Init_Firmware_Stream", "fail.Init_Firmware = -205 at 2", {"-scan"},
     {"ReadBlock from Scanner without File!\nksutest: Err. Init_Firmware\n"}, "Total bytes", nullptr, 0},
    {"RegWrite_GateOn", "fail.RegWrite = -301", {"-scanfile", "out.bin"},
     {"ksutest: Err.RegWrite reg.4 \nksutest: GetLastError:USB transfer error\n"}, "Total bytes", nullptr, 0},
    {"RegWrite_GateOnRegister5", "fail.RegWrite = -301 at 2", {"-scan"},
     {"ksutest: Err.RegWrite reg. 5\nksutest: GetLastError:USB transfer error\n"}, "Total bytes", nullptr, 0},
    {"RegWrite_Restart", "fail.RegWrite = -301 at 3", {"-scan"},
     {"ksutest: Total bytes", "ksutest: Total bytes", "ksutest: Err.RegWrite reg.4 \n"}, "Error BlockRead", nullptr, 0},
    {"ReadBlock", "fail.ReadBlock = -301 every 3", {"-scan"}, {"Error BlockRead:-301\n", "ksutest: Total bytes"},
     "Errors: 1", nullptr, 0, "ksutest: Total bytes"},
    {"ClearReadBlock", "fail.ClearReadBlock = -301", {"-scan"},
     {"ksutest: Total bytes", "ksutest: Total bytes"}, "Error ", nullptr, 0,
     "Errors: 0\nksutest: Total bytes transferred"},
};

void PrintTo(const FaultRow& row, std::ostream* out) { *out << row.name; }

class FaultMatrix : public ::testing::TestWithParam<FaultRow> {};

TEST_P(FaultMatrix, FailureIsReportedAndTheRunEndsThroughShutdown) {
    const FaultRow& row = GetParam();
    TempDir dir;
    dir.Write("image.iic", DistinctBytes(1000));
    const ToolRun run{row.args, {std::string("KELVOSIM=stream.rate = 2000000; ") + row.fault}, dir.Path(), ""};
    ChildProcess tool = ChildProcess::StartWithPipes(run);
    if (row.stopAfter != nullptr) {
        ASSERT_TRUE(tool.WaitForText(row.stopAfter, 10000)) << tool.Err();
        tool.Signal(SIGTERM);
    }
    EXPECT_EQ(row.exitCode, tool.WaitForExit(10000)) << tool.Err();
    const std::string& err = tool.Err();

    size_t from = 0;
    for (const std::string& message : row.messages) {
        const size_t at = err.find(message, from);
        ASSERT_NE(std::string::npos, at) << "missing: " << message << "\n" << err;
        from = at + message.size();
    }
    if (row.skipped != nullptr) {
        EXPECT_EQ(std::string::npos, err.find(row.skipped)) << err;
    }
    if (row.stillRuns != nullptr) {
        EXPECT_NE(std::string::npos, err.find(row.stillRuns, from)) << err;
    }
    if (row.exitCode == 0) {
        EXPECT_EQ(std::string::npos, err.find("Error Free_interface!")) << err;
        ASSERT_GE(err.size(), 2u);
        EXPECT_EQ("\n\n", err.substr(err.size() - 2)) << err;   // the closing line after the last message
    }
}

INSTANTIATE_TEST_SUITE_P(EveryLibraryOperation, FaultMatrix, ::testing::ValuesIn(kFaultMatrix),
                         [](const ::testing::TestParamInfo<FaultRow>& param) { return std::string(param.param.name); });

}  // namespace
