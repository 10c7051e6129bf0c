// plan/step_runner.h: running one step as a process, and what kelvotest-plan needs from the
// operating system. One implementation per system: step_runner_posix.cc (a process group of
// its own under a supervisor that outlives kelvotest-plan, SIGINT as the stop request) and
// step_runner_windows.cc (a process group of its own in a job object that ends with
// kelvotest-plan, CTRL_BREAK_EVENT as the stop request). Either way no part of a step keeps
// running once kelvotest-plan has died, however it died.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plan {

struct StepLaunch {
    std::string program;                  // path of the program (a script is fine on POSIX)
    std::vector<std::string> args;        // without the program itself
    std::string workDir;
    // Added to the environment; a value of nullopt removes the variable.
    std::vector<std::pair<std::string, std::optional<std::string>>> env;
    std::optional<double> stopAfter;      // seconds: then the stop request (a loop step's duration)
    double timeout = 600;                 // seconds: then a stop request, and 5 s later the process is killed
    std::string stdoutPath;               // the program's standard output, written as it comes
    std::string stderrPath;               // its standard error (the transcript), written as it comes
};

struct RunOutcome {
    bool started = false;
    std::string error;                    // why it did not start, or why it was killed
    int exitCode = -1;                    // -1: ended by a signal or killed
    int signal = 0;                       // POSIX: the signal that ended it
    bool stoppedAfterDuration = false;
    bool stoppedByUser = false;           // a Ctrl-C of kelvotest-plan was passed on
    bool timedOut = false;
    std::string stopProblem;              // the stop request could not be given: the program was killed
    double seconds = 0;
    std::string err;                      // standard error, whole
    std::string writeProblem;             // stdout.txt or stderr.txt could not be written whole: why
};

// Runs the program to its end; calls progress(elapsed seconds) about four times a second.
RunOutcome RunProcess(const StepLaunch& launch, const std::function<void(double)>& progress);

// Ctrl-C (and on POSIX SIGTERM and SIGHUP) count as interrupts from now on, instead of ending
// kelvotest-plan: a running step is sent the stop request; a second one is passed on too.
void InstallInterruptHandler();
int Interrupts();
// What the last interrupt was, for the reports: "Ctrl-C", "SIGTERM", "SIGHUP", ...
std::string InterruptName();

// Creates a file that must not exist yet (never through a link) with this content; false with
// the reason, e.g. "...: File exists", if it cannot.
bool CreateNewFile(const std::string& path, const std::string& content, std::string* error);
// Bytes from the operating system's random source.
bool RandomBytes(unsigned char* data, size_t size, std::string* error);

std::string OwnExecutablePath();
bool IsExecutableFile(const std::string& path);
std::string FindOnPath(const std::string& name);   // empty: not found
bool StdoutIsTerminal();
std::string LocalTimeStamp();   // 20261207-183307, for the default output folder

}  // namespace plan
