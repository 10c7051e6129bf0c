// sim/faults.cc: the per-operation failure rules and their call counters. The rules are read
// from the scenario once, so a library call costs a counter increment and a comparison.
#include "sim/faults.h"

#include <string>

#include "device/contract.h"
#include "sim/scenario.h"

namespace sim {

namespace {

constexpr int kOperations = kOperationCount;

bool Injectable(Operation operation) {
    return operation != Operation::kSetTraceMask && operation != Operation::kGetLastKelvoError &&
           operation != Operation::kGetKelvoErrorText;
}

struct Rule {
    int32_t code = 0;   // 0: the operation never fails
    RuleMode mode = RuleMode::kAlways;
    uint64_t call = 0;
};

struct Faults {
    bool loaded = false;
    Rule rules[kOperations];
    uint64_t calls[kOperations] = {};
};

Faults gFaults;

void LoadRules() {
    for (int i = 0; i < kOperations; ++i) {
        const SettingValue* setting = ScenarioFind((std::string("fail.") + kOperationNames[i]).c_str());
        gFaults.rules[i] = setting == nullptr
                               ? Rule{}
                               : Rule{static_cast<int32_t>(setting->integer), setting->mode, setting->position};
    }
    gFaults.loaded = true;
}

}  // namespace

bool IsInjectableOperation(std::string_view name) {
    for (int i = 0; i < kOperations; ++i) {
        if (name == kOperationNames[i]) return Injectable(static_cast<Operation>(i));
    }
    return false;
}

int32_t InjectedFailure(Operation operation) {
    if (!gFaults.loaded) LoadRules();
    const int index = static_cast<int>(operation);
    const uint64_t call = ++gFaults.calls[index];
    const Rule& rule = gFaults.rules[index];
    switch (rule.mode) {
        case RuleMode::kAlways: return rule.code;
        case RuleMode::kAt: return call == rule.call ? rule.code : 0;
        case RuleMode::kFrom: return call >= rule.call ? rule.code : 0;
        case RuleMode::kEvery: return call % rule.call == 0 ? rule.code : 0;
    }
    return 0;
}

void FaultCountersReset() { gFaults = Faults{}; }

}  // namespace sim
