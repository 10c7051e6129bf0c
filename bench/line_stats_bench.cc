// bench/line_stats_bench.cc: the line's questions over a large store. `make` fills a store
// with runs of the example plan (20 stations over 30 days ending now, about 5 % retests, a few
// aborted and virtual runs, and adc.5v drifting from 5.00 V to its upper limit), written
// straight into the store's tables in batches; `time` runs kelvotest-line yield, capability,
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

#include "line/soci_headers.h"
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

struct Batch {
    std::vector<std::string> runId, serial, station, source, started, ended, result, ocpStatus, ocpResult;
    std::vector<int> marginal;
    std::vector<int> mRun, mStep, mSeq, mMarginal;
    std::vector<std::string> mName, mText, mUnit, mResult, mAt;
    std::vector<double> mValue, mMin, mMax, mMarginalMin, mMarginalMax;
    std::vector<soci::indicator> iMin, iMax, iMarginalMin, iMarginalMax;
    std::vector<int> fRun, fStep, fSeq;
    std::vector<std::string> fVerdict, fMeasurement;
    std::vector<int> sRun, sIdx;
    std::vector<std::string> sName, sResult;
};

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

// One run's rows, appended to the batch (index: its place in the batch).
void MakeRun(Line& line, Batch& b, int index, double at, double progress) {
    std::string serial = line.pending;
    bool isVirtual = line.pendingVirtual;
    if (serial.empty()) {
        char text[32];
        std::snprintf(text, sizeof text, "SN%07lld", ++line.next);
        serial = text;
        line.attempts = 0;
        isVirtual = line.Uniform() < 0.005;
    }
    const int station = std::uniform_int_distribution<int>(1, 20)(line.random);
    const bool aborted = line.Uniform() < 0.003;
    std::vector<std::pair<std::string, int>> failures;
    for (int s = 0; s < int(std::size(kModels)); ++s) {
        const MeasurementModel& model = kModels[s];
        const double v = Value(line, s, progress);
        const bool low = !std::isnan(model.min) && v < model.min, high = !std::isnan(model.max) && v > model.max;
        const bool marginal = !low && !high && ((!std::isnan(model.marginalMin) && v < model.marginalMin) ||
                                                (!std::isnan(model.marginalMax) && v > model.marginalMax));
        if (low || high) failures.emplace_back(std::string(model.name) + (low ? "-low" : "-high"), s == 5 ? 5 : 1);
        b.mRun.push_back(index), b.mStep.push_back(s < 4 ? 1 : 5), b.mSeq.push_back(s), b.mName.push_back(model.name);
        b.mValue.push_back(v), b.mText.push_back(std::to_string(v)), b.mUnit.push_back(model.unit);
        const double bounds[] = {model.min, model.max, model.marginalMin, model.marginalMax};
        std::vector<double>* columns[] = {&b.mMin, &b.mMax, &b.mMarginalMin, &b.mMarginalMax};
        std::vector<soci::indicator>* nulls[] = {&b.iMin, &b.iMax, &b.iMarginalMin, &b.iMarginalMax};
        for (int k = 0; k < 4; ++k) {
            columns[k]->push_back(std::isnan(bounds[k]) ? 0 : bounds[k]);
            nulls[k]->push_back(std::isnan(bounds[k]) ? soci::i_null : soci::i_ok);
        }
        b.mResult.push_back(low || high ? "FAIL" : "PASS"), b.mMarginal.push_back(marginal), b.mAt.push_back(Stamp(at));
    }
    // Station 7's stream cable is worse than the others'.
    const double faultRate = station == 7 ? 0.03 : 0.01;
    if (line.Uniform() < faultRate) {
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
    std::snprintf(id, sizeof id, "bench-%08zu-%s", b.runId.size(), serial.c_str());
    b.runId.push_back(std::string(id) + "-" + std::to_string(static_cast<long long>(at * 1000)));
    b.serial.push_back(serial), b.station.push_back(std::string(station < 10 ? "st0" : "st") + std::to_string(station));
    b.source.push_back(isVirtual ? "virtual" : "hardware"), b.started.push_back(Stamp(at)), b.ended.push_back(Stamp(at + 9));
    b.result.push_back(aborted ? "ABORTED" : passed ? "PASS" : "FAIL"), b.ocpStatus.push_back(aborted ? "ERROR" : "COMPLETE");
    b.ocpResult.push_back(passed ? "PASS" : "FAIL"), b.marginal.push_back(0);
    int seq = 0;
    for (const auto& [verdict, step] : failures) {
        b.fRun.push_back(index), b.fStep.push_back(step), b.fSeq.push_back(seq++), b.fVerdict.push_back(verdict);
        b.fMeasurement.push_back(verdict.substr(0, verdict.rfind('-')));
    }
    if (aborted) b.fRun.push_back(index), b.fStep.push_back(0), b.fSeq.push_back(seq), b.fVerdict.push_back("run-aborted"), b.fMeasurement.push_back("");
    for (int s = 0; s < 6; ++s) {
        bool stepFailed = false;
        for (const auto& f : failures) stepFailed = stepFailed || f.second == s;
        b.sRun.push_back(index), b.sIdx.push_back(s), b.sName.push_back(kSteps[s]), b.sResult.push_back(stepFailed ? "FAIL" : "PASS");
    }
    ++line.attempts;
    const bool retest = !passed && line.attempts < 3;
    line.pending = retest ? serial : "";
    line.pendingVirtual = retest && isVirtual;
}

void Write(line::Store& store, Batch& b) {
    soci::session& sql = store.session();
    std::string error;
    if (!store.Begin(&error)) throw std::runtime_error(error);
    const std::vector<std::string> fingerprint(b.runId.size(), "bench"), plan(b.runId.size(), "scanner final test"),
        revision(b.runId.size(), "3"), digest(b.runId.size(), "sha256:bench-example-plan-rev3"),
        now(b.runId.size(), Stamp(double(std::time(nullptr))));
    const std::vector<int> steps(b.runId.size(), 6);
    sql << "INSERT INTO runs (run_id, fingerprint, serial, station, plan_name, plan_revision, limits_digest, source,"
           " started_at, ended_at, result, ocp_status, ocp_result, marginal, step_count, ingested_at) VALUES (:a, :b, :c,"
           " :d, :e, :f, :g, :h, :i, :j, :k, :l, :m, :n, :o, :p)",
        soci::use(b.runId), soci::use(fingerprint), soci::use(b.serial), soci::use(b.station), soci::use(plan),
        soci::use(revision), soci::use(digest), soci::use(b.source), soci::use(b.started), soci::use(b.ended),
        soci::use(b.result), soci::use(b.ocpStatus), soci::use(b.ocpResult), soci::use(b.marginal), soci::use(steps),
        soci::use(now);
    long long last = 0;
    sql << "SELECT MAX(id) FROM runs", soci::into(last);
    const int first = int(last) - int(b.runId.size()) + 1;   // one writer: the batch's ids follow each other
    for (std::vector<int>* runs : {&b.mRun, &b.fRun, &b.sRun}) {
        for (int& run : *runs) run += first;
    }
    sql << "INSERT INTO measurements (run, step, seq, name, value, value_text, unit, limit_min, limit_max, marginal_min,"
           " marginal_max, result, marginal, at) VALUES (:a, :b, :c, :d, :e, :f, :g, :h, :i, :j, :k, :l, :m, :n)",
        soci::use(b.mRun), soci::use(b.mStep), soci::use(b.mSeq), soci::use(b.mName), soci::use(b.mValue),
        soci::use(b.mText), soci::use(b.mUnit), soci::use(b.mMin, b.iMin), soci::use(b.mMax, b.iMax),
        soci::use(b.mMarginalMin, b.iMarginalMin), soci::use(b.mMarginalMax, b.iMarginalMax), soci::use(b.mResult),
        soci::use(b.mMarginal), soci::use(b.mAt);
    if (!b.fRun.empty()) {
        sql << "INSERT INTO failures (run, step, seq, verdict, measurement) VALUES (:a, :b, :c, :d, :e)", soci::use(b.fRun),
            soci::use(b.fStep), soci::use(b.fSeq), soci::use(b.fVerdict), soci::use(b.fMeasurement);
    }
    const std::vector<std::string> complete(b.sRun.size(), "COMPLETE");
    sql << "INSERT INTO steps (run, idx, name, status, result) VALUES (:a, :b, :c, :d, :e)", soci::use(b.sRun),
        soci::use(b.sIdx), soci::use(b.sName), soci::use(complete), soci::use(b.sResult);
    if (!store.Commit(&error)) throw std::runtime_error(error);
    b = Batch{};
}

int Make(const std::string& url, long long runs) {
    std::string error;
    std::unique_ptr<line::Store> store = line::Store::Open(url, &error);
    if (!store) {
        std::fprintf(stderr, "line_stats_bench: %s\n", error.c_str());
        return 1;
    }
    const double end = double(std::time(nullptr)), span = 30 * 86400.0;
    Line line;
    Batch batch;
    const auto started = std::chrono::steady_clock::now();
    for (long long i = 0; i < runs; ++i) {
        const double at = end - span + span * double(i) / double(runs);
        MakeRun(line, batch, int(batch.runId.size()), at, double(i) / double(runs));
        if (batch.runId.size() == 2000 || i + 1 == runs) Write(*store, batch);
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
