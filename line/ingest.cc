// line/ingest.cc: one run into the store in one transaction: the run's row first (ON CONFLICT
// DO NOTHING keeps a second copy out, whichever collector comes second), then its steps,
// measurements and failures, each table in one statement whose rows come from one JSON
// parameter: every value stays a bound parameter, and a run costs a handful of round trips.
#include "line/ingest.h"

#include <nlohmann/json.hpp>

#include "line/dialect.h"
#include "line/times.h"

namespace line {

namespace {

using nlohmann::json;

template <typename T>
Param Opt(const std::optional<T>& value) {
    if (!value) return std::monostate{};
    return Param(*value);
}

template <typename T>
json J(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

std::string Dump(const json& rows) { return rows.dump(-1, ' ', false, json::error_handler_t::replace); }

// INSERT INTO table (run, columns…) SELECT the run, then each field of the JSON rows.
std::string RowsInsert(const Dialect& d, const char* table, const char* columns,
                       std::initializer_list<const char*> types) {
    std::string sql = std::string("INSERT INTO ") + table + " (run, " + columns + ") SELECT CAST(:run AS BIGINT)";
    int k = 0;
    for (const char* type : types) sql += ", " + d.field(k++, type);
    return sql + " FROM " + d.jsonRows;
}

bool InsertRows(Store& store, const RunRecord& run, int64_t id, std::string* error) {
    const Dialect& d = DialectOf(store.engine());
    json steps = json::array(), measurements = json::array(), failures = json::array();
    for (const StepRecord& s : run.steps) {
        steps.push_back({s.index, s.name, J(s.status), J(s.result), s.startedAt, s.endedAt});
    }
    int64_t seq = 0;
    for (const MeasurementRecord& m : run.measurements) {
        measurements.push_back({m.step, seq++, m.name, J(m.value), m.valueText, m.unit.empty() ? json(nullptr) : json(m.unit),
                                J(m.limitMin), J(m.limitMax), J(m.marginalMin), J(m.marginalMax), J(m.expected),
                                J(m.result), m.marginal ? 1 : 0, m.at});
    }
    seq = 0;
    for (const FailureRecord& f : run.failures) failures.push_back({J(f.step), seq++, f.verdict, f.message, J(f.measurement)});
    static const char* const kText = "TEXT";
    const std::string i = d.integer, r = d.real;
    const std::pair<std::string, const json*> inserts[] = {
        {RowsInsert(d, "steps", "idx, name, status, result, started_at, ended_at", {i.c_str(), kText, kText, kText, kText, kText}),
         &steps},
        {RowsInsert(d, "measurements",
                    "step, seq, name, value, value_text, unit, limit_min, limit_max, marginal_min, marginal_max, "
                    "expected, result, marginal, at",
                    {i.c_str(), i.c_str(), kText, r.c_str(), kText, kText, r.c_str(), r.c_str(), r.c_str(), r.c_str(), kText,
                     kText, i.c_str(), kText}),
         &measurements},
        {RowsInsert(d, "failures", "step, seq, verdict, message, measurement", {i.c_str(), i.c_str(), kText, kText, kText}),
         &failures},
    };
    for (const auto& [sql, rows] : inserts) {
        if (!rows->empty() && !store.Execute(sql, {id, Dump(*rows)}, error)) return false;
    }
    return true;
}

// The run's own row; *id is 0 when a run under its run id is stored already.
bool InsertRun(Store& store, const RunRecord& run, int64_t* id, std::string* error) {
    *id = 0;
    return store.Query(
        "INSERT INTO runs (run_id, fingerprint, serial, part, station, operator, plan_name, plan_revision,"
        " limits_digest, source, program, started_at, ended_at, result, ocp_status, ocp_result, marginal,"
        " step_count, source_path, ingested_at)"
        " VALUES (:1, :2, :3, :4, :5, :6, :7, :8, :9, :10, :11, :12, :13, :14, :15, :16, :17, :18, :19, :20)"
        " ON CONFLICT (run_id) DO NOTHING RETURNING id",
        {run.runId, run.fingerprint, Opt(run.serial), Opt(run.part), Opt(run.station), Opt(run.operatorName),
         Opt(run.planName), Opt(run.planRevision), Opt(run.limitsDigest), run.source, run.program, run.startedAt,
         run.endedAt, run.result, Opt(run.ocpStatus), Opt(run.ocpResult), int64_t{run.marginal ? 1 : 0},
         static_cast<int64_t>(run.steps.size()), run.path, NowUtc()},
        [&](const Row& row) { *id = row.Int(0); }, error);
}

StoreResult Known(Store& store, const RunRecord& run) {
    std::string fingerprint, stored, error;
    if (!store.Query("SELECT fingerprint, result, source_path, started_at FROM runs WHERE run_id = :1", {run.runId},
                     [&](const Row& row) {
                         fingerprint = row.Text(0);
                         stored = row.Text(1) + " run of " + row.Text(3) + " from " + row.Text(2);
                     },
                     &error)) {
        return {Stored::kStoreFailed, error};
    }
    if (fingerprint == run.fingerprint) return {Stored::kAlready, {}};
    return {Stored::kConflict, "a different run is stored under run id " + run.runId + " (the " + stored +
                                   "): refused, the stored run is kept"};
}

}  // namespace

StoreResult StoreRun(Store& store, const RunRecord& run) {
    std::string error;
    int64_t id = 0;
    if (!store.Begin(&error)) return {Stored::kStoreFailed, error};
    if (!InsertRun(store, run, &id, &error) || (id != 0 && !InsertRows(store, run, id, &error))) {
        store.Rollback();
        return {Stored::kStoreFailed, error};
    }
    if (id == 0) {
        store.Rollback();
        return Known(store, run);
    }
    if (!store.Commit(&error)) {
        store.Rollback();
        return {Stored::kStoreFailed, error};
    }
    return {Stored::kNew, {}};
}

}  // namespace line
