// console/stop_request.cc: stop requests on top of the platform's signal or console-event
// handling. The request is remembered for as long as the outermost scope lives.
#include "console/stop_request.h"

#include "platform/platform.h"

static int gScopeDepth = 0;

StopRequestScope::StopRequestScope() {
    if (gScopeDepth++ == 0) StopSignalsArm();
}

StopRequestScope::~StopRequestScope() {
    if (--gScopeDepth == 0) StopSignalsDisarm();
}

bool StopRequested() { return StopSignalled(); }
