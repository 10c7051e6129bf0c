// sim/faults.h: failures injected by the scenario. "fail.<Operation> = <code>" makes every
// call of that library operation fail with the code; "<code> at N" fails only the Nth call,
// "<code> from N" the Nth and every later one, "<code> every N" each Nth call. Calls are
// counted per operation from the moment the library is loaded or reconfigured, so the same
// settings always give the same faults.
#pragma once

#include <cstdint>
#include <string_view>

#include "device/contract.h"

namespace sim {

using ::Operation;   // the library operations, device/contract.h

// True when `name` is an operation a scenario can make fail (the part after "fail."): every
// operation but the trace mask and the error queries, which report rather than act.
bool IsInjectableOperation(std::string_view name);

// Counts this call of the operation; returns the code it must fail with, or 0.
int32_t InjectedFailure(Operation operation);

// Call counters back to zero and the rules read again from the scenario in force.
void FaultCountersReset();

}  // namespace sim
