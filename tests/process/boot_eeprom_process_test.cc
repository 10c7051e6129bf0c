// The real tool programming the virtual scanner's boot EEPROM, with the EEPROM kept in a state
// file between runs: what a later run reads back, and what every failed or killed run leaves.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/pty_process.h"
#include "tests/support/temp_files.h"

namespace {

constexpr size_t kHeaderBytes = 8;
constexpr size_t kImageBytes = 60000;

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t first, size_t count) {
    if (bytes.size() < first + count) return {};
    return std::vector<uint8_t>(bytes.begin() + first, bytes.begin() + first + count);
}

// The hex part of one dump row: "00F0: B6 09 35 A6  FF DA ...".
std::string DumpRow(const std::vector<uint8_t>& bytes, size_t offset) {
    char text[8];
    std::snprintf(text, sizeof text, "%04zX:", offset);
    std::string row = text;
    for (size_t i = 0; i < 16; ++i) {
        std::snprintf(text, sizeof text, i % 4 == 0 && i != 0 ? "  %02X" : " %02X", bytes[offset + i]);
        row += text;
    }
    return row;
}

class BootEepromProcess : public ::testing::Test {
protected:
    void SetUp() override { image = dir.Write("image.iic", DistinctBytes(kImageBytes)); }

    ProcessResult Run(std::vector<std::string> args, const std::string& settings = "") {
        const std::string env = "KELVOSIM=eeprom.dir = " + dir.Path() + ";" + settings;
        return RunToTheEnd(ToolRun{std::move(args), {env}, dir.Path(), ""});
    }

    std::vector<uint8_t> Eeprom() { return ReadFileBytes(dir.File("eeprom_a2.bin")); }

    TempDir dir;
    std::string image;
};

}  // namespace

// Eight bytes are a header and no payload: the read-back of nothing must still get a real
// buffer from the tool, and the header lands.
TEST_F(BootEepromProcess, EightByteImageWritesJustTheHeader) {
    dir.Write("header.iic", DistinctBytes(kHeaderBytes));
    ProcessResult run = Run({"-prg", "header.iic"});
    EXPECT_EQ(0, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find("successfull\n!\n")) << run.err;
    EXPECT_EQ(DistinctBytes(kHeaderBytes), Slice(Eeprom(), 0, kHeaderBytes));
}

TEST_F(BootEepromProcess, ImageProgrammedInOneRunIsDumpedInTheNext) {
    ProcessResult run = Run({"-prg", "image.iic"});
    EXPECT_EQ(0, run.exitCode);
    EXPECT_NE(std::string::npos,
              run.err.find("ksutest: program EEPROM with ID 0xa2 from file image.iic successfull\n!\n"));
    EXPECT_EQ(DistinctBytes(kImageBytes), Slice(Eeprom(), 0, kImageBytes));
    EXPECT_EQ(0xFF, Eeprom().at(kImageBytes));

    run = Run({"-dumpe", "-id", "a2"});
    EXPECT_EQ(0, run.exitCode);
    const std::vector<uint8_t> bytes = DistinctBytes(kImageBytes);
    EXPECT_NE(std::string::npos, run.err.find(DumpRow(bytes, 0))) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(DumpRow(bytes, 0xF0))) << run.err;
}

// A name with a blank is one file: "board v2.iic" is programmed, not a file "board" beside it.
TEST_F(BootEepromProcess, FileNameWithBlanksProgramsThatFile) {
    dir.Write("board", DistinctBytes(100));
    dir.Write("board v2.iic", DistinctBytes(300));
    ProcessResult run = Run({"-prg", "board v2.iic"});
    EXPECT_EQ(0, run.exitCode);
    EXPECT_NE(std::string::npos,
              run.err.find("ksutest: program EEPROM with ID 0xa2 from file board v2.iic successfull\n!\n")) << run.err;
    EXPECT_EQ(DistinctBytes(300), Slice(Eeprom(), 0, 300));
}

// A state file that cannot be written makes the write fail with -604, and the virtual scanner
// says why, naming the file and its folder: here a folder stands at the file's name, and (for
// a user other than root, whom no mode stops) the folder given by eeprom.dir is read-only.
TEST_F(BootEepromProcess, UnwritableStateFileIsNamedWithItsFolder) {
    ASSERT_EQ(0, mkdir(dir.File("eeprom_a2.bin").c_str(), 0700));
    ProcessResult run = Run({"-prg", "image.iic"});
    EXPECT_NE(std::string::npos, run.err.find("ksutest: Error: -604 ")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("kelvosim: EEPROM 0xA2: cannot write its state file '" + dir.File("eeprom_a2.bin") +
                                              "' in the folder '" + dir.Path() + "' (")) << run.err;
    if (geteuid() == 0) return;
    TempDir readOnly;
    ASSERT_EQ(0, chmod(readOnly.Path().c_str(), 0500));
    run = RunToTheEnd(ToolRun{{"-prg", "image.iic"}, {"KELVOSIM=eeprom.dir = " + readOnly.Path()}, dir.Path(), ""});
    EXPECT_NE(std::string::npos, run.err.find("' in the folder '" + readOnly.Path() + "' (Permission denied)")) << run.err;
    chmod(readOnly.Path().c_str(), 0700);
}

