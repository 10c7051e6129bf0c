// plan/station_file.h: the station's identity, from the [station] table of station.toml beside
// the plan (or the file --station-file names): its fixture, its calibration and free keys,
// which go into every run's reports.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace plan {

struct StationIdentity {
    std::string file;              // the file it was read from; empty: no station file
    std::string fixtureId;
    std::string calibrationDate;   // ISO 8601 date, 2026-06-01; empty: not given
    std::string calibrationDue;
    std::vector<std::pair<std::string, std::string>> keys;   // the free keys, in file order

    // Past due on `today` (an ISO date): the due date is before it.
    bool PastDue(const std::string& today) const { return !calibrationDue.empty() && calibrationDue < today; }
};

// A file that cannot be used gives false and `error` says where and why, as a plan error does:
// "FILE:LINE: key 'KEY': what is wrong".
bool LoadStationFile(const std::string& path, StationIdentity* station, std::string* error);
bool ParseStationFile(const std::string& text, const std::string& path, StationIdentity* station, std::string* error);

}  // namespace plan
