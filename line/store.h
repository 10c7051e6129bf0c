// line/store.h: the results store, one implementation over SQLite and PostgreSQL through
// SOCI. Every statement is written once; the few things the engines spell differently (column
// types, how a transaction that writes begins, how rows are unpacked from a JSON parameter)
// sit in one table in store.cc. Every value reaches the engine as a bound parameter.
//
// Opening (`--db`):
//   results.db, ./x.db, sqlite:PATH    a SQLite file, created with the schema when missing;
//                                      WAL journal, a busy database is waited on (30 s)
//   postgresql://…, postgres://…       a PostgreSQL database, in libpq's URI form
//   postgresql:KEY=VALUE …             libpq's keyword form ("postgresql:dbname=line host=/run/pg");
//                                      "postgresql:" alone takes everything from the PG* variables
// Open() creates or migrates the schema (table schema_version) and refuses a store whose
// schema is newer than this program's.
//
// The schema (version 1). Times are text in UTC, "2026-12-07T18:33:07.123Z", so that they
// sort and compare as text in both engines; "ON CONFLICT" keeps ingest idempotent.
//   runs          id (key), run_id (unique: OCP testRunStart.parameters.runId, or "ocp-" and
//                 the file's SHA-256 for output without one), fingerprint (SHA-256 of the
//                 ocp.jsonl: the same id with another fingerprint is another run, refused),
//                 serial (NULL when the run names none), part, station, operator, plan_name,
//                 plan_revision, limits_digest (NULL when the run carries none), source
//                 ('hardware', 'virtual', 'replay', or 'unknown' for another program's output
//                 that does not say), program (the writer's name and version), started_at,
//                 ended_at, result ('PASS', 'FAIL', 'ABORTED': a run cut short or one whose
//                 testRunEnd status is not COMPLETE), ocp_status (testRunEnd's status, NULL when
//                 the run was cut), ocp_result, marginal (0/1: the run carries the marginal flag
//                 or a step a "-marginal" verdict), step_count, source_path, ingested_at
//   steps         run (runs.id), idx (0…), name, status (COMPLETE, ERROR, SKIP, or NULL when cut
//                 before its end), result ('PASS', 'FAIL', or NULL for a skipped or cut step),
//                 started_at, ended_at
//   measurements  run, step, seq (order in the run), name, value (number or boolean as 1/0;
//                 NULL for text), value_text (the value as JSON text, exact), unit, limit_min,
//                 limit_max, marginal_min, marginal_max (the band inside the limits, NULL when
//                 none), expected (JSON text of an EQUAL validator), result ('PASS', 'FAIL', or
//                 NULL when nothing checks it), marginal (0/1), at (its time stamp)
//   failures      run, step (NULL for the run's own errors), seq, verdict ("adc.3v3-low",
//                 "run-aborted"), message, measurement (the measurement the verdict names, when
//                 the step has it)
// Indexes: runs(serial, started_at), runs(started_at), runs(plan_name, started_at),
// runs(station, started_at), failures(verdict); steps, measurements and failures are kept in
// their key's order (SQLite: WITHOUT ROWID).
// Views (for a dashboard): runs_per_hour(hour, plan_name, station, source, runs, passed,
// failed, aborted) and measurement_limits(run_id, serial, station, plan_name, plan_revision,
// limits_digest, source, started_at, step, name, value, unit, limit_min, limit_max,
// marginal_min, marginal_max, result, marginal).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace soci {
class session;
class row;
}  // namespace soci

namespace line {

enum class Engine { kSqlite, kPostgresql };

// A bound value: NULL, an integer, a number or a text.
using Param = std::variant<std::monostate, int64_t, double, std::string>;

// The type a prepared statement binds a parameter as, fixed when it is prepared.
enum class ParamType { kInteger, kReal, kText };

// A statement prepared once per connection and run again with new values (ingest's inserts,
// run by the thousand): the engine parses and plans it once. Set every parameter, then Run.
class Prepared {
public:
    Prepared(soci::session& session, const std::string& sql, const std::vector<ParamType>& types, bool returnsId);
    ~Prepared();
    size_t size() const;
    void Set(size_t k, const Param& value);   // converted to the parameter's type; monostate is NULL
    // Runs it; with returnsId, *id is the first column of its one row, or 0 when none came.
    bool Run(int64_t* id, std::string* error);
private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One row of a result, read by column (from 0) whatever type the engine reports.
class Row {
public:
    explicit Row(const soci::row& row) : row_(row) {}
    size_t size() const;
    bool IsNull(size_t column) const;
    std::string Text(size_t column) const;   // "" for NULL
    int64_t Int(size_t column) const;        // 0 for NULL
    double Real(size_t column) const;        // 0 for NULL
private:
    const soci::row& row_;
};

class Store {
public:
    // Opens the store that `url` names, creating or migrating its schema. On failure returns
    // nullptr and sets *error to a sentence naming the store.
    static std::unique_ptr<Store> Open(const std::string& url, std::string* error);
    ~Store();

    Engine engine() const { return engine_; }
    const std::string& name() const { return name_; }   // for messages: the file or the database

    // Runs `sql` with its parameters bound in order to the placeholders :1, :2, … (SOCI's
    // ":name" form; the names do not matter, the order does) and calls onRow for each row as
    // it is fetched. Returns false and sets *error when the engine refuses. A listing that may
    // grow with the store pages by a key (see line/runs_command.cc): PostgreSQL hands a
    // result over whole.
    bool Query(const std::string& sql, const std::vector<Param>& params,
               const std::function<void(const Row&)>& onRow, std::string* error);
    // A statement without rows (INSERT, UPDATE, DDL).
    bool Execute(const std::string& sql, const std::vector<Param>& params, std::string* error);

    // The statement `sql` prepared on this connection, the first time it is asked for: nullptr
    // and *error when the engine refuses it. The same text must come with the same types.
    Prepared* Prepare(const std::string& sql, const std::vector<ParamType>& types, bool returnsId, std::string* error);

    // A transaction that writes: on SQLite it takes the write lock at once (BEGIN IMMEDIATE),
    // so that two writers wait in turn rather than fail on upgrading a read lock.
    bool Begin(std::string* error);
    bool Commit(std::string* error);
    void Rollback();

    // Whether the engine still answers (after a failed statement: the store's fault, or the run's).
    bool Reachable();
    bool Reconnect();

    soci::session& session() { return *session_; }

private:
    Store(Engine engine, std::string name, std::unique_ptr<soci::session> session);
    bool Migrate(std::string* error);
    bool ReadVersion(int64_t* version, std::string* error);

    Engine engine_;
    std::string name_;
    std::unique_ptr<soci::session> session_;
    std::map<std::string, std::unique_ptr<Prepared>, std::less<>> prepared_;   // by their SQL
};

// The default --db: results.db in the current folder.
inline constexpr const char* kDefaultStore = "results.db";

}  // namespace line
