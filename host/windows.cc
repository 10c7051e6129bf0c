// host/windows.cc: the virtual scanner's and the recording library's operating-system calls on Windows.
#include <windows.h>

#include "host/host.h"

namespace host {

const char* LibraryPath() noexcept {
    static char path[MAX_PATH];
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&LibraryDirectory), &module);
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    path[length < MAX_PATH ? length : MAX_PATH - 1] = '\0';
    return path;
}

std::string LibraryDirectory() {
    const std::string full = LibraryPath();
    const size_t slash = full.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".\\") : full.substr(0, slash + 1);
}

uint64_t MonotonicNs() {
    LARGE_INTEGER counter{}, frequency{};
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(counter.QuadPart / frequency.QuadPart) * 1000000000u +
           static_cast<uint64_t>(counter.QuadPart % frequency.QuadPart) * 1000000000u /
               static_cast<uint64_t>(frequency.QuadPart);
}

void SleepNs(uint64_t nanoseconds) { Sleep(static_cast<DWORD>((nanoseconds + 999999) / 1000000)); }

// Ctrl-C to the console this process is attached to: the program's console control handler
// takes it as the key combination itself. Every process on that console gets it, as from the
// keyboard.
bool RaiseStopRequest(std::string* error) {
    if (GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return true;
    *error = "no console to send Ctrl-C to (error " + std::to_string(GetLastError()) + ")";
    return false;
}

// Shared for reading only: a second process's open for writing (or for reading without
// sharing writes, as below) fails with a sharing violation for as long as this handle lives,
// and the system closes it with the process; anyone may still look at the contents, as on
// POSIX, where the lock binds only the virtual scanner. FILE_FLAG_OPEN_REPARSE_POINT opens
// a link itself instead of its target, and the checks below then refuse it, as they refuse
// anything that is not a plain disk file.
StateFileStatus OpenStateFile(const std::string& path, StateFile& file) {
    file = StateFile{};
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    bool writable = handle != INVALID_HANDLE_VALUE;
    if (!writable) file.problem = GetLastError() == ERROR_ACCESS_DENIED ? "access denied" : "cannot be opened";
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        handle = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    }
    if (handle == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_SHARING_VIOLATION ? StateFileStatus::kBusy : StateFileStatus::kFailed;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        file.problem = "not a regular file";
        CloseHandle(handle);
        return StateFileStatus::kFailed;
    }
    file.handle = reinterpret_cast<intptr_t>(handle);
    file.writable = writable;
    return StateFileStatus::kOpen;
}

size_t ReadStateFile(const StateFile& file, uint8_t* data, size_t count) {
    size_t got = 0;
    while (got < count) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(got);
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(count - got);
        if (!ReadFile(reinterpret_cast<HANDLE>(file.handle), data + got, want, &n, &at) || n == 0) break;
        got += n;
    }
    return got;
}

bool WriteStateFile(const StateFile& file, uint64_t offset, const uint8_t* data, size_t count) {
    if (!file.writable) return false;
    size_t done = 0;
    while (done < count) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset + done);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(count - done);
        if (!WriteFile(reinterpret_cast<HANDLE>(file.handle), data + done, want, &n, &at) || n == 0) return false;
        done += n;
    }
    return true;
}

void CloseStateFile(StateFile& file) {
    if (file.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(file.handle));
    file = StateFile{};
}

// CreateFile never waits: a folder cannot be opened this way at all, and a pipe or a device
// (CON, NUL, a named pipe) opens but is not a disk file, so it is refused before a read.
bool OpenInputFile(const char* path, intptr_t& handle, uint64_t& bytes, const char** problem) noexcept {
    handle = -1;
    bytes = 0;
    const char* ignored = "";
    const char*& why = problem != nullptr ? *problem : ignored;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        why = missing ? "no such file" : error == ERROR_ACCESS_DENIED ? "access denied" : "it cannot be read";
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !GetFileSizeEx(file, &size)) {
        why = kNotARegularFile;
        CloseHandle(file);
        return false;
    }
    handle = reinterpret_cast<intptr_t>(file);
    bytes = static_cast<uint64_t>(size.QuadPart);
    return true;
}

int64_t ReadInputFile(intptr_t handle, uint8_t* data, size_t count) noexcept {
    DWORD n = 0;
    const DWORD want = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    if (!ReadFile(reinterpret_cast<HANDLE>(handle), data, want, &n, nullptr)) return -1;
    return n;
}

void CloseInputFile(intptr_t handle) noexcept {
    if (handle != -1) CloseHandle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace host

// ---- the recorder ---------------------------------------------------------------------

namespace host {

static std::string LastErrorText() {
    char text[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(), 0,
                   text, sizeof text, nullptr);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    return message.empty() ? "error " + std::to_string(GetLastError()) : message;
}

void* OpenLibrary(const std::string& path, std::string* error) {
    // The real library's own dependencies are looked for beside it, not beside the program.
    HMODULE library = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) *error = LastErrorText();
    return reinterpret_cast<void*>(library);
}

void* FindOperation(void* library, const char* name, unsigned argumentBytes, std::string* error) {
    const HMODULE module = static_cast<HMODULE>(library);
    if (FARPROC found = GetProcAddress(module, name)) return reinterpret_cast<void*>(found);
#if !defined(_WIN64)
    const std::string decorated = std::string(name) + "@" + std::to_string(argumentBytes);
    for (const std::string& candidate : {decorated, "_" + decorated}) {
        FARPROC found = GetProcAddress(module, candidate.c_str());
        if (found == nullptr) continue;
#  if defined(KELVO_CALLCONV_STDCALL)
        (void)error;
        return reinterpret_cast<void*>(found);
#  else
        // Called as cdecl, a stdcall function would leave its arguments on the stack.
        *error = "exports " + candidate + ", a stdcall function, and this recording library is built for "
                 "cdecl (KELVO_CALLCONV=stdcall builds one for it)";
        return nullptr;
#  endif
    }
#else
    (void)argumentBytes;
    (void)error;
#endif
    return nullptr;
}

intptr_t CreateTraceFile(const std::string& path, std::string* error, bool* busy) {
    *busy = false;
    // No sharing for writers: a second recording is refused while this one holds the file.
    // A reparse point (a symbolic link) is opened as itself and then refused.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        *busy = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
        *error = *busy ? "another recording is writing it" : LastErrorText();
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool regular = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                         (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
    if (!regular || !SetEndOfFile(file)) {
        *error = regular ? LastErrorText() : "it is not a regular file";
        CloseHandle(file);
        return -1;
    }
    return reinterpret_cast<intptr_t>(file);
}

bool WriteAt(intptr_t file, uint64_t offset, const uint8_t* bytes, size_t count, std::string* error) {
    while (count > 0) {
        const DWORD piece = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(file), bytes, piece, &written, &at) || written == 0) {
            *error = LastErrorText();
            return false;
        }
        bytes += written;
        offset += written;
        count -= written;
    }
    return true;
}

bool Truncate(intptr_t file, uint64_t size) {
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(reinterpret_cast<HANDLE>(file), end, nullptr, FILE_BEGIN) &&
           SetEndOfFile(reinterpret_cast<HANDLE>(file));
}

uint64_t ProcessId() { return GetCurrentProcessId(); }

}  // namespace host
