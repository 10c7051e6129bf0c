// sim/converter.h: the converter chip at 0x90: four ADC channels and the high-voltage DAC.
#pragma once

#include <cstdint>

namespace sim {

void ConverterReset();
int32_t ConverterRead(uint8_t deviceId, int32_t channel, uint8_t* reading);   // 0 or error
int32_t ConverterDacOut(uint8_t deviceId, int32_t value);

}  // namespace sim
