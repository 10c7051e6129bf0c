// POSIX: the step's program runs in a process group of its own, so that a Ctrl-C on the
// terminal reaches kelvotest-plan alone, which passes it on as the tool's own stop request
// (SIGINT to the group). Its standard input is /dev/null: no key ever ends a loop.
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

void OnInterrupt(int) { gInterrupts = gInterrupts + 1; }

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
}

int Interrupts() { return gInterrupts; }

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

RunOutcome RunProcess(const StepLaunch& launch, const std::function<void(double)>& progress) {
    RunOutcome outcome;
    const int outFile = open(launch.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int errFile = open(launch.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1}, execPipe[2] = {-1, -1};
    auto closeAll = [&]() {
        for (const int fd : {outFile, errFile, outPipe[0], outPipe[1], errPipe[0], errPipe[1], execPipe[0], execPipe[1]}) {
            if (fd >= 0) close(fd);
        }
    };
    if (outFile < 0 || errFile < 0) {
        outcome.error = "cannot create " + (outFile < 0 ? launch.stdoutPath : launch.stderrPath) + ": " + std::strerror(errno);
        closeAll();
        return outcome;
    }
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0 || pipe2(execPipe, O_CLOEXEC) != 0) {
        outcome.error = std::string("cannot make pipes: ") + std::strerror(errno);
        closeAll();
        return outcome;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(launch.program.c_str()));
    for (const std::string& arg : launch.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        outcome.error = std::string("cannot start a process: ") + std::strerror(errno);
        closeAll();
        return outcome;
    }
    if (pid == 0) {
        setpgid(0, 0);
#if defined(__linux__)
        // kelvotest-plan killed (even with SIGKILL): the tool gets its stop request and ends
        // cleanly instead of streaming on without anyone reading its transcript.
        prctl(PR_SET_PDEATHSIG, SIGINT);
        if (getppid() != parent) raise(SIGINT);
#else
        (void)parent;
#endif
        for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) ::signal(number, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        int error = 0;
        const int null = open("/dev/null", O_RDONLY);
        if (null < 0 || dup2(null, STDIN_FILENO) < 0 || dup2(outPipe[1], STDOUT_FILENO) < 0 ||
            dup2(errPipe[1], STDERR_FILENO) < 0) {
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
        (void)!write(execPipe[1], &error, sizeof error);
        _exit(127);
    }
    setpgid(pid, pid);   // also here: the group exists before the first stop request
    close(outPipe[1]);
    close(errPipe[1]);
    close(execPipe[1]);
    outPipe[1] = errPipe[1] = execPipe[1] = -1;
    int execError = 0;
    if (read(execPipe[0], &execError, sizeof execError) == static_cast<ssize_t>(sizeof execError)) {
        waitpid(pid, nullptr, 0);
        outcome.error = launch.program + ": " + std::strerror(execError);
        closeAll();
        return outcome;
    }
    outcome.started = true;

    int seenInterrupts = Interrupts();
    bool stopSent = false, killed = false, exited = false, outOpen = true, errOpen = true;
    double stopAt = -1;
    int status = 0;
    auto lastProgress = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    char buffer[65536];
    while (outOpen || errOpen || !exited) {
        pollfd fds[2];
        nfds_t count = 0;
        if (outOpen) fds[count++] = {outPipe[0], POLLIN, 0};
        if (errOpen) fds[count++] = {errPipe[0], POLLIN, 0};
        if (count > 0) {
            const int ready = poll(fds, count, 100);
            if (ready < 0 && errno != EINTR) break;
            for (nfds_t i = 0; ready > 0 && i < count; ++i) {
                if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
                const bool isErr = fds[i].fd == errPipe[0];
                const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    WriteAll(isErr ? errFile : outFile, buffer, static_cast<size_t>(n));
                    if (isErr) outcome.err.append(buffer, static_cast<size_t>(n));
                } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                    (isErr ? errOpen : outOpen) = false;
                }
            }
        } else {
            usleep(1000);   // both pipes closed: the end is near, or the program closed them itself
        }
        if (!exited) {
            const pid_t done = waitpid(pid, &status, WNOHANG);
            if (done == pid) exited = true;
        }
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (exited) {
            // Whatever the program left running behind it may hold the pipes: not for long.
            if (elapsed > outcome.seconds + 2 && outcome.seconds > 0) break;
            if (outcome.seconds == 0) outcome.seconds = elapsed;
            continue;
        }
        if (Interrupts() != seenInterrupts) {
            seenInterrupts = Interrupts();
            outcome.stoppedByUser = true;
            kill(-pid, SIGINT);
        }
        if (launch.stopAfter && !stopSent && elapsed >= *launch.stopAfter) {
            stopSent = true;
            outcome.stoppedAfterDuration = true;
            kill(-pid, SIGINT);
        }
        if (!outcome.timedOut && elapsed >= launch.timeout) {
            outcome.timedOut = true;
            stopAt = elapsed;
            kill(-pid, SIGINT);
        }
        if (outcome.timedOut && !killed && elapsed >= stopAt + 5) {
            killed = true;
            kill(-pid, SIGKILL);
        }
        if (progress && std::chrono::steady_clock::now() - lastProgress >= std::chrono::milliseconds(250)) {
            lastProgress = std::chrono::steady_clock::now();
            progress(elapsed);
        }
    }
    if (!exited) {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    if (outcome.seconds == 0) {
        outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    if (WIFEXITED(status)) {
        outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
    closeAll();
    return outcome;
}

}  // namespace plan
