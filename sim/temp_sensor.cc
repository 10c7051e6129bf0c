// sim/temp_sensor.cc: BUILD SCAFFOLD, replaced by the real part model.
#include "sim/temp_sensor.h"
#include "sim/errors.h"

namespace sim {

void TempSensorReset() {}
int32_t TempSensorInit(uint8_t, int32_t) { return kErrNoAck; }
int32_t TempSensorRead(uint8_t, int16_t*) { return kErrNoAck; }

}  // namespace sim
