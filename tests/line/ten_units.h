// tests/line/ten_units.h: a hand-made line of ten units, for the yield and the Pareto worked out
// by hand (the figures are in stats_test.cc and in the store's tests).
//
//   S01  PASS                                 first pass
//   S02  PASS                                 first pass
//   S03  FAIL adc.3v3-low, PASS               retested
//   S04  ERROR tool-exit, PASS                retested: an ERROR is an attempt that did not pass
//   S05  FAIL adc.3v3-low stream.errors-high, FAIL adc.3v3-low, PASS    retested
//   S06  FAIL adc.3v3-low                     failed
//   S07  ABORTED, PASS                        the aborted run is no attempt: first pass
//   S08  FAIL stream.errors-high, virtual     left out unless virtual runs are included
//   (no serial) R09 PASS                      a unit of its own
//   (no serial) R10 FAIL tool-exit            a unit of its own
#pragma once

#include <string>
#include <vector>

namespace line_test {

struct HandRun {
    const char* runId;
    const char* serial;     // "" for none
    const char* start;      // ISO 8601, UTC
    const char* station;
    const char* result;     // PASS FAIL ERROR ABORTED
    bool virtualRun;
    std::vector<std::string> verdicts;
};

inline std::vector<HandRun> TenUnits() {
    return {
        {"r01", "S01", "2026-12-01T08:00:00Z", "st1", "PASS", false, {}},
        {"r02", "S02", "2026-12-01T08:10:00Z", "st2", "PASS", false, {}},
        {"r03a", "S03", "2026-12-01T08:20:00Z", "st1", "FAIL", false, {"adc.3v3-low"}},
        {"r03b", "S03", "2026-12-01T08:30:00Z", "st1", "PASS", false, {}},
        {"r04a", "S04", "2026-12-01T09:00:00Z", "st2", "ERROR", false, {"tool-exit"}},
        {"r04b", "S04", "2026-12-02T09:10:00Z", "st2", "PASS", false, {}},
        {"r05a", "S05", "2026-12-01T10:00:00Z", "st1", "FAIL", false, {"adc.3v3-low", "stream.errors-high"}},
        {"r05b", "S05", "2026-12-01T10:10:00Z", "st2", "FAIL", false, {"adc.3v3-low"}},
        {"r05c", "S05", "2026-12-01T10:20:00Z", "st2", "PASS", false, {}},
        {"r06", "S06", "2026-12-02T11:00:00Z", "st1", "FAIL", false, {"adc.3v3-low"}},
        {"r07a", "S07", "2026-12-02T12:00:00Z", "st2", "ABORTED", false, {}},
        {"r07b", "S07", "2026-12-02T12:10:00Z", "st2", "PASS", false, {}},
        {"r08", "S08", "2026-12-02T13:00:00Z", "st1", "FAIL", true, {"stream.errors-high"}},
        {"r09", "", "2026-12-02T14:00:00Z", "st1", "PASS", false, {}},
        {"r10", "", "2026-12-02T15:00:00Z", "st2", "FAIL", false, {"tool-exit"}},
    };
}

}  // namespace line_test
