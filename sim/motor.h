// sim/motor.h: the motor, the scan-line counter and the status record.
#pragma once

#include <cstdint>

#include "device/kelvoscanusb.h"

namespace sim {

void MotorReset();
int32_t MotorStart(int32_t revolutions);          // 0 or error
int32_t ScanLineCount(int32_t* lines);            // 0 or error
int32_t StatusRead(ScannerStatus* status);        // 0 or error

// For the register file: whether the motor turns (the state register), stopping it and
// clearing the line counter (the command register).
bool MotorTurning();
void MotorStop();
void ScanLineCounterClear();

}  // namespace sim
