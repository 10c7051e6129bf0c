// line/stats_query.cc: the SQL of the line's statistics, one statement per question.
#include "line/stats_query.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "line/soci_headers.h"
#include "line/text.h"
#include "line/times.h"

namespace line {
namespace {

// A run's outcome for the yield rules. kelvotest-plan stores a stop or a tool that could not
// start as ABORTED with the error "run-aborted", and a run cut short has no end; another
// program's run that ended in ERROR is an attempt that did not pass.
constexpr const char* kOutcome =
    "CASE WHEN r.result <> 'ABORTED' THEN r.result"
    " WHEN r.ocp_status = 'ERROR' AND NOT EXISTS (SELECT 1 FROM failures fa"
    " WHERE fa.run = r.id AND fa.verdict = 'run-aborted') THEN 'ERROR'"
    " ELSE 'ABORTED' END";

constexpr const char* kUnit =
    "CASE WHEN r.serial IS NULL OR r.serial = '' THEN 'run ' || r.run_id ELSE 'serial ' || r.serial END";

// What tells the values of one measurement apart by the rules that judged them: the limits
// digest, or for runs that carry none the limits themselves (as the engine writes them).
constexpr const char* kSeriesKey =
    "COALESCE(r.limits_digest, 'limits ' || COALESCE(CAST(m.limit_min AS TEXT), '') || ' '"
    " || COALESCE(CAST(m.limit_max AS TEXT), '') || ' ' || COALESCE(CAST(m.marginal_min AS TEXT), '')"
    " || ' ' || COALESCE(CAST(m.marginal_max AS TEXT), ''))";

struct Where {
    std::string sql;             // " AND …"
    std::vector<Param> params;
};

// The filter on runs r; `sourceFilter`: leave out the virtual scanner and replays unless asked.
Where RunsWhere(const StatsFilter& filter, bool sourceFilter = true) {
    Where where;
    auto add = [&where](const char* clause, const std::string& value) {
        where.sql += clause + std::to_string(where.params.size() + 1);
        where.params.push_back(value);
    };
    if (filter.plan) add(" AND r.plan_name = :p", *filter.plan);
    if (filter.station) add(" AND r.station = :p", *filter.station);
    if (filter.since) add(" AND r.started_at >= :p", *filter.since);
    if (filter.until) add(" AND r.started_at < :p", *filter.until);
    if (sourceFilter && !filter.includeVirtual) where.sql += " AND r.source NOT IN ('virtual', 'replay')";
    return where;
}

std::optional<std::tm> LocalTime(const std::string& storedTime) {
    std::tm utc{};
    if (std::sscanf(storedTime.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &utc.tm_year, &utc.tm_mon, &utc.tm_mday,
                    &utc.tm_hour, &utc.tm_min, &utc.tm_sec) != 6) {
        return std::nullopt;
    }
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    const std::time_t seconds = timegm(&utc);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return std::nullopt;
    return local;
}

std::string DayOf(const std::tm& t) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    return text;
}

std::string GroupOf(GroupBy by, const Row& row) {
    switch (by) {
        case GroupBy::kDay: return LocalDay(row.Text(3));
        case GroupBy::kShift: return LocalShift(row.Text(3));
        case GroupBy::kStation: return row.IsNull(4) ? "-" : row.Text(4);
        case GroupBy::kStep: return row.Text(5);
        case GroupBy::kNone: break;
    }
    return "";
}

bool Fail(const char* command, const std::string& text) {
    std::fprintf(stderr, "kelvotest-line %s: %s\n", command, Shown(text).c_str());
    return false;
}

}  // namespace

std::string LocalDay(const std::string& storedTime) {
    const auto local = LocalTime(storedTime);
    return local ? DayOf(*local) : storedTime.substr(0, 10);
}

