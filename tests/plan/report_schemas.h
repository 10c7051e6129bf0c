// tests/plan/report_schemas.h: every report of a run checked against the schemas its readers
// use (tests/plan/schemas/, copies of the published ones): junit.xml with xmllint against the
// JUnit XSD, each line of ocp.jsonl with a maintained JSON schema validator against the OCP 2.0
// schema, and report.html as UTF-8. POSIX: the validators run as processes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// One line per problem; empty when the file is valid.
std::vector<std::string> JUnitSchemaProblems(const std::filesystem::path& junitXml);
std::vector<std::string> OcpSchemaProblems(const std::filesystem::path& ocpJsonl,
                                           const std::filesystem::path& html = {});

// The three reports in `runFolder` (ocp.jsonl, junit.xml, report.html) exist and are valid.
void ExpectReportsValid(const std::filesystem::path& runFolder);
