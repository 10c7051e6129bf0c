// sim/clock.h: the virtual scanner's one clock, its pauses and its stop request. They are the
// host's, unless a test has put its own in their place (SimUseClock), so that a time-out or a
// replay's pace is checked against a clock the test moves, never against the wall clock.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

uint64_t ClockNs();                  // monotonic
void PauseNs(uint64_t nanoseconds);  // returns when ClockNs() has moved on that far
bool RaiseStop(std::string* error);  // a stop request to the program, as Ctrl-C gives one

// nullptr for any of them: the host's own.
void UseClock(uint64_t (*nowNs)(), void (*pauseNs)(uint64_t), int (*raiseStop)());

}  // namespace sim
