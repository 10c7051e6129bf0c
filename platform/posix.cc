// platform/posix.cc: the platform layer on POSIX systems. The key loop's terminal settings
// are restored on every way out: normal return, exit, and the signals that end the process.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
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
static int gSavedFileFlags = 0;
static struct sigaction gSavedSigio{};
// Set by SIGIO when the terminal has input; cleared before each look, so that the loop pays
// for a poll() only when something arrived.
static volatile sig_atomic_t gInputHint = 1;

static void RestoreTerminal() {
    if (!gTerminalSaved) return;
    fcntl(STDIN_FILENO, F_SETFL, gSavedFileFlags);
    tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
}

static void OnInputSignal(int) { gInputHint = 1; }

static void RestoreAtExit() { RestoreTerminal(); }

void ConsoleBeginKeyLoop() {
    if (gKeyLoopActive) return;
    gKeyLoopActive = true;
    gInputHint = 1;
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &gSavedTerminal) != 0) return;
    gSavedFileFlags = fcntl(STDIN_FILENO, F_GETFL);
    gTerminalSaved = true;
    static bool atExitRegistered = false;
    if (!atExitRegistered) atExitRegistered = (std::atexit(RestoreAtExit) == 0);

    termios raw = gSavedTerminal;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);

    struct sigaction onInput {};
    onInput.sa_handler = OnInputSignal;
    sigemptyset(&onInput.sa_mask);
    onInput.sa_flags = SA_RESTART;
    sigaction(SIGIO, &onInput, &gSavedSigio);
    fcntl(STDIN_FILENO, F_SETOWN, getpid());
    fcntl(STDIN_FILENO, F_SETFL, gSavedFileFlags | O_ASYNC);
    gInputHint = 1;   // input that came before notification was on
}

void ConsoleEndKeyLoop() {
    if (!gKeyLoopActive) return;
    gKeyLoopActive = false;
    if (!gTerminalSaved) return;
    RestoreTerminal();
    gTerminalSaved = false;
    sigaction(SIGIO, &gSavedSigio, nullptr);
}

static bool PollInput() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, 0) == 1 && (input.revents & POLLIN) != 0;
}

bool ConsoleByteWaiting() {
    if (!gKeyLoopActive) return isatty(STDIN_FILENO) && PollInput();
    if (!gTerminalSaved) return false;
    if (gInputHint == 0) return false;
    gInputHint = 0;
    if (!PollInput()) return false;
    gInputHint = 1;   // still waiting: the next look must see it again
    return true;
}

int ConsoleReadByte() {
    unsigned char byte = 0;
    if (read(STDIN_FILENO, &byte, 1) != 1) return -1;
    return byte;
}

// ---- stop signals -------------------------------------------------------------------

static volatile sig_atomic_t gStopSignalled = 0;
static bool gStopArmed = false;
static struct sigaction gSavedInt{}, gSavedTerm{};

static void OnStopSignal(int signalNumber) {
    if (gStopSignalled != 0) {
        // The second request ends the process at once, with the terminal as it was.
        RestoreTerminal();
        signal(signalNumber, SIG_DFL);
        raise(signalNumber);
        return;
    }
    gStopSignalled = 1;
}

void StopSignalsArm() {
    if (gStopArmed) return;
    gStopArmed = true;
    gStopSignalled = 0;
    struct sigaction onStop {};
    onStop.sa_handler = OnStopSignal;
    sigemptyset(&onStop.sa_mask);
    onStop.sa_flags = SA_RESTART;
    sigaction(SIGINT, &onStop, &gSavedInt);
    sigaction(SIGTERM, &onStop, &gSavedTerm);
}

void StopSignalsDisarm() {
    if (!gStopArmed) return;
    gStopArmed = false;
    sigaction(SIGINT, &gSavedInt, nullptr);
    sigaction(SIGTERM, &gSavedTerm, nullptr);
}

bool StopSignalled() { return gStopSignalled != 0; }

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
