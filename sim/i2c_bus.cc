// sim/i2c_bus.cc: BUILD SCAFFOLD, replaced by the real part model.
#include "sim/i2c_bus.h"
#include "sim/errors.h"

namespace sim {

void I2cBusReset() {}
int32_t EepromWrite(uint8_t, uint32_t, const uint8_t*, uint32_t, uint32_t*) { return kErrNoAck; }
int32_t EepromRead(uint8_t, uint32_t, uint8_t*, uint32_t, uint32_t*) { return kErrNoAck; }

}  // namespace sim
