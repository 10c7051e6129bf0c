// line/store.cc: the store over SOCI: opening either engine, the dialect table, migrations,
// and statements with bound parameters. SOCI reports failures by exception; they end here,
// as a false result and a sentence.
#include "line/store.h"

#include <cmath>
#include <string_view>

#include "line/dialect.h"
#include "line/schema.h"
#include "line/soci_headers.h"
#include "line/times.h"

namespace line {

namespace {

const Dialect kDialects[] = {
    {Engine::kSqlite, "INTEGER PRIMARY KEY", "INTEGER", "REAL", " WITHOUT ROWID", "BEGIN IMMEDIATE", "", ""},
    {Engine::kPostgresql, "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY", "BIGINT", "DOUBLE PRECISION", "",
     "BEGIN", "SELECT pg_advisory_xact_lock(7401)",
     "CREATE INDEX measurements_with_limits ON measurements (run, seq)"
     " INCLUDE (name, value, unit, limit_min, limit_max, marginal_min, marginal_max, marginal)"
     " WHERE limit_min IS NOT NULL OR limit_max IS NOT NULL"},
};

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The binding of one parameter: SOCI keeps a reference, so the values live in this list.
struct Bound {
    std::string text;
    long long integer = 0;
    double real = 0;
    soci::indicator indicator = soci::i_ok;
};

void BindAll(soci::statement& statement, const std::vector<Param>& params, std::vector<Bound>& bound) {
    bound.resize(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
        Bound& b = bound[i];
        const Param& p = params[i];
        if (std::holds_alternative<std::monostate>(p)) {
            b.indicator = soci::i_null;
            statement.exchange(soci::use(b.text, b.indicator));
        } else if (const int64_t* v = std::get_if<int64_t>(&p)) {
            b.integer = *v;
            statement.exchange(soci::use(b.integer));
        } else if (const double* d = std::get_if<double>(&p)) {
            b.real = *d;
            statement.exchange(soci::use(b.real));
        } else {
            b.text = std::get<std::string>(p);
            statement.exchange(soci::use(b.text));
        }
    }
}

std::string Sentence(const std::exception& e) {
    std::string text = e.what();
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '.')) text.pop_back();
    return text;
}

}  // namespace

const Dialect& DialectOf(Engine engine) { return kDialects[engine == Engine::kSqlite ? 0 : 1]; }

size_t Row::size() const { return row_.size(); }
bool Row::IsNull(size_t column) const { return row_.get_indicator(column) == soci::i_null; }

std::string Row::Text(size_t column) const {
    if (IsNull(column)) return {};
    switch (row_.get_properties(column).get_data_type()) {
    case soci::dt_string: return row_.get<std::string>(column);
    case soci::dt_integer: return std::to_string(row_.get<int>(column));
    case soci::dt_long_long: return std::to_string(row_.get<long long>(column));
    case soci::dt_unsigned_long_long: return std::to_string(row_.get<unsigned long long>(column));
    case soci::dt_double: {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", row_.get<double>(column));
        return text;
    }
    default: return {};
    }
}

int64_t Row::Int(size_t column) const {
    if (IsNull(column)) return 0;
    switch (row_.get_properties(column).get_data_type()) {
    case soci::dt_integer: return row_.get<int>(column);
    case soci::dt_long_long: return row_.get<long long>(column);
    case soci::dt_unsigned_long_long: return static_cast<int64_t>(row_.get<unsigned long long>(column));
    case soci::dt_double: return static_cast<int64_t>(std::llround(row_.get<double>(column)));
    case soci::dt_string: return std::strtoll(row_.get<std::string>(column).c_str(), nullptr, 10);
    default: return 0;
    }
}

double Row::Real(size_t column) const {
    if (IsNull(column)) return 0;
    switch (row_.get_properties(column).get_data_type()) {
    case soci::dt_double: return row_.get<double>(column);
    case soci::dt_string: return std::strtod(row_.get<std::string>(column).c_str(), nullptr);
    default: return static_cast<double>(Int(column));
    }
}

// SOCI keeps references to the bound values: the slots are allocated once, never moved.
struct Prepared::Impl {
    explicit Impl(soci::session& session) : statement(session) {}
    soci::statement statement;
    std::vector<ParamType> types;
    std::unique_ptr<Bound[]> slots;
    long long id = 0;
    soci::indicator idIndicator = soci::i_ok;
    bool returnsId = false;
};

