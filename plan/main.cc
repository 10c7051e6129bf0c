// kelvotest-plan: runs the steps of a test plan, each as one run of kelvotest, reads the
// transcripts into measurements, checks them against the plan's limits and writes the
// reports (kelvotest-plan(1)). The tool is run as a process; nothing of it is linked here.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "plan/input_file.h"
#include "plan/reports.h"
#include "plan/run_stages.h"
#include "plan/run_station.h"
#include "plan/spool.h"
#include "plan/transcript.h"

#ifndef KELVO_VERSION
#define KELVO_VERSION "unknown"
#endif

using namespace plan;

namespace {

constexpr const char* kUsage =
    "usage: kelvotest-plan PLAN [options]\n"
    "       kelvotest-plan --read TRANSCRIPT [-- TOOL-ARGUMENTS...]\n"
    "Runs the steps of a test plan (TOML), each as one run of kelvotest, checks the\n"
    "measurements against the plan's limits and writes ocp.jsonl, junit.xml and report.html.\n"
    "  --tool PATH       the tool to run (default: kelvotest beside this program, then PATH)\n"
    "  --virtual         run kelvotest-virtual, the tool against the virtual scanner\n"
    "  --serial SN       the unit's serial number (overrides the plan's dut.serial)\n"
    "  --station NAME    the test station, for the reports and its lock (default: the host name)\n"
    "  --station-file F  the station's identity (default: station.toml beside the plan)\n"
    "  --allow-uncalibrated  run on a station whose calibration is past due (each run is marked)\n"
    "  --loop            test unit after unit, asking for each serial, until an empty one\n"
    "  --yes             answer every operator prompt of the plan with yes\n"
    "  --operator NAME   who runs the test, for the reports\n"
    "  --out DIR         the reports and one working folder per step: a new or an empty\n"
    "                    folder, locked for this run (default: a new folder named for the\n"
    "                    date, time and serial)\n"
    "  --stop-on-fail    end the plan at the first failed step\n"
    "  --record          record every step with kelvotest-record (a trace in each step's folder)\n"
    "  --replay DIR      run against the recordings of an earlier --record run in DIR\n"
    "  --read TRANSCRIPT print the measurements of a saved transcript as JSON\n";
constexpr const char* kUsageEnd =
    "  --help, --version\n"
    "Exit status: 0 every step passed, 1 a step failed, 2 the plan could not run.\n";

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "kelvotest-plan: %s\n", message.c_str());
    std::fprintf(stderr, "%s%s%s", kUsage, kSpoolUsage, kUsageEnd);
    std::exit(2);
}

// The options that are a word alone, and those that take a value: one row each.
struct Flag {
    const char* name;
    bool Options::*field;
};
constexpr Flag kFlags[] = {
    {"--virtual", &Options::virtualScanner}, {"--stop-on-fail", &Options::stopOnFail}, {"--record", &Options::record},
    {"--loop", &Options::loop},              {"--yes", &Options::yes},                {"--allow-uncalibrated", &Options::allowUncalibrated},
    {"--spool-logs", &Options::spoolLogs},
};
struct Valued {
    const char* name;
    std::string Options::*field;
};
constexpr Valued kValued[] = {
    {"--tool", &Options::tool},         {"--serial", &Options::serial},     {"--station", &Options::station},
    {"--station-file", &Options::stationFile}, {"--operator", &Options::operatorName}, {"--out", &Options::out},
    {"--replay", &Options::replay},     {"--spool", &Options::spool},       {"--flush-spool", &Options::flushSpool},
};

// One word of the command line, and its value; false: it is not an option of the tables.
bool TableOption(int argc, char** argv, int& i, Options& options) {
    const std::string word = argv[i];
    for (const Flag& flag : kFlags) {
        if (word != flag.name) continue;
        options.*flag.field = true;
        return true;
    }
    for (const Valued& valued : kValued) {
        if (word != valued.name) continue;
        if (i + 1 >= argc) UsageError(word + " needs a value");
        const std::string value = argv[++i];
        if (value.empty()) UsageError(word + " needs a value that is not empty");
        options.*valued.field = value;
        return true;
    }
    return false;
}

