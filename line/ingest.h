// line/ingest.h: storing one run, in one transaction. The same run twice is stored once; a
// different run under a known run id is refused.
#pragma once

#include <string>

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

}  // namespace line