Prepared::Prepared(soci::session& session, const std::string& sql, const std::vector<ParamType>& types, bool returnsId)
    : impl_(std::make_unique<Impl>(session)) {
    Impl& p = *impl_;
    p.types = types;
    p.returnsId = returnsId;
    p.slots = std::make_unique<Bound[]>(types.size());
    for (size_t k = 0; k < types.size(); ++k) {
        Bound& b = p.slots[k];
        if (types[k] == ParamType::kInteger) p.statement.exchange(soci::use(b.integer, b.indicator));
        else if (types[k] == ParamType::kReal) p.statement.exchange(soci::use(b.real, b.indicator));
        else p.statement.exchange(soci::use(b.text, b.indicator));
    }
    if (returnsId) p.statement.exchange(soci::into(p.id, p.idIndicator));
    p.statement.alloc();
    // SQLite keeps the compiled statement whatever the type. PostgreSQL is sent the text with
    // its values in one round trip each time (a statement prepared on the server would have
    // to be deallocated there, which fails, and cannot be caught, on a connection that died).
    p.statement.prepare(sql, soci::details::st_one_time_query);
    p.statement.define_and_bind();
}

Prepared::~Prepared() = default;

size_t Prepared::size() const { return impl_->types.size(); }

void Prepared::Set(size_t k, const Param& value) {
    Bound& b = impl_->slots[k];
    b.indicator = std::holds_alternative<std::monostate>(value) ? soci::i_null : soci::i_ok;
    if (b.indicator == soci::i_null) return;
    switch (impl_->types[k]) {
    case ParamType::kInteger:
        b.integer = std::holds_alternative<int64_t>(value) ? std::get<int64_t>(value)
                                                           : static_cast<long long>(std::get<double>(value));
        break;
    case ParamType::kReal:
        b.real = std::holds_alternative<double>(value) ? std::get<double>(value)
                                                       : static_cast<double>(std::get<int64_t>(value));
        break;
    case ParamType::kText: b.text = std::get<std::string>(value); break;
    }
}

bool Prepared::Run(int64_t* id, std::string* error) {
    Impl& p = *impl_;
    try {
        p.idIndicator = soci::i_null;
        const bool got = p.statement.execute(true);
        if (p.returnsId) {
            *id = got && p.idIndicator == soci::i_ok ? p.id : 0;
            // To its end: a SQLite statement left on a row stays open, and a transaction with
            // an open statement cannot commit.
            while (got && p.statement.fetch()) {
            }
        }
        return true;
    } catch (const std::exception& e) {
        *error = Sentence(e);
        return false;
    }
}

Store::Store(Engine engine, std::string name, std::unique_ptr<soci::session> session)
    : engine_(engine), name_(std::move(name)), session_(std::move(session)) {}

Store::~Store() = default;

std::unique_ptr<Store> Store::Open(const std::string& url, std::string* error) {
    Engine engine = Engine::kSqlite;
    std::string target = url;
    if (StartsWith(url, "postgresql://") || StartsWith(url, "postgres://")) {
        engine = Engine::kPostgresql;
    } else if (StartsWith(url, "postgresql:")) {
        engine = Engine::kPostgresql;
        target = url.substr(std::strlen("postgresql:"));
    } else if (StartsWith(url, "sqlite:")) {
        target = url.substr(std::strlen("sqlite:"));
    }
    if (target.empty() && engine == Engine::kSqlite) {
        *error = "--db sqlite: names no file";
        return nullptr;
    }
    const std::string name = engine == Engine::kSqlite ? target : (target.empty() ? "PostgreSQL (PG* settings)" : url);
    auto session = std::make_unique<soci::session>();
    try {
        if (engine == Engine::kSqlite) {
            // SOCI's connection string is "key=value" pairs: a path with spaces is quoted.
            std::string quoted = "\"";
            for (char c : target) {
                if (c == '"' || c == '\\') quoted += '\\';
                quoted += c;
            }
            session->open(soci::sqlite3, "db=" + quoted + "\" timeout=30");
            *session << "PRAGMA journal_mode = WAL";
            *session << "PRAGMA synchronous = NORMAL";
            *session << "PRAGMA foreign_keys = ON";
        } else {
            session->open(soci::postgresql, target);
            *session << "SET client_min_messages = WARNING";
        }
    } catch (const std::exception& e) {
        *error = "cannot open the store " + name + ": " + Sentence(e);
        return nullptr;
    }
    std::unique_ptr<Store> store(new Store(engine, name, std::move(session)));
    if (!store->Migrate(error)) return nullptr;
    return store;
}

