// The FAILURES section of kelvotest(1) against real runs with the virtual scanner: each line
// the page tells a script to grep for is named there byte for byte, shows up in a run with
// that failure, and stays away from a healthy run.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ostream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/pty_process.h"
#include "tests/support/temp_files.h"

namespace {

struct FailureLine {
    const char* name;
    std::string text;                 // as the page names it, for grep -F (or grep -E)
    bool extended;                    // the page gives it as a grep -E pattern
    std::vector<std::string> args;
    std::string scenario;             // KELVOSIM
    bool endless;                     // a key loop: ended with Ctrl-C once the line is there
};

// Test names and failure messages show the case's name, not the bytes of the struct.
void PrintTo(const FailureLine& line, std::ostream* out) { *out << line.name; }

const char kSlowStream[] = "stream.rate = 2000000; ";

const FailureLine kFailureLines[] = {
    {"OpenFails", "ksutest: Err. Init_Interface!", false, {}, "fail.Init_Interface = -103", false},
    {"VersionsUnreadable", "ksutest: Err.GetKelvoVersion!", false, {}, "fail.GetKelvoVersion = -301", false},
    {"FpgaFileFails", "ksutest: Err. Init_Firmware", false, {"-ini", "nothere.mcs"}, "", false},
    {"BootProgrammingFails", "ksutest: Err. gBootFilename", false, {"-prg", "nothere.iic"}, "", false},
    {"VerifyFails", "ksutest: Error: -300 ", false, {"-prg", "image.iic"}, "eeprom.a2.read_flip = 20", false},
    {"ImageUnopenable", "ksutest: Error: -400 ", false, {"-prg", "nothere.iic"}, "", false},
    {"ImageEmpty", "ksutest: Error: -401 ", false, {"-prg", "empty.iic"}, "", false},
    {"BlockReadFails", "Error BlockRead:", false, {"-scan"}, std::string(kSlowStream) + "fail.ReadBlock = -301 at 5", true},
    {"PatternBroken", "First ErrPosition:", false, {"-scan"}, std::string(kSlowStream) + "stream.corrupt = at 300000", true},
    {"PatternErrorsCounted", "Errors: [1-9]", true, {"-scan"}, std::string(kSlowStream) + "stream.corrupt = at 300000", true},
    {"ScanFileUnwritable", "Error FileWrite!", false, {"-scanfile", "/dev/full"}, kSlowStream, true},
    {"ScanFileUnopenable", "Cannot open scannerfile", false, {"-scanfile", "no/dir/out.bin"}, kSlowStream, true},
    {"EepromNoAnswer", "ksutest: Error: -6", false, {"-rde", "5", "-id", "a0"}, "eeprom.a0.nak = 1", false},
    {"SensorInitFails", "ksutest: Error I2C_TEMPinit!", false, {"-tinit", "170"}, "temp.fail = 1", false},
    {"SensorReadFails", "ksutest: Error I2C_TEMPread", false, {"-trd"}, "temp.fail = 1", false},
    {"RailSags", "ksutest: Error I2C_ADCread from channel 1!", false, {"-iictest"}, "adc.ch1 = 2.9", true},
    {"MotorStalls", "ksutest: Error Pentamotor_init!", false, {"-motor", "3"}, "motor.stall = 1", false},
    {"LinesUnreadable", "ksutest: Error Anz_ScanLine", false, {"-lines"}, "fail.Anz_ScanLine = -703", false},
    {"RegisterWriteFails", "ksutest: Err.RegWrite", false, {"-wb", "0", "-val", "1"}, "", false},
    {"CloseFails", "ksutest: Error Free_interface!", false, {}, "fail.Free_Interface = -301", false},
};

// The page's FAILURES section as a reader sees it: roff's escaped hyphens made plain.
std::string FailuresSection() {
    std::string page = ReadFileText(KELVO_MAN_PAGE);
    for (size_t at = page.find("\\-"); at != std::string::npos; at = page.find("\\-", at)) page.erase(at, 1);
    const size_t begin = page.find("\n.SH FAILURES\n");
    if (begin == std::string::npos) return "";
    return page.substr(begin, page.find("\n.SH ", begin + 1) - begin);
}

// Reads what the child wrote meanwhile.
void PumpFor100Ms(ChildProcess& tool) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    tool.Occurrences("\n");
}

