// tests/plan/plan_unit_test.cc: the transcript parser against real transcripts of the tool
// (tests/plan/transcripts/, each made by kelvotest against the virtual scanner with the
// scenario in its name), the plan file's errors, the checks, and the reports.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>

#include "plan/checks.h"
#include "plan/plan_file.h"
#include "plan/reports.h"
#include "plan/transcript.h"
#include "plan/utf8_text.h"
#include "tests/plan/ocp_validator.h"

namespace {

using namespace plan;

std::string ReadTranscriptFile(const std::string& name) {
    std::ifstream file(std::string(KELVO_PLAN_TRANSCRIPTS) + "/" + name, std::ios::binary);
    EXPECT_TRUE(file.good()) << name;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

Transcript Parse(const std::string& name, const std::vector<std::string>& args = {}) {
    return ParseTranscript(ReadTranscriptFile(name), ParseToolArgs(args));
}

Value Get(const Transcript& t, const std::string& name) {
    const Measurement* m = t.Find(name);
    EXPECT_NE(nullptr, m) << name;
    return m ? m->value : Value{std::string("missing")};
}

// A transcript of a tool that brought the scanner up and then printed `lines`.
std::string BroughtUp(const std::string& lines) {
    return "ksutest: Init_Interface success!\nksutest: \nHardwareVersion:            0x0300\n"
           "FirmwareVersion:            0x0104\nDllVersion:                 0x0104\n"
           "USB-DriverVersion:          0x0210!\n\n" + lines;
}

// ---- parser -----------------------------------------------------------------------------

TEST(TranscriptParser, RailsAndTemperature) {
    const Transcript t = Parse("rails.txt", {"-adread", "-trd"});
    EXPECT_TRUE(t.bringUpComplete);
    EXPECT_EQ(Value{int64_t{0x0300}}, Get(t, "versions.hardware"));
    EXPECT_EQ(Value{int64_t{0x0104}}, Get(t, "versions.firmware"));
    EXPECT_EQ(Value{int64_t{0x0104}}, Get(t, "versions.library"));
    EXPECT_EQ(Value{int64_t{0x0210}}, Get(t, "versions.usb_driver"));
    EXPECT_EQ(Value{true}, Get(t, "versions.match"));
    EXPECT_EQ(Value{true}, Get(t, "fpga.loaded"));
    EXPECT_NEAR(3.3201, NumberOf(Get(t, "adc.3v3")), 0.03);
    EXPECT_NEAR(5.0, NumberOf(Get(t, "adc.5v")), 0.05);
    EXPECT_NEAR(24.05, NumberOf(Get(t, "adc.24v")), 0.2);
    EXPECT_EQ(Value{int64_t{25}}, Get(t, "temp.raw"));
    EXPECT_EQ("V", t.Find("adc.3v3")->unit);
    EXPECT_EQ(0u, t.errorCount);
    EXPECT_EQ(Value{int64_t{0}}, Get(t, "errors.count"));
}

TEST(TranscriptParser, RailLow) {
    const Transcript t = Parse("rail_low.txt", {"-adread"});
    EXPECT_NEAR(2.90997, NumberOf(Get(t, "adc.3v3")), 1e-6);
    EXPECT_EQ(0u, t.errorCount);   // -adread compares nothing: the plan's limits do
}

TEST(TranscriptParser, RegistersNamedByTheirHexAddress) {
    const Transcript t = Parse("registers.txt", {"-wd", "20", "-val", "12345678", "-rd", "20", "-wb", "10", "-rb", "10",
                                                 "-ww", "30", "-rw", "30", "-wwi", "40", "-rwi", "40", "-wdi", "50", "-rdi", "50"});
    EXPECT_EQ(Value{int64_t{0x12345678}}, Get(t, "reg.rd.0x20"));
    EXPECT_EQ(Value{int64_t{0x5678}}, Get(t, "reg.rw.0x30"));
    EXPECT_EQ(Value{int64_t{0x5678}}, Get(t, "reg.rwi.0x40"));
    EXPECT_EQ(Value{int64_t{0x12345678}}, Get(t, "reg.rdi.0x50"));
    EXPECT_EQ(Value{int64_t{0}}, Get(t, "reg.rb.0x10"));   // the command register reads 0
    for (const char* name : {"reg.wb.0x10", "reg.ww.0x30", "reg.wwi.0x40", "reg.wd.0x20", "reg.wdi.0x50"}) {
        EXPECT_EQ(Value{true}, Get(t, name)) << name;
    }
}

TEST(TranscriptParser, WritesWithoutTheCommandLineHaveNoAddress) {
    const Transcript t = Parse("registers.txt");
    EXPECT_EQ(Value{true}, Get(t, "reg.wd"));
    EXPECT_EQ(Value{int64_t{0x12345678}}, Get(t, "reg.rd.0x20"));   // reads print their address
}

TEST(TranscriptParser, FailedLongWritesAreToldApartByOrder) {
    const Transcript t = Parse("write_failure.txt", {"-wd", "20", "-wdi", "24", "-val", "1"});
    EXPECT_EQ(Value{false}, Get(t, "reg.wd.0x20"));
    EXPECT_EQ(Value{true}, Get(t, "reg.wdi.0x24"));
    ASSERT_EQ(1u, t.errors.size());
    EXPECT_NE(std::string::npos, t.errors[0].text.find("USB transfer error"));
}

TEST(TranscriptParser, EepromByteWriteAndDump) {
    const Transcript t = Parse("eeprom.txt", {"-wre", "5", "-val", "5a", "-rde", "5", "-id", "a0", "-dumpe"});
    EXPECT_EQ(Value{true}, Get(t, "eeprom.a0.5.written"));
    EXPECT_EQ(Value{int64_t{0x5a}}, Get(t, "eeprom.a0.5"));
    const std::string dump = std::get<std::string>(Get(t, "eeprom.a0.dump"));
    ASSERT_EQ(512u, dump.size());
    EXPECT_EQ("ffffffffff5aff", dump.substr(0, 14));
}

TEST(TranscriptParser, MotorStatusDacAndSensor) {
    const Transcript t = Parse("motor_status.txt", {"-dao", "100", "-tinit", "170", "-motor", "3", "-lines", "-stat"});
    EXPECT_NEAR(488.3, NumberOf(Get(t, "dac.set")), 1e-9);
    EXPECT_EQ(Value{true}, Get(t, "temp.init"));
    EXPECT_EQ(Value{true}, Get(t, "motor.started"));
    EXPECT_EQ(Value{int64_t{0}}, Get(t, "lines.count"));
    EXPECT_EQ(Value{int64_t{0x0b}}, Get(t, "status.led"));
    EXPECT_EQ(Value{int64_t{0}}, Get(t, "status.last_error"));
    for (const char* name : {"status.ls", "status.ram", "status.count", "status.fifo"}) EXPECT_NE(nullptr, t.Find(name)) << name;
}

TEST(TranscriptParser, DeviceErrorsWithCodeAndText) {
    const Transcript t = Parse("failures.txt", {"-trd", "-rde", "5", "-id", "a0", "-motor", "3", "-lines"});
    EXPECT_TRUE(t.bringUpComplete);
    ASSERT_EQ(4u, t.errors.size());
    EXPECT_EQ(-601, t.errors[0].code.value_or(0));
    EXPECT_EQ("I2C: no acknowledge from device", t.errors[0].text);
    EXPECT_NE(std::string::npos, t.errors[1].text.find("temperature"));
    EXPECT_EQ(-702, t.errors[2].code.value_or(0));
    EXPECT_EQ(-703, t.errors[3].code.value_or(0));
    EXPECT_EQ(Value{false}, Get(t, "motor.started"));
    EXPECT_EQ(nullptr, t.Find("temp.raw"));     // the failure value is no reading
    EXPECT_EQ(nullptr, t.Find("lines.count"));
    EXPECT_EQ(nullptr, t.Find("eeprom.a0.5"));
}

TEST(TranscriptParser, BringUpFailures) {
    const Transcript none = Parse("no_scanner.txt", {"-adread"});
    EXPECT_FALSE(none.interfaceOpened);
    EXPECT_FALSE(none.bringUpComplete);
    ASSERT_EQ(1u, none.errors.size());
    EXPECT_EQ(-103, none.errors[0].code.value_or(0));

    const Transcript fpga = Parse("fpga_failure.txt", {"-ini", "nothere.mcs", "-rb", "10"});
    EXPECT_FALSE(fpga.bringUpComplete);
    EXPECT_EQ(Value{false}, Get(fpga, "fpga.loaded"));

    const Transcript boot = Parse("boot_missing.txt", {"-prg", "nothere.iic"});
    EXPECT_FALSE(boot.bringUpComplete);
    EXPECT_EQ(Value{false}, Get(boot, "boot.programmed"));
    ASSERT_GE(boot.errors.size(), 1u);
    EXPECT_EQ(-400, boot.errors[0].code.value_or(0));
    EXPECT_NE(std::string::npos, boot.errors[0].text.find("nothere.iic"));

    const Transcript mismatch = Parse("version_mismatch.txt");
    EXPECT_TRUE(mismatch.bringUpComplete);
    EXPECT_EQ(Value{false}, Get(mismatch, "versions.match"));
    EXPECT_EQ(Value{int64_t{0x0102}}, Get(mismatch, "versions.library"));
}

TEST(TranscriptParser, StreamReportsAndFirstError) {
    const Transcript t = Parse("stream_error.txt", {"-scanfile", "s.bin"});
    EXPECT_TRUE(t.streamStarted);
    ASSERT_GE(t.throughput.size(), 3u);
    EXPECT_EQ(Value{int64_t{1}}, Get(t, "stream.errors"));
    EXPECT_EQ(Value{int64_t{0x927c0}}, Get(t, "stream.first_error_position"));
    EXPECT_EQ(Value{int64_t{0x6c1f}}, Get(t, "stream.first_error_value"));
    EXPECT_EQ("B/s", t.Find("stream.rate")->unit);
    EXPECT_EQ(static_cast<int64_t>(t.throughput.back().bytes), std::get<int64_t>(Get(t, "stream.bytes")));
    EXPECT_TRUE(t.throughput[0].firstErrorPosition.has_value());
    for (size_t i = 1; i < t.throughput.size(); ++i) EXPECT_GT(t.throughput[i].seconds, t.throughput[i - 1].seconds);
    EXPECT_NEAR(1.0, t.throughput[0].seconds, 0.5);
}

// The reports of a steady stream whose reports come `pace` seconds apart, as the tool prints
// them: the bytes so far and their average over the whole seconds since the start.
std::string SteadyStream(double bytesPerSecond, double pace, int reports) {
    std::string text = BroughtUp("ReadBlock from Scanner without File!\n");
    for (int k = 1; k <= reports; ++k) {
        const auto bytes = static_cast<unsigned long long>(bytesPerSecond * pace * k);
        const auto whole = static_cast<unsigned long long>(pace * k);
        text += "ksutest: Total bytes transferred: " + std::to_string(bytes) + ", Data Rate: " + std::to_string(bytes / whole) +
                ", Errors: 0\n";
    }
    return text;
}

// Whole seconds would make a steady stream dip and peak where its pace crosses a second.
TEST(TranscriptParser, ASteadyStreamHasSteadyIntervalRates) {
    for (const double pace : {1.004, 1.06, 1.3}) {
        const Transcript t = ParseTranscript(SteadyStream(40e6, pace, 25), ParseToolArgs({"-scan"}));
        ASSERT_EQ(25u, t.throughput.size());
        for (const ThroughputReport& r : t.throughput) {
            EXPECT_NEAR(40e6, r.intervalRate, 40e6 * 0.01) << "pace " << pace << ", line " << r.line;
        }
        EXPECT_NEAR(25 * pace, t.throughput.back().seconds, 1.0) << pace;
    }
}

TEST(TranscriptParser, StressLoopCountsAndErrors) {
    const Transcript t = Parse("iictest_low.txt", {"-iictest"});
    EXPECT_EQ(Value{int64_t{7032}}, Get(t, "iic.reads"));
    EXPECT_EQ(Value{int64_t{2344}}, Get(t, "iic.errors"));
    EXPECT_GT(t.errorCount, 0u);
    EXPECT_NE(std::string::npos, t.errors[0].text.find("3.3 V rail"));
}

TEST(TranscriptParser, KeepsAtMostTheFirstErrorsAndCountsAll) {
    std::string text = "ksutest: Init_Interface success!\n";
    for (int i = 0; i < 1000; ++i) text += "Error BlockRead:-301\n";
    const Transcript t = ParseTranscript(text);
    EXPECT_EQ(1000u, t.errorCount);
    EXPECT_EQ(Transcript::kMaxErrorsKept, t.errors.size());
}

TEST(TranscriptParser, KnownNames) {
    char kind = 0;
    EXPECT_TRUE(IsKnownMeasurement("adc.3v3", &kind));
    EXPECT_EQ('n', kind);
    EXPECT_TRUE(IsKnownMeasurement("reg.wd.0x20", &kind));
    EXPECT_EQ('b', kind);
    EXPECT_TRUE(IsKnownMeasurement("eeprom.a2.dump", &kind));
    EXPECT_EQ('s', kind);
    EXPECT_FALSE(IsKnownMeasurement("adc.3V3"));
    EXPECT_FALSE(IsKnownMeasurement("stream.speed"));
}

// ---- plan file --------------------------------------------------------------------------

std::string PlanErrorOf(const std::string& text) {
    PlanFile plan;
    std::string error;
    return ParsePlan(text, "p.toml", &plan, &error) ? "" : error;
}

PlanFile MustParse(const std::string& text) {
    PlanFile plan;
    std::string error;
    EXPECT_TRUE(ParsePlan(text, "p.toml", &plan, &error)) << error;
    return plan;
}

constexpr const char* kGoodPlan = R"(name = "t"
revision = "3"
[dut]
part = "SC-3"
[[step]]
name = "rails"
args = ["-adread", "-trd"]
[step.limits]
"adc.3v3" = [3.2, 3.4]
"temp.raw" = { max = 400 }
"adc.24v" = { min = 22.8 }
[[step]]
name = "loop"
args = ["-wd", "20", "-val", "12345678", "-rd", "20"]
[step.expect]
"reg.rd.0X020" = 0x12345678
"reg.wd.0x20" = true
[[step]]
name = "stream"
args = ["-scanfile", "stream.bin"]
duration = 10
allow_errors = true
[step.limits]
"stream.errors" = [0, 0]
"stream.rate" = { min = 38e6 }
)";

TEST(PlanFile, ReadsTheIssuesShape) {
    const PlanFile plan = MustParse(kGoodPlan);
    EXPECT_EQ("t", plan.name);
    EXPECT_EQ("3", plan.revision);
    EXPECT_EQ("SC-3", plan.Dut("part"));
    ASSERT_EQ(3u, plan.steps.size());
    ASSERT_EQ(3u, plan.steps[0].limits.size());
    EXPECT_EQ("adc.3v3", plan.steps[0].limits[0].first);   // file order
    EXPECT_EQ(3.2, *plan.steps[0].limits[0].second.min);
    EXPECT_FALSE(plan.steps[0].limits[1].second.min.has_value());
    EXPECT_EQ(400, *plan.steps[0].limits[1].second.max);
    EXPECT_EQ("reg.rd.0x20", plan.steps[1].expects[0].first);   // canonical address
    EXPECT_EQ(Value{int64_t{0x12345678}}, plan.steps[1].expects[0].second);
    EXPECT_EQ(10, *plan.steps[2].duration);
    EXPECT_GT(plan.steps[2].timeout, 10);
    EXPECT_TRUE(plan.steps[2].allowErrors);
    EXPECT_EQ("03-stream", StepFolderName(2, "stream"));
    EXPECT_EQ("02-register_loopback", StepFolderName(1, "register loopback"));
}

TEST(PlanFile, ErrorsNameFileLineAndKey) {
    EXPECT_EQ("p.toml:1: key 'name': the plan needs a name", PlanErrorOf("[[step]]\nname = \"a\"\nargs = []\n"));
    EXPECT_NE(std::string::npos, PlanErrorOf("name = \"t\"\n[[step]]\nname = \"a\"\nargs = []\n[step.limits]\n\"adc.3V3\" = [1, 2]\n")
                                     .find("p.toml:6: key 'adc.3V3': no such measurement"));
    EXPECT_NE(std::string::npos,
              PlanErrorOf("name = \"t\"\n[[step]]\nname = \"a\"\nargs = [\"-scan\"]\n").find("key 'duration'"));
    EXPECT_NE(std::string::npos,
              PlanErrorOf("name = \"t\"\n[[step]]\nname = \"a\"\nargs = [\"-adread\"]\nduration = 3\n").find("p.toml:5: key 'duration'"));
    EXPECT_NE(std::string::npos,
              PlanErrorOf("name = \"t\"\n[[step]]\nname = \"a\"\nargs = [\"-rb\"]\n").find("p.toml:4: key 'args': option '-rb' needs a value"));
    EXPECT_NE(std::string::npos,
              PlanErrorOf("name = \"t\"\n[[step]]\nname = \"a\"\nargs = [\"-foo\"]\n").find("the tool has no option '-foo'"));
    EXPECT_NE(std::string::npos, PlanErrorOf("name = \"t\"\n[[step]]\nname = \"a\"\nargs = []\n[[step]]\nname = \"a\"\nargs = []\n")
                                     .find("p.toml:6: key 'step.name': 'a' names two steps"));
    EXPECT_NE(std::string::npos, PlanErrorOf("name = \"t\"\n[[step]]\nname = \"a\"\nargs = []\n[step.limits]\n\"adc.3v3\" = [3.4, 3.2]\n")
                                     .find("min is above max"));
    EXPECT_NE(std::string::npos, PlanErrorOf("name = \"t\"\n[[step]]\nname = \"a\"\nargs = []\n[step.expect]\n\"motor.started\" = 1\n")
                                     .find("true or false"));
    EXPECT_NE(std::string::npos, PlanErrorOf("name = \"t\"\n[[step]]\nname = \"a\"\nargs = []\nlimit = 3\n").find("p.toml:5: key 'step.limit': unknown key"));
    EXPECT_NE(std::string::npos, PlanErrorOf("name = \"t\"\nname = \"u\"\n").find("p.toml:2:"));   // TOML syntax
    EXPECT_NE(std::string::npos, PlanErrorOf("name = \"t\"\n").find("no steps"));
}

// Plans whose steps could never pass, or that lose what they say: refused before any step runs.
TEST(PlanFile, RefusesStepsThatCanNeverPass) {
    const std::string head = "name = \"t\"\n[[step]]\nname = \"a\"\n";
    const struct {
        std::string body;
        const char* error;
    } kCases[] = {
        {"args = [\"-adread\"]\n[step.limits]\n\"adc.3v3\" = [nan, nan]\n", "p.toml:6: key 'adc.3v3': a limit must be a finite number"},
        {"args = [\"-adread\"]\n[step.limits]\n\"adc.3v3\" = { min = nan }\n", "a limit must be a finite number"},
        {"args = [\"-adread\"]\n[step.limits]\n\"adc.3v3\" = { max = nan }\n", "a limit must be a finite number"},
        {"args = [\"-adread\"]\n[step.limits]\n\"adc.3v3\" = [-inf, inf]\n", "a limit must be a finite number"},
        {"args = [\"-adread\"]\n[step.expect]\n\"adc.3v3\" = nan\n", "an expected number must be finite"},
        {"args = [\"-iictest\", \"-trd\"]\nduration = 5\n[step.limits]\n\"temp.raw\" = [0, 60]\n",
         "p.toml:4: key 'args': '-trd' runs after the loop '-iictest'"},
        {"args = [\"-iictest\", \"-scan\"]\nduration = 5\n", "'-scan' runs after the loop '-iictest'"},
        {"args = [\"-iictest\", \"-stat\"]\nduration = 5\n", "'-stat' runs after the loop '-iictest'"},
        {"args = [\"-scan\"]\nduration = 1\n[step.limits]\n\"stream.errors\" = [0, 0]\n",
         "p.toml:5: key 'duration': stream.errors comes from the loop's once-a-second report"},
        {"args = [\"-iictest\"]\nduration = 1.5\n[step.expect]\n\"iic.errors\" = 0\n", "iic.errors comes from the loop's"},
    };
    for (const auto& c : kCases) {
        EXPECT_NE(std::string::npos, PlanErrorOf(head + c.body).find(c.error)) << c.body << PlanErrorOf(head + c.body);
    }
    EXPECT_NE(std::string::npos, PlanErrorOf("name = \"t\"\n[dut]\nserail = \"SN1\"\n[[step]]\nname = \"a\"\nargs = []\n")
                                     .find("p.toml:3: key 'dut.serail': unknown key"));
    // What the tool runs before its loop, a loop long enough for its report, and free DUT
    // keys in [dut.info] are fine.
    const PlanFile plan = MustParse("name = \"t\"\n[dut]\nserial = \"SN1\"\n[dut.info]\nline = \"L2\"\n[[step]]\nname = \"a\"\n"
                                    "args = [\"-rd\", \"0\", \"-rde\", \"5\", \"-id\", \"A0\", \"-iictest\"]\nduration = 2\n"
                                    "[step.limits]\n\"iic.errors\" = [0, 0]\n\"eeprom.A0.05\" = [0, 255]\n");
    EXPECT_EQ("SN1", plan.Dut("serial"));
    EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"line", "L2"}}), plan.dutInfo);
    // The EEPROM address is named as the tool prints it ("Adr:5"), so that the check finds it.
    ASSERT_EQ(2u, plan.steps[0].limits.size());
    EXPECT_EQ("eeprom.a0.5", plan.steps[0].limits[1].first);
    const Transcript t = ParseTranscript(BroughtUp("ksutest: I2C_PROM_read success ID:A0 Adr:5 Val:0x2a!\n"), plan.steps[0].toolArgs);
    EXPECT_NE(nullptr, t.Find(plan.steps[0].limits[1].first));
}

