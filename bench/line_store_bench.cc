// bench/line_store_bench.cc: kelvotest-line's store at the line's scale. Runs of the example
// plan (6 steps, 74 measurements), made from a real run's OCP output with a new run id,
// serial and hour each (one unit in 20 retested), are read and stored as `ingest` does;
// then `kelvotest-line history` of one serial and `kelvotest-line runs` over the whole store
// are timed as processes, with their peak RSS, at each size.
//
//   line_store_bench [--postgres] [--runs N] [--at N,N…]
// SQLite: a file in a scratch folder. --postgres: a throwaway local server (fsync on), started
// with the tests' pg_server.sh. Prints runs/s, ms per history and peak RSS at each size.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fcntl.h>
#include <spawn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "line/command_table.h"
#include "line/history.h"
#include "line/ingest.h"
#include "line/ocp_run.h"
#include "line/read_ahead.h"
#include "line/store.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// In one pass, into a new string: the run is made anew for every stored run.
void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    std::string out;
    out.reserve(text.size() + 256);
    size_t last = 0;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, last)) {
        out.append(text, last, at - last).append(to);
        last = at + from.size();
    }
    text = out.append(text, last, std::string::npos);
}

std::string Serial(int i) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "SN%06d", i % 20 == 19 ? i - 1 : i);   // every 20th run retests the unit before
    return serial;
}

// Run i of the synthetic line: its own id, serial and hour (100 runs an hour from 1 November).
std::string MakeRun(const std::string& base, int i) {
    std::string text = base;
    char id[40], hour[16];
    std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", i);
    const auto t = std::chrono::sys_days{std::chrono::year{2026} / 11 / 1} + std::chrono::hours{i / 100};
    const std::chrono::year_month_day day{std::chrono::floor<std::chrono::days>(t)};
    std::snprintf(hour, sizeof hour, "%04d-%02u-%02uT%02d", static_cast<int>(day.year()), static_cast<unsigned>(day.month()),
                  static_cast<unsigned>(day.day()), (i / 100) % 24);
    ReplaceAll(text, "6f1c2a8e-93b4-4d07-a5e2-0c7d9b3e1f42", id);
    ReplaceAll(text, "\"SN0001\"", "\"" + Serial(i) + "\"");
    ReplaceAll(text, "2026-12-09T19", hour);
    return text;
}

struct Child {
    double seconds = 0;
    long peakRssKb = 0;
    int status = -1;
};

Child RunChild(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    Child child;
    const auto start = Clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        child.peakRssKb = usage.ru_maxrss;
    }
    child.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Stores runs [from, to) as `kelvotest-line ingest` does: their files are written first, a few
// thousand at a time, as a station's spool would hold them; then they are read ahead and
// stored (into PostgreSQL on several connections), which is what is timed. Returns the
// seconds of the storing.
double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

constexpr int kFilesAtOnce = 5000;
double gIngestCpuSeconds = 0;   // of the last batch, all the collector's threads
int gIngestRuns = 0;

double Ingest(line::Store& store, const std::string& url, const std::string& base, int from, int to,
              const std::string& scratch) {
    double seconds = 0, cpu = 0;
    for (int first = from; first < to; first += kFilesAtOnce) {
        std::vector<std::string> files;
        for (int i = first; i < std::min(to, first + kFilesAtOnce); ++i) {
            files.push_back(scratch + "/run" + std::to_string(i) + ".jsonl");
            const std::string text = MakeRun(base, i);
            std::FILE* f = std::fopen(files.back().c_str(), "wb");
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
        const auto start = Clock::now();
        const double cpuStart = CpuSeconds(RUSAGE_SELF);
        std::string error;
        const bool opened = line::StoreFiles(store, url, files, [](const line::ReadRun& next, const line::StoreResult& result) {
            if (!next.read || result.outcome != line::Stored::kNew) {
                std::fprintf(stderr, "%s not stored: %s%s\n", next.file.c_str(), next.error.c_str(), result.message.c_str());
                std::exit(2);
            }
        }, &error);
        if (!opened) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(2);
        }
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
        cpu += CpuSeconds(RUSAGE_SELF) - cpuStart;
        for (const std::string& file : files) unlink(file.c_str());
    }
    gIngestCpuSeconds = cpu;
    gIngestRuns = to - from;
    std::printf("         collector's CPU per run: %.3f ms (reading ahead and storing, all its threads)\n",
                1000 * cpu / (to - from));
    return seconds;
}