std::string LocalShift(const std::string& storedTime) {
    auto local = LocalTime(storedTime);
    if (!local) return storedTime.substr(0, 10);
    if (local->tm_hour >= 6 && local->tm_hour < 14) return DayOf(*local) + " 06-14";
    if (local->tm_hour >= 14 && local->tm_hour < 22) return DayOf(*local) + " 14-22";
    if (local->tm_hour < 6) {   // the night shift began the day before
        local->tm_mday -= 1;
        local->tm_isdst = -1;
        std::mktime(&*local);
    }
    return DayOf(*local) + " 22-06";
}

bool PrepareForStatistics(Store& store, std::string* error) {
    if (store.engine() != Engine::kPostgresql) return true;
    return store.Execute("SET jit = off", {}, error);
}

bool ReadStatsFilter(const char* command, const Options& options, StatsFilter* filter, GroupBy* by) {
    if (options.Has("--plan")) filter->plan = options.Get("--plan");
    if (options.Has("--station")) filter->station = options.Get("--station");
    filter->includeVirtual = options.Has("--include-virtual");
    for (const auto& [option, slot] : {std::pair{"--since", &filter->since}, std::pair{"--until", &filter->until}}) {
        if (!options.Has(option)) continue;
        *slot = ParseTimeArgument(options.Get(option));
        if (!*slot) {
            return Fail(command, std::string(option) + " takes a date, a time (2026-12-07T06:00Z) or a span (36h, 7d), not '" +
                                     options.Get(option) + "'");
        }
    }
    if (by == nullptr) return true;
    static const std::pair<const char*, GroupBy> kBy[] = {{"day", GroupBy::kDay},       {"shift", GroupBy::kShift},
                                                          {"station", GroupBy::kStation}, {"step", GroupBy::kStep}};
    *by = GroupBy::kNone;
    if (!options.Has("--by")) return true;
    for (const auto& [name, value] : kBy) {
        if (options.Get("--by") == name) *by = value;
    }
    if (*by == GroupBy::kNone) return Fail(command, "--by takes day, shift, station or step, not '" + options.Get("--by") + "'");
    return true;
}

bool CountVirtualLeftOut(Store& store, const StatsFilter& filter, uint64_t* count, std::string* error) {
    *count = 0;
    if (filter.includeVirtual) return true;
    const Where where = RunsWhere(filter, false);
    return store.Query("SELECT COUNT(*) FROM runs r WHERE r.source IN ('virtual', 'replay')" + where.sql, where.params,
                       [&](const Row& row) { *count = static_cast<uint64_t>(row.Int(0)); }, error);
}

// Each run (or with --by step each step of each run, a retried step by its last attempt) in the
// order the fold needs: plan, unit, then time. Columns: plan, unit, outcome, started_at,
// station, step, steps run (a retried step once), steps retried.
bool QueryYield(Store& store, const StatsFilter& filter, GroupBy by, std::vector<YieldRow>* rows, std::string* error) {
    const Where where = RunsWhere(filter);
    const std::string outcome = kOutcome;
    std::string sql;
    if (by == GroupBy::kStep) {
        sql = "SELECT COALESCE(r.plan_name, ''), " + std::string(kUnit) + ", CASE WHEN (" + outcome +
              ") = 'ABORTED' THEN 'ABORTED' WHEN s.result IN ('PASS', 'FAIL') THEN s.result ELSE 'ABORTED' END,"
              " r.started_at, r.station, s.name, 1, CASE WHEN s.attempt > 1 THEN 1 ELSE 0 END"
              " FROM runs r JOIN steps s ON s.run = r.id WHERE NOT EXISTS (SELECT 1 FROM steps later WHERE"
              " later.run = s.run AND later.idx = s.idx + 1 AND later.attempt = s.attempt + 1)" + where.sql +
              " ORDER BY 1, s.name, 2, r.started_at, r.id";
    } else {
        sql = "SELECT COALESCE(r.plan_name, ''), " + std::string(kUnit) + ", " + outcome +
              ", r.started_at, r.station, '',"
              " (SELECT COUNT(*) FROM steps s WHERE s.run = r.id AND s.attempt = 1),"
              " (SELECT COUNT(*) FROM steps s WHERE s.run = r.id AND s.attempt = 2)"
              " FROM runs r WHERE 1 = 1" + where.sql + " ORDER BY 1, 2, r.started_at, r.id";
    }
    YieldCounter counter(true);   // the filter left out what is to be left out
    YieldRun run;
    const bool ok = store.Query(sql, where.params, [&](const Row& row) {
        run.plan = row.Text(0);
        run.unit = by == GroupBy::kStep ? row.Text(5) + "\x1f" + row.Text(1) : row.Text(1);
        run.result = RunResultFromText(row.Text(2));
        run.group = GroupOf(by, row);
        run.steps = static_cast<uint64_t>(row.Int(6));
        run.retriedSteps = static_cast<uint64_t>(row.Int(7));
        counter.Add(run);
    }, error);
    if (!ok) return false;
    *rows = counter.Rows();
    if (by == GroupBy::kNone) {   // one group: its total is the row
        std::erase_if(*rows, [](const YieldRow& row) { return row.group != "all"; });
    }
    return true;
}

