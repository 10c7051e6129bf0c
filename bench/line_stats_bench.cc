// bench/line_stats_bench.cc: the line's questions over a large store. `make` fills a store
// with runs of the example plan (20 stations over 30 days ending now, about 5 % retests, a few
// aborted and virtual runs, and adc.5v drifting from 5.00 V to its upper limit), each the
// example plan's real run (tests/line/data/run1.jsonl: 6 steps, 74 measurements) with its
// unit's serial, station, time, values and failures, stored as ingest stores a run; `time` runs kelvotest-line yield, capability,
// pareto and report over it as a station's collector would and prints each one's wall time
// and peak resident memory, and the report's size.
//
//   line_stats_bench make --db URL --runs 100000
//   line_stats_bench time --db URL
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "line/ingest.h"
#include "line/ocp_run.h"
#include "line/store.h"

namespace {

struct MeasurementModel {
    const char* name;
    const char* unit;
    double min, max;          // NAN: none
    double marginalMin, marginalMax;
};
// The example plan's limits (examples/scanner-final-test.toml).
const MeasurementModel kModels[] = {
    {"adc.3v3", "V", 3.2, 3.4, 3.22, 3.38}, {"adc.5v", "V", 4.75, 5.25, NAN, NAN},
    {"adc.24v", "V", 22.8, 25.2, NAN, NAN}, {"temp.raw", "", 0, 60, NAN, NAN},
    {"stream.errors", "", 0, 0, NAN, NAN},   {"stream.rate", "B/s", 38e6, NAN, NAN, NAN},
};
const char* const kSteps[] = {"bring-up", "rails", "register loopback", "configuration eeprom", "motor and status", "stream"};
// Failures that are not the drift's, with their step and their weight.
const struct {
    const char* verdict;
    int step;
    double weight;
} kFaults[] = {{"stream.errors-high", 5, 0.8}, {"tool-exit", 0, 0.5}, {"stream.rate-low", 5, 0.4},
               {"bringup-incomplete", 0, 0.3}, {"eeprom.a0.5-mismatch", 3, 0.3}, {"adc.3v3-low", 1, 0.2}};

std::string Stamp(double seconds) {
    const std::time_t whole = std::time_t(seconds);
    std::tm t{};
    gmtime_r(&whole, &t);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec, int((seconds - double(whole)) * 1000));
    return text;
}

struct Line {
    std::mt19937_64 random{20261209};
    long long next = 0;         // units made
    std::string pending;        // a unit waiting for its retest
    int attempts = 0;
    bool pendingVirtual = false;
    double Uniform() { return std::uniform_real_distribution<double>(0, 1)(random); }
    double Normal(double mean, double sigma) { return std::normal_distribution<double>(mean, sigma)(random); }
};

double Value(Line& line, int model, double progress) {
    switch (model) {
        case 0: return line.Normal(3.30, 0.012);
        case 1: return line.Normal(5.00 + 0.24 * progress, 0.045);   // the drift
        case 2: return line.Normal(24.0, 0.15);
        case 3: return std::round(line.Normal(30, 3));
        case 4: return 0;
        default: return line.Normal(40.1e6, 0.3e6);
    }
}

// The modelled values of one run in `run` (a copy of the example plan's run): each value,
// its verdict and its mark, and the failures it makes.
void ModelValues(Line& line, line::RunRecord& run, double progress, std::vector<std::pair<std::string, int>>* failures) {
    for (int s = 0; s < int(std::size(kModels)); ++s) {
        const MeasurementModel& model = kModels[s];
        const double v = Value(line, s, progress);
        const bool low = !std::isnan(model.min) && v < model.min, high = !std::isnan(model.max) && v > model.max;
        const bool marginal = !low && !high && ((!std::isnan(model.marginalMin) && v < model.marginalMin) ||
                                                (!std::isnan(model.marginalMax) && v > model.marginalMax));
        if (low || high) failures->emplace_back(std::string(model.name) + (low ? "-low" : "-high"), s == 5 ? 5 : 1);
        for (line::MeasurementRecord& m : run.measurements) {
            if (m.name != model.name || !(m.limitMin || m.limitMax)) continue;
            m.value = v;
            m.valueText = std::to_string(v);
            m.result = low || high ? "FAIL" : "PASS";
            m.marginal = marginal;
            run.marginal = run.marginal || marginal;
        }
    }
}

