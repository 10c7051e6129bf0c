// POSIX: the step's program runs in a process group of its own, so that a Ctrl-C on the
// terminal reaches kelvotest-plan alone, which passes it on as the tool's own stop request
// (SIGINT to the group). Its standard input is /dev/null: no key ever ends a loop.
//
// Between kelvotest-plan and the step sits a small supervisor process, which alone sends the
// group its signals. kelvotest-plan tells it what to send through a pipe; when that pipe
// closes without a word, kelvotest-plan has died (even by SIGKILL): the supervisor sends the
// stop request, and after a grace period kills the group. When the step's program ends, the
// supervisor kills what it left behind in its group (a script's `sleep 300 &`), and then
// reports the program's wait status through a second pipe.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "plan/step_runner.h"

namespace plan {
namespace {

volatile sig_atomic_t gInterrupts = 0;
volatile sig_atomic_t gLastSignal = 0;

void OnInterrupt(int number) {
    gInterrupts = gInterrupts + 1;
    gLastSignal = number;
}

// The words kelvotest-plan sends its supervisor, and the grace period after its death.
constexpr char kSendStop = 'I';
constexpr char kSendKill = 'K';
constexpr int kGraceMs = 5000;

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);   // a file size limit is a write error to report, not death
}

int Interrupts() { return gInterrupts; }

std::string InterruptName() {
    switch (gLastSignal) {
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "Ctrl-C";
    }
}

bool CreateNewFile(const std::string& path, const std::string& content, std::string* error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = WriteAll(fd, content.data(), content.size());
    const int writeError = errno;
    if (close(fd) != 0 || !written) {
        *error = path + ": " + std::strerror(written ? errno : writeError);
        return false;
    }
    return true;
}

bool RandomBytes(unsigned char* data, size_t size, std::string* error) {
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    size_t got = 0;
    while (fd >= 0 && got < size) {
        const ssize_t n = read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    if (got != size) *error = std::string("/dev/urandom: ") + std::strerror(errno);
    if (fd >= 0) close(fd);
    return got == size;
}

std::string OwnExecutablePath() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    path[n] = '\0';
    return path;
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return "";
    std::string list = path;
    size_t begin = 0;
    while (begin <= list.size()) {
        size_t end = list.find(':', begin);
        if (end == std::string::npos) end = list.size();
        const std::string dir = end > begin ? list.substr(begin, end - begin) : ".";
        const std::string candidate = dir + "/" + name;
        if (IsExecutableFile(candidate)) return candidate;
        begin = end + 1;
    }
    return "";
}

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

std::string LocalTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

namespace {

// The file descriptors of one step; closed on every path.
struct StepFds {
    int outFile = -1, errFile = -1;
    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1}, execPipe[2] = {-1, -1};
    int controlPipe[2] = {-1, -1}, statusPipe[2] = {-1, -1};

    void Close(int& fd) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    ~StepFds() {
        for (int* fd : {&outFile, &errFile, &outPipe[0], &outPipe[1], &errPipe[0], &errPipe[1], &execPipe[0],
                        &execPipe[1], &controlPipe[0], &controlPipe[1], &statusPipe[0], &statusPipe[1]}) {
            Close(*fd);
        }
    }
};

bool OpenStepFiles(const StepLaunch& launch, StepFds& fds, std::string* error) {
    // A new file each: never one that is there already, never through a link.
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    fds.outFile = open(launch.stdoutPath.c_str(), kFlags, 0644);
    if (fds.outFile >= 0) fds.errFile = open(launch.stderrPath.c_str(), kFlags, 0644);
    if (fds.outFile < 0 || fds.errFile < 0) {
        *error = "cannot create " + (fds.outFile < 0 ? launch.stdoutPath : launch.stderrPath) + ": " + std::strerror(errno);
        return false;
    }
    for (int* pair : {fds.outPipe, fds.errPipe, fds.execPipe, fds.controlPipe, fds.statusPipe}) {
        if (pipe2(pair, O_CLOEXEC) != 0) {
            *error = std::string("cannot make pipes: ") + std::strerror(errno);
            return false;
        }
    }
    return true;
}

// The step's program, in the child: its own group, its own folder, the plan's environment.
[[noreturn]] void ExecStep(const StepLaunch& launch, const StepFds& fds) {
    setpgid(0, 0);
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGXFSZ, SIGCHLD}) ::signal(number, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(launch.program.c_str()));
    for (const std::string& arg : launch.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int error = 0;
    const int null = open("/dev/null", O_RDONLY);
    if (null < 0 || dup2(null, STDIN_FILENO) < 0 || dup2(fds.outPipe[1], STDOUT_FILENO) < 0 ||
        dup2(fds.errPipe[1], STDERR_FILENO) < 0) {
        error = errno;
    } else if (chdir(launch.workDir.c_str()) != 0) {
        error = errno;
    } else {
        for (const auto& [name, value] : launch.env) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        execv(launch.program.c_str(), argv.data());
        error = errno;
    }
    (void)!write(fds.execPipe[1], &error, sizeof error);
    _exit(127);
}

