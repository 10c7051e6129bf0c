// Command-line parser against the real option table: formats, returned words, defaults.
#include "driver/option_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/command_line.h"
#include "tests/support/log_capture.h"

namespace {

struct Parsed {
    bool complete;
    std::string stoppedAt;
};

Parsed Parse(std::vector<std::string> words) {
    ResetOptionTargets();
    CommandLine line(std::move(words));
    const char* stop = ParseCommandLine(line.Count(), line.Vector(), kOptionTable);
    return Parsed{stop == nullptr, stop == nullptr ? "" : std::string(stop)};
}

}  // namespace

TEST(ParseCommandLineTest, NoOptionsKeepsEveryDefault) {
    EXPECT_TRUE(Parse({}).complete);
    for (int32_t target : {gReadByteAdr, gWriteValue, gEepromWriteAdr, gDacValue, gMotorRevolutions})
        EXPECT_EQ(-1, target);
    EXPECT_EQ(0, gEepromId);
    EXPECT_EQ(0, gScanFlag);
    EXPECT_EQ('\0', gBootFilename[0]);
}

TEST(ParseCommandLineTest, EachFormatReadsWhatItsConversionReads) {
    struct Case {
        std::vector<std::string> words;
        const int32_t* target;
        int32_t expected;
    } cases[] = {
        {{"-rb", "10"}, &gReadByteAdr, 0x10},
        {{"/rb", "0x10"}, &gReadByteAdr, 0x10},
        {{"-rb", "12xyz"}, &gReadByteAdr, 0x12},
        {{"-rb", "ffffffff"}, &gReadByteAdr, -1},
        {{"-val", "-1"}, &gWriteValue, -1},
        {{"-wre", "10"}, &gEepromWriteAdr, 10},
        {{"-rde", "4294967295"}, &gEepromReadAdr, -1},
        {{"-dao", "-2147483649"}, &gDacValue, 0x7FFFFFFF},   // digits fit: the sign as the conversion applies it
        {{"-val", "-ffffffff"}, &gWriteValue, 1},
        {{"-val", "0x00000000ffffffff"}, &gWriteValue, -1},   // leading zeros add no bits
        {{"-id", "1a2"}, &gEepromId, 0x1A},
        {{"-id", "a2"}, &gEepromId, 0xA2},
        {{"-dao", "-5"}, &gDacValue, -5},
        {{"-tinit", "170"}, &gTempInitValue, 170},
        {{"-motor", "0"}, &gMotorRevolutions, 0},
        {{"-rb", "10", "-rb", "20"}, &gReadByteAdr, 0x20},
        {{"-rb", "10", "-rb", ""}, &gReadByteAdr, 0x10},   // an empty word converts nothing and is passed over
    };
    for (const Case& c : cases) {
        const Parsed parsed = Parse(c.words);
        EXPECT_TRUE(parsed.complete) << c.words[0] << " " << c.words[1];
        EXPECT_EQ(c.expected, *c.target) << c.words[0] << " " << c.words[1];
    }
}

TEST(ParseCommandLineTest, FlagsAreSetAndStaySet) {
    EXPECT_TRUE(Parse({"-scan", "-dumpe", "-scan", "-?", "-stat", "-lines", "-trd", "-adread", "-iictest"}).complete);
    for (int32_t flag : {gScanFlag, gDumpEepromFlag, gHelpFlag, gStatusFlag, gLinesFlag, gTempReadFlag,
                         gAdReadFlag, gIicTestFlag})
        EXPECT_EQ(1, flag);
}

TEST(ParseCommandLineTest, ReturnsTheWordWhereItStopped) {
    const struct {
        std::vector<std::string> words;
        const char* expected;
    } cases[] = {
        {{"rb"}, "rb"},                       // no prefix: the whole word
        {{"-r"}, "r"},                        // no prefix matching
        {{"-rbx"}, "rbx"},
        {{"-RB", "10"}, "RB"},                // case counts
        {{"-"}, ""},
        {{"--rb", "10"}, "-rb"},              // one prefix character only
        {{"-rb"}, "rb"},                      // value missing
        {{"-rb", "xyz"}, "rb"},               // value unreadable: the option's name
        {{"-rb", "-wb"}, "rb"},               // the next word is always the value
        {{"-scan", "bogus", "-rb", "10"}, "bogus"},
        // Digits beyond 32 bits would wrap (4294967396 to 100): refused like an over-long name.
        {{"-dao", "4294967396"}, "dao"},
        {{"-dao", "-4294967296"}, "dao"},
        {{"-rde", "4294967296"}, "rde"},
        {{"-rb", "1ffffffff"}, "rb"},
        {{"-val", "0x100000000"}, "val"},
        {{"-motor", "99999999999999999999999"}, "motor"},
    };
    for (const auto& c : cases) {
        const Parsed parsed = Parse(c.words);
        EXPECT_FALSE(parsed.complete) << c.words[0];
        EXPECT_EQ(c.expected, parsed.stoppedAt) << c.words[0];
    }
}

TEST(ParseCommandLineTest, TargetsStoredBeforeAStopKeepTheirValues) {
    EXPECT_FALSE(Parse({"-rb", "10", "-nope", "-wb", "20"}).complete);
    EXPECT_EQ(0x10, gReadByteAdr);
    EXPECT_EQ(-1, gWriteByteAdr);
}

TEST(ParseCommandLineTest, FileNamesAreTakenWholeAndNeverOverrunTheirBuffers) {
    EXPECT_TRUE(Parse({"-ini", "my file.mcs", "-prg", "  image.iic", "-scanfile", "run 2.bin"}).complete);
    EXPECT_STREQ("my file.mcs", gFpgaFilename);
    EXPECT_STREQ("  image.iic", gBootFilename);
    EXPECT_STREQ("run 2.bin", gScanFilename);

    const std::string longest(kFileNameBytes - 1, 'a');
    EXPECT_TRUE(Parse({"-prg", longest}).complete);
    EXPECT_EQ(longest, gBootFilename);

    const Parsed tooLong = Parse({"-scanfile", std::string(kFileNameBytes, 'b')});
    EXPECT_FALSE(tooLong.complete);
    EXPECT_EQ("scanfile", tooLong.stoppedAt);
    EXPECT_EQ('\0', gScanFilename[0]);
}

TEST(PrintUsageTest, PrintsTheThirtyTwoLinesAsVersionOneOhFour) {
    LogCapture capture;
    PrintUsage();
    const std::string text = capture.Text();
    EXPECT_EQ(0u, text.find("ksutest: PROG_NAME V1.04\nUsage: (param = after command insert a space"));
    EXPECT_EQ(32, std::count(text.begin(), text.end(), '\n'));
    EXPECT_NE(std::string::npos, text.find("\n-prg     -write IIC-file to BOOT-EEPROM param:filename (string) \n"));
    EXPECT_NE(std::string::npos, text.find("\n-trd     -read temperatrue,                  param: none \n"));
    EXPECT_EQ(text.size() - 3, text.find("\n\n\n"));   // ends with two empty lines

    LogCapture silent(0x4);
    PrintUsage();
    EXPECT_EQ("", silent.Text());
}
