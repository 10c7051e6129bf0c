// driver/requests.h: what the command line asks of each action, decided once from the option
// targets. The actions get these values and never look at the targets themselves.
#pragma once

#include "procedures/i2c_commands.h"
#include "procedures/register_commands.h"

RegisterRequests RegisterRequestsFromOptions();
I2cRequests I2cRequestsFromOptions();

// The streaming test runs for -scan or a -scanfile name; -scan wins, and then no file is written.
bool ScanRequested();
const char* ScanFileFromOptions();   // nullptr for -scan
