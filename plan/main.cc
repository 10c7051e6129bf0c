// kelvotest-plan: runs the steps of a test plan, each as one run of kelvotest, reads the
// transcripts into measurements, checks them against the plan's limits and writes the
// reports (kelvotest-plan(1)). The tool is run as a process; nothing of it is linked here.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "plan/checks.h"
#include "plan/plan_file.h"
#include "plan/reports.h"
#include "plan/results.h"
#include "plan/serial_check.h"
#include "plan/station_file.h"
#include "plan/station_lock.h"
#include "plan/station_loop.h"
#include "plan/step_attempts.h"
#include "plan/step_runner.h"
#include "plan/transcript.h"

#ifndef KELVO_VERSION
#define KELVO_VERSION "unknown"
#endif

namespace fs = std::filesystem;
using namespace plan;

namespace {

// The file system's calls with an error code: nothing here throws.
bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}
fs::path Absolute(const fs::path& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute;
}

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
    "  --out DIR         the reports and one working folder per step (default: a new folder\n"
    "                    named for the date, time and serial)\n"
    "  --stop-on-fail    end the plan at the first failed step\n"
    "  --record          record every step with kelvotest-record (a trace in each step's folder)\n"
    "  --replay DIR      run against the recordings of an earlier --record run in DIR\n"
    "  --read TRANSCRIPT print the measurements of a saved transcript as JSON\n"
    "  --help, --version\n"
    "Exit status: 0 every step passed, 1 a step failed, 2 the plan could not run.\n";

struct Options {
    std::string planPath;
    std::string tool;
    bool virtualScanner = false;
    std::string serial, station, operatorName, out, replay, read, stationFile;
    std::vector<std::string> readArgs;
    bool stopOnFail = false;
    bool record = false;
    bool loop = false;
    bool yes = false;
    bool allowUncalibrated = false;
};

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "kelvotest-plan: %s\n%s", message.c_str(), kUsage);
    std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        auto value = [&](const char* name) -> std::string {
            if (i + 1 >= argc) UsageError(std::string(name) + " needs a value");
            const std::string v = argv[++i];
            if (v.empty()) UsageError(std::string(name) + " needs a value that is not empty");
            return v;
        };
        if (word == "--help" || word == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (word == "--version") {
            std::printf("kelvotest-plan %s\n", KELVO_VERSION);
            std::exit(0);
        } else if (word == "--tool") {
            options.tool = value("--tool");
        } else if (word == "--virtual") {
            options.virtualScanner = true;
        } else if (word == "--serial") {
            options.serial = value("--serial");
        } else if (word == "--station") {
            options.station = value("--station");
        } else if (word == "--station-file") {
            options.stationFile = value("--station-file");
        } else if (word == "--allow-uncalibrated") {
            options.allowUncalibrated = true;
        } else if (word == "--loop") {
            options.loop = true;
        } else if (word == "--yes") {
            options.yes = true;
        } else if (word == "--operator") {
            options.operatorName = value("--operator");
        } else if (word == "--out") {
            options.out = value("--out");
        } else if (word == "--stop-on-fail") {
            options.stopOnFail = true;
        } else if (word == "--record") {
            options.record = true;
        } else if (word == "--replay") {
            options.replay = value("--replay");
        } else if (word == "--read") {
            options.read = value("--read");
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
    if (options.planPath.empty()) UsageError("no plan given");
    if (options.record && !options.replay.empty()) UsageError("--record and --replay exclude each other");
    if (options.loop && !options.serial.empty()) UsageError("--loop asks for each unit's serial: it excludes --serial");
    if (!options.tool.empty() && (options.virtualScanner || !options.replay.empty())) {
        UsageError("--tool excludes --virtual and --replay, which choose the tool");
    }
    return options;
}

std::string Quote(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\"'\\$`;&|<>()*?") == std::string::npos) return word;
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool FileContains(const std::string& path, const std::string& needle) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return data.find(needle) != std::string::npos;
}

