// sim/registers.h: the scanner's register file, reached by byte, 16-bit and 32-bit accesses.
// Registers 4 and 5 gate the scan stream.
#pragma once

#include <cstdint>

namespace sim {

void RegistersReset();
// Each returns 0 or an error code; widthBytes is 1, 2 or 4.
int32_t RegisterWrite(uint32_t address, uint32_t value, int widthBytes);
int32_t RegisterRead(uint32_t address, int widthBytes, uint32_t* value);
int32_t RegisterWriteLongInc(uint32_t address, uint32_t value);
int32_t RegisterReadInc(uint32_t address, int widthBytes, uint32_t* value);

// For the status record: what the host last wrote to the control registers.
uint8_t LedControl();            // register 0x0C
uint8_t LightSourceControl();    // register 0x0D
bool StreamGateOpen();           // registers 4 and 5 both hold 1

}  // namespace sim
