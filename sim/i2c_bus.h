// sim/i2c_bus.h: the I2C bus with its EEPROMs (0xA0 configuration, 0xA2 boot).
#pragma once

#include <cstdint>

namespace sim {

void I2cBusReset();
// Each returns 0 or an error code; *moved is the number of bytes actually transferred.
int32_t EepromWrite(uint8_t deviceId, uint32_t first, const uint8_t* data, uint32_t count,
                    uint32_t* moved);
int32_t EepromRead(uint8_t deviceId, uint32_t first, uint8_t* data, uint32_t count,
                   uint32_t* moved);

}  // namespace sim