#if defined(_WIN32)
constexpr const char* kExe = ".exe";
constexpr const char* kLibrary = "kelvoscanusb.dll";
#else
constexpr const char* kExe = "";
constexpr const char* kLibrary = "libkelvoscanusb.so.1";
#endif

struct ToolChoice {
    std::string path;
    std::string source = "hardware";
    std::string note;
};

// The tool for this run, and whether its answers come from the virtual scanner.
ToolChoice ChooseTool(const Options& options, const fs::path& ownDir) {
    ToolChoice choice;
    const bool wantVirtual = options.virtualScanner || !options.replay.empty();
    auto beside = [&](const std::string& name) -> std::string {
        const fs::path candidate = ownDir / name;
        return IsExecutableFile(candidate.string()) ? candidate.string() : "";
    };
    if (!options.tool.empty()) {
        choice.path = options.tool.find_first_of("/\\") == std::string::npos ? FindOnPath(options.tool) : options.tool;
        if (choice.path.empty() || !IsExecutableFile(choice.path)) {
            std::fprintf(stderr, "kelvotest-plan: the tool '%s' is not there or cannot be run\n", options.tool.c_str());
            std::exit(2);
        }
    } else if (wantVirtual) {
#if defined(_WIN32)
        choice.path = beside("virtual\\kelvotest.exe");   // the ZIP: the copy beside the virtual scanner
#else
        choice.path = beside("kelvotest-virtual");
#endif
        if (choice.path.empty() && Exists(ownDir / kLibrary) && FileContains((ownDir / kLibrary).string(), "kelvosim")) {
            choice.path = beside(std::string("kelvotest") + kExe);   // a build tree: the virtual scanner beside the tool
        }
        if (choice.path.empty()) choice.path = FindOnPath("kelvotest-virtual");
        if (choice.path.empty()) {
            std::fprintf(stderr, "kelvotest-plan: kelvotest-virtual is neither beside kelvotest-plan nor on PATH\n");
            std::exit(2);
        }
    } else {
        choice.path = beside(std::string("kelvotest") + kExe);
        if (choice.path.empty()) choice.path = FindOnPath(std::string("kelvotest") + kExe);
        if (choice.path.empty()) {
            std::fprintf(stderr, "kelvotest-plan: kelvotest is neither beside kelvotest-plan nor on PATH "
                                 "(name it with --tool, or use --virtual)\n");
            std::exit(2);
        }
    }
    if (!options.replay.empty()) {
        choice.source = "replay";
        choice.note = "REPLAY: these results were replayed by the virtual scanner from the recordings in " +
                      options.replay + "; they are not a new measurement of hardware.";
        return choice;
    }
    if (wantVirtual) {
        choice.source = "virtual";
        choice.note = "VIRTUAL SCANNER: these results come from kelvotest-virtual, the simulated scanner, not from hardware.";
        return choice;
    }
    // A tool that will load the virtual scanner all the same: a build tree's kelvotest has it
    // beside itself, or the loader's path names it.
    std::vector<fs::path> libraries;
#if !defined(_WIN32)
    if (const char* path = std::getenv("LD_LIBRARY_PATH")) {
        std::stringstream dirs(path);
        std::string dir;
        while (std::getline(dirs, dir, ':')) {
            if (!dir.empty()) libraries.push_back(fs::path(dir) / kLibrary);
        }
    }
#endif
    libraries.push_back(fs::path(choice.path).parent_path() / kLibrary);
    for (const fs::path& library : libraries) {
        std::error_code error;
        if (!fs::exists(library, error)) continue;
        if (FileContains(library.string(), "kelvosim")) {
            choice.source = "virtual";
            choice.note = "VIRTUAL SCANNER: the tool " + choice.path + " loads the virtual scanner (" + library.string() +
                          "), not a scanner's own library: these results do not come from hardware.";
        }
        break;
    }
    return choice;
}