// Units per verdict, each unit once however often it failed so; aborted runs are no attempts
// and their errors are not failures of the unit.
bool QueryPareto(Store& store, const StatsFilter& filter, std::vector<ParetoRow>* rows, std::string* error) {
    const Where where = RunsWhere(filter);
    const std::string sql = "SELECT f.verdict, COUNT(DISTINCT " + std::string(kUnit) +
                            ") FROM failures f JOIN runs r ON r.id = f.run WHERE (" + kOutcome + ") <> 'ABORTED'" +
                            where.sql + " GROUP BY f.verdict";
    std::vector<std::pair<std::string, uint64_t>> counts;
    const bool ok = store.Query(sql, where.params, [&](const Row& row) {
        counts.emplace_back(row.Text(0), static_cast<uint64_t>(row.Int(1)));
    }, error);
    if (ok) *rows = BuildPareto(std::move(counts));
    return ok;
}

// The series of a value: found by name and key among those seen, trying first the one after
// the last (a run's measurements come in the same order every run), so that a value costs a
// comparison or two and no allocation.
static size_t SeriesIndex(std::vector<MeasurementSeries>* series, size_t* hint, std::string_view name, std::string_view key,
                   const Limits& limits, std::string_view unit) {
    const size_t count = series->size();
    for (size_t tried = 0; tried < count; ++tried) {
        const size_t i = (*hint + 1 + tried) % count;
        if ((*series)[i].name == name && (*series)[i].digest == key) return *hint = i;
    }
    series->push_back(MeasurementSeries{std::string(name), std::string(key), limits, std::string(unit)});
    return *hint = count;
}

// The key of the last run of the page that starts after (afterTime, afterId): its start and id,
// or nothing when fewer runs than a page remain.
static bool PageEnd(Store& store, const Where& where, const std::string& afterTime, int64_t afterId, int64_t pageRuns,
             std::optional<std::pair<std::string, int64_t>>* end, std::string* error) {
    std::vector<Param> params = {afterTime, afterTime, afterId};
    params.insert(params.end(), where.params.begin(), where.params.end());
    end->reset();
    return store.Query("SELECT r.started_at, r.id FROM runs r WHERE r.started_at >= :a AND (r.started_at > :b OR r.id > :c)" +
                           where.sql + " ORDER BY r.started_at, r.id LIMIT 1 OFFSET " + std::to_string(pageRuns - 1),
                       params, [&](const Row& row) { *end = std::pair{row.Text(0), row.Int(1)}; }, error);
}

// One page of runs' values with limits, fetched in chunks into typed columns.
struct ValueColumns {
    static constexpr size_t kChunk = 2000;
    std::vector<std::string> measurement, keys, units;
    std::vector<double> bounds[4], values;
    std::vector<soci::indicator> nulls[4];
    std::vector<int> marginals;
    void Resize() {
        for (auto* column : {&measurement, &keys, &units}) column->resize(kChunk);
        for (int k = 0; k < 4; ++k) bounds[k].resize(kChunk), nulls[k].resize(kChunk);
        values.resize(kChunk);
        marginals.resize(kChunk);
    }
    void Into(soci::statement& statement) {
        Resize();
        statement.exchange(soci::into(measurement));
        statement.exchange(soci::into(keys));
        for (int k = 0; k < 4; ++k) statement.exchange(soci::into(bounds[k], nulls[k]));
        statement.exchange(soci::into(units));
        statement.exchange(soci::into(values));
        statement.exchange(soci::into(marginals));
    }
};

