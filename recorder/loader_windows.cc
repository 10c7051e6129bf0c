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

intptr_t CreateTraceFile(const std::string& path, std::string* error) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = LastErrorText();
        return -1;
    }
    return reinterpret_cast<intptr_t>(file);
}

bool WriteWhole(intptr_t file, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const DWORD piece = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(file), bytes, piece, &written, nullptr) || written == 0) {
            return false;
        }
        bytes += written;
        count -= written;
    }
    return true;
}

}  // namespace rec
