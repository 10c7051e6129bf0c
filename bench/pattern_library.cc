// bench/pattern_library.cc: the device library as the benchmark needs it: every operation
// succeeds at once, and ReadBlock fills the whole request with the counting pattern by one
// copy, so that the tool's loop is the only thing measured.
#include "bench/pattern_library.h"

#include <csignal>

#include <cstring>
#include <vector>

#include "device/counting_pattern.h"
#include "device/kelvoscanusb.h"

namespace {

// A copy of its own, in memory the tool's check never reads, as a real library's buffers are.
const std::vector<uint8_t> gPattern(CountingPattern(), CountingPattern() + 2 * kPatternBytes);
uint32_t gNextWord = 0;
uint64_t gBlocksLeft = 0;
uint64_t gDeliveredBytes = 0;

}  // namespace

const uint8_t* PatternBytes() { return gPattern.data(); }

void EndStreamAfterBlocks(uint64_t blocks) { gBlocksLeft = blocks; }

uint64_t TakeDeliveredBytes() {
    const uint64_t bytes = gDeliveredBytes;
    gDeliveredBytes = 0;
    return bytes;
}

extern "C" {

int32_t ReadBlock(uint8_t* buffer, int32_t requested, int32_t* received) {
    std::memcpy(buffer, gPattern.data() + 2 * gNextWord, static_cast<size_t>(requested));
    gNextWord = (gNextWord + static_cast<uint32_t>(requested) / 2) & 0xFFFFu;
    *received = requested;
    gDeliveredBytes += static_cast<uint64_t>(requested);
    if (gBlocksLeft > 0 && --gBlocksLeft == 0) std::raise(SIGINT);
    return 0;
}

void ClearReadBlock(void) {}
int32_t Init_Firmware(const char*, int32_t) { return 0; }
int32_t RegWrite(uint32_t, uint8_t) { return 1; }
int32_t GetLastKelvoError(int32_t) { return 0; }
int32_t GetKelvoErrorText(int32_t, char* text, uint32_t size) {
    if (size > 0) text[0] = '\0';
    return 0;
}

}  // extern "C"
