// sim/faults.h: failures injected by the scenario. "fail.<Operation> = <code>" makes every
// call of that library operation fail with the code; "<code> at N" fails only the Nth call,
// "<code> from N" the Nth and every later one, "<code> every N" each Nth call. Calls are
// counted per operation from the moment the library is loaded or reconfigured, so the same
// settings always give the same faults.
#pragma once

#include <cstdint>

namespace sim {

// Counts this call of the operation; returns the code it must fail with, or 0.
int32_t InjectedFailure(const char* operation);

void FaultCountersReset();

}  // namespace sim
