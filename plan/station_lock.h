// plan/station_lock.h: one plan per station. The lock is a file in the data folder, named for
// the station, held for as long as kelvotest-plan runs and released by the system when it
// ends, however it ends. Its text names the holder, for the refusal of a second one.
#pragma once

#include <string>

#include "plan/station_system.h"

namespace plan {

class StationLock {
public:
    // False: the station is in use, or its lock cannot be made; `error` says which, naming
    // the holder's process id and plan.
    bool Take(const std::string& dataFolder, const std::string& station, const std::string& planPath,
              std::string* error);

private:
    FileLock lock_;
};

// The lock file of a station: DATA/station-NAME.lock, with anything but letters, digits,
// '-', '_' and '.' in the name made '_'.
std::string StationLockPath(const std::string& dataFolder, const std::string& station);

}  // namespace plan
