// line/schema.h: the schema's migrations (the tables are described in line/store.h).
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "line/dialect.h"

namespace line {

struct Migration {
    std::vector<std::string> statements;
};

// Migration i brings a store to version i + 1.
const std::vector<Migration>& Migrations();
inline int CurrentSchemaVersion() { return static_cast<int>(Migrations().size()); }

// A statement with the engine's column types put in.
std::string ForEngine(const std::string& statement, const Dialect& dialect);

}  // namespace line