// ---- checks -----------------------------------------------------------------------------

// Limits are inclusive at both ends, and a reading that is not finite passes none.
TEST(Checks, AValueOnALimitPassesAndOneNotFiniteFails) {
    const struct {
        std::optional<double> min, max;
        double value;
        bool passes;
    } kCases[] = {
        {3.2, 3.4, 3.2, true},          {3.2, 3.4, 3.4, true},           {3.2, 3.4, 3.1999999, false},
        {3.2, 3.4, 3.4000001, false},   {0, 0, 0, true},                 {std::nullopt, 400, 400, true},
        {22.8, std::nullopt, 22.8, true}, {3.2, 3.4, NAN, false},        {std::nullopt, 400, -INFINITY, false},
        {22.8, std::nullopt, INFINITY, false},
    };
    for (const auto& c : kCases) {
        StepPlan step;
        step.limits.push_back({"adc.3v3", Limit{c.min, c.max}});
        Transcript t;
        t.measurements.push_back({"adc.3v3", c.value, "V", 1});
        const auto checks = EvaluateStep(step, t, 0);
        EXPECT_EQ(c.passes, checks.back().passed) << c.value << " against " << LimitText(step.limits[0].second);
    }
}

TEST(Checks, LimitsExpectationsAndTheChecksOfEveryStep) {
    const PlanFile plan = MustParse(kGoodPlan);
    const Transcript low = Parse("rail_low.txt", {"-adread"});
    const auto checks = EvaluateStep(plan.steps[0], low, 0);
    std::vector<std::string> verdicts;
    for (const Check& c : checks) {
        if (!c.passed) verdicts.push_back(c.verdict);
    }
    EXPECT_EQ((std::vector<std::string>{"adc.3v3-low", "temp.raw-missing"}), verdicts);
    for (const Check& c : checks) {
        if (c.verdict == "adc.3v3-low") {
            EXPECT_EQ("adc.3v3 = 2.90997 V, below its limits [3.2, 3.4]", c.message);
        }
    }
    const auto exit2 = EvaluateStep(plan.steps[0], Parse("rails.txt", {"-adread", "-trd"}), 2);
    EXPECT_FALSE(exit2[0].passed);
    EXPECT_EQ("tool-exit", exit2[0].verdict);
    for (size_t i = 1; i < exit2.size(); ++i) EXPECT_TRUE(exit2[i].passed) << exit2[i].message;
}