// The history's queries in this process, without the program's start: median of 51, in ms.
double HistoryQueryMs(line::Store& store, const std::string& serial) {
    std::vector<double> ms;
    for (int i = 0; i < 51; ++i) {
        std::vector<line::HistoryRun> runs;
        std::string error;
        const auto start = Clock::now();
        if (!line::LoadHistory(store, serial, &runs, &error) || runs.size() != 2) {
            std::fprintf(stderr, "history of %s: %zu runs %s\n", serial.c_str(), runs.size(), error.c_str());
            std::exit(2);
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

void Report(line::Store& store, const std::string& url, int stored, int rateRuns, double rateSeconds) {
    std::vector<double> history;
    Child last;
    const std::string serial = Serial(stored / 2 + 19 - (stored / 2) % 20);   // a retested unit: two runs
    for (int i = 0; i < 15; ++i) {
        last = RunChild({KELVOTEST_LINE_PATH, "history", serial, "--db", url});
        history.push_back(last.seconds * 1000);
    }
    std::sort(history.begin(), history.end());
    const Child listing = RunChild({KELVOTEST_LINE_PATH, "runs", "--db", url, "--format", "csv"});
    std::printf("%7d runs stored: ingest %.0f runs/s (last %d; %.0f runs per CPU second), ingest peak RSS %ld MB\n"
                "         history %s: its queries %.2f ms; the command %.1f ms (min %.1f, exit %d), peak RSS %ld MB\n"
                "         runs --format csv: %.2f s, peak RSS %ld MB (exit %d)\n",
                stored, rateRuns / rateSeconds, rateRuns, gIngestRuns / gIngestCpuSeconds, PeakRssKb() / 1024, serial.c_str(), HistoryQueryMs(store, serial), history[history.size() / 2],
                history[0], last.status, last.peakRssKb / 1024, listing.seconds, listing.peakRssKb / 1024, listing.status);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    line::KeepTheHeap();
    bool postgres = false;
    std::vector<int> checkpoints = {2000};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--postgres") postgres = true;
        else if ((arg == "--runs" || arg == "--at") && i + 1 < argc) {
            checkpoints.clear();
            std::stringstream list(argv[++i]);
            for (std::string n; std::getline(list, n, ',');) checkpoints.push_back(std::stoi(n));
        } else {
            std::fprintf(stderr, "usage: line_store_bench [--postgres] [--at N,N...]\n");
            return 2;
        }
    }
    char folder[] = "/tmp/kelvo-line-bench-XXXXXX";
    const std::string scratch = mkdtemp(folder);
    chmod(scratch.c_str(), 0755);   // the PostgreSQL server runs as its own user and makes its folder here
    std::string url = "sqlite:" + scratch + "/results.db";
    const std::string script = std::string("KELVO_PG_FSYNC=on sh ") + KELVO_PG_SERVER_SCRIPT;
    if (postgres) {
        if (std::system((script + " start " + scratch + "/pg").c_str()) != 0) return 2;
        url = "postgresql:host=" + scratch + "/pg user=postgres dbname=postgres";
    }
    std::string error;
    std::unique_ptr<line::Store> store = line::Store::Open(url, &error);
    if (!store) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    const std::string base = ReadFile(KELVO_LINE_RUN);
    std::printf("%s store, runs of the example plan (%zu bytes of OCP each)\n", postgres ? "PostgreSQL" : "SQLite", base.size());
    int stored = 0;
    for (int checkpoint : checkpoints) {
        const int count = checkpoint - stored;
        const double seconds = Ingest(*store, url, base, stored, checkpoint, scratch);
        stored = checkpoint;
        Report(*store, url, stored, std::min(count, 2000), seconds * std::min(count, 2000) / count);
    }
    store.reset();
    if (postgres) std::system((script + " stop " + scratch + "/pg").c_str());
    std::system(("rm -rf " + scratch).c_str());
    return 0;
}
