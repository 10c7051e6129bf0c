// tests/sim/state_files_posix_test.cc: what the virtual scanner does with what stands at the
// names it is given: EEPROM state files held by another process, links and FIFOs planted
// at their names, and an FPGA file that never ends. POSIX only: it forks and makes FIFOs.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/sim_session.h"
#include "tests/support/temp_files.h"

namespace {

class StateFilesTest : public SimTest {
protected:
    std::string Settings() const { return "eeprom.dir = " + dir.Path(); }

    // A second process that configures the scanner alike and opens it, then either ends at
    // once with Init_Interface's status as its exit code or (hold) keeps it open until killed.
    pid_t OtherProcess(bool hold, int* readyFd = nullptr) {
        int ready[2];
        EXPECT_EQ(0, pipe(ready));
        const pid_t child = fork();
        if (child == 0) {
            SimConfigure(Settings().c_str());
            const int32_t status = Init_Interface();
            if (!hold) _exit(-status);
            (void)!write(ready[1], "x", 1);
            for (;;) pause();
        }
        close(ready[1]);
        if (readyFd != nullptr) {
            *readyFd = ready[0];
        } else {
            close(ready[0]);
        }
        return child;
    }

    static int ExitCode(pid_t child) {
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempDir dir;
};

}  // namespace

TEST_F(StateFilesTest, OneProcessAtATimeHasTheScannerAndAKilledOneLetsGo) {
    Open(Settings());
    EXPECT_EQ(-kErrBusy, ExitCode(OtherProcess(false)));
    ASSERT_EQ(0, Free_Interface());
    EXPECT_EQ(0, ExitCode(OtherProcess(false)));   // freed: the next one gets it

    int ready = -1;
    const pid_t holder = OtherProcess(true, &ready);
    char byte = 0;
    ASSERT_EQ(1, read(ready, &byte, 1));
    close(ready);
    EXPECT_EQ(kErrBusy, Init_Interface());
    EXPECT_EQ(kErrBusy, GetLastKelvoError(1));
    Free_Interface();
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(0, Init_Interface());                 // the killed holder's lock died with it
}

TEST_F(StateFilesTest, LinksAndFifosAtTheStateFileNamesAreNotUsed) {
    const std::string victim = dir.WriteText("victim.txt", "keep me");
    std::filesystem::create_symlink(victim, dir.File("eeprom_a0.bin"));
    ASSERT_EQ(0, mkfifo(dir.File("eeprom_a2.bin").c_str(), 0600));
    Open(Settings());                               // no hang on the FIFO
    uint8_t byte = 0x5A;
    EXPECT_EQ(kErrVerifyWrite, I2C_PROM_write(&byte, 0xA0, 0, 0));
    EXPECT_EQ(kErrVerifyWrite, I2C_PROM_write(&byte, 0xA2, 0, 0));
    EXPECT_EQ("keep me", ReadFileText(victim));
}

// A device that never ends is no FPGA file: refused before a byte of it is read.
TEST_F(StateFilesTest, FpgaFileThatNeverEndsIsRefused) {
    Open("");
    EXPECT_EQ(kErrFpgaFileMissing, Init_Firmware("/dev/zero", 0));
}
