// bench/plan_overhead_bench.cc: what kelvotest-plan adds to the steps it runs. A plan of five
// one-shot steps against the virtual scanner, run by kelvotest-plan (plan file, processes,
// transcripts, checks, all three reports), against the same five command lines run straight,
// one after the other, each in a folder of its own with its standard error in a file. The
// counter overhead_ms is the difference per plan; the target is under 50 ms.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::vector<std::vector<std::string>> kSteps = {
    {},
    {"-adread", "-trd"},
    {"-wd", "20", "-val", "12345678", "-rd", "20"},
    {"-wre", "5", "-val", "5a", "-rde", "5", "-id", "a0"},
    {"-motor", "3", "-lines", "-stat"},
};

constexpr const char* kPlan = R"(name = "five steps"
[[step]]
name = "bring-up"
args = []
[step.expect]
"versions.match" = true
[[step]]
name = "rails"
args = ["-adread", "-trd"]
[step.limits]
"adc.3v3" = [3.2, 3.4]
"adc.24v" = [22.8, 25.2]
[[step]]
name = "registers"
args = ["-wd", "20", "-val", "12345678", "-rd", "20"]
[step.expect]
"reg.rd.0x20" = 0x12345678
[[step]]
name = "eeprom"
args = ["-wre", "5", "-val", "5a", "-rde", "5", "-id", "a0"]
[step.expect]
"eeprom.a0.5" = 0x5a
[[step]]
name = "motor"
args = ["-motor", "3", "-lines", "-stat"]
[step.expect]
"motor.started" = true
)";

// Runs a program in `dir` with stdin from /dev/null, stdout and stderr to files there.
int Run(const std::string& program, const std::vector<std::string>& args, const std::string& dir) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (dir + "/stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (dir + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string here = fs::current_path().string();
    if (chdir(dir.c_str()) != 0) return -1;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    if (chdir(here.c_str()) != 0) return -1;
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void PlanOverhead(benchmark::State& state) {
    const fs::path work = fs::temp_directory_path() / ("kelvo-plan-bench-" + std::to_string(getpid()));
    fs::create_directories(work);
    { std::ofstream(work / "plan.toml") << kPlan; }
    unsetenv("KELVOSIM");
    unsetenv("KELVOSIM_SCENARIO");
    double straight = 0, planned = 0;
    int runs = 0;
    for (auto _ : state) {
        const fs::path round = work / std::to_string(runs);
        auto start = std::chrono::steady_clock::now();
        for (size_t i = 0; i < kSteps.size(); ++i) {
            const fs::path dir = round / ("step" + std::to_string(i));
            fs::create_directories(dir);
            if (Run(KELVOTEST_PATH, kSteps[i], dir.string()) != 0) state.SkipWithError("a step failed");
        }
        straight += Seconds(start);
        start = std::chrono::steady_clock::now();
        if (Run(KELVOTEST_PLAN_PATH, {(work / "plan.toml").string(), "--virtual", "--out", (round / "plan").string()},
                round.string()) != 0) {
            state.SkipWithError("the plan did not pass");
        }
        planned += Seconds(start);
        ++runs;
        fs::remove_all(round);
    }
    fs::remove_all(work);
    state.counters["steps_ms"] = 1000 * straight / runs;
    state.counters["plan_ms"] = 1000 * planned / runs;
    state.counters["overhead_ms"] = 1000 * (planned - straight) / runs;
}
BENCHMARK(PlanOverhead)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
