// sim/motor.cc: BUILD SCAFFOLD, replaced by the real part model.
#include "sim/motor.h"
#include "sim/errors.h"

namespace sim {

void MotorReset() {}
int32_t MotorStart(int32_t) { return kErrMotorRange; }
int32_t ScanLineCount(int32_t*) { return kErrLineCounter; }
int32_t StatusRead(ScannerStatus*) { return kErrStatus; }
bool MotorTurning() { return false; }
void MotorStop() {}
void ScanLineCounterClear() {}

}  // namespace sim
