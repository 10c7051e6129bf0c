// sim/replay.h: the virtual scanner answering from a trace of the recording library. With
// "replay = FILE" in the scenario every operation takes its result and data from the
// recording, in order ("replay.pace = recorded": no earlier than it came on the bench). A
// call that differs from the recording stops the replay with a message on stderr and a stop
// request; from then on every operation fails with kErrReplay. The matching rules are in
// replay.cc, the recording's loops in replay_loops.h.
#pragma once

#include "sim/backend.h"

namespace sim {

const Backend& ReplayBackend();   // the trace the scenario names, opened on first use
void ReplayReset();               // the scenario changed: from the trace's first call again

}  // namespace sim