// A value with limits as a page hands it over.
using ValueRow = std::function<void(std::string_view name, std::string_view key, const Limits& limits, std::string_view unit,
                                    double value, bool marginal)>;

// The values through SQLite's own interface, on a read-only connection of their own: SOCI's
// SQLite back end hands every column over as text, so that each value and bound would be
// printed and parsed again, which was most of capability's time.
class SqliteReader {
public:
    ~SqliteReader() { sqlite_api::sqlite3_close_v2(db_); }
    bool Open(const std::string& path, std::string* error) {
        using namespace sqlite_api;   // SOCI's header holds SQLite's interface in this namespace
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            *error = db_ ? sqlite3_errmsg(db_) : "cannot open " + path;
            return false;
        }
        sqlite3_busy_timeout(db_, 30000);
        return true;
    }
    // One page; `binds` are its parameters in their order.
    bool Page(const std::string& sql, const std::vector<Param>& binds, const ValueRow& onRow, std::string* error);

private:
    sqlite_api::sqlite3* db_ = nullptr;
};

bool SqliteReader::Page(const std::string& sql, const std::vector<Param>& binds, const ValueRow& onRow, std::string* error) {
    using namespace sqlite_api;
    sqlite3* db = db_;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK) {
        *error = sqlite3_errmsg(db);
        return false;
    }
    for (size_t i = 0; i < binds.size(); ++i) {
        const int at = static_cast<int>(i + 1);
        if (const auto* text = std::get_if<std::string>(&binds[i])) {
            sqlite3_bind_text(statement, at, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
        } else if (const auto* number = std::get_if<int64_t>(&binds[i])) {
            sqlite3_bind_int64(statement, at, *number);
        }
    }
    const auto text = [statement](int column) {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        return std::string_view(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(statement, column)));
    };
    const auto bound = [statement](int column) {
        return sqlite3_column_type(statement, column) == SQLITE_NULL ? std::nullopt
                                                                      : std::optional<double>(sqlite3_column_double(statement, column));
    };
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        onRow(text(0), text(1), Limits{bound(2), bound(3), bound(4), bound(5)}, text(6), sqlite3_column_double(statement, 7),
              sqlite3_column_int64(statement, 8) != 0);
    }
    if (step != SQLITE_DONE) *error = sqlite3_errmsg(db);
    sqlite3_finalize(statement);
    return step == SQLITE_DONE;
}

// One page through SOCI, fetched in chunks into typed columns (PostgreSQL).
static bool SociPage(Store& store, const std::string& sql, std::vector<Param> binds, ValueColumns& c, const ValueRow& onRow,
                     std::string* error) {
    std::vector<long long> numbers;
    numbers.reserve(binds.size());   // each bound where it stays
    try {
        soci::statement statement(store.session());
        for (Param& p : binds) {
            if (auto* text = std::get_if<std::string>(&p)) {
                statement.exchange(soci::use(*text));
            } else {
                numbers.push_back(std::get<int64_t>(p));
                statement.exchange(soci::use(numbers.back()));
            }
        }
        c.Into(statement);
        statement.alloc();
        statement.prepare(sql);
        statement.define_and_bind();
        for (bool more = statement.execute(true); more; more = statement.fetch()) {
            for (size_t i = 0; i < c.keys.size(); ++i) {
                auto bound = [&](int k) { return c.nulls[k][i] == soci::i_null ? std::nullopt : std::optional<double>(c.bounds[k][i]); };
                onRow(c.measurement[i], c.keys[i], Limits{bound(0), bound(1), bound(2), bound(3)}, c.units[i], c.values[i],
                      c.marginals[i] != 0);
            }
            c.Resize();
        }
    } catch (const std::exception& e) {
        *error = e.what();
        return false;
    }
    return true;
}

