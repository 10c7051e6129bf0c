// tests/plan/report_schemas.cc: runs xmllint and tests/plan/validate_ocp.py on the reports.
#include "tests/plan/report_schemas.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

namespace {

std::string Quoted(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The lines the command printed (standard error included), or its failure to start; none
// when it exited 0.
std::vector<std::string> ProblemsOf(const std::string& command) {
    std::vector<std::string> problems;
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return {"cannot start: " + command};
    std::string output;
    char buffer[4096];
    while (const size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    const int status = pclose(pipe);
    if (status == 0) return problems;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) problems.push_back(line);
    if (problems.empty()) problems.push_back(command + " failed without a message");
    return problems;
}

}  // namespace

std::vector<std::string> JUnitSchemaProblems(const std::filesystem::path& junitXml) {
    return ProblemsOf("xmllint --noout --schema " + Quoted(KELVO_PLAN_SCHEMAS "/junit-10.xsd") + " " +
                      Quoted(junitXml.string()));
}

std::vector<std::string> OcpSchemaProblems(const std::filesystem::path& ocpJsonl, const std::filesystem::path& html) {
    std::string command = Quoted(KELVO_PYTHON3) + " " + Quoted(KELVO_PLAN_VALIDATE_OCP) + " " +
                          Quoted(KELVO_PLAN_SCHEMAS "/ocp") + " " + Quoted(ocpJsonl.string());
    if (!html.empty()) command += " " + Quoted(html.string());
    return ProblemsOf(command);
}

void ExpectReportsValid(const std::filesystem::path& runFolder) {
    for (const char* report : {"ocp.jsonl", "junit.xml", "report.html"}) {
        ASSERT_TRUE(std::filesystem::is_regular_file(runFolder / report)) << runFolder / report;
    }
    const auto junit = JUnitSchemaProblems(runFolder / "junit.xml");
    EXPECT_TRUE(junit.empty()) << runFolder / "junit.xml" << ": " << junit.front();
    const auto ocp = OcpSchemaProblems(runFolder / "ocp.jsonl", runFolder / "report.html");
    EXPECT_TRUE(ocp.empty()) << runFolder << ": " << ocp.front();
}
