// The real tool with the virtual scanner: start-up, bring-up, shutdown and the exit codes,
// run as a user runs it from any folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "tests/support/pty_process.h"
#include "tests/support/temp_files.h"

namespace {

// Standard error up to the actions: the virtual scanner names itself, then the tool's lines.
const std::string kBringUp = VirtualScannerLine() +
    "ksutest: Init_Interface success!\n"
    "ksutest: \nHardwareVersion:            0x0300\nFirmwareVersion:            0x0104\n"
    "DllVersion:                 0x0104\nUSB-DriverVersion:          0x0210!\n\n"
    "\n\n";

class BringUpProcess : public ::testing::Test {
protected:
    ProcessResult Run(std::vector<std::string> args, std::vector<std::string> env = {}) {
        return RunToTheEnd(ToolRun{std::move(args), std::move(env), dir.Path(), ""});
    }
    TempDir dir;
};

}  // namespace

TEST_F(BringUpProcess, NoOptionsPrintsTheTranscriptAndLeavesAnEmptyLog) {
    const ProcessResult run = Run({});
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ("kelvotest\n", run.out);
    EXPECT_EQ(kBringUp + "\n", run.err);
    EXPECT_TRUE(FileExists(dir.File("kelvotest.log")));
    EXPECT_EQ("", ReadFileText(dir.File("kelvotest.log")));
}

TEST_F(BringUpProcess, HelpAndCommandLineErrorsEndWithOne) {
    ProcessResult run = Run({"-?"});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ(0u, run.err.find("ksutest: PROG_NAME V1.04\n"));
    EXPECT_EQ(32, std::count(run.err.begin(), run.err.end(), '\n'));

    run = Run({"-rb", "10", "-frobnicate"});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ(0u, run.err.find("ksutest: Error in command line parameter frobnicate\n\nksutest: PROG_NAME"));
    EXPECT_EQ(std::string::npos, run.err.find("Init_Interface"));
}

TEST_F(BringUpProcess, MissingOrCorruptFpgaFileSkipsTheActions) {
    ProcessResult run = Run({"-ini", "nothere.mcs"});
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ(kBringUp + "ksutest: Err. Init_Firmware\n\n", run.err);

    dir.WriteText("bad.mcs", ":10000000FFFFFFFFAA995566000102030405060737\n:00000001FF\n");
    run = Run({"-ini", "bad.mcs"});
    EXPECT_EQ(kBringUp + "ksutest: Err. Init_Firmware\n\n", run.err);

    run = Run({}, {"KELVOSIM=fail.Init_Firmware = -205"});
    EXPECT_EQ(kBringUp + "ksutest: Err. Init_Firmware:-205\n\n", run.err);
}

// A folder or a FIFO at the FPGA file's name is no FPGA file: refused at once (-201), never
// read (a folder aborted the run) or waited on (a FIFO without a writer hung it). Only a
// regular scanner3.mcs in the working folder stands in for the one beside the library. The
// generator does not write into a FIFO either (its open would wait for a reader).
TEST_F(BringUpProcess, FpgaFileThatIsNoFileIsRefusedAtOnce) {
    ASSERT_EQ(0, mkfifo(dir.File("fifo.mcs").c_str(), 0600));
    const ProcessResult made = RunToTheEnd(ToolRun{{"fifo.mcs"}, {}, dir.Path(), MakeFpgaImagePath()}, 5000);
    EXPECT_EQ(1, made.exitCode);
    EXPECT_EQ("fifo.mcs: not a regular file\n", made.err);
    for (const char* name : {".", "fifo.mcs"}) {
        const ProcessResult run = RunToTheEnd(ToolRun{{"-ini", name, "-rb", "0"}, {}, dir.Path(), ""}, 5000);
        EXPECT_EQ(0, run.exitCode) << name;
        EXPECT_EQ(kBringUp + "ksutest: Err. Init_Firmware\n\n", run.err) << name;
    }
    ASSERT_EQ(0, mkdir(dir.File("scanner3.mcs").c_str(), 0700));
    const ProcessResult run = RunToTheEnd(ToolRun{{"-rb", "0"}, {}, dir.Path(), ""}, 5000);
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ(kBringUp + "ksutest: RegRead from Adr.0 Byte:0x00\n\n", run.err);
}

TEST_F(BringUpProcess, ScenarioFileDrivesVersionsAndFailures) {
    const std::string scenario =
        dir.WriteText("scenario.txt", "# a scanner with a mismatched library\nversion.library = 0x0102\n"
                                      "version.firmware = 0x0103\nfail.Free_Interface = -301\n");
    const ProcessResult run = Run({}, {"KELVOSIM_SCENARIO=" + scenario});
    EXPECT_EQ(2, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find("ksutest: Version Error: DllVerison != FirmwareVerison"));
    EXPECT_NE(std::string::npos, run.err.find("ksutest: Error Free_interface!\n"
                                              "ksutest: Error occured during test: -301!\n"));
}

TEST_F(BringUpProcess, FailedOpenIsReportedWithTheLibraryText) {
    const ProcessResult run = Run({}, {"KELVOSIM=fail.Init_Interface = -103"});
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ(VirtualScannerLine() + "ksutest: Err. Init_Interface!\nksutest: Error: -103 no scanner found on the USB bus\n\n",
              run.err);
}

// LD_LIBRARY_PATH points the tool at another build of the same interface: the run-path set at
// link time must not take precedence. The other build here accepts any FPGA file.
TEST_F(BringUpProcess, AnotherDeviceLibraryIsTakenFromTheLibraryPath) {
    ProcessResult run = Run({"-ini", "nothere.mcs"}, {"LD_LIBRARY_PATH=" + std::string(KELVO_SWAP_LIBRARY_DIR)});
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ(std::string::npos, run.err.find("Err. Init_Firmware"));
}

// Whatever stands at the log file's name other than a regular file is a log file that cannot
// be created: a link is not followed (its target keeps its contents), a FIFO is not waited on.
TEST_F(BringUpProcess, LogFileIsNeverOpenedThroughALinkOrAFifo) {
    TempDir outside;
    const std::string target = outside.WriteText("precious.txt", "keep me\n");
    ASSERT_EQ(0, symlink(target.c_str(), dir.File("kelvotest.log").c_str()));
    ProcessResult run = Run({});
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ(kBringUp + "\n", run.err);
    EXPECT_EQ("keep me\n", ReadFileText(target));

    ASSERT_EQ(0, unlink(dir.File("kelvotest.log").c_str()));
    ASSERT_EQ(0, mkfifo(dir.File("kelvotest.log").c_str(), 0600));
    run = RunToTheEnd(ToolRun{{}, {}, dir.Path(), ""}, 10000);
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ(kBringUp + "\n", run.err);
}
