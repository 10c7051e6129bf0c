// Windows: the step's program runs in a process group of its own (CREATE_NEW_PROCESS_GROUP),
// so a Ctrl-C in the console reaches kelvotest-plan alone; it passes the stop request on as
// CTRL_BREAK_EVENT to that group, which the tool treats as Ctrl-C. Standard input is NUL: no
// key ever ends a loop. Standard output and error are read by one thread each. The step runs in
// a job object that kills every process in it when its last handle closes: kelvotest-plan's,
// however it ends; and when the step's program has ended, what it left running is ended too.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "plan/step_runner.h"

namespace plan {
namespace {

std::atomic<int> gInterrupts{0};
std::atomic<DWORD> gLastEvent{CTRL_C_EVENT};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            gLastEvent.store(event);
            gInterrupts.fetch_add(1);
            return TRUE;
        default:
            return FALSE;
    }
}

// One argument as the C runtime's parser reads it back (CommandLineToArgvW's rules).
std::string QuoteArgument(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\n\v\"") == std::string::npos) return word;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

bool EndsWithCmd(const std::string& path) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".cmd" || tail == ".bat";
}

// Copies one pipe into its file (and `text`); a write that fails is said in `problem`, once.
void Reader(HANDLE pipe, std::FILE* file, const char* name, std::string* text, std::string* problem, std::mutex* lock) {
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        if ((std::fwrite(buffer, 1, n, file) != n || std::fflush(file) != 0)) {
            std::lock_guard<std::mutex> guard(*lock);
            if (problem->empty()) *problem = std::string(name) + ": " + std::strerror(errno);
        }
        if (text != nullptr) {
            std::lock_guard<std::mutex> guard(*lock);
            text->append(buffer, n);
        }
    }
}

}  // namespace

void InstallInterruptHandler() {
    // The stop request reaches only a process that shares our console: started without one
    // (a service, a CI runner), kelvotest-plan makes one, hidden, for its steps to inherit.
    if (GetConsoleCP() == 0 && AllocConsole()) {
        if (HWND window = GetConsoleWindow()) ShowWindow(window, SW_HIDE);
    }
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int Interrupts() { return gInterrupts.load(); }

std::string InterruptName() {
    switch (gLastEvent.load()) {
        case CTRL_BREAK_EVENT: return "Ctrl-Break";
        case CTRL_CLOSE_EVENT: return "the console's closing";
        default: return "Ctrl-C";
    }
}

bool CreateNewFile(const std::string& path, const std::string& content, std::string* error) {
    // CREATE_NEW: never a file that is there, and never through a link standing at the name.
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = path + ": cannot be created (Windows error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    DWORD written = 0;
    const BOOL ok = content.empty() ||
                    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    const DWORD writeError = GetLastError();
    CloseHandle(file);
    if (!ok || written != content.size()) {
        *error = path + ": cannot be written (Windows error " + std::to_string(writeError) + ")";
        return false;
    }
    return true;
}

bool RandomBytes(unsigned char* data, size_t size, std::string* error) {
    // RtlGenRandom, as advapi32 exports it: the system's random source, without the CNG API.
    using GenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
    const HMODULE advapi = LoadLibraryA("advapi32.dll");
    const auto generate =
        advapi ? reinterpret_cast<GenRandom>(reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036"))) : nullptr;
    const bool ok = generate != nullptr && generate(data, static_cast<ULONG>(size));
    if (!ok) *error = "the system's random source (RtlGenRandom) failed";
    return ok;
}

std::string OwnExecutablePath() {
    char path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return "";
    return std::string(path, n);
}

bool IsExecutableFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string FindOnPath(const std::string& name) {
    char found[MAX_PATH * 4];
    const DWORD n = SearchPathA(nullptr, name.c_str(), ".exe", sizeof found, found, nullptr);
    if (n == 0 || n >= sizeof found) return "";
    return std::string(found, n);
}

// The progress line is redrawn with "\r" and erase-to-end-of-line, which a console shows only
// with its terminal sequences on: without them the plain lines are used.
bool StdoutIsTerminal() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode) == 0) return false;
    constexpr DWORD kVirtualTerminal = 0x0004;   // ENABLE_VIRTUAL_TERMINAL_PROCESSING
    return (mode & kVirtualTerminal) != 0 || SetConsoleMode(out, mode | kVirtualTerminal) != 0;
}

std::string LocalTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_s(&local, &now);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

namespace {

// A new file, never one that is there already.
std::FILE* NewFile(const std::string& path) {
    const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) _close(fd);
    return file;
}

std::string CommandLine(const StepLaunch& launch) {
    std::string commandLine;
    if (EndsWithCmd(launch.program)) {
        // A command file runs under cmd; /s keeps the quotes of the inner line as they are.
        commandLine = "cmd.exe /d /s /c \"" + QuoteArgument(launch.program);
        for (const std::string& arg : launch.args) commandLine += " " + QuoteArgument(arg);
        commandLine += "\"";
    } else {
        commandLine = QuoteArgument(launch.program);
        for (const std::string& arg : launch.args) commandLine += " " + QuoteArgument(arg);
    }
    return commandLine;
}

