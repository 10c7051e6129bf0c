// Windows: the station lock is LockFileEx on one byte far beyond the file's text, so that the
// note stays readable; the system drops the lock with the process's last handle. The handle
// is not inherited: a step's tool never holds it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "plan/station_system.h"

namespace plan {
namespace {

constexpr DWORD kLockOffsetHigh = 0x40;   // byte 2^38: far beyond any note

std::string LastError() {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(), 0, text,
                   sizeof text, nullptr);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    return message;
}

}  // namespace

std::string DataFolder() {
    const char* local = std::getenv("LOCALAPPDATA");
    if (local == nullptr || local[0] == '\0') return "";
    return std::string(local) + "\\kelvotest";
}

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (GetComputerNameA(name, &size) == 0) return "";
    return std::string(name, size);
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

FileLock::~FileLock() { Release(); }

FileLock::Result FileLock::Take(const std::string& path, std::string* error) {
    Release();
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = path + ": " + LastError();
        return Result::kFailed;
    }
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) == 0) {
        const DWORD why = GetLastError();
        CloseHandle(file);
        if (why == ERROR_LOCK_VIOLATION || why == ERROR_IO_PENDING) return Result::kBusy;
        SetLastError(why);
        *error = path + ": cannot be locked: " + LastError();
        return Result::kFailed;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    return Result::kTaken;
}

bool FileLock::WriteNote(const std::string& text) {
    if (handle_ == -1) return false;
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    LARGE_INTEGER start{};
    if (SetFilePointerEx(file, start, nullptr, FILE_BEGIN) == 0 || SetEndOfFile(file) == 0) return false;
    DWORD written = 0;
    return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0 &&
           written == text.size();
}

void FileLock::Release() {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

bool StdinIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

std::optional<std::string> ReadInputLine() {
    std::string line;
    for (;;) {
        const int c = std::fgetc(stdin);
        if (c == EOF) {
            std::clearerr(stdin);
            if (line.empty()) return std::nullopt;
            break;
        }
        if (c == '\n') break;
        line += static_cast<char>(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace plan
