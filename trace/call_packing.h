// trace/call_packing.h: each operation's call as the program made it: its numeric arguments,
// the file name and the bytes it handed over. The recorder records this and replay compares
// it with the recording, so the two can never disagree on what a call was. What the library
// gave back is filled in by the recorder, and handed out by replay, on their own sides.
#pragma once

#include "device/kelvoscanusb.h"
#include "trace/trace_format.h"

namespace trace::asked {

#define KELVO_ASKED(result, name, parameters, arguments) Call name parameters;
KELVO_OPERATIONS(KELVO_ASKED)
#undef KELVO_ASKED

}  // namespace trace::asked
