// procedures/motor_status.h: the motor, scan-line count and scanner status commands.
#pragma once

#include <cstdint>

// Anz_ScanLine answers with this value when it could not read the count (2^27, not 2^31).
constexpr int32_t kScanLineFailure = 0x08000000;

// Every other value of Anz_ScanLine, 0x80000000 included, is a count.
inline bool ScanLineCountFailed(int32_t result) { return result == kScanLineFailure; }

void RunMotorCommand(int32_t revolutions);   // Pentamotor_init, reported either way
void RunScanLineCommand();                   // Anz_ScanLine, with the last error on failure
void RunStatusCommand();                     // GetScanStatus; a failed read prints nothing