bool Shows(const std::string& transcript, const FailureLine& line) {
    if (line.extended) return std::regex_search(transcript, std::regex(line.text, std::regex::extended));
    return transcript.find(line.text) != std::string::npos;
}

class FailureLines : public ::testing::TestWithParam<FailureLine> {
protected:
    FailureLines() {
        dir.Write("image.iic", DistinctBytes(1000));
        dir.Write("empty.iic", {});
    }
    ToolRun Run(const FailureLine& line) const {
        return ToolRun{line.args, {"KELVOSIM=" + line.scenario}, dir.Path(), ""};
    }
    TempDir dir;
};

}  // namespace

TEST_P(FailureLines, ArePrintedInThatFailureAndNamedOnThePage) {
    const FailureLine& line = GetParam();
    EXPECT_NE(std::string::npos, FailuresSection().find(line.text)) << "not on the page: " << line.text;
    std::string transcript;
    if (line.endless) {
        ChildProcess tool = ChildProcess::StartWithPipes(Run(line));
        for (int waited = 0; waited < 200 && !Shows(tool.Err(), line); ++waited) PumpFor100Ms(tool);
        tool.Signal(SIGINT);
        tool.WaitForExit(10000);
        transcript = tool.Err();
    } else {
        transcript = RunToTheEnd(Run(line)).err;
    }
    EXPECT_TRUE(Shows(transcript, line)) << transcript;
}

INSTANTIATE_TEST_SUITE_P(ManPage, FailureLines, ::testing::ValuesIn(kFailureLines),
                         [](const ::testing::TestParamInfo<FailureLine>& param) { return param.param.name; });

// Every action a healthy scanner passes, and the streaming test: none of the lines shows.
TEST(ManPageFailureLines, StayAwayFromAHealthyRun) {
    TempDir dir;
    dir.Write("image.iic", DistinctBytes(1000));
    const ProcessResult run = RunToTheEnd(ToolRun{
        {"-prg", "image.iic", "-wb", "14", "-val", "1", "-rb", "14", "-wre", "5", "-rde", "5", "-id", "a0",
         "-dumpe", "-dao", "10", "-adread", "-tinit", "170", "-trd", "-motor", "1", "-lines", "-stat"},
        {}, dir.Path(), ""});
    ChildProcess stream = ChildProcess::StartWithPipes(
        ToolRun{{"-scanfile", "out.bin"}, {std::string("KELVOSIM=") + kSlowStream}, dir.Path(), ""});
    for (int waited = 0; waited < 200 && stream.Occurrences("Errors: ") < 2; ++waited) PumpFor100Ms(stream);
    stream.Signal(SIGINT);
    EXPECT_EQ(0, stream.WaitForExit(10000));
    for (const FailureLine& line : kFailureLines) {
        EXPECT_FALSE(Shows(run.err, line)) << line.text << " in\n" << run.err;
        EXPECT_FALSE(Shows(stream.Err(), line)) << line.text << " in\n" << stream.Err();
    }
    EXPECT_EQ(0, run.exitCode);
}

// Each page as man renders it for a reader: no warnings, and the prose keeps its spaces. An
// alternating-font request (.BR usb3 ); words ...) joins all its words without blanks, so a
// sentence handed to one renders as one long word, which man --warnings does not notice.
TEST(ManPages, RenderWithoutWarningsAndWithTheSpacesOfTheirProse) {
    if (std::string(KELVO_MAN_COMMAND).empty()) GTEST_SKIP() << "man is not installed";
    const std::regex runTogether("[a-z]{20,}");
    for (const char* page : {"kelvotest.1", "kelvotest-virtual.1", "kelvotest-record.1", "kelvotrace.1"}) {
        const ProcessResult run = RunToTheEnd(ToolRun{{"--warnings", "-l", std::string(KELVO_DOC_DIR) + "/" + page},
                                                      {"MANWIDTH=300"}, "", KELVO_MAN_COMMAND});
        EXPECT_EQ(0, run.exitCode) << page;
        EXPECT_EQ("", run.err) << page;
        std::string text = std::regex_replace(run.out, std::regex("[ \n]+"), " ");
        std::smatch word;
        EXPECT_FALSE(std::regex_search(text, word, runTogether)) << page << ": " << word.str();
        if (std::string(page) == "kelvotest-virtual.1") {
            EXPECT_NE(std::string::npos, text.find("at usb3); words that do not fit are lost while the counter runs on,"));
        }
    }
}
