// sim/i2c_bus.h: the I2C bus with its EEPROMs (0xA0 configuration, 0xA2 boot).
#pragma once

#include <cstdint>

namespace sim {

void I2cBusReset();      // the settings and erased, memory-only contents
// Opens and locks the state files and takes over their contents: 0, or kErrBusy when another
// process has one of them. A state file that cannot be used otherwise fails every write.
int32_t I2cBusAttach();
void I2cBusDetach();     // releases the state files
// Each returns 0 or an error code; *moved is the number of bytes actually transferred.
int32_t EepromWrite(uint8_t deviceId, uint32_t first, const uint8_t* data, uint32_t count,
                    uint32_t* moved);
int32_t EepromRead(uint8_t deviceId, uint32_t first, uint8_t* data, uint32_t count,
                   uint32_t* moved);

}  // namespace sim