// The job every process of the step runs in: closed (by us, or by Windows when kelvotest-plan
// dies), it ends them all.
HANDLE MakeJob() {
    const HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// Starts the program suspended, puts it in the job, and lets it run: no process of it is ever
// outside the job. The child inherits the environment: set for the start, then put back.
bool StartInJob(const StepLaunch& launch, HANDLE job, STARTUPINFOA& startup, PROCESS_INFORMATION& process,
                std::string* error) {
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    for (const auto& [name, value] : launch.env) {
        char old[32768];
        const DWORD n = GetEnvironmentVariableA(name.c_str(), old, sizeof old);
        saved.emplace_back(name, n > 0 && n < sizeof old ? std::optional<std::string>(std::string(old, n)) : std::nullopt);
        SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
    }
    const std::string commandLine = CommandLine(launch);
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    const BOOL created = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED, nullptr, launch.workDir.c_str(),
                                        &startup, &process);
    const DWORD createError = GetLastError();
    for (const auto& [name, value] : saved) SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
    if (!created) {
        *error = launch.program + ": cannot be started (Windows error " + std::to_string(createError) + ")";
        return false;
    }
    if (!AssignProcessToJobObject(job, process.hProcess)) {
        *error = launch.program + ": cannot be put in a job object (Windows error " + std::to_string(GetLastError()) + ")";
        TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return false;
    }
    ResumeThread(process.hThread);
    return true;
}

// Until the program ends: its stop requests, its time-out, the progress.
void WatchStep(const StepLaunch& launch, PROCESS_INFORMATION& process, RunOutcome& outcome, bool& killed,
               const std::function<void(double)>& progress) {
    const auto start = std::chrono::steady_clock::now();
    int seenInterrupts = Interrupts();
    bool stopSent = false;
    double stopAt = -1;
    auto lastProgress = start - std::chrono::seconds(1);
    // Without the console event (no console shared with the tool; wine delivers none to a
    // process group) there is no clean stop: the tool is ended at once and the step is an
    // error that says so, never a step that looks stopped.
    auto stop = [&]() {
        if (killed) return;
        if (GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process.dwProcessId)) return;
        outcome.stopProblem = "the stop request (CTRL_BREAK_EVENT) could not be sent (Windows error " +
                              std::to_string(GetLastError()) + "): the tool was ended without stopping the scanner";
        killed = true;
        TerminateProcess(process.hProcess, 1);
    };
    while (WaitForSingleObject(process.hProcess, 100) != WAIT_OBJECT_0) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (Interrupts() != seenInterrupts) {
            seenInterrupts = Interrupts();
            outcome.stoppedByUser = true;
            stop();
        }
        if (launch.stopAfter && !stopSent && elapsed >= *launch.stopAfter) {
            stopSent = outcome.stoppedAfterDuration = true;
            stop();
        }
        if (!outcome.timedOut && elapsed >= launch.timeout) {
            outcome.timedOut = true;
            stopAt = elapsed;
            stop();
        }
        if (outcome.timedOut && !killed && elapsed >= stopAt + 5) {
            killed = true;
            TerminateProcess(process.hProcess, 1);
        }
        if (progress && std::chrono::steady_clock::now() - lastProgress >= std::chrono::milliseconds(250)) {
            lastProgress = std::chrono::steady_clock::now();
            progress(elapsed);
        }
    }
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

RunOutcome RunProcess(const StepLaunch& launch, const std::function<void(double)>& progress) {
    RunOutcome outcome;
    std::FILE* outFile = NewFile(launch.stdoutPath);
    std::FILE* errFile = outFile ? NewFile(launch.stderrPath) : nullptr;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    const HANDLE job = MakeJob();
    const bool ready = outFile && errFile && job && CreatePipe(&outRead, &outWrite, &inherit, 0) &&
                       CreatePipe(&errRead, &errWrite, &inherit, 0);
    bool started = false;
    PROCESS_INFORMATION process{};
    if (!ready) {
        outcome.error = !outFile || !errFile ? "cannot create " + (outFile ? launch.stderrPath : launch.stdoutPath)
                                             : std::string("cannot make pipes or a job object");
    } else {
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
        const HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nul;
        startup.hStdOutput = outWrite;
        startup.hStdError = errWrite;
        started = StartInJob(launch, job, startup, process, &outcome.error);
        if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    }
    for (HANDLE pipe : {outWrite, errWrite}) if (pipe) CloseHandle(pipe);
    if (started) {
        outcome.started = true;
        std::mutex lock;
        std::thread outThread(Reader, outRead, outFile, "stdout.txt", nullptr, &outcome.writeProblem, &lock);
        std::thread errThread(Reader, errRead, errFile, "stderr.txt", &outcome.err, &outcome.writeProblem, &lock);
        bool killed = false;
        WatchStep(launch, process, outcome, killed, progress);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        outcome.exitCode = killed ? -1 : static_cast<int>(code);
        if (killed) outcome.signal = 9;
        TerminateJobObject(job, 1);   // what the program left running: its pipes close with it
        outThread.join();
        errThread.join();
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    for (HANDLE handle : {outRead, errRead, job}) if (handle) CloseHandle(handle);
    for (std::FILE* file : {outFile, errFile}) if (file) std::fclose(file);
    return outcome;
}

}  // namespace plan