// In the supervisor: the leader's end wakes its poll at once.
int gChildEnded = -1;
void OnChildEnded(int) {
    const int saved = errno;
    (void)!write(gChildEnded, "x", 1);
    errno = saved;
}

// The supervisor's watch over the group `leader` leads: signals as kelvotest-plan asks, the stop
// request and later the kill when kelvotest-plan is gone. Returns the leader's wait status.
int Supervise(pid_t leader, int control, int childEnded) {
    int status = 0;
    bool orphaned = false;
    auto killAt = std::chrono::steady_clock::time_point::max();
    for (;;) {
        if (waitpid(leader, &status, WNOHANG) == leader) break;
        pollfd fds[2] = {{childEnded, POLLIN, 0}, {orphaned ? -1 : control, POLLIN, 0}};
        const int ready = poll(fds, 2, orphaned || childEnded < 0 ? 50 : 1000);
        char drained[64];
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) (void)!read(childEnded, drained, sizeof drained);
        pollfd& fd = fds[1];
        if (!orphaned && ready > 0 && (fd.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            char word = 0;
            const ssize_t n = read(control, &word, 1);
            if (n == 1) {
                kill(-leader, word == kSendKill ? SIGKILL : SIGINT);
            } else if (n == 0 || errno != EINTR) {
                orphaned = true;   // kelvotest-plan is gone: the stop request, then the grace period
                kill(-leader, SIGINT);
                killAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGraceMs);
            }
        } else if (orphaned && std::chrono::steady_clock::now() >= killAt) {
            kill(-leader, SIGKILL);
        }
    }
    kill(-leader, SIGKILL);   // what the program left running in its group
    return status;
}

// The supervisor, in the first child: starts the program and watches it. It ignores the
// terminal's signals, which reach kelvotest-plan, who decides.
[[noreturn]] void RunSupervisor(const StepLaunch& launch, StepFds& fds) {
    // A group of its own: a signal to kelvotest-plan's whole group (a shell's kill of the
    // job) leaves the supervisor to stop the step.
    setpgid(0, 0);
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(number, SIG_IGN);
    fds.Close(fds.controlPipe[1]);
    fds.Close(fds.statusPipe[0]);
    int childEnded[2] = {-1, -1};
    if (pipe2(childEnded, O_CLOEXEC | O_NONBLOCK) == 0) {
        gChildEnded = childEnded[1];
        struct sigaction action {};
        action.sa_handler = OnChildEnded;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
        sigaction(SIGCHLD, &action, nullptr);
    }
    const pid_t leader = fork();
    if (leader < 0) {
        const int error = errno;
        (void)!write(fds.execPipe[1], &error, sizeof error);
        _exit(127);
    }
    if (leader == 0) {
#if defined(__linux__)
        // The supervisor itself killed: the program still gets its stop request.
        prctl(PR_SET_PDEATHSIG, SIGINT);
#endif
        ExecStep(launch, fds);
    }
    setpgid(leader, leader);   // also here: the group exists before the first signal
    for (int* fd : {&fds.outPipe[1], &fds.errPipe[1], &fds.execPipe[1], &fds.outFile, &fds.errFile}) fds.Close(*fd);
    const int status = Supervise(leader, fds.controlPipe[0], childEnded[0]);
    (void)!write(fds.statusPipe[1], &status, sizeof status);
    _exit(0);
}

// kelvotest-plan's side of one running step.
struct StepWatch {
    StepFds* fds;
    pid_t supervisor;
    RunOutcome* outcome;

    void Send(char word) { (void)!write(fds->controlPipe[1], &word, 1); }
    void Copy(int from, int to, bool isErr, bool& open);
    void Pump();
    bool ExitedNow(int* status);
    void Signals(double elapsed, const StepLaunch& launch, int& seenInterrupts, bool& stopSent, double& stopAt,
                 bool& killed);
};

void StepWatch::Copy(int from, int to, bool isErr, bool& open) {
    char buffer[65536];
    const ssize_t n = read(from, buffer, sizeof buffer);
    if (n > 0) {
        if (!WriteAll(to, buffer, static_cast<size_t>(n)) && outcome->writeProblem.empty()) {
            outcome->writeProblem = std::string(isErr ? "stderr.txt" : "stdout.txt") + ": " +
                                    std::strerror(errno);
        }
        if (isErr) outcome->err.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        open = false;
    }
}

