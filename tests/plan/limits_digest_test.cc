// tests/plan/limits_digest_test.cc: SHA-256 against the examples of FIPS 180-4, the limits
// digest's canonical form, the marginal band in the plan file, and a marginal value in all
// four reports.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "plan/checks.h"
#include "plan/limits_digest.h"
#include "plan/plan_file.h"
#include "plan/reports.h"
#include "plan/sha256.h"
#include "tests/plan/ocp_validator.h"

namespace {

using namespace plan;

// The examples published with FIPS 180-4 (one block, two blocks, a million 'a'), the empty
// message, and 55, 56 and 64 bytes: the lengths where the padding takes one more block.
TEST(Sha256Test, PublishedVectorsAndPaddingBoundaries) {
    const struct {
        std::string message;
        const char* digest;
    } cases[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.digest, Sha256Hex(c.message)) << c.message.size() << " bytes";

    Sha256 pieces;   // fed in pieces across block edges, the same digest
    const std::string message = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    for (size_t i = 0; i < message.size(); i += 7) pieces.Update(message.substr(i, 7));
    EXPECT_EQ(0x24, pieces.Finish()[0]);
}

PlanFile Parsed(const std::string& text) {
    PlanFile plan;
    std::string error;
    EXPECT_TRUE(ParsePlan(text, "p.toml", &plan, &error)) << error;
    return plan;
}

const std::string kHead = "name = \"t\"\n[[step]]\nname = \"rails\"\nargs = [\"-adread\", \"-trd\"]\n[step.limits]\n";

// Equal digests exactly when the rules are equal: the order of limits and the spelling of a
// number change nothing; a bound, a band edge, an argument or an expectation changes it.
TEST(LimitsDigestTest, EqualExactlyWhenTheRulesAre) {
    const std::string base = LimitsDigest(Parsed(kHead + "\"adc.3v3\" = [3.2, 3.4]\n\"temp.raw\" = { max = 400 }\n"));
    EXPECT_EQ(71u, base.size());
    EXPECT_EQ(0u, base.find("sha256:"));
    const std::string same[] = {
        kHead + "\"temp.raw\" = { max = 400.0 }\n\"adc.3v3\" = { min = 3.20, max = 3.4e0 }\n",
    };
    for (const std::string& text : same) EXPECT_EQ(base, LimitsDigest(Parsed(text))) << text;
    const std::string different[] = {
        kHead + "\"adc.3v3\" = [3.2, 3.41]\n\"temp.raw\" = { max = 400 }\n",
        kHead + "\"adc.3v3\" = { min = 3.2, max = 3.4, marginal_max = 3.38 }\n\"temp.raw\" = { max = 400 }\n",
        kHead + "\"adc.3v3\" = [3.2, 3.4]\n",
        "name = \"t\"\n[[step]]\nname = \"rails\"\nargs = [\"-adread\"]\n[step.limits]\n"
        "\"adc.3v3\" = [3.2, 3.4]\n\"temp.raw\" = { max = 400 }\n",
    };
    for (const std::string& text : different) EXPECT_NE(base, LimitsDigest(Parsed(text))) << text;
    EXPECT_EQ("kelvotest-plan limits 1\nstep \"rails\"\narg \"-adread\"\narg \"-trd\"\nallow_errors false\n"
              "limit \"adc.3v3\" min=3.2 max=3.4\nlimit \"temp.raw\" max=400\n",
              LimitsCanonicalForm(Parsed(kHead + "\"temp.raw\" = { max = 400 }\n\"adc.3v3\" = [3.2, 3.4]\n")));
}

TEST(LimitsDigestTest, MarginalBandOutsideItsLimitsIsAPlanError) {
    const struct {
        const char* limit;
        const char* error;   // "" for a good plan
    } cases[] = {
        {"{ min = 3.2, max = 3.4, marginal_min = 3.22, marginal_max = 3.38 }", ""},
        {"{ min = 3.2, max = 3.4, marginal_max = 3.4 }", ""},
        {"{ min = 3.2, max = 3.4, marginal_min = 3.1 }", "p.toml:6: key 'adc.3v3': the marginal band lies outside the limits"},
        {"{ min = 3.2, max = 3.4, marginal_max = 3.5 }", "the marginal band lies outside the limits"},
        {"{ min = 3.2, max = 3.4, marginal_min = 3.5 }", "the marginal band lies outside the limits"},
        {"{ max = 3.4, marginal_min = 3.3 }", "marginal_min needs a min"},
        {"{ min = 3.2, max = 3.4, marginal_min = 3.35, marginal_max = 3.25 }", "marginal_min is above marginal_max"},
        {"{ min = 3.2, marginal = 3.3 }", "a bound is min, max, marginal_min or marginal_max, not 'marginal'"},
    };
    for (const auto& c : cases) {
        PlanFile plan;
        std::string error;
        const bool ok = ParsePlan(kHead + "\"adc.3v3\" = " + c.limit + "\n", "p.toml", &plan, &error);
        EXPECT_EQ(*c.error == '\0', ok) << c.limit;
        if (*c.error) {
            EXPECT_NE(std::string::npos, error.find(c.error)) << error;
        }
    }
}

// adc.3v3 = 3.3201 V in rails.txt: inside [3.2, 3.4], above the band's 3.3.
TEST(LimitsDigestTest, MarginalValueShowsInEveryReport) {
    const PlanFile plan = Parsed(kHead + "\"adc.3v3\" = { min = 3.2, max = 3.4, marginal_max = 3.3 }\n");
    std::ifstream file(std::string(KELVO_PLAN_TRANSCRIPTS) + "/rails.txt", std::ios::binary);
    std::stringstream transcript;
    transcript << file.rdbuf();
    RunResult run;
    run.plan = &plan;
    run.info.startTime = IsoNow();
    StepResult step;
    step.plan = &plan.steps[0];
    step.status = StepStatus::kComplete;
    step.transcript = ParseTranscript(transcript.str(), plan.steps[0].toolArgs);
    step.checks = EvaluateStep(plan.steps[0], step.transcript, 0);
    run.steps.push_back(step);
    ASSERT_TRUE(run.Passed());
    ASSERT_TRUE(run.Marginal());

    EXPECT_NE(std::string::npos, ConsoleSummary(run).find("pass (marginal: adc.3v3 = 3.3201 V)"));
    const std::string junit = JUnitXml(run);
    EXPECT_NE(std::string::npos, junit.find("<property name=\"marginal\" value=\"true\"/>"));
    EXPECT_NE(std::string::npos, junit.find("<property name=\"marginal.adc.3v3\""));
    EXPECT_NE(std::string::npos, junit.find("<property name=\"limitsDigest\" value=\"" + LimitsDigest(plan) + "\"/>"));
    const std::string html = HtmlReport(run);
    EXPECT_NE(std::string::npos, html.find("<tr class=\"marginal\">"));
    EXPECT_NE(std::string::npos, html.find("id=\"verdict\">PASS<"));

    const std::string path = testing::TempDir() + "/limits_digest_marginal.jsonl";
    {
        OcpWriter writer;
        std::string error;
        ASSERT_TRUE(writer.Open(path, &error)) << error;
        writer.RunStart(run);
        writer.StepStart(run.steps[0]);
        writer.StepEnd(run, run.steps[0]);
        writer.RunEnd(run);
    }
    std::ifstream ocpFile(path);
    std::stringstream ocp;
    ocp << ocpFile.rdbuf();
    const auto problems = ocp::Validate(ocp.str());
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_NE(std::string::npos, ocp.str().find("{\"message\":\"adc.3v3 = 3.3201 V, inside its limits [3.2, 3.4] but outside "
                                                "its marginal band [3.2, 3.3]\",\"type\":\"PASS\",\"verdict\":\"adc.3v3-marginal\"}"));
    EXPECT_NE(std::string::npos, ocp.str().find("\"limitsDigest\":\"" + LimitsDigest(plan) + "\""));
    // The run's flag, in testRunStart's own metadata, once the run is whole.
    EXPECT_NE(std::string::npos, ocp.str().find("\"metadata\":{\"marginal\":true},\"name\":\"t\""));
    EXPECT_NE(std::string::npos, ocp.str().find("\"result\":\"PASS\""));
}

}  // namespace
