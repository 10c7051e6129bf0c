// A scenario the virtual scanner cannot honour, as a user meets it: the scanner says why on
// standard error, the tool reports its failed bring-up and runs nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/pty_process.h"
#include "tests/support/temp_files.h"

TEST(ScenarioProcess, MistakesInTheScenarioStopTheRunBeforeAnyAction) {
    TempDir dir;
    dir.WriteText("binary.txt", std::string("adc.noise = 0\n\x7f\x45\x4c\x46\x02\x01", 20));
    const struct { std::vector<std::string> env; std::string said; } cases[] = {
        {{"KELVOSIM=adc.noise = 0\nversoin.library = 0x0104"},
         "kelvosim: unknown setting 'versoin.library' (line 2 of KELVOSIM)\n"},
        {{"KELVOSIM_SCENARIO=/dev/zero"}, "kelvosim: scenario file '/dev/zero' is larger than 1048576 bytes\n"},
        {{"KELVOSIM_SCENARIO=" + dir.Path()}, "kelvosim: cannot read scenario file '" + dir.Path() + "': "},
        {{"KELVOSIM_SCENARIO=" + dir.File("missing")}, "kelvosim: cannot read scenario file '"},
        {{"KELVOSIM_SCENARIO=" + dir.File("binary.txt")}, "kelvosim: not text: control characters (line 2 of "},
    };
    for (const auto& c : cases) {
        const ProcessResult run = RunToTheEnd(ToolRun{{"-rb", "10", "-stat"}, c.env, dir.Path(), ""});
        EXPECT_EQ(0u, run.err.find(c.said)) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("\nksutest: Err. Init_Interface!\n")) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("-105")) << run.err;
        EXPECT_EQ(std::string::npos, run.err.find("RegRead")) << run.err;
        EXPECT_EQ(std::string::npos, run.err.find("Init_Firmware")) << run.err;
        EXPECT_EQ(0, run.exitCode);   // the interface still closes cleanly
    }
}
