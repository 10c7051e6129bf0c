// tests/sim/scenario_test.cc: the scenario is a test setup, so a setting the virtual scanner
// cannot honour exactly is reported with its place and the scanner refuses to start.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/support/sim_session.h"

namespace {

class ScenarioTest : public SimTest {
protected:
    // Init_Interface's status, and what the scanner said on standard error.
    int32_t Start(const std::string& settings, std::string* said) {
        testing::internal::CaptureStderr();
        SimConfigure(settings.c_str());
        const int32_t status = Init_Interface();
        *said = testing::internal::GetCapturedStderr();
        return status;
    }
};

}  // namespace

TEST_F(ScenarioTest, EverySettingThatCannotBeHonouredStopsTheScanner) {
    const std::string kLongLine = std::string(5000, ' ') + "adc.noise = 0";
    const struct { const char* settings; const char* message; } cases[] = {
        {"versoin.library = 0x0104", "kelvosim: unknown setting 'versoin.library' (line 1 of the settings)\n"},
        {"fail.PentaMotor_init = -701", "unknown setting 'fail.PentaMotor_init'"},
        {"fail.GetLastKelvoError = -301", "unknown setting 'fail.GetLastKelvoError'"},
        {"fail.RegRead = abc", "'fail.RegRead = abc' cannot be honoured: the code"},
        {"fail.RegRead = 0", "'fail.RegRead = 0' cannot be honoured"},
        {"fail.RegRead = -301 at 0", "calls count from 1"},
        {"fail.RegRead = -301 at -5", "calls count from 1"},
        {"fail.RegRead = -301 every 0", "calls count from 1"},
        {"fail.RegRead = -301 at", "must be '<code>' or '<code> at|from|every <call>'"},
        {"fail.RegRead = -301 sometimes 3", "unknown mode 'sometimes'"},
        {"fail.RegRead = 4294967296", "the code must be a 32-bit whole number"},
        {"fail.RegRead = -301 at 99999999999999999999", "calls count from 1"},
        {"version.library = 0x10104", "from 0 to 65535"},
        {"stream.rate = inf", "'stream.rate = inf' cannot be honoured"},
        {"stream.rate = 1e300", "'stream.rate = 1e300'"},
        {"stream.rate = 0", "'stream.rate = 0'"},
        {"stream.rate = -5", "'stream.rate = -5'"},
        {"stream.rate = usb4", "'stream.rate = usb4'"},
        {"stream.fifo = 1", "'stream.fifo = 1'"},
        {"stream.drop = at", "'stream.drop = at'"},
        {"stream.drop = 3 every 0", "the word interval must be"},
        {"stream.corrupt = 0 at 5", "the word count must be"},
        {"adc.noise = 2147483647", "'adc.noise = 2147483647' cannot be honoured: must be a whole number from 0 to 255"},
        {"adc.ch1 = nan", "'adc.ch1 = nan'"},
        {"adc.ch1 = 3.3V", "'adc.ch1 = 3.3V'"},
        {"motor.stall = yes", "'motor.stall = yes'"},
        {"lines.bytes = 0", "'lines.bytes = 0'"},
        {"eeprom.dir =", "setting 'eeprom.dir' has no value"},
        {"adc.noise 0", "'adc.noise 0' is not a setting (key = value)"},
        {"= 5", "'= 5' is not a setting"},
        {"# a comment; adc.noise = 0\nadc.noise = 0 # fine\n\nversoin.library = 1",
         "unknown setting 'versoin.library' (line 4 of the settings)"},
        {"adc.noise = 0;\x01", "not text: control characters (line 1 of the settings)"},
        {kLongLine.c_str(), "line longer than 4096 characters"},
    };
    for (const auto& c : cases) {
        std::string said;
        EXPECT_EQ(kErrScenario, Start(c.settings, &said)) << c.settings;
        EXPECT_NE(std::string::npos, said.find(c.message)) << c.settings << "\nsaid: " << said;
        EXPECT_EQ(0u, said.find("kelvosim: ")) << said;
        EXPECT_EQ(kErrScenario, GetLastKelvoError(1));
        uint16_t v[4];
        EXPECT_EQ(kErrNotOpen, GetKelvoVersion(&v[0], &v[1], &v[2], &v[3]));   // nothing runs
    }
    char text[1024];
    ASSERT_EQ(0, GetKelvoErrorText(kErrScenario, text, sizeof text));
    EXPECT_STREQ("scenario error: a setting cannot be honoured (see standard error)", text);
}

TEST_F(ScenarioTest, GoodSettingsStartWithTheScannersOwnLineOnlyAndLaterOnesWin) {
    std::string said;
    EXPECT_EQ(0, Start("version.library = 0x0102 # old\nversion.library = 0X0103; adc.ch1 = -2.5e0;"
                       " fail.RegRead = -0x12D every 2; stream.rate = usb3; stream.drop = 3 at 0",
                       &said));
    // Only the line with which the virtual scanner names itself, and that once per run.
    EXPECT_TRUE(std::regex_match(said, std::regex(R"(kelvosim: virtual scanner, not hardware \(library .*kelvoscanusb[^/\\]*\)\r?\n)")))
        << said;
    uint16_t hardware, firmware, library, usb;
    ASSERT_EQ(0, GetKelvoVersion(&hardware, &firmware, &library, &usb));
    EXPECT_EQ(0x0103, library);
    ASSERT_EQ(0, Free_Interface());
    testing::internal::CaptureStderr();
    EXPECT_EQ(0, Init_Interface());
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

// A line may hold 4096 characters, its end not counted; one more is refused.
TEST_F(ScenarioTest, LineOfTheLimitIsAcceptedAndOneMoreRefused) {
    const std::string setting = "adc.noise = 0";
    const std::string longest = setting + std::string(4096 - setting.size(), ' ') + "\nadc.seed = 2";
    std::string said;
    EXPECT_EQ(0, Start(longest, &said)) << said;
    Free_Interface();
    EXPECT_EQ(kErrScenario, Start(setting + std::string(4097 - setting.size(), ' '), &said));
    EXPECT_NE(std::string::npos, said.find("kelvosim: line longer than 4096 characters (line 1 of the settings)\n")) << said;
}

TEST_F(ScenarioTest, ManyMistakesAreReportedButNotWithoutEnd) {
    std::string settings;
    for (int i = 0; i < 1000; ++i) settings += "nonsense = 1\n";
    std::string said;
    EXPECT_EQ(kErrScenario, Start(settings, &said));
    EXPECT_NE(std::string::npos, said.find("(line 20 of the settings)"));
    EXPECT_EQ(std::string::npos, said.find("(line 21 of the settings)"));
    EXPECT_NE(std::string::npos, said.find("kelvosim: more errors not shown\n"));
}