// One run of the line: the example plan's run with this unit's serial, station, time, values
// and failures, as kelvotest-line ingest would have read it from the station's OCP file.
line::RunRecord MakeRun(Line& line, const line::RunRecord& example, long long index, double at, double progress) {
    std::string serial = line.pending;
    bool isVirtual = line.pendingVirtual;
    if (serial.empty()) {
        char text[32];
        std::snprintf(text, sizeof text, "SN%07lld", ++line.next);
        serial = text;
        line.attempts = 0;
        isVirtual = line.Uniform() < 0.005;
    }
    line::RunRecord run = example;
    const int station = std::uniform_int_distribution<int>(1, 20)(line.random);
    const bool aborted = line.Uniform() < 0.003;
    std::vector<std::pair<std::string, int>> failures;
    ModelValues(line, run, progress, &failures);
    // Station 7's stream cable is worse than the others'.
    if (line.Uniform() < (station == 7 ? 0.03 : 0.01)) {
        double pick = line.Uniform() * 2.5;   // the weights add up to 2.5
        for (const auto& fault : kFaults) {
            if ((pick -= fault.weight) < 0 || &fault == &kFaults[std::size(kFaults) - 1]) {
                failures.emplace_back(fault.verdict, fault.step);
                break;
            }
        }
    }
    const bool passed = failures.empty() && !aborted;
    char id[64];
    std::snprintf(id, sizeof id, "bench-%08lld-%s", index, serial.c_str());
    run.runId = id;
    run.fingerprint = run.runId;
    // The example's run predates the limits digest; a station's runs of today carry one.
    if (!run.limitsDigest) run.limitsDigest = "sha256:bench-example-plan-rev3";
    run.serial = serial;
    run.station = std::string(station < 10 ? "st0" : "st") + std::to_string(station);
    run.source = isVirtual ? "virtual" : "hardware";
    run.startedAt = Stamp(at);
    run.endedAt = Stamp(at + 9);
    for (line::StepRecord& step : run.steps) step.startedAt = run.startedAt, step.endedAt = run.endedAt;
    for (line::MeasurementRecord& m : run.measurements) m.at = run.startedAt;
    run.result = aborted ? "ABORTED" : passed ? "PASS" : "FAIL";
    run.ocpStatus = aborted ? "ERROR" : "COMPLETE";
    run.ocpResult = passed ? "PASS" : "FAIL";
    for (const auto& [verdict, step] : failures) {
        run.failures.push_back(line::FailureRecord{step, verdict, "", verdict.substr(0, verdict.rfind('-'))});
        run.steps[static_cast<size_t>(step)].result = "FAIL";
    }
    if (aborted) run.failures.push_back(line::FailureRecord{std::nullopt, "run-aborted", "", std::nullopt});
    ++line.attempts;
    const bool retest = !passed && line.attempts < 3;
    line.pending = retest ? serial : "";
    line.pendingVirtual = retest && isVirtual;
    return run;
}

int Make(const std::string& url, long long runs) {
    std::string error;
    std::unique_ptr<line::Store> store = line::Store::Open(url, &error);
    line::RunRecord example;
    if (!store || !line::ReadOcpRun(KELVO_LINE_RUN, &example, &error)) {
        std::fprintf(stderr, "line_stats_bench: %s\n", error.c_str());
        return 1;
    }
    const double end = double(std::time(nullptr)), span = 30 * 86400.0;
    Line line;
    const auto started = std::chrono::steady_clock::now();
    for (long long i = 0; i < runs; ++i) {
        const double at = end - span + span * double(i) / double(runs);
        const line::StoreResult stored = line::StoreRun(*store, MakeRun(line, example, i, at, double(i) / double(runs)));
        if (stored.outcome != line::Stored::kNew) {
            std::fprintf(stderr, "line_stats_bench: run %lld not stored: %s\n", i, stored.message.c_str());
            return 1;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("made %lld runs of %lld units in %.1f s\n", runs, line.next, seconds);
    return 0;
}

// Runs kelvotest-line with `args` and reports its wall time and peak resident memory.
void Time(const std::vector<std::string>& args) {
    const auto started = std::chrono::steady_clock::now();
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout)) _exit(127);
        std::vector<char*> argv;
        std::string program = KELVOTEST_LINE_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copy = args;
        for (std::string& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::string shown;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--db") ++i;
        else shown += args[i] + " ";
    }
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("%-40s %6.2f s (CPU %5.2f s)  peak RSS %6.1f MB%s\n", shown.c_str(), seconds, cpu, double(usage.ru_maxrss) / 1024,
                WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "  (FAILED)");
}

int TimeCommands(const std::string& url) {
    for (const char* command : {"yield", "capability", "pareto"}) Time({command, "--db", url});
    Time({"yield", "--db", url, "--by", "day"});
    Time({"yield", "--db", url, "--by", "station"});
    Time({"report", "--db", url, "--since", "30d", "--out", "bench-line.html"});
    Time({"report", "--db", url, "--out", "bench-line-7d.html"});
    struct stat info{};
    if (stat("bench-line.html", &info) == 0) std::printf("report over 30 days: %.2f MB\n", double(info.st_size) / 1e6);
    if (stat("bench-line-7d.html", &info) == 0) std::printf("report over 7 days: %.2f MB\n", double(info.st_size) / 1e6);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string url;
    long long runs = 100000;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--db") == 0) url = argv[i + 1];
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoll(argv[i + 1]);
    }
    if (argc < 2 || url.empty()) {
        std::fprintf(stderr, "usage: line_stats_bench make|time --db URL [--runs N]\n");
        return 2;
    }
    try {
        return std::strcmp(argv[1], "make") == 0 ? Make(url, runs) : TimeCommands(url);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "line_stats_bench: %s\n", e.what());
        return 1;
    }
}
