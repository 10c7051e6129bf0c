// recorder/loader_windows.cc: loading the real library and writing the trace on Windows.
#include <windows.h>

#include "recorder/loader.h"

namespace rec {

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

}  // namespace rec
