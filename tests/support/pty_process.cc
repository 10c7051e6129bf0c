// tests/support/pty_process.cc: child processes with pipes or a pseudo-terminal.
#include "tests/support/pty_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <utmp.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

// KELVOTEST_UNDER_TEST runs the same tests against another build of the tool (an older one,
// to see a new test fail where the fault is still there).
std::string ToolPath() {
    const char* other = std::getenv("KELVOTEST_UNDER_TEST");
    return other != nullptr && other[0] != '\0' ? other : KELVOTEST_PATH;
}
std::string LibraryDir() { return KELVO_LIBRARY_DIR; }
std::string MakeFpgaImagePath() { return KELVO_MAKE_FPGA_IMAGE; }
std::string VirtualScannerLine() {
    return "kelvosim: virtual scanner, not hardware (library " + LibraryDir() + "/libkelvoscanusb.so.1)\n";
}

namespace {

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string current = *entry;
        const std::string name = current.substr(0, current.find('='));
        // The virtual scanner's settings come only from the test itself.
        if (name == "KELVOSIM" || name == "KELVOSIM_SCENARIO") continue;
        bool replaced = false;
        for (const std::string& add : extra) replaced = replaced || add.substr(0, add.find('=')) == name;
        if (!replaced) merged.push_back(current);
    }
    // Under KELVO_TEST_RECORDER the recording library stands in front of the virtual scanner,
    // unless the test puts a library of its own there.
    const char* recorder = std::getenv("KELVO_TEST_RECORDER");
    std::vector<std::string> recording;
    if (recorder != nullptr) {
        recording = {std::string("LD_LIBRARY_PATH=") + recorder, "KELVOREC_LIBRARY=" + LibraryDir() + "/libkelvoscanusb.so.1",
                     "KELVOREC_TRACE=recorded.kvtrace"};
    }
    for (const std::string& add : recording) {
        bool replaced = false;
        for (const std::string& own : extra) replaced = replaced || own.substr(0, own.find('=')) == add.substr(0, add.find('='));
        if (!replaced) merged.push_back(add);
    }
    merged.insert(merged.end(), extra.begin(), extra.end());
    return merged;
}

