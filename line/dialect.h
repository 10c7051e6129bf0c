// line/dialect.h: what the two engines spell differently, in one table. Everything else in
// the store's SQL is shared.
#pragma once

#include <string>

#include "line/store.h"

namespace line {

struct Dialect {
    Engine engine;
    const char* key;             // the runs' own key column
    const char* integer;         // a 64-bit integer column
    const char* real;            // a double column
    const char* clustered;       // after a table's columns: stored in its key's order, with no second copy of the key
    const char* beginWrite;      // a transaction that writes
    const char* migrationLock;   // taken inside the migration's transaction ("" when the begin locks)
    // The index that capability and the report read the values with limits through: without
    // it, every measurement of each page of runs is read (a run of the example plan has 74,
    // of which 6 have limits), and PostgreSQL sorts the page on disk. It holds only the values
    // with limits, so that it costs ingest little.
    const char* limitedValuesIndex;
};

const Dialect& DialectOf(Engine engine);

}  // namespace line
