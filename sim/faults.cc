// sim/faults.cc: the per-operation failure settings and their call counters.
#include "sim/faults.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "sim/scenario.h"

namespace sim {

static std::map<std::string, int64_t>& CallCounts() {
    static std::map<std::string, int64_t> counts;
    return counts;
}

int32_t InjectedFailure(const char* operation) {
    const int64_t call = ++CallCounts()[operation];
    const std::string key = std::string("fail.") + operation;
    if (!ScenarioHas(key.c_str())) return 0;
    const std::string rule = ScenarioText(key.c_str(), "");
    long code = 0;
    char mode[16] = "";
    long long n = 0;
    const int fields = std::sscanf(rule.c_str(), "%li %15s %lld", &code, mode, &n);
    if (fields < 1 || code == 0) return 0;
    if (fields < 3 || n < 1) return static_cast<int32_t>(code);
    if (std::strcmp(mode, "at") == 0) return call == n ? static_cast<int32_t>(code) : 0;
    if (std::strcmp(mode, "from") == 0) return call >= n ? static_cast<int32_t>(code) : 0;
    if (std::strcmp(mode, "every") == 0) return call % n == 0 ? static_cast<int32_t>(code) : 0;
    return static_cast<int32_t>(code);
}

void FaultCountersReset() { CallCounts().clear(); }

}  // namespace sim
