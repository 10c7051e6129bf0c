// line/ingest.cc: one run into the store in one transaction: the run's row first (ON CONFLICT
// DO NOTHING keeps a second copy out, whichever collector comes second), then its steps,
// measurements and failures, each table in one multi-row INSERT per up to kRowsPerInsert rows.
// Every value stays a bound parameter; the statements are prepared once per connection (see
// Store::Prepare), and a run costs a handful of round trips.
#include "line/ingest.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "line/read_ahead.h"
#include "line/times.h"

namespace line {

namespace {

// Rows per INSERT: a run of the example plan (74 measurements) goes in one statement per
// table, and the parameters stay well under either engine's limit (SQLite 32766, PostgreSQL 65535).
constexpr size_t kRowsPerInsert = 128;

constexpr ParamType kI = ParamType::kInteger, kR = ParamType::kReal, kT = ParamType::kText;

template <typename T>
Param Opt(const std::optional<T>& value) {
    if (!value) return std::monostate{};
    return Param(*value);
}

struct Table {
    const char* name;
    const char* columns;   // after run
    std::vector<ParamType> types;   // of the columns after run
};

const Table kSteps{"steps", "idx, name, status, result, started_at, ended_at, attempt, attempts_allowed",
                   {kI, kT, kT, kT, kT, kT, kI, kI}};
const Table kMeasurements{"measurements",
                          "step, seq, name, value, value_text, unit, limit_min, limit_max, marginal_min, marginal_max, "
                          "expected, result, marginal, at",
                          {kI, kI, kT, kR, kT, kT, kR, kR, kR, kR, kT, kT, kI, kT}};
const Table kFailures{"failures", "step, seq, verdict, message, measurement", {kI, kI, kT, kT, kT}};

// INSERT INTO table (run, columns…) VALUES (…), (…): `rows` rows of placeholders.
std::string RowsInsert(const Table& table, size_t rows, std::vector<ParamType>* types) {
    std::string sql = std::string("INSERT INTO ") + table.name + " (run, " + table.columns + ") VALUES ";
    types->clear();
    int k = 0;
    for (size_t r = 0; r < rows; ++r) {
        sql += r == 0 ? "(" : ", (";
        for (size_t c = 0; c <= table.types.size(); ++c) {
            sql += (c == 0 ? ":" : ", :") + std::to_string(++k);
            types->push_back(c == 0 ? kI : table.types[c - 1]);
        }
        sql += ')';
    }
    return sql;
}

// `values` holds the table's columns after run, row after row.
bool InsertRows(Store& store, const Table& table, int64_t id, const std::vector<Param>& values, std::string* error) {
    const size_t width = table.types.size(), rows = values.size() / width;
    std::vector<ParamType> types;
    for (size_t first = 0; first < rows; first += kRowsPerInsert) {
        const size_t count = std::min(kRowsPerInsert, rows - first);
        Prepared* insert = store.Prepare(RowsInsert(table, count, &types), types, false, error);
        if (insert == nullptr) return false;
        size_t k = 0;
        for (size_t r = first; r < first + count; ++r) {
            insert->Set(k++, id);
            for (size_t c = 0; c < width; ++c) insert->Set(k++, values[r * width + c]);
        }
        if (!insert->Run(nullptr, error)) return false;
    }
    return true;
}

bool InsertRows(Store& store, const RunRecord& run, int64_t id, std::string* error) {
    std::vector<Param> steps, measurements, failures;
    steps.reserve(run.steps.size() * kSteps.types.size());
    for (const StepRecord& s : run.steps) {
        for (Param p : {Param(s.index), Param(s.name), Opt(s.status), Opt(s.result), Param(s.startedAt), Param(s.endedAt),
                        Param(s.attempt), Param(s.attemptsAllowed)}) {
            steps.push_back(std::move(p));
        }
    }
    int64_t seq = 0;
    measurements.reserve(run.measurements.size() * kMeasurements.types.size());
    for (const MeasurementRecord& m : run.measurements) {
        for (Param p : {Param(m.step), Param(seq++), Param(m.name), Opt(m.value), Param(m.valueText),
                        m.unit.empty() ? Param() : Param(m.unit), Opt(m.limitMin), Opt(m.limitMax), Opt(m.marginalMin),
                        Opt(m.marginalMax), Opt(m.expected), Opt(m.result), Param(int64_t{m.marginal ? 1 : 0}),
                        Param(m.at)}) {
            measurements.push_back(std::move(p));
        }
    }
    seq = 0;
    for (const FailureRecord& f : run.failures) {
        for (Param p : {Opt(f.step), Param(seq++), Param(f.verdict), Param(f.message), Opt(f.measurement)}) {
            failures.push_back(std::move(p));
        }
    }
    return InsertRows(store, kSteps, id, steps, error) && InsertRows(store, kMeasurements, id, measurements, error) &&
           InsertRows(store, kFailures, id, failures, error);
}

// The run's own row; *id is 0 when a run under its run id is stored already.
bool InsertRun(Store& store, const RunRecord& run, int64_t* id, std::string* error) {
    *id = 0;
    Prepared* insert = store.Prepare(
        "INSERT INTO runs (run_id, fingerprint, serial, part, station, operator, plan_name, plan_revision,"
        " limits_digest, source, program, started_at, ended_at, result, ocp_status, ocp_result, marginal,"
        " step_count, source_path, ingested_at, fixture_id, calibration_date, calibration_due, uncalibrated,"
        " station_facts)"
        " VALUES (:1, :2, :3, :4, :5, :6, :7, :8, :9, :10, :11, :12, :13, :14, :15, :16, :17, :18, :19, :20,"
        " :21, :22, :23, :24, :25)"
        " ON CONFLICT (run_id) DO NOTHING RETURNING id",
        {kT, kT, kT, kT, kT, kT, kT, kT, kT, kT, kT, kT, kT, kT, kT, kT, kI, kI, kT, kT, kT, kT, kT, kI, kT}, true, error);
    if (insert == nullptr) return false;
    size_t k = 0;
    for (const Param& p : {Param(run.runId), Param(run.fingerprint), Opt(run.serial), Opt(run.part), Opt(run.station),
                           Opt(run.operatorName), Opt(run.planName), Opt(run.planRevision), Opt(run.limitsDigest),
                           Param(run.source), Param(run.program), Param(run.startedAt), Param(run.endedAt),
                           Param(run.result), Opt(run.ocpStatus), Opt(run.ocpResult), Param(int64_t{run.marginal ? 1 : 0}),
                           Param(static_cast<int64_t>(run.steps.size())), Param(run.path), Param(NowUtc()),
                           Opt(run.fixtureId), Opt(run.calibrationDate), Opt(run.calibrationDue),
                           Param(int64_t{run.uncalibrated ? 1 : 0}), Opt(run.stationFacts)}) {
        insert->Set(k++, p);
    }
    return insert->Run(id, error);
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

bool StoreFiles(Store& store, const std::string& url, std::vector<std::string> files,
                const std::function<void(const ReadRun& read, const StoreResult& result)>& told, std::string* error) {
    std::vector<std::unique_ptr<Store>> more;
    const size_t connections = store.engine() == Engine::kPostgresql ? std::min<size_t>(kConnections, files.size()) : 1;
    for (size_t i = 1; i < connections; ++i) {
        more.push_back(Store::Open(url, error));
        if (!more.back()) return false;
    }
    ReadAhead ahead(std::move(files));
    std::mutex telling;
    std::atomic<bool> failed{false};
    const auto work = [&](Store& mine) {
        for (ReadRun next; !failed && ahead.Next(&next);) {
            const StoreResult result = next.read ? StoreRun(mine, next.run) : StoreResult{Stored::kStoreFailed, next.error};
            std::lock_guard<std::mutex> lock(telling);
            if (next.read && result.outcome == Stored::kStoreFailed) failed = true;
            told(next, result);
        }
    };
    std::vector<std::thread> workers;
    for (auto& connection : more) workers.emplace_back(work, std::ref(*connection));
    work(store);
    for (std::thread& worker : workers) worker.join();
    return true;
}

}  // namespace line
