// The real tool writing and reading the virtual scanner's registers, and asking it about its
// motor, line count and status, as a user runs it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/pty_process.h"
#include "tests/support/temp_files.h"

namespace {

class RegisterProcess : public ::testing::Test {
protected:
    ProcessResult Run(std::vector<std::string> args, const std::string& settings = "") {
        return RunToTheEnd(ToolRun{std::move(args), {"KELVOSIM=" + settings}, dir.Path(), ""});
    }
    TempDir dir;
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST_F(RegisterProcess, DwordWrittenReadsBackInTheSameRun) {
    const ProcessResult run = Run({"-rd", "20", "-wd", "20", "-val", "12345678"});
    EXPECT_EQ(0, run.exitCode);
    const std::string expected =
        "ksutest: RegWriteLong success!\nksutest: RegReadDword from Adr.32 Byte:0x12345678\n";
    EXPECT_TRUE(Contains(run.err, expected)) << run.err;
}

TEST_F(RegisterProcess, EachWidthReadsBackWhatItWrote) {
    const ProcessResult bytes = Run({"-wb", "30", "-rb", "30", "-val", "1A5"});
    EXPECT_TRUE(Contains(bytes.err, "ksutest: RegWrite success!\nksutest: RegRead from Adr.48 Byte:0xA5\n"))
        << bytes.err;
    const ProcessResult words = Run({"-ww", "40", "-rw", "40", "-val", "BEEF"});
    EXPECT_TRUE(Contains(words.err,
                         "ksutest: RegWriteShort success!\nksutest: RegReadShort from Adr.64 Byte:0xBEEF\n"))
        << words.err;
    // The counting forms: -wdi adds to the register, -rwi reads and then counts up. Reads
    // run in their fixed order, so the -rwi read comes before the -rd read.
    const ProcessResult counting = Run({"-wd", "50", "-wdi", "50", "-rwi", "50", "-rd", "50", "-val", "7"});
    EXPECT_TRUE(Contains(counting.err, "ksutest: RegWriteLongInc success!\n"
                                       "ksutest: RegReadShortInc from Adr.80 Byte:0x000E\n"
                                       "ksutest: RegReadDword from Adr.80 Byte:0x0000000F\n"))
        << counting.err;
    const ProcessResult wrap = Run({"-wwi", "60", "-rwi", "60", "-rd", "60", "-val", "1FFFF"});
    EXPECT_TRUE(Contains(wrap.err, "ksutest: RegWriteShortInc success!\n"
                                   "ksutest: RegReadShortInc from Adr.96 Byte:0xFFFF\n"
                                   "ksutest: RegReadDword from Adr.96 Byte:0x00000000\n"))
        << wrap.err;
}

TEST_F(RegisterProcess, WriteOutsideTheRegistersShowsTheLibraryText) {
    const ProcessResult run = Run({"-wd", "400", "-rd", "0", "-val", "1"});
    EXPECT_EQ(0, run.exitCode);
    EXPECT_TRUE(Contains(run.err, "ksutest: Err.RegWriteLong\n"
                                  "ksutest: GetLastError:register address out of range\n"
                                  "ksutest: RegReadDword from Adr.0 Byte:0x4B530300\n"))
        << run.err;
}

TEST_F(RegisterProcess, MotorLinesAndStatusAnswerFromTheScanner) {
    const ProcessResult run = Run({"-stat", "-lines", "-motor", "4", "-wb", "D", "-val", "3"},
                                  "motor.revs_per_query = 1; lines.per_rev = 100");
    EXPECT_EQ(0, run.exitCode);
    EXPECT_TRUE(Contains(run.err, "ksutest: Pentamotor_init success\n"
                                  "ksutest: Anz_ScanLine success Lines:100\n"
                                  "ksutest: scannerStatus:\nLS:           03 \nLED:          0b \n"
                                  "RAMStatus:    00 \nAnzDat:       0 \nRamFIFO:      0 \nLastError:    0\n"))
        << run.err;
}

TEST_F(RegisterProcess, RefusedMotorAndLostCounterAreReported) {
    const ProcessResult run = Run({"-motor", "20000", "-lines"}, "fail.Anz_ScanLine = -703");
    EXPECT_EQ(0, run.exitCode);
    EXPECT_TRUE(Contains(run.err, "ksutest: Error Pentamotor_init!\n"
                                  "ksutest: Error: -701 motor: revolutions out of range\n"
                                  "ksutest: Error Anz_ScanLine, call GetLastError!\n"
                                  "ksutest: Error: -703 scan-line counter not readable\n"))
        << run.err;
}
