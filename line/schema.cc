// line/schema.cc: the schema's migrations, in order. Migration N brings a store from version
// N-1 to N; a store records the versions it has in schema_version. Column types are written
// as {KEY}, {INT} and {REAL}, and a table kept in its key's order ends in {CLUSTERED}; each
// engine's dialect fills these in (line/dialect.h).
#include "line/schema.h"

namespace line {

namespace {

const char* const kVersion1[] = {
    "CREATE TABLE runs ("
    " id {KEY},"
    " run_id TEXT NOT NULL UNIQUE,"
    " fingerprint TEXT NOT NULL,"
    " serial TEXT, part TEXT, station TEXT, operator TEXT,"
    " plan_name TEXT, plan_revision TEXT, limits_digest TEXT,"
    " source TEXT NOT NULL CHECK (source IN ('hardware', 'virtual', 'replay', 'unknown')),"
    " program TEXT,"
    " started_at TEXT NOT NULL, ended_at TEXT,"
    " result TEXT NOT NULL CHECK (result IN ('PASS', 'FAIL', 'ABORTED')),"
    " ocp_status TEXT, ocp_result TEXT,"
    " marginal {INT} NOT NULL DEFAULT 0,"
    " step_count {INT} NOT NULL DEFAULT 0,"
    " source_path TEXT, ingested_at TEXT NOT NULL)",
    "CREATE TABLE steps ("
    " run {INT} NOT NULL REFERENCES runs (id) ON DELETE CASCADE,"
    " idx {INT} NOT NULL, name TEXT, status TEXT, result TEXT,"
    " started_at TEXT, ended_at TEXT,"
    " PRIMARY KEY (run, idx)){CLUSTERED}",
    "CREATE TABLE measurements ("
    " run {INT} NOT NULL REFERENCES runs (id) ON DELETE CASCADE,"
    " step {INT} NOT NULL, seq {INT} NOT NULL,"
    " name TEXT NOT NULL, value {REAL}, value_text TEXT NOT NULL, unit TEXT,"
    " limit_min {REAL}, limit_max {REAL}, marginal_min {REAL}, marginal_max {REAL},"
    " expected TEXT, result TEXT, marginal {INT} NOT NULL DEFAULT 0, at TEXT,"
    " PRIMARY KEY (run, seq)){CLUSTERED}",
    "CREATE TABLE failures ("
    " run {INT} NOT NULL REFERENCES runs (id) ON DELETE CASCADE,"
    " step {INT}, seq {INT} NOT NULL,"
    " verdict TEXT NOT NULL, message TEXT, measurement TEXT,"
    " PRIMARY KEY (run, seq)){CLUSTERED}",
    "CREATE INDEX runs_by_serial ON runs (serial, started_at)",
    "CREATE INDEX runs_by_time ON runs (started_at)",
    "CREATE INDEX runs_by_plan ON runs (plan_name, started_at)",
    "CREATE INDEX runs_by_station ON runs (station, started_at)",
    // No index on a measurement's name: each run would touch one page of it for each of its
    // measurements, which costs SQLite ingest most of its speed; questions about one
    // measurement over the line scan measurement_limits instead.
    "CREATE INDEX failures_by_verdict ON failures (verdict)",
    // The dashboard's views: an hour is the time's first 13 characters, the same text in both
    // engines ("2026-12-07T18" + ":00:00Z").
    "CREATE VIEW runs_per_hour AS"
    " SELECT substr(started_at, 1, 13) || ':00:00Z' AS hour, plan_name, station, source,"
    " COUNT(*) AS runs,"
    " SUM(CASE WHEN result = 'PASS' THEN 1 ELSE 0 END) AS passed,"
    " SUM(CASE WHEN result = 'FAIL' THEN 1 ELSE 0 END) AS failed,"
    " SUM(CASE WHEN result = 'ABORTED' THEN 1 ELSE 0 END) AS aborted"
    " FROM runs GROUP BY substr(started_at, 1, 13), plan_name, station, source",
    "CREATE VIEW measurement_limits AS"
    " SELECT r.run_id, r.serial, r.station, r.plan_name, r.plan_revision, r.limits_digest,"
    " r.source, r.started_at, s.name AS step, m.name, m.value, m.unit, m.limit_min, m.limit_max,"
    " m.marginal_min, m.marginal_max, m.result, m.marginal"
    " FROM measurements m JOIN runs r ON r.id = m.run"
    " LEFT JOIN steps s ON s.run = m.run AND s.idx = m.step"
    " WHERE m.limit_min IS NOT NULL OR m.limit_max IS NOT NULL",
};

// The values with limits, in their runs' order, for the line's statistics: where the engine
// needs an index for it (line/dialect.h).
const char* const kVersion2[] = {"{LIMITED_VALUES_INDEX}"};

// What the station says of itself (its fixture and calibration, and every other station fact
// as a JSON object), and each step's attempt among those its plan allows.
const char* const kVersion3[] = {
    "ALTER TABLE runs ADD COLUMN fixture_id TEXT",
    "ALTER TABLE runs ADD COLUMN calibration_date TEXT",
    "ALTER TABLE runs ADD COLUMN calibration_due TEXT",
    "ALTER TABLE runs ADD COLUMN uncalibrated {INT} NOT NULL DEFAULT 0",
    "ALTER TABLE runs ADD COLUMN station_facts TEXT",
    "ALTER TABLE steps ADD COLUMN attempt {INT} NOT NULL DEFAULT 1",
    "ALTER TABLE steps ADD COLUMN attempts_allowed {INT} NOT NULL DEFAULT 1",
};

template <size_t N>
Migration Of(const char* const (&statements)[N]) {
    return Migration{std::vector<std::string>(statements, statements + N)};
}

}  // namespace

const std::vector<Migration>& Migrations() {
    static const std::vector<Migration> kMigrations = {Of(kVersion1), Of(kVersion2), Of(kVersion3)};
    return kMigrations;
}

std::string ForEngine(const std::string& statement, const Dialect& dialect) {
    std::string out = statement;
    const std::pair<const char*, const char*> words[] = {
        {"{KEY}", dialect.key}, {"{INT}", dialect.integer}, {"{REAL}", dialect.real}, {"{CLUSTERED}", dialect.clustered},
        {"{LIMITED_VALUES_INDEX}", dialect.limitedValuesIndex}};
    for (const auto& [word, type] : words) {
        for (size_t at = out.find(word); at != std::string::npos; at = out.find(word, at)) {
            out.replace(at, std::strlen(word), type);
        }
    }
    return out;
}

}  // namespace line
