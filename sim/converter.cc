// sim/converter.cc: BUILD SCAFFOLD, replaced by the real part model.
#include "sim/converter.h"
#include "sim/errors.h"

namespace sim {

void ConverterReset() {}
int32_t ConverterRead(uint8_t, int32_t, uint8_t*) { return kErrNoAck; }
int32_t ConverterDacOut(uint8_t, int32_t) { return kErrNoAck; }

}  // namespace sim