std::string FindRecorder(const fs::path& ownDir) {
#if defined(_WIN32)
    for (const fs::path& candidate : {ownDir / "recorder" / "kelvotest-record.cmd", ownDir.parent_path() / "recorder" / "kelvotest-record.cmd"}) {
        if (Exists(candidate)) return candidate.string();
    }
    return "";
#else
    for (const fs::path& candidate : {ownDir / "kelvotest-record", ownDir.parent_path() / "recorder" / "kelvotest-record"}) {
        if (IsExecutableFile(candidate.string())) return candidate.string();
    }
    return FindOnPath("kelvotest-record");
#endif
}

// -prg and -ini name input files: a relative name is the plan's folder's, since each step
// runs in a folder of its own.
std::vector<std::string> StepArguments(const StepPlan& step, const fs::path& planDir) {
    std::vector<std::string> args = step.args;
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        const std::string option = args[i].substr(1);
        if (option != "prg" && option != "ini") continue;
        const fs::path file(args[i + 1]);
        if (file.is_relative() && Exists(planDir / file)) args[i + 1] = Absolute(planDir / file).string();
        ++i;
    }
    return args;
}

class Progress {
public:
    Progress(size_t total) : total_(total), terminal_(StdoutIsTerminal()) {}

    void Start(const StepResult& step) {
        if (!terminal_) {
            std::printf("[%zu/%zu] %s ...\n", step.index + 1, total_, step.plan->name.c_str());
            std::fflush(stdout);
        }
    }
    void Tick(const StepResult& step, double elapsed) {
        if (!terminal_) return;
        if (step.plan->duration) {
            std::printf("\r[%zu/%zu] %s  %.0f s / %.0f s\033[K", step.index + 1, total_, step.plan->name.c_str(), elapsed,
                        *step.plan->duration);
        } else {
            std::printf("\r[%zu/%zu] %s  %.0f s\033[K", step.index + 1, total_, step.plan->name.c_str(), elapsed);
        }
        std::fflush(stdout);
    }
    void End(const StepResult& step) {
        const char* result = step.status == StepStatus::kSkip    ? "skipped"
                             : step.status == StepStatus::kError ? "ERROR"
                             : step.Passed()                     ? "pass"
                                                                 : "FAIL";
        const std::string attempt = step.attemptsAllowed > 1 ? "  attempt " + std::to_string(step.attempt) + " of " +
                                                                   std::to_string(step.attemptsAllowed)
                                                             : "";
        std::printf("%s[%zu/%zu] %s  %s  %.2f s%s%s\n", terminal_ ? "\r" : "", step.index + 1, total_,
                    step.plan->name.c_str(), result, step.seconds, attempt.c_str(), terminal_ ? "\033[K" : "");
        if (step.status != StepStatus::kComplete) std::printf("      %s\n", step.statusMessage.c_str());
        for (const Check* check : step.Failures()) std::printf("      %s\n", check->message.c_str());
        std::fflush(stdout);
    }

private:
    size_t total_;
    bool terminal_;
};

int ReadTranscript(const Options& options) {
    std::ifstream file(options.read, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "kelvotest-plan: %s: cannot be read\n", options.read.c_str());
        return 2;
    }
    std::ostringstream text;
    text << file.rdbuf();
    const ToolArgs args = ParseToolArgs(options.readArgs);
    if (!args.error.empty()) {
        std::fprintf(stderr, "kelvotest-plan: the tool's arguments after --: %s\n", args.error.c_str());
        return 2;
    }
    std::cout << TranscriptJson(ParseTranscript(text.str(), args)).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return std::cout.good() ? 0 : 2;
}

// Everything a unit's run needs that does not change from unit to unit.
struct Setup {
    Options options;
    PlanFile planFile;
    ToolChoice tool;
    fs::path planDir;
    std::string recorder;
    std::string recordLibrary;          // empty: the one kelvotest-record finds
    std::string recordTool;
    fs::path replayDir;
    std::string commandLine;
    StationIdentity station;
    bool uncalibrated = false;
};

