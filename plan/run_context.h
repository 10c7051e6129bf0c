// plan/run_context.h: one run of a plan for one unit, as main's stages see it. The options
// are the command line's; everything a run prepares, claims and produces is in RunContext, so
// that a caller can run the plan again for the next unit with a context of its own.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "plan/plan_file.h"
#include "plan/reports.h"
#include "plan/results.h"
#include "plan/station_file.h"

namespace plan {

struct Options {
    std::string planPath;
    std::string tool;
    bool virtualScanner = false;
    std::string serial, station, operatorName, out, replay, read, stationFile;
    std::string spool, flushSpool;    // --spool DIR: each finished run published; --flush-spool DIR
    bool spoolLogs = false;           // --spool-logs: the steps' logs go too
    std::vector<std::string> readArgs;
    bool stopOnFail = false;
    bool record = false;
    bool loop = false;                // --loop: unit after unit
    bool yes = false;                 // --yes: every prompt answered yes
    bool allowUncalibrated = false;
};

// The program each step runs, and whether its answers come from hardware.
struct ToolChoice {
    std::string path;                 // absolute: steps start in folders of their own
    std::string source = "hardware";  // "hardware", "virtual" or "replay"
    std::string note;
};

// --record: the recorder and what it runs.
struct Recording {
    std::string recorder;             // empty: not recording
    std::string library;              // empty: the one kelvotest-record finds
    std::string tool;
};

// What every run of the plan shares: the plan as read once, the tool, the recording.
struct Station {
    Options options;
    std::string commandLine;
    std::filesystem::path ownDir;     // kelvotest-plan's folder
    std::filesystem::path planDir;    // relative -prg and -ini files are the plan's folder's
    std::filesystem::path replayDir;  // empty: no replay
    std::string planText;             // the plan's bytes as read; plan.toml is written from them
    PlanFile plan;
    ToolChoice tool;
    Recording recording;
    StationIdentity identity;         // station.toml's [station]
    bool uncalibrated = false;        // past due, and run with --allow-uncalibrated
};

// One run of the plan for one unit.
struct RunContext {
    const Station* station = nullptr;
    std::string runId;                // random, 128 bits: names this run everywhere
    std::filesystem::path out;        // the claimed output folder, absolute
    RunResult run;
    OcpWriter ocp;
    std::string skipReason;           // not empty: the remaining steps are skipped, for this reason
    std::vector<std::string> writeProblems;   // what could not be written: the reports are incomplete
    std::chrono::steady_clock::time_point clock;
    int interruptsBefore = 0;         // Interrupts() when the run started: a loop's earlier units had theirs
};

}  // namespace plan
