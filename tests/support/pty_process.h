// tests/support/pty_process.h: runs the real tool as a child process, either with pipes and
// no terminal (as CI runs it) or under a pseudo-terminal for the key-driven loops.
#pragma once

#include <termios.h>

#include <string>
#include <vector>

struct ToolRun {
    std::vector<std::string> args;        // without the program itself
    std::vector<std::string> env;         // "NAME=value" added to (or replacing in) the environment
    std::string workDir;                  // empty: the test's own
    std::string program;                  // empty: the kelvotest under test
};

class ChildProcess {
public:
    static ChildProcess StartWithPipes(const ToolRun& run);   // stdin from /dev/null
    // blockedSignals: blocked in the signal mask the tool inherits.
    static ChildProcess StartUnderPty(const ToolRun& run, const std::vector<int>& blockedSignals = {});
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ~ChildProcess();   // kills a child still running

    bool WaitForText(const std::string& text, int timeoutMs);   // in stdout+stderr (pty: the screen)
    // Counts occurrences so far, after reading what is there.
    int Occurrences(const std::string& text);
    void Type(const std::string& keys);                           // pty only
    void Signal(int signalNumber);   // to the child's process group
    int WaitForExit(int timeoutMs);   // exit code; 128 + signal when killed; -1 on time-out
    bool EchoIsOn();                  // pty only: echo and line mode on, now
    bool TerminalModesAsAtStart();    // pty only: every mode and control character as before the start

    const std::string& Out() const { return out_; }   // stdout (pty: everything)
    const std::string& Err() const { return err_; }   // stderr (empty under a pty)

private:
    ChildProcess() = default;
    void Pump(int timeoutMs);
    bool OutputDone() const;
    int pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    int ptyFd_ = -1;
    bool ptyEof_ = false;
    termios startModes_{};
    int exitCode_ = -1;
    bool exited_ = false;
    std::string out_;
    std::string err_;
};

struct ProcessResult {
    int exitCode;
    std::string out;
    std::string err;
};

// Runs to the end without a terminal (time-out: the child is killed and exitCode is -1).
ProcessResult RunToTheEnd(const ToolRun& run, int timeoutMs = 30000);

std::string ToolPath();           // the kelvotest binary under test
std::string LibraryDir();         // the folder of the virtual scanner library and scanner3.mcs
std::string MakeFpgaImagePath();  // the generator of scanner3.mcs
// The line with which the virtual scanner names itself, first in a run's standard error.
std::string VirtualScannerLine();
