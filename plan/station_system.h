// plan/station_system.h: what a station needs from the operating system beyond running a
// step: the station lock, the host name, the data folder and the operator's line of input.
// One implementation per system: station_system_posix.cc and station_system_windows.cc.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace plan {

// The per-user data folder of kelvotest: $XDG_DATA_HOME/kelvotest, else
// ~/.local/share/kelvotest (POSIX); %LOCALAPPDATA%\kelvotest (Windows). Empty: none known.
std::string DataFolder();
std::string HostName();   // empty: unknown
long ProcessId();
std::string TodayIso();   // the local date, 2026-12-09: a calibration falls due by the station's calendar

// An exclusive lock on a file that the operating system releases when the process ends,
// however it ends. The file's text is the holder's own note; readable while it is held.
class FileLock {
public:
    FileLock() = default;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    enum class Result { kTaken, kBusy, kFailed };
    // Creates the file when missing. kFailed: `error` says why.
    Result Take(const std::string& path, std::string* error);
    // Replaces the file's text (while held).
    bool WriteNote(const std::string& text);
    void Release();

private:
    intptr_t handle_ = -1;
};

bool StdinIsTerminal();
// One line from standard input without its end ("\n" or "\r\n"). nullopt: end of input, or
// an interrupt (Ctrl-C) came while it waited; Interrupts() tells which.
std::optional<std::string> ReadInputLine();

}  // namespace plan
