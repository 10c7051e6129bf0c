// console/stop_request.cc: stop requests on top of the platform's signal or console-event
// handling.
#include "console/stop_request.h"

#include "platform/platform.h"

StopRequestScope::StopRequestScope() { StopSignalsArm(); }

StopRequestScope::~StopRequestScope() { StopSignalsDisarm(); }

bool StopRequested() { return StopSignalled(); }