TEST_F(BootEepromProcess, RefusedFileLeavesEepromUntouched) {
    dir.Write("eeprom_a2.bin", std::vector<uint8_t>(128 * 1024, 0x5A));
    dir.Write("empty.iic", {});
    dir.Write("huge.iic", DistinctBytes(70000));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"nothere.iic", "Cannot open nothere.iicksutest: Error: -400 \n"},
        {"empty.iic", "ksutest: Error: -401 \n"},
        {"huge.iic", "ksutest: Error: -401 \n"},
    };
    for (const auto& [file, report] : cases) {
        const ProcessResult run = Run({"-prg", file, "-rb", "0"});
        EXPECT_EQ(0, run.exitCode) << file;
        EXPECT_NE(std::string::npos, run.err.find(report + "ksutest: Err. gBootFilename\n")) << file;
        EXPECT_EQ(std::string::npos, run.err.find("RegRead")) << "actions are skipped: " << file;
        EXPECT_EQ(std::vector<uint8_t>(128 * 1024, 0x5A), Eeprom()) << file;
    }
}

// Every failure after the zeroing write leaves the header zeroed, and the actions are skipped.
TEST_F(BootEepromProcess, FailedRunLeavesHeaderZeroed) {
    const std::vector<std::pair<std::string, std::string>> faults = {
        {"eeprom.a2.read_flip = 30000", "ksutest: Error: -300 \n"},
        {"eeprom.a2.write_fail_after = 4096", "ksutest: Error: -603 I2C: bus time-out\n"},
        {"fail.I2C_LargePROMrd = -301", "ksutest: Error: -301 USB transfer error\n"},
        {"fail.I2C_PROM_write = -603 at 2", "ksutest: Error: -603 I2C: bus time-out\n"},
    };
    for (const auto& [fault, report] : faults) {
        ASSERT_EQ(0, Run({"-prg", "image.iic"}).exitCode);   // a good image to start from
        const ProcessResult run = Run({"-prg", "image.iic"}, fault);
        EXPECT_NE(std::string::npos, run.err.find(report + "ksutest: Err. gBootFilename\n")) << fault;
        EXPECT_EQ(std::vector<uint8_t>(kHeaderBytes, 0), Slice(Eeprom(), 0, kHeaderBytes)) << fault;
    }
}

// A run killed while the payload is going in: the header is already zero, and a new run
// programs the image completely.
TEST_F(BootEepromProcess, KilledRunNeverLeavesValidHeader) {
    ASSERT_EQ(0, Run({"-prg", "image.iic"}).exitCode);
    dir.Write("other.iic", std::vector<uint8_t>(kImageBytes, 0x33));
    const std::string env = "KELVOSIM=eeprom.dir = " + dir.Path() + "; eeprom.a2.page_write_us = 5000";
    ChildProcess tool =
        ChildProcess::StartWithPipes(ToolRun{{"-prg", "other.iic"}, {env}, dir.Path(), ""});
    // Wait until the first payload page of the new image has reached the EEPROM.
    bool started = false;
    for (int i = 0; i < 2000 && !started; ++i) {
        started = Eeprom().size() > kHeaderBytes && Eeprom()[kHeaderBytes] == 0x33;
        if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(started);
    tool.Signal(SIGKILL);
    EXPECT_EQ(128 + SIGKILL, tool.WaitForExit(10000));
    const std::vector<uint8_t> cells = Eeprom();
    EXPECT_EQ(std::vector<uint8_t>(kHeaderBytes, 0), Slice(cells, 0, kHeaderBytes));
    const size_t payloadBytes = kImageBytes - kHeaderBytes;
    EXPECT_NE(std::vector<uint8_t>(payloadBytes, 0x33), Slice(cells, kHeaderBytes, payloadBytes))
        << "the kill came after the whole payload; make page_write_us larger";

    EXPECT_EQ(0, Run({"-prg", "image.iic"}).exitCode);
    EXPECT_EQ(DistinctBytes(kImageBytes), Slice(Eeprom(), 0, kImageBytes));
}
