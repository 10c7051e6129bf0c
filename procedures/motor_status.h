// procedures/motor_status.h: the motor, scan-line count and scanner status commands.
#pragma once

#include <cstdint>

void RunMotorCommand(int32_t revolutions);   // Pentamotor_init, reported either way
void RunScanLineCommand();                   // Anz_ScanLine, with the last error on failure
void RunStatusCommand();                     // GetScanStatus; a failed read prints nothing
