// tests/support/greedy_library.cc: a device library that claims to have moved more than was
// asked: ReadBlock fills the request with the counting pattern and I2C_LargePROMrd with
// zeros, and both report 100 bytes more.
// Register writes succeed (non-zero). The recorder in front of it must keep exactly the
// requested bytes and read nothing past the caller's buffer.
#include <cstring>

#include "device/counting_pattern.h"
#include "device/kelvoscanusb.h"

extern "C" {

KELVO_API int32_t KELVO_CALL ReadBlock(uint8_t* buffer, int32_t requested, int32_t* received) {
    static uint64_t patternByte = 0;
    if (requested > 0) {
        std::memcpy(buffer, CountingPatternAt(patternByte), static_cast<size_t>(requested));
        patternByte += static_cast<uint64_t>(requested);
    }
    *received = requested + 100;
    return 0;
}

KELVO_API int32_t KELVO_CALL I2C_LargePROMrd(uint8_t, uint32_t, uint8_t* buffer, int32_t* length) {
    if (*length > 0) std::memset(buffer, 0, static_cast<size_t>(*length));
    *length += 100;
    return 0;
}

KELVO_API int32_t KELVO_CALL RegWrite(uint32_t, uint8_t) { return 1; }
KELVO_API int32_t KELVO_CALL RegWriteShort(uint32_t, uint16_t) { return 1; }
KELVO_API int32_t KELVO_CALL RegWriteLong(uint32_t, uint32_t) { return 1; }
KELVO_API int32_t KELVO_CALL RegWriteLongInc(uint32_t, uint32_t) { return 1; }

}  // extern "C"