TEST(Checks, DeviceErrorsFailUnlessAllowed) {
    PlanFile plan = MustParse("name = \"t\"\n[[step]]\nname = \"a\"\nargs = [\"-trd\"]\n");
    const Transcript t = Parse("failures.txt", {"-trd"});
    auto checks = EvaluateStep(plan.steps[0], t, 0);
    ASSERT_EQ(3u, checks.size());
    EXPECT_EQ("device-error", checks[2].verdict);
    EXPECT_NE(std::string::npos, checks[2].message.find("-601"));
    plan.steps[0].allowErrors = true;
    checks = EvaluateStep(plan.steps[0], t, 0);
    for (const Check& c : checks) EXPECT_TRUE(c.passed) << c.message;
}

TEST(Checks, ExpectationMismatchShowsHex) {
    const PlanFile plan = MustParse(kGoodPlan);
    Transcript t = Parse("registers.txt", {"-wd", "20", "-val", "12345678", "-rd", "20"});
    for (Measurement& m : t.measurements) {
        if (m.name == "reg.rd.0x20") m.value = int64_t{0x12345600};
    }
    const auto checks = EvaluateStep(plan.steps[1], t, 0);
    bool seen = false;
    for (const Check& c : checks) {
        if (c.verdict == "reg.rd.0x20-mismatch") {
            seen = true;
            EXPECT_EQ("reg.rd.0x20 = 0x12345600 (305419776), expected 0x12345678 (305419896)", c.message);
        }
    }
    EXPECT_TRUE(seen);
}

