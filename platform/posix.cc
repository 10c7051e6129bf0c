// platform/posix.cc: the platform layer on POSIX systems. The key loop's terminal settings
// are restored on every way out: normal return, exit, and the stop requests that end the
// process.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

uint32_t TickCountMs() {
    // The coarse clock is read from the vDSO without a system call: cheap enough for the
    // streaming loop, which reads it on every pass.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

// ---- console ------------------------------------------------------------------------

static bool gKeyLoopActive = false;
static bool gTerminalSaved = false;
static termios gSavedTerminal{};

static void RestoreTerminal() {
    if (!gTerminalSaved) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
}

static void RestoreAtExit() { RestoreTerminal(); }

void ConsoleBeginKeyLoop() {
    if (gKeyLoopActive) return;
    gKeyLoopActive = true;
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &gSavedTerminal) != 0) return;
    gTerminalSaved = true;
    static bool atExitRegistered = false;
    if (!atExitRegistered) atExitRegistered = (std::atexit(RestoreAtExit) == 0);

    termios raw = gSavedTerminal;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

void ConsoleEndKeyLoop() {
    if (!gKeyLoopActive) return;
    gKeyLoopActive = false;
    if (!gTerminalSaved) return;
    RestoreTerminal();
    gTerminalSaved = false;
}

static bool PollInput() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, 0) == 1 && (input.revents & POLLIN) != 0;
}

bool ConsoleByteWaiting() {
    if (!gKeyLoopActive) return isatty(STDIN_FILENO) && PollInput();
    return gTerminalSaved && PollInput();
}

int ConsoleReadByte() {
    unsigned char byte = 0;
    if (read(STDIN_FILENO, &byte, 1) != 1) return -1;
    return byte;
}

// ---- stop signals -------------------------------------------------------------------

static volatile sig_atomic_t gStopSignalled = 0;
static bool gStopArmed = false;
static const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
static struct sigaction gSavedStopActions[sizeof kStopSignals / sizeof kStopSignals[0]]{};

// Who asked first, and when: a program that sends one request both to the tool and to its
// process group (timeout(1) does) delivers it twice within microseconds, and that is still
// one request. Only a repeat from the same sending process within this window is merged; a
// second Ctrl-C from the terminal, or a later one from anyone, ends the tool at once.
static constexpr long kSameRequestNs = 250L * 1000 * 1000;
static volatile pid_t gFirstSender = 0;
static struct timespec gFirstRequestTime {};

static long NanosecondsSince(const struct timespec& then) {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - then.tv_sec) * 1000000000L + (now.tv_nsec - then.tv_nsec);
}

static bool RepeatOfTheFirstRequest(const siginfo_t* info) {
    return info != nullptr && info->si_code == SI_USER && gFirstSender != 0 && info->si_pid == gFirstSender &&
           NanosecondsSince(gFirstRequestTime) < kSameRequestNs;
}

static void OnStopSignal(int signalNumber, siginfo_t* info, void*) {
    if (gStopSignalled != 0) {
        if (RepeatOfTheFirstRequest(info)) return;
        // The second request ends the process at once, with the terminal as it was.
        RestoreTerminal();
        signal(signalNumber, SIG_DFL);
        raise(signalNumber);
        return;
    }
    gFirstSender = (info != nullptr && info->si_code == SI_USER) ? info->si_pid : 0;
    clock_gettime(CLOCK_MONOTONIC, &gFirstRequestTime);
    gStopSignalled = 1;
}

void StopSignalsArm() {
    if (gStopArmed) return;
    gStopArmed = true;
    gStopSignalled = 0;
    gFirstSender = 0;
    struct sigaction onStop {};
    onStop.sa_sigaction = OnStopSignal;
    sigemptyset(&onStop.sa_mask);
    onStop.sa_flags = SA_RESTART | SA_SIGINFO;
    for (size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; ++i) {
        sigaction(kStopSignals[i], &onStop, &gSavedStopActions[i]);
    }
}

void StopSignalsDisarm() {
    if (!gStopArmed) return;
    gStopArmed = false;
    for (size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; ++i) {
        sigaction(kStopSignals[i], &gSavedStopActions[i], nullptr);
    }
}

bool StopSignalled() { return gStopSignalled != 0; }

void IgnoreBrokenPipe() { signal(SIGPIPE, SIG_IGN); }

// ---- files ------------------------------------------------------------------------

// Takes the descriptor into a stream that blocks as usual; closes it on failure.
static FILE* StreamOf(int fd, const char* mode) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
        close(fd);
        return nullptr;
    }
    FILE* stream = fdopen(fd, mode);
    if (stream == nullptr) close(fd);
    return stream;
}

FILE* OpenForWritingNoWait(const char* path, const char* mode) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    return StreamOf(fd, mode);
}

FILE* CreateRegularFileNoFollow(const char* path, const char* mode) {
    // No O_TRUNC here: whatever stands at the name is left untouched until fstat has shown
    // a regular file.
    const int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ftruncate(fd, 0) != 0) {
        close(fd);
        return nullptr;
    }
    return StreamOf(fd, mode);
}

// ---- debugger channel ---------------------------------------------------------------

// Each line goes whole to the system log at debug priority as "kelvotest: <line>". The
// socket never blocks: with no log daemon, or a busy one, the line is dropped.
void DebugChannelWrite(const char* line) {
    static int logSocket = -2;
    if (logSocket == -2) {
        logSocket = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, "/dev/log", sizeof address.sun_path - 1);
        if (logSocket >= 0 &&
            connect(logSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(logSocket);
            logSocket = -1;
        }
    }
    if (logSocket < 0) return;
    char message[8192 + 64];   // a whole log line and the priority and ident in front
    const int length = std::snprintf(message, sizeof message, "<%d>kelvotest: %s",
                                     LOG_USER | LOG_DEBUG, line);
    if (length <= 0) return;
    const size_t bytes = static_cast<size_t>(length) < sizeof message ? static_cast<size_t>(length)
                                                                      : sizeof message - 1;
    (void)send(logSocket, message, bytes, MSG_DONTWAIT | MSG_NOSIGNAL);
}