// The station's identity: station.toml beside the plan, or the file --station-file names,
// and whether its calibration lets it run. False: the station must not run (message given).
bool ReadStation(Setup& setup) {
    const Options& options = setup.options;
    std::string path = options.stationFile;
    if (path.empty() && Exists(setup.planDir / "station.toml")) path = (setup.planDir / "station.toml").string();
    if (path.empty()) return true;
    std::string error;
    if (!LoadStationFile(path, &setup.station, &error)) {
        std::fprintf(stderr, "kelvotest-plan: station file: %s\n", error.c_str());
        return false;
    }
    if (!setup.station.PastDue(TodayIso())) return true;
    if (!options.allowUncalibrated) {
        std::fprintf(stderr, "kelvotest-plan: the station's calibration was due %s (%s); recalibrate it, or run "
                             "with --allow-uncalibrated\n", setup.station.calibrationDue.c_str(), path.c_str());
        return false;
    }
    setup.uncalibrated = true;
    std::fprintf(stderr, "kelvotest-plan: UNCALIBRATED: the station's calibration was due %s; every run is marked\n",
                 setup.station.calibrationDue.c_str());
    return true;
}

// The recorder and the library it records, for --record. False: it cannot record (message given).
bool PrepareRecording(Setup& setup, const fs::path& ownDir) {
    const ToolChoice& tool = setup.tool;
    setup.recordTool = tool.path;
    if (!setup.options.record) return true;
    setup.recorder = FindRecorder(ownDir);
    if (setup.recorder.empty()) {
        std::fprintf(stderr, "kelvotest-plan: --record needs kelvotest-record, which is neither beside "
                             "kelvotest-plan nor on PATH\n");
        return false;
    }
#if !defined(_WIN32)
    // The installed kelvotest-virtual is a script that puts the virtual scanner in front
    // of the loader's path: the recording goes in front of that library, named by path,
    // with the tool itself.
    if (tool.source == "virtual" && fs::path(tool.path).filename() == "kelvotest-virtual") {
        const fs::path lib = fs::path(tool.path).parent_path().parent_path() / "lib";
        std::vector<fs::path> candidates{lib / "kelvotest" / "virtual" / kLibrary};
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(lib, error)) {
            candidates.push_back(entry.path() / "kelvotest" / "virtual" / kLibrary);
        }
        for (const fs::path& candidate : candidates) {
            if (Exists(candidate) && IsExecutableFile((fs::path(tool.path).parent_path() / "kelvotest").string())) {
                setup.recordLibrary = candidate.string();
                setup.recordTool = (fs::path(tool.path).parent_path() / "kelvotest").string();
                break;
            }
        }
    }
    if (tool.source == "hardware" && std::getenv("KELVOREC_LIBRARY") == nullptr &&
        !Exists(fs::path(tool.path).parent_path() / kLibrary)) {
        std::fprintf(stderr, "kelvotest-plan: --record: set KELVOREC_LIBRARY to the scanner's device library "
                             "(kelvotest-record records in front of it)\n");
        return false;
    }
#endif
    return true;
}

bool PrepareReplay(Setup& setup) {
    if (setup.options.replay.empty()) return true;
    setup.replayDir = Absolute(setup.options.replay);
    for (size_t i = 0; i < setup.planFile.steps.size(); ++i) {
        const fs::path trace = setup.replayDir / StepFolderName(i, setup.planFile.steps[i].name) / "session.kvtrace";
        if (!Exists(trace)) {
            std::fprintf(stderr, "kelvotest-plan: --replay: %s is missing (record the plan with --record first)\n",
                         trace.string().c_str());
            return false;
        }
    }
    return true;
}