bool Store::ReadVersion(int64_t* version, std::string* error) {
    *version = 0;
    return Query("SELECT COALESCE(MAX(version), 0) FROM schema_version", {},
                 [&](const Row& row) { *version = row.Int(0); }, error);
}

bool Store::Migrate(std::string* error) {
    const Dialect& dialect = DialectOf(engine_);
    const int64_t ours = CurrentSchemaVersion();
    int64_t version = 0;
    std::string missing;
    // Up to date (the common case) needs no write lock. Otherwise the migration takes it, and
    // the table of versions is made under it too: collectors that start at once on an empty
    // PostgreSQL database would otherwise race to create it, and all but one fail.
    if (!ReadVersion(&version, &missing) || version < ours) {
        if (!Begin(error)) return false;
        if ((*dialect.migrationLock && !Execute(dialect.migrationLock, {}, error)) ||
            !Execute("CREATE TABLE IF NOT EXISTS schema_version (version " + std::string(dialect.integer) +
                         " NOT NULL PRIMARY KEY, applied_at TEXT NOT NULL)",
                     {}, error) ||
            !ReadVersion(&version, error)) {
            Rollback();
            *error = "cannot read the schema of " + name_ + ": " + *error;
            return false;
        }
        for (int64_t v = version; v < ours; ++v) {
            for (const std::string& statement : Migrations()[static_cast<size_t>(v)].statements) {
                const std::string sql = ForEngine(statement, dialect);
                if (!sql.empty() && !Execute(sql, {}, error)) {
                    Rollback();
                    *error = "cannot migrate " + name_ + " to schema version " + std::to_string(v + 1) + ": " + *error;
                    return false;
                }
            }
            if (!Execute("INSERT INTO schema_version (version, applied_at) VALUES (:1, :2)", {v + 1, NowUtc()}, error)) {
                Rollback();
                return false;
            }
        }
        if (!Commit(error)) return false;
    }
    if (version > ours) {
        *error = name_ + " has schema version " + std::to_string(version) + ", newer than this program's " +
                 std::to_string(ours) + ": use a newer kelvotest-line";
        return false;
    }
    return true;
}

bool Store::Query(const std::string& sql, const std::vector<Param>& params,
                  const std::function<void(const Row&)>& onRow, std::string* error) {
    try {
        soci::row row;
        soci::statement statement(*session_);
        std::vector<Bound> bound;
        BindAll(statement, params, bound);
        statement.exchange(soci::into(row));
        statement.alloc();
        statement.prepare(sql);
        statement.define_and_bind();
        statement.execute(false);
        while (statement.fetch()) onRow(Row(row));
        return true;
    } catch (const std::exception& e) {
        *error = Sentence(e);
        return false;
    }
}

bool Store::Execute(const std::string& sql, const std::vector<Param>& params, std::string* error) {
    try {
        soci::statement statement(*session_);
        std::vector<Bound> bound;
        BindAll(statement, params, bound);
        statement.alloc();
        statement.prepare(sql);
        statement.define_and_bind();
        statement.execute(true);
        return true;
    } catch (const std::exception& e) {
        *error = Sentence(e);
        return false;
    }
}

Prepared* Store::Prepare(const std::string& sql, const std::vector<ParamType>& types, bool returnsId,
                         std::string* error) {
    auto at = prepared_.find(sql);
    if (at != prepared_.end()) return at->second.get();
    try {
        return prepared_.emplace(sql, std::make_unique<Prepared>(*session_, sql, types, returnsId)).first->second.get();
    } catch (const std::exception& e) {
        *error = Sentence(e);
        return nullptr;
    }
}

// Begin and commit are prepared too: on PostgreSQL an unprepared statement costs a second
// round trip, and a run is stored in a handful of them.
bool Store::Begin(std::string* error) {
    Prepared* begin = Prepare(DialectOf(engine_).beginWrite, {}, false, error);
    return begin && begin->Run(nullptr, error);
}

bool Store::Commit(std::string* error) {
    Prepared* commit = Prepare("COMMIT", {}, false, error);
    return commit && commit->Run(nullptr, error);
}

void Store::Rollback() {
    std::string ignored;
    Execute("ROLLBACK", {}, &ignored);
}

bool Store::Reachable() {
    std::string ignored;
    return Query("SELECT 1", {}, [](const Row&) {}, &ignored);
}

bool Store::Reconnect() {
    prepared_.clear();   // prepared on the connection that is gone
    try {
        session_->reconnect();
    } catch (const std::exception&) {
        return false;
    }
    return Reachable();
}

}  // namespace line
