// console/stop_request.h: Ctrl-C and the other requests that would end the process (a
// termination request, a hang-up, Ctrl-\). While a StopRequestScope lives, the first request
// only sets a flag that the loops and the main sequence ask; a second one ends the process at
// once, with the terminal restored.
#pragma once

// Scopes nest. The outermost one arms the handling and starts with no request; inner ones
// (the key loops) add nothing, so a request seen by one loop is still there for the main
// sequence and the next loop. The main sequence holds one for the whole run; a loop run on
// its own (tests, benchmarks) is covered by its own.
class StopRequestScope {
public:
    StopRequestScope();
    ~StopRequestScope();
    StopRequestScope(const StopRequestScope&) = delete;
    StopRequestScope& operator=(const StopRequestScope&) = delete;
};

bool StopRequested();