// ---- reports ----------------------------------------------------------------------------

struct SampleRun {
    PlanFile plan = MustParse(kGoodPlan);
    RunResult run;
    SampleRun() {
        run.plan = &plan;
        run.info.source = "virtual";
        run.info.sourceNote = "VIRTUAL SCANNER: not hardware";
        run.info.serial = "SN1";
        run.info.station = "bench <1> & \"2\"";
        run.info.startTime = IsoNow();
        const char* files[] = {"rail_low.txt", "registers.txt", "stream_error.txt"};
        for (size_t i = 0; i < plan.steps.size(); ++i) {
            StepResult step;
            step.plan = &plan.steps[i];
            step.index = i;
            step.status = StepStatus::kComplete;
            step.startPoint = std::chrono::system_clock::now();
            step.transcript = ParseTranscript(ReadTranscriptFile(files[i]), plan.steps[i].toolArgs);
            step.checks = EvaluateStep(plan.steps[i], step.transcript, 0);
            run.steps.push_back(step);
        }
    }
};

TEST(Reports, OcpOutputFollowsTheRules) {
    SampleRun sample;
    const std::string path = testing::TempDir() + "/plan_unit_ocp.jsonl";
    {
        OcpWriter writer;
        std::string error;
        ASSERT_TRUE(writer.Open(path, &error)) << error;
        writer.RunStart(sample.run);
        for (const StepResult& step : sample.run.steps) {
            writer.StepStart(step);
            writer.StepEnd(sample.run, step);
        }
        writer.RunEnd(sample.run);
    }
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    const auto problems = ocp::Validate(text.str());
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_NE(std::string::npos, text.str().find("\"verdict\":\"adc.3v3-low\""));
    EXPECT_NE(std::string::npos, text.str().find("\"measurementSeriesStart\""));
    EXPECT_NE(std::string::npos, text.str().find("\"GREATER_THAN_OR_EQUAL\""));
    EXPECT_NE(std::string::npos, text.str().find("\"result\":\"FAIL\""));
}

