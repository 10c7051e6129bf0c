// line/ingest.h: storing one run, in one transaction. The same run twice is stored once; a
// different run under a known run id is refused.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "line/ocp_run.h"
#include "line/store.h"

namespace line {

enum class Stored {
    kNew,            // stored now
    kAlready,        // this very run was stored before
    kConflict,       // another run is stored under its run id: refused
    kStoreFailed,    // the store refused or could not be reached: nothing was written
};

struct StoreResult {
    Stored outcome = Stored::kStoreFailed;
    std::string message;   // for kConflict and kStoreFailed
};

StoreResult StoreRun(Store& store, const RunRecord& run);

// Stores the runs of `files`, read ahead on another core, each in its own transaction. Into
// PostgreSQL, kConnections runs are stored at once, on connections of their own opened with
// `url`: the server's work and its flush to disk of one run overlap the others'. `told` hears
// of each file as it is done, one at a time, in the order they were stored; a run the store
// failed stops the storing (the runs being stored meanwhile still end, each whole or not
// at all). False with *error when no further connection could be opened.
struct ReadRun;
inline constexpr int kConnections = 3;
bool StoreFiles(Store& store, const std::string& url, std::vector<std::string> files,
                const std::function<void(const ReadRun& read, const StoreResult& result)>& told, std::string* error);

}  // namespace line
