// sim/stream.h: the scan data path: the counting words, the FIFO between the scanner and
// the host, and the delivery through ReadBlock.
#pragma once

#include <cstdint>

namespace sim {

void StreamReset();              // empty FIFO, gate closed, the scenario's stream settings
void StreamSetGate(bool on);     // on while registers 4 and 5 both hold 1
// Waits up to timeoutMs for data; 0 with *received set, kErrNoData, or another error code.
int32_t StreamRead(uint8_t* buffer, int32_t requested, int32_t* received, uint32_t timeoutMs);
// True once after words were lost to a full FIFO: ReadBlock then records the overflow.
bool StreamTakeLoss();
bool StreamOverflowed();         // words lost since the interface was opened or the FIFO cleared
void StreamClear();              // discards what the FIFO holds
uint32_t StreamFifoBytes();      // current fill level
uint64_t StreamBytesProduced();  // since the interface was opened

}  // namespace sim