// The values with limits of the runs after (:a, :c) up to (:d, :f) when `bounded`.
static std::string LimitedValuesSql(bool bounded, const std::string& nameClause, const std::string& where) {
    return "SELECT m.name, " + std::string(kSeriesKey) +
           ", m.limit_min, m.limit_max, m.marginal_min, m.marginal_max, COALESCE(m.unit, ''), m.value,"
           " m.marginal FROM runs r JOIN measurements m ON m.run = r.id"
           " WHERE r.started_at >= :a AND (r.started_at > :b OR r.id > :c)" +
           std::string(bounded ? " AND r.started_at <= :d AND (r.started_at < :e OR r.id <= :f)" : "") +
           " AND (m.limit_min IS NOT NULL OR m.limit_max IS NOT NULL) AND m.value IS NOT NULL" + nameClause + where +
           " ORDER BY r.started_at, r.id, m.seq";
}

bool StreamLimitedValues(Store& store, const StatsFilter& filter, const std::vector<std::string>& names,
                         std::vector<MeasurementSeries>* series,
                         const std::function<void(size_t series, double value, bool marginal)>& onValue, std::string* error) {
    // Page by page of runs in the order they started, each page's runs through the index on
    // their start: no sort of the whole, and memory that stays flat on either engine
    // (PostgreSQL hands a result over whole).
    constexpr int64_t kPageRuns = 20000;
    const Where where = RunsWhere(filter);
    std::vector<Param> texts(names.begin(), names.end());
    texts.insert(texts.end(), where.params.begin(), where.params.end());
    std::string nameClause;
    for (size_t i = 0; i < names.size(); ++i) nameClause += std::string(i ? ", " : " AND m.name IN (") + ":n" + std::to_string(i + 1);
    if (!nameClause.empty()) nameClause += ")";
    std::string afterTime;
    int64_t afterId = -1;
    size_t hint = 0;
    ValueColumns c;
    SqliteReader reader;
    if (store.engine() == Engine::kSqlite && !reader.Open(store.name(), error)) return false;
    const ValueRow onRow = [&](std::string_view name, std::string_view key, const Limits& limits, std::string_view unit,
                               double value, bool marginal) {
        onValue(SeriesIndex(series, &hint, name, key, limits, unit), value, marginal);
    };
    for (bool last = false; !last;) {
        std::optional<std::pair<std::string, int64_t>> end;
        if (!PageEnd(store, where, afterTime, afterId, kPageRuns, &end, error)) return false;
        last = !end;
        std::vector<Param> binds = {afterTime, afterTime, afterId};
        if (end) binds.insert(binds.end(), {end->first, end->first, end->second});
        binds.insert(binds.end(), texts.begin(), texts.end());
        const std::string sql = LimitedValuesSql(end.has_value(), nameClause, where.sql);
        if (!(store.engine() == Engine::kSqlite ? reader.Page(sql, binds, onRow, error)
                                                : SociPage(store, sql, std::move(binds), c, onRow, error))) {
            return false;
        }
        if (end) afterTime = end->first, afterId = end->second;
    }
    return true;
}

bool QueryCapability(Store& store, const StatsFilter& filter, const std::vector<std::string>& names,
                     std::vector<CapabilityRow>* rows, std::string* error) {
    std::vector<MeasurementSeries> series;
    std::vector<CapabilityAccumulator> accumulators;
    const bool ok = StreamLimitedValues(store, filter, names, &series, [&](size_t at, double value, bool marginal) {
        if (at == accumulators.size()) accumulators.emplace_back(series[at].limits);
        accumulators[at].Add(value, marginal);
    }, error);
    if (!ok) return false;
    for (size_t i = 0; i < series.size(); ++i) {
        rows->push_back(CapabilityRow{series[i].name, series[i].unit, series[i].digest, series[i].limits, accumulators[i].Result()});
    }
    SortWorstFirst(rows);
    return true;
}

}  // namespace line