// The output folder of a unit: --out, or a new one named for the date, time and serial (in
// --out when a loop gives it). Empty: none (message given).
fs::path ClaimOutputFolder(const Options& options, const std::string& serialOfUnit) {
    fs::path out;
    std::error_code error;
    if (!options.out.empty() && !options.loop) {
        out = options.out;
        // Anything at a report's name counts, a link that points nowhere included: the reports
        // are written where they are named, never through something already standing there.
        const auto taken = [&](const char* name) {
            return fs::symlink_status(out / name, error).type() != fs::file_type::not_found;
        };
        if (taken("ocp.jsonl") || taken("junit.xml") || taken("report.html")) {
            std::fprintf(stderr, "kelvotest-plan: %s already holds the reports of a run; give another --out\n",
                         out.string().c_str());
            return {};
        }
    } else {
        std::string name = "kelvotest-plan-" + LocalTimeStamp();
        if (!serialOfUnit.empty()) {
            std::string serial;
            for (const char c : serialOfUnit) serial += std::isalnum(static_cast<unsigned char>(c)) || c == '-' ? c : '_';
            name += "-" + serial;
        }
        const fs::path base = options.loop && !options.out.empty() ? fs::path(options.out) / name : fs::path(name);
        out = base;
        for (int n = 2; fs::exists(out, error); ++n) out = base.string() + "-" + std::to_string(n);
    }
    fs::create_directories(out, error);
    if (error || !fs::is_directory(out, error)) {
        std::fprintf(stderr, "kelvotest-plan: cannot create the output folder %s: %s\n", out.string().c_str(),
                     error.message().c_str());
        return {};
    }
    return Absolute(out);
}

RunResult NewRun(const Setup& setup, const std::string& serial) {
    RunResult run;
    run.plan = &setup.planFile;
    run.info.version = KELVO_VERSION;
    run.info.commandLine = setup.commandLine;
    run.info.toolPath = setup.tool.path;
    run.info.source = setup.tool.source;
    run.info.sourceNote = setup.tool.note;
    run.info.serial = serial;
    run.info.station = setup.options.station;
    run.info.operatorName = setup.options.operatorName;
    run.info.recorded = setup.options.record;
    run.info.stationIdentity = setup.station;
    run.info.uncalibrated = setup.uncalibrated;
    if (setup.tool.source == "virtual") {
        const char* scenario = std::getenv("KELVOSIM");
        const char* file = std::getenv("KELVOSIM_SCENARIO");
        if (file != nullptr && file[0] != '\0') run.info.scenario = std::string("KELVOSIM_SCENARIO=") + file;
        if (scenario != nullptr && scenario[0] != '\0') {
            run.info.scenario += (run.info.scenario.empty() ? "" : "; ") + std::string("KELVOSIM=") + scenario;
        }
    }
    for (size_t i = 0; i < setup.planFile.steps.size(); ++i) {
        StepResult step;
        step.plan = &setup.planFile.steps[i];
        step.index = i;
        step.folder = StepFolderName(i, step.plan->name);
        run.steps.push_back(step);
    }
    return run;
}

// What a run of the tool for one attempt of a step is started with.
StepLaunch LaunchOf(const Setup& setup, const fs::path& dir, const StepResult& step) {
    StepLaunch launch;
    launch.workDir = dir.string();
    launch.stdoutPath = (dir / "stdout.txt").string();
    launch.stderrPath = (dir / "stderr.txt").string();
    launch.timeout = step.plan->timeout;
    const std::vector<std::string> args = StepArguments(*step.plan, setup.planDir);
    const bool loop = step.plan->toolArgs.RunsLoop();
    if (!setup.options.replay.empty()) {
        const fs::path trace = setup.replayDir / StepFolderName(step.index, step.plan->name) / "session.kvtrace";
        launch.env.emplace_back("KELVOSIM", "replay = " + trace.string() +
                                              (loop ? "; replay.pace = recorded; replay.end = stop" : ""));
        launch.env.emplace_back("KELVOSIM_SCENARIO", std::nullopt);
    } else {
        launch.stopAfter = step.plan->duration;
    }
    if (setup.options.record) {
        launch.program = setup.recorder;
        if (!setup.recordLibrary.empty()) launch.args = {"--library", setup.recordLibrary};
        for (const std::string& word : {(dir / "session.kvtrace").string(), std::string("--"), setup.recordTool}) {
            launch.args.push_back(word);
        }
        launch.args.insert(launch.args.end(), args.begin(), args.end());
    } else {
        launch.program = setup.tool.path;
        launch.args = args;
    }
    return launch;
}

