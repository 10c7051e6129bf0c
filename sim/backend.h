// sim/backend.h: the device library's operations as a table of functions. The simulated
// scanner fills one (api.cc) and replay another (replay.cc); the exported operations call
// through the table chosen when the scenario is read, and never ask which one they have.
// Every entry is noexcept, so nothing thrown inside can cross the C interface.
#pragma once

#include "device/kelvoscanusb.h"

namespace sim {

struct Backend {
#define KELVO_ENTRY(result, name, parameters, arguments) result (*name) parameters noexcept;
    KELVO_OPERATIONS(KELVO_ENTRY)
#undef KELVO_ENTRY
};

// The chosen table: replay's when the scenario names a trace, else the simulated scanner's.
// Chosen on the first call and again after every reconfiguration.
const Backend& ChosenBackend();
void ChooseBackendAgain();

}  // namespace sim
