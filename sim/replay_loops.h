// sim/replay_loops.h: the loops of a recorded trace, found once before a replay begins,
// because the programs that use the library drive their endless loops by their own clock and
// keys:
// - A stream loop runs from the first ReadBlock of a stretch to its last, with the calls that
//   restart the data flow between the blocks.
// - A call loop is a pass of calls made at least twice in a row, the same each time. A pass
//   in which a call failed, and the program looked up the error's text, is one of its passes
//   too: the look-ups are not part of the pass, and one loop of the program stays one loop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trace/trace_format.h"

namespace sim {

struct Loop {
    uint64_t first = 0;   // records first..last, numbered from 1
    uint64_t last = 0;
    bool stream = false;
    // The pass that repeats in it (for a stream loop, the calls between its last two stretches
    // of blocks), each call as last recorded without failing if it ever did.
    std::vector<trace::Call> pass;
    std::vector<trace::Call> lookUps;   // error look-ups made in the loop, as last recorded
    uint64_t passNs = 0;                // the recording's mean time from one pass to the next
};

// What identifies a call for the matching: the operation, its arguments and the bytes handed
// over; for ReadBlock the operation only.
std::string Signature(const trace::Call& call);
// A call a program makes after a failure to learn what it was, not a step of its own.
bool IsErrorLookUp(trace::Op op);
// The loops of the trace at `path`, in the order of their records; none if it cannot be read.
std::vector<Loop> FindLoops(const std::string& path);

}  // namespace sim
