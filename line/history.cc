// line/history.cc: the two queries of a unit's history: its runs by the serial's index, then
// their failures with the measurement each names.
#include "line/history.h"

#include <map>

namespace line {

namespace {

std::optional<double> OptReal(const Row& row, size_t column) {
    if (row.IsNull(column)) return std::nullopt;
    return row.Real(column);
}

}  // namespace

bool LoadHistory(Store& store, const std::string& serial, std::vector<HistoryRun>* runs, std::string* error) {
    std::map<int64_t, size_t> byId;
    if (!store.Query("SELECT id, run_id, started_at, station, operator, plan_name, plan_revision, result, source"
                     " FROM runs WHERE serial = :1 ORDER BY started_at, id",
                     {serial},
                     [&](const Row& r) {
                         byId[r.Int(0)] = runs->size();
                         runs->push_back({r.Text(1), r.Text(2), r.Text(3), r.Text(4), r.Text(5), r.Text(6), r.Text(7),
                                          r.Text(8), {}});
                     },
                     error)) {
        return false;
    }
    return store.Query(
        "SELECT f.run, s.name, f.verdict, f.message, m.value_text, m.unit, m.limit_min, m.limit_max, m.expected"
        " FROM failures f JOIN runs r ON r.id = f.run"
        " LEFT JOIN steps s ON s.run = f.run AND s.idx = f.step"
        " LEFT JOIN measurements m ON m.run = f.run AND m.step = f.step AND m.name = f.measurement"
        " WHERE r.serial = :1 ORDER BY f.run, f.seq",
        {serial},
        [&](const Row& r) {
            const auto it = byId.find(r.Int(0));
            if (it == byId.end()) return;
            (*runs)[it->second].failures.push_back(
                {r.Text(1), r.Text(2), r.Text(3), r.Text(4), r.Text(5), OptReal(r, 6), OptReal(r, 7), r.Text(8)});
        },
        error);
}


}  // namespace line