// A finished run of the tool, as the step's status: a stop, a time-out, a tool that could not
// start, a signal. `abort` is set when the run cannot go on.
void ReadOutcome(const RunOutcome& outcome, StepResult& step, RunResult& run, std::string& abort) {
    step.endTime = IsoNow();
    step.seconds = outcome.seconds;
    step.exitCode = outcome.exitCode;
    step.stoppedAfterDuration = outcome.stoppedAfterDuration;
    if (!outcome.started) {
        step.status = StepStatus::kError;
        step.statusMessage = "the tool could not be started: " + outcome.error;
        run.info.aborted = true;
        run.info.abortMessage = step.statusMessage;
        abort = "the tool could not be started";
        return;
    }
    step.transcript = ParseTranscript(outcome.err, step.plan->toolArgs);
    step.checks = EvaluateStep(*step.plan, step.transcript, outcome.exitCode);
    step.status = StepStatus::kComplete;
    if (outcome.stoppedByUser) {
        step.status = StepStatus::kError;
        step.statusMessage = "stopped by Ctrl-C after " + std::to_string(static_cast<int>(outcome.seconds)) + " s";
        run.info.aborted = true;
        run.info.abortMessage = "stopped by Ctrl-C during step '" + step.plan->name + "'";
        abort = "the run was stopped (Ctrl-C)";
    } else if (!outcome.stopProblem.empty()) {
        step.status = StepStatus::kError;
        step.statusMessage = outcome.stopProblem;
    } else if (outcome.timedOut) {
        step.status = StepStatus::kError;
        char text[160];
        std::snprintf(text, sizeof text, "still running after %.0f s (timeout)%s; it was stopped%s", step.plan->timeout,
                      step.plan->duration ? " although its duration had ended" : "", outcome.signal == 9 ? " and killed" : "");
        step.statusMessage = text;
    } else if (outcome.exitCode == 126 || outcome.exitCode == 127) {
        // The loader or the shell could not start the tool (no device library, a
        // broken script): no unit was tested, and no later step would be.
        std::string why = outcome.err.substr(0, outcome.err.find('\n'));
        step.status = StepStatus::kError;
        step.statusMessage = "the tool could not start (exit " + std::to_string(outcome.exitCode) + ")" +
                             (why.empty() ? "" : ": " + why);
        step.checks.clear();
        run.info.aborted = true;
        run.info.abortMessage = step.statusMessage;
        abort = "the tool could not start";
    } else if (outcome.signal != 0) {
        step.status = StepStatus::kError;
        step.statusMessage = "the tool was ended by signal " + std::to_string(outcome.signal);
    }
}

// The operator's side of a prompt step and of the loop: standard input and output.
PromptSide OperatorPrompt(const Options& options) {
    PromptSide side;
    side.readLine = [] { return ReadInputLine(); };
    side.write = [](const std::string& text) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    };
    side.terminal = StdinIsTerminal();
    side.yes = options.yes;
    return side;
}

