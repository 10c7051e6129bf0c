// recorder/trace_report.h: kelvotrace's reports. "dump" prints one call a line; "stats" counts
// calls and failures per operation, looks at the stream data for places where it leaves the
// counting pattern, and runs the tool's own pattern check over the recorded blocks, so that
// its error count can be set beside the bench's and a replay's. Each returns kelvotrace's
// exit code: 0 for a whole trace, 2 for one that is cut, marked as cut, or damaged.
#pragma once

#include <cstdio>

#include "trace/trace_format.h"

namespace trace {

int DumpTrace(const char* path, Reader& reader, std::FILE* out, std::FILE* err);
int TraceStats(const char* path, Reader& reader, std::FILE* out, std::FILE* err);

}  // namespace trace