TEST(Reports, TheValidatorFindsBrokenOutput) {
    EXPECT_FALSE(ocp::Validate("{\"schemaVersion\":{\"major\":2,\"minor\":0},\"sequenceNumber\":1,\"timestamp\":\"2026-01-01T00:00:00Z\"}\n").empty());
    EXPECT_FALSE(ocp::Validate("{\"schemaVersion\":{\"major\":2,\"minor\":0},\"sequenceNumber\":0,\"timestamp\":\"yesterday\"}\n").empty());
    const std::string start = "{\"schemaVersion\":{\"major\":2,\"minor\":0},\"sequenceNumber\":0,\"timestamp\":\"2026-01-01T00:00:00Z\"}\n";
    EXPECT_FALSE(ocp::Validate(start + "{\"testRunArtifact\":{\"testRunEnd\":{\"status\":\"DONE\",\"result\":\"PASS\"}},"
                                       "\"sequenceNumber\":1,\"timestamp\":\"2026-01-01T00:00:00Z\"}\n").empty());
    EXPECT_FALSE(ocp::Validate(start, true).empty());   // no testRunEnd
}

TEST(Reports, JUnitCountsAndEscapes) {
    SampleRun sample;
    sample.run.steps[2].status = StepStatus::kSkip;
    sample.run.steps[2].statusMessage = "--stop-on-fail";
    const std::string xml = JUnitXml(sample.run);
    EXPECT_NE(std::string::npos, xml.find("tests=\"3\" failures=\"1\" errors=\"0\" skipped=\"1\""));
    EXPECT_NE(std::string::npos, xml.find("<failure message=\"adc.3v3 = 2.90997 V, below its limits [3.2, 3.4]\""));
    EXPECT_NE(std::string::npos, xml.find("bench &lt;1&gt; &amp; &quot;2&quot;"));
    EXPECT_NE(std::string::npos, xml.find("<property name=\"dut.serial\" value=\"SN1\"/>"));
    EXPECT_NE(std::string::npos, xml.find("<skipped message=\"--stop-on-fail\"/>"));
}

