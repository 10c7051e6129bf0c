// sim/temp_sensor.h: the temperature sensor at 0x92.
#pragma once

#include <cstdint>

namespace sim {

void TempSensorReset();
int32_t TempSensorInit(uint8_t deviceId, int32_t configuration);   // 0 or error
int32_t TempSensorRead(uint8_t deviceId, int16_t* raw);            // 0 or error

}  // namespace sim