void CheckOptions(const Options& options) {
    if (!options.flushSpool.empty()) {
        if (!options.planPath.empty()) UsageError("--flush-spool sends the outbox and runs no plan");
        return;
    }
    if (options.planPath.empty()) UsageError("no plan given");
    if (options.spoolLogs && options.spool.empty()) UsageError("--spool-logs needs --spool DIR");
    if (options.record && !options.replay.empty()) UsageError("--record and --replay exclude each other");
    if (options.loop && !options.serial.empty()) UsageError("--loop asks for each unit's serial: it excludes --serial");
    if (!options.tool.empty() && (options.virtualScanner || !options.replay.empty())) {
        UsageError("--tool excludes --virtual and --replay, which choose the tool");
    }
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            std::printf("%s%s%s", kUsage, kSpoolUsage, kUsageEnd);
            std::exit(0);
        } else if (word == "--version") {
            std::printf("kelvotest-plan %s\n", KELVO_VERSION);
            std::exit(0);
        } else if (TableOption(argc, argv, i, options)) {
            continue;
        } else if (word == "--read") {
            if (i + 1 >= argc) UsageError("--read needs a value");
            options.read = argv[++i];
            if (options.read.empty()) UsageError("--read needs a value that is not empty");
            if (i + 1 < argc && std::string(argv[i + 1]) == "--") {
                for (i += 2; i < argc; ++i) options.readArgs.push_back(argv[i]);
            }
        } else if (word.size() > 1 && word[0] == '-') {
            UsageError("unknown option " + word);
        } else if (options.planPath.empty()) {
            options.planPath = word;
        } else {
            UsageError("one plan at a time ('" + word + "' is a second)");
        }
    }
    if (!options.read.empty()) {
        if (!options.planPath.empty()) UsageError("--read takes a transcript, not a plan");
        return options;
    }
    CheckOptions(options);
    return options;
}

std::string Quote(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\"'\\$`;&|<>()*?") == std::string::npos) return word;
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int ReadTranscript(const Options& options) {
    // A transcript is the tool's standard error of one step: a long stream's is megabytes.
    std::string transcript, error;
    if (!ReadInputFile(options.read, "transcript", size_t{256} << 20, "256 MiB", &transcript, &error)) {
        std::fprintf(stderr, "kelvotest-plan: %s\n", error.c_str());
        return 2;
    }
    const ToolArgs args = ParseToolArgs(options.readArgs);
    if (!args.error.empty()) {
        std::fprintf(stderr, "kelvotest-plan: the tool's arguments after --: %s\n", args.error.c_str());
        return 2;
    }
    std::cout << TranscriptJson(ParseTranscript(transcript, args)).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return std::cout.good() ? 0 : 2;
}

// --flush-spool DIR: the runs waiting in the outbox go to DIR; 2 while any still waits.
int FlushSpool(const std::string& dir) {
    const SpoolResult result = FlushOutbox({dir, false, DefaultOutbox()});
    if (!result.line.empty()) std::printf("%s\n", result.line.c_str());
    return result.waiting ? 2 : 0;
}

}  // namespace

// The stages: the command line; the station (the plan read once, the tool, recording and
// replay checked, the station's identity read and its lock taken); the plan's run for the
// unit, from claiming its folder to its exit status, or for unit after unit with --loop.
int main(int argc, char** argv) {
    Station station;
    station.options = ParseOptions(argc, argv);
    if (!station.options.read.empty()) return ReadTranscript(station.options);
    if (!station.options.flushSpool.empty()) return FlushSpool(station.options.flushSpool);
    for (int i = 0; i < argc; ++i) station.commandLine += (i ? " " : "") + Quote(argv[i]);
    std::string error;
    StationLock lock;
    if (!PrepareStation(station, &error) || !LockStation(station, lock, &error)) {
        std::fprintf(stderr, "kelvotest-plan: %s\n", error.c_str());
        return 2;
    }
    if (station.options.loop) return RunShift(station);
    return RunPlanForOneUnit(station, GivenSerial(station));
}