// A byte that is not UTF-8 is shown as U+FFFD, one for each piece that cannot be read, exactly
// as the JSON writer of ocp.jsonl shows it; valid text is unchanged.
TEST(Reports, BytesThatAreNotUtf8AreShownAsOcpShowsThem) {
    const std::string r = "\xEF\xBF\xBD";
    const struct {
        std::string raw, shown;
    } kCases[] = {
        {"SN\xff", "SN" + r},                   {"Ger\xe4t", "Ger" + r + "t"},
        {"\xe2\x82", r},                        {"\xe2\x82\xac 5", "\xe2\x82\xac 5"},
        {"\xc0\xaf", r + r},                    {"\xed\xa0\x80", r + r + r},
        {"\xf4\x90\x80\x80", r + r + r + r},   {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
        {"a\x80\x80" "b", "a" + r + r + "b"},     {"\xf0\x9f\x98", r},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.shown, ValidUtf8(c.raw)) << c.raw;
        EXPECT_EQ(nlohmann::json(c.shown).dump(), nlohmann::json(c.raw).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))
            << c.raw;
        EXPECT_EQ(XmlEscape(c.shown), XmlEscape(c.raw));
    }
    EXPECT_EQ("a?b" + r, XmlEscape("a\x01" "b\xEF\xBF\xBE"));   // XML 1.0 cannot carry U+0001 or U+FFFE
    // And for any bytes: short random strings, weighted to the bytes that begin and continue
    // UTF-8 sequences.
    uint32_t seed = 12345;
    for (int n = 0; n < 20000; ++n) {
        std::string raw;
        for (int i = n % 7; i >= 0; --i) {
            seed = seed * 1103515245u + 12345u;
            const unsigned pick = (seed >> 16) % 4;
            raw += static_cast<char>(pick == 0 ? 0x41 : pick == 1 ? 0x80 + (seed >> 8) % 64 : 0xC0 + (seed >> 8) % 64);
        }
        const std::string shown = ValidUtf8(raw);
        ASSERT_EQ(nlohmann::json(shown).dump(), nlohmann::json(raw).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))
            << testing::PrintToString(raw);
    }
}

