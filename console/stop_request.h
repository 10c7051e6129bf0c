// console/stop_request.h: Ctrl-C and termination requests during the key-driven loops. While
// a StopRequestScope lives, the first request only sets a flag that the loops poll; a second
// one ends the process at once, with the terminal restored.
#pragma once

class StopRequestScope {
public:
    StopRequestScope();
    ~StopRequestScope();
    StopRequestScope(const StopRequestScope&) = delete;
    StopRequestScope& operator=(const StopRequestScope&) = delete;
};

bool StopRequested();