bool StepWatch::ExitedNow(int* status) {
    if (waitpid(supervisor, nullptr, WNOHANG) != supervisor) return false;
    if (read(fds->statusPipe[0], status, sizeof *status) != static_cast<ssize_t>(sizeof *status)) {
        *status = SIGKILL;   // the supervisor died before it could tell: count the program as killed
    }
    return true;
}

void StepWatch::Signals(double elapsed, const StepLaunch& launch, int& seenInterrupts, bool& stopSent, double& stopAt,
                        bool& killed) {
    if (Interrupts() != seenInterrupts) {
        seenInterrupts = Interrupts();
        outcome->stoppedByUser = true;
        Send(kSendStop);
    }
    if (launch.stopAfter && !stopSent && elapsed >= *launch.stopAfter) {
        stopSent = true;
        outcome->stoppedAfterDuration = true;
        Send(kSendStop);
    }
    if (!outcome->timedOut && elapsed >= launch.timeout) {
        outcome->timedOut = true;
        stopAt = elapsed;
        Send(kSendStop);
    }
    if (outcome->timedOut && !killed && elapsed >= stopAt + 5) {
        killed = true;
        Send(kSendKill);
    }
}

// Copies the program's output until it has ended and its pipes are closed; returns its wait
// status.
int WatchStep(const StepLaunch& launch, StepWatch& watch, const std::function<void(double)>& progress) {
    const auto start = std::chrono::steady_clock::now();
    int seenInterrupts = Interrupts(), status = 0;
    bool stopSent = false, killed = false, exited = false, outOpen = true, errOpen = true;
    double stopAt = -1;
    auto lastProgress = start - std::chrono::seconds(1);
    StepFds& fds = *watch.fds;
    while (outOpen || errOpen || !exited) {
        pollfd polled[2];
        nfds_t count = 0;
        if (outOpen) polled[count++] = {fds.outPipe[0], POLLIN, 0};
        if (errOpen) polled[count++] = {fds.errPipe[0], POLLIN, 0};
        if (count > 0) {
            const int ready = poll(polled, count, 100);
            if (ready < 0 && errno != EINTR) break;
            for (nfds_t i = 0; ready > 0 && i < count; ++i) {
                if ((polled[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
                const bool isErr = polled[i].fd == fds.errPipe[0];
                watch.Copy(polled[i].fd, isErr ? fds.errFile : fds.outFile, isErr, isErr ? errOpen : outOpen);
            }
        } else {
            usleep(1000);
        }
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!exited && watch.ExitedNow(&status)) {
            exited = true;
            watch.outcome->seconds = elapsed;
        }
        // A process that left the group (a daemon) may hold the pipes: not for long.
        if (exited && elapsed > watch.outcome->seconds + 2) break;
        if (exited) continue;
        watch.Signals(elapsed, launch, seenInterrupts, stopSent, stopAt, killed);
        if (progress && std::chrono::steady_clock::now() - lastProgress >= std::chrono::milliseconds(250)) {
            lastProgress = std::chrono::steady_clock::now();
            progress(elapsed);
        }
    }
    if (!exited) {
        watch.Send(kSendKill);
        while (!watch.ExitedNow(&status)) usleep(10000);
    }
    return status;
}

}  // namespace

RunOutcome RunProcess(const StepLaunch& launch, const std::function<void(double)>& progress) {
    RunOutcome outcome;
    StepFds fds;
    if (!OpenStepFiles(launch, fds, &outcome.error)) return outcome;
    const auto start = std::chrono::steady_clock::now();
    const pid_t supervisor = fork();
    if (supervisor < 0) {
        outcome.error = std::string("cannot start a process: ") + std::strerror(errno);
        return outcome;
    }
    if (supervisor == 0) RunSupervisor(launch, fds);
    for (int* fd : {&fds.outPipe[1], &fds.errPipe[1], &fds.execPipe[1], &fds.controlPipe[0], &fds.statusPipe[1]}) {
        fds.Close(*fd);
    }
    int execError = 0;
    if (read(fds.execPipe[0], &execError, sizeof execError) == static_cast<ssize_t>(sizeof execError)) {
        waitpid(supervisor, nullptr, 0);
        outcome.error = launch.program + ": " + std::strerror(execError);
        return outcome;
    }
    outcome.started = true;
    StepWatch watch{&fds, supervisor, &outcome};
    const int status = WatchStep(launch, watch, progress);
    if (outcome.seconds == 0) {
        outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    if (WIFEXITED(status)) {
        outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
    return outcome;
}

}  // namespace plan