// The checks every step makes carry the names kelvotest-plan(5) lists in every report.
TEST(Reports, TheChecksOfEveryStepHaveOneNameEverywhere) {
    SampleRun sample;
    sample.run.steps[0].checks = EvaluateStep(*sample.run.steps[0].plan, Transcript{}, 2);
    const std::string path = testing::TempDir() + "/plan_unit_names.jsonl";
    {
        OcpWriter writer;
        std::string error;
        ASSERT_TRUE(writer.Open(path, &error)) << error;
        writer.StepStart(sample.run.steps[0]);
        writer.StepEnd(sample.run, sample.run.steps[0]);
    }
    std::ifstream file(path);
    std::stringstream ocp;
    ocp << file.rdbuf();
    const std::string html = HtmlReport(sample.run);
    for (const char* name : {"tool.exit_code", "bringup.complete"}) {
        EXPECT_NE(std::string::npos, ocp.str().find(std::string("\"name\":\"") + name + "\"")) << name;
        EXPECT_NE(std::string::npos, html.find(std::string(">") + name + "</td>")) << name;
    }
    for (const char* other : {">tool.exit</td>", ">bringup</td>"}) EXPECT_EQ(std::string::npos, html.find(other));
}

// What a technician reads in a long report: failures at the top, round ticks on the
// throughput axis, every rail's name whole, and no value so long that the page scrolls sideways.
TEST(Reports, HtmlReadsAtAGlanceInALongReport) {
    std::string text = "name = \"long\"\n";
    for (int i = 0; i < 48; ++i) text += "[[step]]\nname = \"status " + std::to_string(i) + "\"\nargs = [\"-stat\"]\n";
    text += "[[step]]\nname = \"rails measured on the connector J12 of the unit under test at the end of the line\"\n"
            "args = [\"-adread\"]\n[step.limits]\n\"adc.3v3\" = [3.2, 3.4]\n"
            "[[step]]\nname = \"stream\"\nargs = [\"-scan\", \"-dumpe\", \"-id\", \"a0\"]\nduration = 30\n"
            "[step.limits]\n\"stream.rate\" = { min = 38e6 }\n[step.expect]\n\"eeprom.a0.dump\" = \"" + std::string(512, 'a') + "\"\n";
    const PlanFile plan = MustParse(text);
    RunResult run;
    run.plan = &plan;
    const std::string dump = "ksutest: I2C_PROM_dump Adr.:0 from ID:0xA0!\n" +
                             [] { std::string lines; for (int i = 0; i < 16; ++i) lines += "0000: 00 \n"; return lines; }();
    for (size_t i = 0; i < plan.steps.size(); ++i) {
        StepResult step;
        step.plan = &plan.steps[i];
        step.index = i;
        step.status = StepStatus::kComplete;
        step.transcript = ParseTranscript(i < 48 ? BroughtUp("") : i == 48 ? ReadTranscriptFile("rail_low.txt")
                                                                            : SteadyStream(40e6, 1.06, 25) + dump,
                                          plan.steps[i].toolArgs);
        step.checks = EvaluateStep(plan.steps[i], step.transcript, 0);
        run.steps.push_back(step);
    }
    const std::string html = HtmlReport(run);
    const size_t failures = html.find("<table class=\"failures\">");
    ASSERT_NE(std::string::npos, failures);
    EXPECT_LT(failures, html.find("<table class=\"steps\">"));
    EXPECT_NE(std::string::npos, html.find("<td class=\"short\">50</td>", failures));
    std::vector<std::string> ticks;
    const std::regex kTick("<text class=\"y-tick\"[^>]*>([^<]*)</text>");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), kTick); it != std::sregex_iterator(); ++it) ticks.push_back((*it)[1]);
    EXPECT_EQ((std::vector<std::string>{"0 MB/s", "10 MB/s", "20 MB/s", "30 MB/s", "40 MB/s", "50 MB/s"}), ticks);
    std::smatch rail;
    ASSERT_TRUE(std::regex_search(html, rail, std::regex("<text class=\"rail-name\" x=\"([0-9.]+)\"[^>]*>([^<]*)</text>")));
    EXPECT_EQ(0u, rail[2].str().rfind("adc.3v3 (rails measured on the connector J12", 0)) << rail[2];
    EXPECT_LE(std::stod(rail[1]) + 7.0 * static_cast<double>(rail[2].length()), 760.0) << rail[2];   // 13 px type
    EXPECT_FALSE(std::regex_search(html, std::regex("[0-9a-f]{200}")));   // the dumps are shortened to wrap
    EXPECT_NE(std::string::npos, html.find("overflow-wrap: anywhere"));
}

TEST(Reports, HtmlIsSelfContainedWithPlotAndRails) {
    SampleRun sample;
    const std::string html = HtmlReport(sample.run);
    EXPECT_EQ(std::string::npos, html.find("<script"));
    EXPECT_EQ(std::string::npos, html.find("http://www.w3.org/1999"));
    EXPECT_EQ(std::string::npos, html.find("src="));
    EXPECT_EQ(std::string::npos, html.find("https:"));
    EXPECT_NE(std::string::npos, html.find("<svg class=\"plot\""));
    EXPECT_NE(std::string::npos, html.find("class=\"first-error\""));
    EXPECT_NE(std::string::npos, html.find("<svg class=\"rails\""));
    EXPECT_NE(std::string::npos, html.find("id=\"verdict\">FAIL<"));
    EXPECT_NE(std::string::npos, html.find("VIRTUAL SCANNER"));
    // Failures first: the first row of the measurement table is the failed rail.
    const size_t table = html.find("<table class=\"measurements\">");
    const size_t firstRow = html.find("<tr class=\"failed\">", table);
    const size_t firstPass = html.find("<td>pass</td>", table);
    ASSERT_NE(std::string::npos, firstRow);
    EXPECT_LT(firstRow, firstPass);
}

}  // namespace