// One attempt of a step: the operator's prompt, or one run of the tool in the attempt's folder.
void RunStepAttempt(const Setup& setup, const fs::path& out, StepResult& step, RunResult& run, Progress& progress,
                    OcpWriter& ocp, std::string& abort) {
    step.startPoint = std::chrono::system_clock::now();
    step.startTime = IsoTime(step.startPoint);
    ocp.StepStart(step);
    progress.Start(step);
    if (!step.plan->prompt.empty()) {
        RunPrompt(OperatorPrompt(setup.options), &step);
        step.endTime = IsoNow();
        if (step.status == StepStatus::kError) {
            // No one to answer: no unit was tested, so no unit may be recorded as failed.
            run.info.aborted = true;
            run.info.abortMessage = step.statusMessage;
            abort = "the prompt had no answer";
        }
        return;
    }
    const fs::path dir = out / step.folder;
    std::error_code error;
    fs::create_directories(dir, error);
    const RunOutcome outcome =
        RunProcess(LaunchOf(setup, dir, step), [&](double elapsed) { progress.Tick(step, elapsed); });
    ReadOutcome(outcome, step, run, abort);
}

// The reports and the summary of a finished run; the run's exit status.
int FinishRun(RunResult& run, OcpWriter& ocp, const fs::path& out, std::chrono::steady_clock::time_point runClock) {
    run.info.endTime = IsoNow();
    run.info.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - runClock).count();
    ocp.RunEnd(run);
    ocp.Close();
    bool reportsOk = !ocp.Failed();
    if (!reportsOk) std::fprintf(stderr, "kelvotest-plan: %s/ocp.jsonl could not be written completely\n", out.string().c_str());
    std::string problem;
    if (!WriteFileAtomically((out / "junit.xml").string(), JUnitXml(run), &problem) ||
        !WriteFileAtomically((out / "report.html").string(), HtmlReport(run), &problem)) {
        std::fprintf(stderr, "kelvotest-plan: %s\n", problem.c_str());
        reportsOk = false;
    }
    std::fputs(ConsoleSummary(run).c_str(), stdout);
    std::fflush(stdout);
    if (!reportsOk) return 2;
    return run.ExitCode();
}

// One run of the plan for one unit: its own folder, steps and reports.
UnitVerdict RunUnit(const Setup& setup, const std::string& serial) {
    UnitVerdict verdict;
    const int interruptsBefore = Interrupts();
    const auto interrupted = [&] { return Interrupts() > interruptsBefore; };
    const fs::path out = ClaimOutputFolder(setup.options, serial);
    if (out.empty()) return verdict;
    RunResult run = NewRun(setup, serial);
    run.info.outDir = out.string();
    std::error_code error;
    fs::copy_file(setup.options.planPath, out / "plan.toml", fs::copy_options::overwrite_existing, error);

    OcpWriter ocp;
    std::string problem;
    if (!ocp.Open((out / "ocp.jsonl").string(), &problem)) {
        std::fprintf(stderr, "kelvotest-plan: cannot write the OCP output: %s\n", problem.c_str());
        return verdict;
    }
    const auto runClock = std::chrono::steady_clock::now();
    run.info.startTime = IsoNow();
    ocp.RunStart(run);
    std::printf("%s: %zu steps, %s%s\n", setup.planFile.name.c_str(), setup.planFile.steps.size(), setup.tool.path.c_str(),
                setup.tool.source == "hardware" ? "" : setup.tool.source == "virtual" ? " (VIRTUAL SCANNER)" : " (REPLAY)");
    std::printf("reports in %s\n", out.string().c_str());
    std::fflush(stdout);

    Progress progress(setup.planFile.steps.size());
    std::string skipReason;
    for (StepResult& step : run.steps) {
        if (skipReason.empty() && interrupted()) {
            run.info.aborted = true;
            run.info.abortMessage = "stopped by Ctrl-C";
            skipReason = "the run was stopped (Ctrl-C)";
        }
        if (!skipReason.empty()) {
            step.status = StepStatus::kSkip;
            step.statusMessage = skipReason;
            step.startTime = step.endTime = IsoNow();
            step.startPoint = std::chrono::system_clock::now();
            ocp.StepStart(step);
            ocp.StepEnd(run, step);
            progress.End(step);
            continue;
        }
        RunAttempts(
            &step, [&](StepResult* attempt) { RunStepAttempt(setup, out, *attempt, run, progress, ocp, skipReason); },
            [&] { return skipReason.empty() && !interrupted(); },
            [&](const StepResult& attempt) {
                ocp.StepEnd(run, attempt);
                progress.End(attempt);
            });
        if (skipReason.empty() && setup.options.stopOnFail && !step.Passed()) {
            skipReason = "--stop-on-fail: step '" + step.plan->name + "' failed";
        }
    }
    if (!run.info.aborted && interrupted()) {
        run.info.aborted = true;
        run.info.abortMessage = "stopped by Ctrl-C";
    }
    verdict.exitCode = FinishRun(run, ocp, out, runClock);
    verdict.interrupted = interrupted();
    if (run.info.aborted) verdict.message = run.info.abortMessage;
    for (const StepResult& step : run.steps) {
        if (step.status == StepStatus::kError && !run.info.aborted) verdict.failures.push_back(step.plan->name + ": " + step.statusMessage);
        for (const Check* check : step.Failures()) verdict.failures.push_back(check->message);
    }
    return verdict;
}

