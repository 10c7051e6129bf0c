// plan/station_lock.cc: the station lock's file and the note that names its holder, and the
// station's calendar date.
#include "plan/station_lock.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace plan {

std::string TodayIso() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

namespace {

// "pid 1234\nplan /lines/final.toml\n" as written by the holder; either part may be missing
// when the holder was killed between taking the lock and writing it, or is writing it now.
std::string HolderOf(const std::string& path) {
    std::string pid, planPath;
    // A holder that has just taken the lock writes its note at once: give it a moment.
    for (int tries = 0; tries < 20 && (pid.empty() || planPath.empty()); ++tries) {
        if (tries > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ifstream file(path, std::ios::binary);
        std::string line;
        while (std::getline(file, line)) {
            if (line.rfind("pid ", 0) == 0) pid = line.substr(4);
            if (line.rfind("plan ", 0) == 0) planPath = line.substr(5);
        }
    }
    if (pid.empty()) return "another kelvotest-plan (its process id is not written yet)";
    return "kelvotest-plan process " + pid + (planPath.empty() ? "" : ", running the plan " + planPath);
}

}  // namespace

std::string StationLockPath(const std::string& dataFolder, const std::string& station) {
    std::string name;
    for (const char c : station) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.';
        name += plain ? c : '_';
    }
    return (std::filesystem::path(dataFolder) / ("station-" + name + ".lock")).string();
}

bool StationLock::Take(const std::string& dataFolder, const std::string& station, const std::string& planPath,
                       std::string* error) {
    if (dataFolder.empty()) {
        *error = "no data folder for the station lock (set HOME or XDG_DATA_HOME; LOCALAPPDATA on Windows)";
        return false;
    }
    std::error_code made;
    std::filesystem::create_directories(dataFolder, made);
    if (made) {
        *error = "cannot create the data folder " + dataFolder + " for the station lock: " + made.message();
        return false;
    }
    const std::string path = StationLockPath(dataFolder, station);
    std::string problem;
    switch (lock_.Take(path, &problem)) {
        case FileLock::Result::kTaken: break;
        case FileLock::Result::kBusy:
            *error = "station '" + station + "' is in use by " + HolderOf(path) +
                     "; one plan runs per station (give another --station for a second fixture)";
            return false;
        case FileLock::Result::kFailed:
            *error = "the station lock " + problem;
            return false;
    }
    std::ostringstream note;
    note << "pid " << ProcessId() << "\nplan " << planPath << "\n";
    if (!lock_.WriteNote(note.str())) {
        lock_.Release();
        *error = "the station lock " + path + " cannot be written";
        return false;
    }
    return true;
}

}  // namespace plan
