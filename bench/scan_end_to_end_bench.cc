// bench/scan_end_to_end_bench.cc: the real `kelvotest -scan` against the virtual scanner with
// words made on demand, run for a few seconds with pipes (ended by SIGINT) and under a
// pseudo-terminal (ended by a key), each run's last "Data Rate" set beside the bare
// copy-and-compare loop measured in the same run. The ratio end-to-end/bare says how much of
// a memory-speed link the tool and the virtual scanner together leave; it should be 0.5 or more.
// Runs with pipes through the recording library are each set beside the unrecorded run just
// before them, twice: on a shared machine the load changes less between neighbours than over
// the whole benchmark. Recorded against unrecorded should be 0.8 or more.
//
//   scan_end_to_end_bench [seconds per run, default 4]
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/bare_loop.h"

namespace {

char kSettings[] = "KELVOSIM=stream.rate=unlimited";
bool gRecorded = false;   // the next run goes through the recording library

[[noreturn]] void RunTool(const std::string& workDir) {
    if (chdir(workDir.c_str()) != 0) _exit(126);
    putenv(kSettings);
    if (gRecorded) {
        setenv("LD_LIBRARY_PATH", KELVO_RECORDER_DIR, 1);
        setenv("KELVOREC_LIBRARY", KELVO_VIRTUAL_LIBRARY, 1);
        setenv("KELVOREC_TRACE", "session.kvtrace", 1);
    }
    execl(KELVOTEST_PATH, KELVOTEST_PATH, "-scan", static_cast<char*>(nullptr));
    _exit(127);
}

// Reads what the tool prints; after `seconds` ends it (a key on the terminal, else SIGINT),
// then reads to the end and reaps it.
std::string Collect(pid_t child, int fd, double seconds, bool terminal) {
    std::string output;
    const auto start = std::chrono::steady_clock::now();
    bool stopped = false;
    for (;;) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!stopped && elapsed >= seconds) {
            if (terminal) {
                (void)!write(fd, "q", 1);
            } else {
                kill(child, SIGINT);
            }
            stopped = true;
        }
        if (elapsed > seconds + 20) {   // a tool that does not stop is a failed run
            kill(child, SIGKILL);
            break;
        }
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) continue;
        char chunk[4096];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) break;   // end of the pipe, or EIO once the terminal's last user is gone
        output.append(chunk, static_cast<size_t>(n));
    }
    int status = 0;
    waitpid(child, &status, 0);
    close(fd);
    return output;
}

std::string RunWithPipes(const std::string& workDir, double seconds) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return "";
    const pid_t child = fork();
    if (child == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        close(pipeFds[0]);
        RunTool(workDir);
    }
    close(pipeFds[1]);
    return Collect(child, pipeFds[0], seconds, false);
}

std::string RunUnderPty(const std::string& workDir, double seconds) {
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) RunTool(workDir);
    if (child < 0) return "";
    return Collect(child, master, seconds, true);
}

// The last "Data Rate: N" and "Errors: N" the tool printed; false when there was none.
bool LastReport(const std::string& output, double* rate, unsigned long* errors) {
    const size_t at = output.rfind("Data Rate: ");
    const size_t errorsAt = output.rfind("Errors: ");
    if (at == std::string::npos || errorsAt == std::string::npos) return false;
    *rate = std::strtod(output.c_str() + at + 11, nullptr);
    *errors = std::strtoul(output.c_str() + errorsAt + 8, nullptr, 10);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 4.0;
    char workDir[] = "/tmp/kelvo_bench_XXXXXX";
    if (mkdtemp(workDir) == nullptr) return 1;
    BareLoop bare;
    int failures = 0;
    const struct { const char* name; std::string (*run)(const std::string&, double); bool recorded; } kinds[] = {
        {"pseudo-terminal, ended by a key", RunUnderPty, false},
        {"pipes, ended by SIGINT", RunWithPipes, false},
        {"pipes, recorded", RunWithPipes, true},
        {"pipes, ended by SIGINT", RunWithPipes, false},
        {"pipes, recorded", RunWithPipes, true},
    };
    double unrecordedRate = 0;
    for (const auto& kind : kinds) {
        gRecorded = kind.recorded;
        const std::string output = kind.run(workDir, seconds);
        const double bareRate = bare.Rate(1.0);
        double rate = 0;
        unsigned long errors = 0;
        if (!LastReport(output, &rate, &errors)) {
            std::printf("%-32s no report from the tool:\n%s\n", kind.name, output.c_str());
            ++failures;
            continue;
        }
        std::printf("%-32s end-to-end %6.2f GB/s (errors %lu), bare loop %6.2f GB/s, ratio %.3f (target >= 0.5)\n",
                    kind.name, rate / 1e9, errors, bareRate / 1e9, rate / bareRate);
        if (kind.run == RunWithPipes && !kind.recorded) unrecordedRate = rate;
        if (kind.recorded) {
            std::printf("%-32s recorded/unrecorded %.3f (target >= 0.8)\n", "", rate / unrecordedRate);
        }
        if (errors != 0) ++failures;
    }
    std::string trace = std::string(workDir) + "/session.kvtrace";
    std::remove(trace.c_str());
    std::string log = std::string(workDir) + "/kelvotest.log";
    std::remove(log.c_str());
    rmdir(workDir);
    return failures == 0 && bare.Errors() == 0 ? 0 : 1;
}