[[noreturn]] void ExecTool(const ToolRun& run) {
    if (!run.workDir.empty() && chdir(run.workDir.c_str()) != 0) _exit(126);
    const std::string program = run.program.empty() ? ToolPath() : run.program;
    std::vector<std::string> words{program};
    words.insert(words.end(), run.args.begin(), run.args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = MergedEnvironment(run.env);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
}

int DecodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

ChildProcess ChildProcess::StartWithPipes(const ToolRun& run) {
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) std::abort();
    ChildProcess child;
    child.pid_ = fork();
    if (child.pid_ == 0) {
        const int nullFd = open("/dev/null", O_RDONLY);
        dup2(nullFd, STDIN_FILENO);
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        setsid();   // no controlling terminal, as under CI
        ExecTool(run);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    child.outFd_ = outPipe[0];
    child.errFd_ = errPipe[0];
    return child;
}

ChildProcess ChildProcess::StartUnderPty(const ToolRun& run, const std::vector<int>& blockedSignals) {
    ChildProcess child;
    winsize size{};
    size.ws_row = 50;
    size.ws_col = 200;
    int terminalFd = -1;
    if (openpty(&child.ptyFd_, &terminalFd, nullptr, nullptr, &size) != 0) std::abort();
    // Taken before the child exists, so that nothing it does can come first.
    if (tcgetattr(child.ptyFd_, &child.startModes_) != 0) std::abort();
    child.pid_ = fork();
    if (child.pid_ == 0) {
        close(child.ptyFd_);
        if (login_tty(terminalFd) != 0) _exit(125);
        sigset_t blocked;
        sigemptyset(&blocked);
        for (int signalNumber : blockedSignals) sigaddset(&blocked, signalNumber);
        sigprocmask(SIG_BLOCK, &blocked, nullptr);
        ExecTool(run);
    }
    if (child.pid_ < 0) std::abort();
    close(terminalFd);
    return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), outFd_(other.outFd_), errFd_(other.errFd_), ptyFd_(other.ptyFd_),
      ptyEof_(other.ptyEof_), startModes_(other.startModes_),
      exitCode_(other.exitCode_), exited_(other.exited_), out_(std::move(other.out_)),
      err_(std::move(other.err_)) {
    other.pid_ = -1;
    other.outFd_ = other.errFd_ = other.ptyFd_ = -1;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !exited_) {
        if (kill(-pid_, SIGKILL) != 0) kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    for (int fd : {outFd_, errFd_, ptyFd_}) {
        if (fd >= 0) close(fd);
    }
}

// Reads whatever the child has written, waiting at most timeoutMs for the first bytes.
void ChildProcess::Pump(int timeoutMs) {
    pollfd fds[2];
    int count = 0;
    const int readFds[2] = {ptyFd_ >= 0 ? (ptyEof_ ? -1 : ptyFd_) : outFd_, errFd_};
    std::string* sinks[2] = {&out_, &err_};
    std::string* order[2];
    for (int i = 0; i < 2; ++i) {
        if (readFds[i] < 0) continue;
        fds[count] = pollfd{readFds[i], POLLIN, 0};
        order[count++] = sinks[i];
    }
    if (count == 0 || poll(fds, static_cast<nfds_t>(count), timeoutMs) <= 0) return;
    for (int i = 0; i < count; ++i) {
        if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        char buffer[4096];
        const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
        if (got > 0) {
            order[i]->append(buffer, static_cast<size_t>(got));
        } else {
            // End of output (a pty reports EIO once the child has gone).
            if (fds[i].fd == ptyFd_) ptyEof_ = true;   // kept open: its settings stay readable
            if (fds[i].fd == outFd_) { close(outFd_); outFd_ = -1; }
            if (fds[i].fd == errFd_) { close(errFd_); errFd_ = -1; }
        }
    }
}

bool ChildProcess::OutputDone() const {
    return (ptyFd_ < 0 || ptyEof_) && outFd_ < 0 && errFd_ < 0;
}

bool ChildProcess::WaitForText(const std::string& text, int timeoutMs) {
    const int64_t deadline = NowMs() + timeoutMs;
    while (out_.find(text) == std::string::npos && err_.find(text) == std::string::npos) {
        const int64_t left = deadline - NowMs();
        if (left <= 0) return false;
        if (OutputDone()) return false;
        Pump(static_cast<int>(left < 50 ? left : 50));
    }
    return true;
}

int ChildProcess::Occurrences(const std::string& text) {
    Pump(0);
    int found = 0;
    for (const std::string* where : {&out_, &err_}) {
        for (size_t at = where->find(text); at != std::string::npos; at = where->find(text, at + 1)) ++found;
    }
    return found;
}

void ChildProcess::Type(const std::string& keys) {
    if (ptyFd_ >= 0) (void)!write(ptyFd_, keys.data(), keys.size());
}

void ChildProcess::Signal(int signalNumber) {
    // To the child's process group, as a terminal sends it: a wrapper script and the tool it
    // runs both get it.
    if (pid_ > 0 && !exited_ && kill(-pid_, signalNumber) != 0) kill(pid_, signalNumber);
}

int ChildProcess::WaitForExit(int timeoutMs) {
    const int64_t deadline = NowMs() + timeoutMs;
    while (!exited_) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exited_ = true;
            exitCode_ = DecodeStatus(status);
            break;
        }
        if (NowMs() >= deadline) return -1;
        Pump(20);
    }
    // Collect the rest of the output.
    for (int i = 0; i < 100 && !OutputDone(); ++i) Pump(20);
    return exitCode_;
}

bool ChildProcess::EchoIsOn() {
    if (ptyFd_ < 0) return false;
    termios settings{};
    if (tcgetattr(ptyFd_, &settings) != 0) return false;
    return (settings.c_lflag & ECHO) != 0 && (settings.c_lflag & ICANON) != 0;
}

bool ChildProcess::TerminalModesAsAtStart() {
    termios now{};
    if (ptyFd_ < 0 || tcgetattr(ptyFd_, &now) != 0) return false;
    return now.c_iflag == startModes_.c_iflag && now.c_oflag == startModes_.c_oflag &&
           now.c_cflag == startModes_.c_cflag && now.c_lflag == startModes_.c_lflag &&
           std::memcmp(now.c_cc, startModes_.c_cc, sizeof now.c_cc) == 0;
}

ProcessResult RunToTheEnd(const ToolRun& run, int timeoutMs) {
    ChildProcess child = ChildProcess::StartWithPipes(run);
    const int code = child.WaitForExit(timeoutMs);
    return ProcessResult{code, child.Out(), child.Err()};
}
