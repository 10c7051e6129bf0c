#include "tests/plan/plan_run.h"

#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "tests/plan/ocp_validator.h"
#include "tests/support/temp_files.h"

namespace plan_test {

using nlohmann::json;

namespace {

// Ten seconds at the virtual USB 2 rate: the FIFO holds words, not bytes, so this costs no memory.
constexpr const char* kFifoRoom = "stream.fifo = 400000000";

}  // namespace

std::string PlanProgram() {
    const char* other = std::getenv("KELVOTEST_PLAN_UNDER_TEST");
    return other != nullptr && other[0] != '\0' ? other : KELVOTEST_PLAN_PATH;
}

ToolRun Plan(std::vector<std::string> args, std::vector<std::string> env, std::string dir) {
    bool scenario = false;
    for (std::string& entry : env) {
        if (entry.rfind("KELVOSIM=", 0) != 0) continue;
        scenario = true;
        const std::string value = entry.substr(9);
        entry = std::string("KELVOSIM=") + kFifoRoom + (value.empty() ? "" : "; " + value);
    }
    if (!scenario) env.push_back(std::string("KELVOSIM=") + kFifoRoom);
    return ToolRun{std::move(args), std::move(env), std::move(dir), PlanProgram()};
}

std::vector<json> Artifacts(const std::string& ocpPath) {
    std::vector<json> artifacts;
    std::istringstream lines(ReadFileText(ocpPath));
    std::string line;
    while (std::getline(lines, line)) artifacts.push_back(json::parse(line));
    return artifacts;
}

std::vector<std::string> FailVerdicts(const std::vector<json>& artifacts) {
    std::vector<std::string> verdicts;
    for (const json& a : artifacts) {
        if (!a.contains("testStepArtifact") || !a["testStepArtifact"].contains("diagnosis")) continue;
        const json& d = a["testStepArtifact"]["diagnosis"];
        if (d["type"] == "FAIL") verdicts.push_back(a["testStepArtifact"]["testStepId"].get<std::string>() + ":" + d["verdict"].get<std::string>());
    }
    return verdicts;
}

std::string RunResultOf(const std::vector<json>& artifacts) {
    for (const json& a : artifacts) {
        if (a.contains("testRunArtifact") && a["testRunArtifact"].contains("testRunEnd")) {
            return a["testRunArtifact"]["testRunEnd"]["result"];
        }
    }
    return "none";
}

void ExpectReportsValid(const std::string& folder, bool finished) {
    SCOPED_TRACE("the reports in " + folder);
    const auto problems = ocp::Validate(ReadFileText(folder + "/ocp.jsonl"), finished);
    EXPECT_TRUE(problems.empty()) << problems.front();
    if (!finished) return;
    EXPECT_NE(std::string::npos, ReadFileText(folder + "/junit.xml").find("</testsuites>"));
    EXPECT_NE(std::string::npos, ReadFileText(folder + "/report.html").find("</html>"));
}

bool WaitForFileText(const std::string& path, const std::string& text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (FileExists(path) && ReadFileText(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

int ProcessesIn(const std::string& dir) {
    int count = 0;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return 0;
    char target[4096];
    while (dirent* entry = readdir(proc)) {
        const std::string link = std::string("/proc/") + entry->d_name + "/cwd";
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        if (dir == target) ++count;
    }
    closedir(proc);
    return count;
}

bool WaitUntilNoProcessIn(const std::string& dir, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (ProcessesIn(dir) > 0) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace plan_test