// Prepares what every unit's run shares: the plan, the tool, recording and replay, the
// station's identity and its lock. False: the plan cannot run (message given).
bool PrepareStation(Setup& setup, StationLock& lock, int argc, char** argv) {
    Options& options = setup.options;
    std::string planError;
    if (!LoadPlan(options.planPath, &setup.planFile, &planError)) {
        std::fprintf(stderr, "kelvotest-plan: plan error: %s\n", planError.c_str());
        return false;
    }
    const SerialCheck check(setup.planFile.Dut("serial_pattern"));
    const std::string serial = options.serial.empty() ? setup.planFile.Dut("serial") : options.serial;
    if (!options.loop && !serial.empty() && !check.Refusal(serial).empty()) {
        std::fprintf(stderr, "kelvotest-plan: %s\n", check.Refusal(serial).c_str());
        return false;
    }
    if (options.station.empty()) options.station = HostName();
    const fs::path ownDir = fs::path(OwnExecutablePath()).parent_path();
    setup.tool = ChooseTool(options, ownDir);
    setup.planDir = Absolute(fs::path(options.planPath)).parent_path();
    for (int i = 0; i < argc; ++i) setup.commandLine += (i ? " " : "") + Quote(argv[i]);
    if (!ReadStation(setup) || !PrepareRecording(setup, ownDir) || !PrepareReplay(setup)) return false;
    std::string lockError;
    if (!options.station.empty() &&
        !lock.Take(DataFolder(), options.station, Absolute(options.planPath).string(), &lockError)) {
        std::fprintf(stderr, "kelvotest-plan: %s\n", lockError.c_str());
        return false;
    }
    return true;
}

// --loop: unit after unit until the operator ends the shift.
int RunShift(const Setup& setup) {
    SerialCheck check(setup.planFile.Dut("serial_pattern"));
    const PromptSide prompt = OperatorPrompt(setup.options);
    OperatorSide side;
    side.readLine = prompt.readLine;
    side.write = prompt.write;
    side.terminal = StdoutIsTerminal() && prompt.terminal;
    const char* term = std::getenv("TERM");
    side.colour = side.terminal && std::getenv("NO_COLOR") == nullptr && (term == nullptr || std::string(term) != "dumb");
    return RunStationLoop(check, side, [&](const std::string& serial) { return RunUnit(setup, serial); });
}

}  // namespace

int main(int argc, char** argv) {
    Setup setup;
    setup.options = ParseOptions(argc, argv);
    if (!setup.options.read.empty()) return ReadTranscript(setup.options);
    StationLock lock;
    if (!PrepareStation(setup, lock, argc, argv)) return 2;
    InstallInterruptHandler();
    if (setup.options.loop) return RunShift(setup);
    const std::string serial = setup.options.serial.empty() ? setup.planFile.Dut("serial") : setup.options.serial;
    return RunUnit(setup, serial).exitCode;
}
