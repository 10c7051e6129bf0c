// sim/stream.cc: BUILD SCAFFOLD, replaced by the real part model.
#include "sim/stream.h"
#include "sim/errors.h"

namespace sim {

void StreamReset() {}
void StreamSetGate(bool) {}
int32_t StreamRead(uint8_t*, int32_t, int32_t*, uint32_t) { return kErrNoData; }
void StreamClear() {}
uint32_t StreamFifoBytes() { return 0; }
uint64_t StreamBytesProduced() { return 0; }

}  // namespace sim
