// The real tool writing and reading the virtual scanner's registers, as a user runs it.
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
    // -wdi adds to the register, -rwi reads it and then counts it up; reads follow the writes.
    const ProcessResult run =
        Run({"-rd", "50", "-rwi", "50", "-rw", "40", "-rb", "30", "-wdi", "50", "-wd", "50", "-ww", "40",
             "-wb", "30", "-val", "1A5"});
    EXPECT_TRUE(Contains(run.err, "ksutest: RegWriteLongInc success!\n"
                                  "ksutest: RegRead from Adr.48 Byte:0xA5\n"
                                  "ksutest: RegReadShort from Adr.64 Byte:0x01A5\n"
                                  "ksutest: RegReadShortInc from Adr.80 Byte:0x034A\n"
                                  "ksutest: RegReadDword from Adr.80 Byte:0x0000034B\n"))
        << run.err;
}

TEST_F(RegisterProcess, WriteOutsideTheRegistersShowsTheLibraryText) {
    const ProcessResult run = Run({"-wd", "400", "-rd", "0", "-val", "1"});
    EXPECT_EQ(0, run.exitCode);
    EXPECT_TRUE(Contains(run.err, "ksutest: Err.RegWriteLong\n"
                                  "ksutest: GetLastError:register address out of range\n"
                                  "ksutest: RegReadDword from Adr.0 Byte:0x4B530300\n"))
        << run.err;
}
