// plan/spool_windows.cc: the spool's per-OS part on Windows: the outbox under %LOCALAPPDATA%,
// and FlushFileBuffers for a file (a folder's entries are written by the rename on NTFS and SMB).
#include <windows.h>

#include <cstdlib>

#include "plan/spool.h"

namespace plan {

std::string DefaultOutbox() {
    const char* local = std::getenv("LOCALAPPDATA");
    return std::string(local != nullptr && *local ? local : ".") + "\\kelvotest\\outbox";
}

bool SyncToDisk(const std::string& path, bool folder, std::string* error) {
    if (folder) return true;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = path + ": cannot open it to flush it (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    const bool ok = FlushFileBuffers(file) != 0;
    if (!ok) *error = "cannot flush " + path + " to the disk (error " + std::to_string(GetLastError()) + ")";
    CloseHandle(file);
    return ok;
}

}  // namespace plan
