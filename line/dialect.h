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
    // The index that capability and the report read the values with limits through ("" for
    // none): PostgreSQL would otherwise scan every measurement for each page of runs and sort
    // the page on disk. SQLite keeps measurements in (run, seq) order already and reads a
    // run's 74 in one place; a second copy of the 6 with limits would make capability 40 %
    // faster, but cost ingest about 15 % of its speed, which a line needs more.
    const char* limitedValuesIndex;
};

const Dialect& DialectOf(Engine engine);

}  // namespace line
