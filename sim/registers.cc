// sim/registers.cc: BUILD SCAFFOLD, replaced by the real part model.
#include "sim/registers.h"
#include "sim/errors.h"

namespace sim {

void RegistersReset() {}
int32_t RegisterWrite(uint32_t, uint32_t, int) { return kErrRegisterAddress; }
int32_t RegisterRead(uint32_t, int, uint32_t*) { return kErrRegisterAddress; }
int32_t RegisterWriteLongInc(uint32_t, uint32_t) { return kErrRegisterAddress; }
int32_t RegisterReadInc(uint32_t, int, uint32_t*) { return kErrRegisterAddress; }

}  // namespace sim
