// device/stream_check.h: the pieces of the scan streaming test that need no device: the
// request-length generator and the check of the 16-bit counting pattern.
#pragma once

#include <cstdint>

#include "device/counting_pattern.h"

constexpr int32_t kScanBufferBytes = 32768;   // also the largest request
constexpr int32_t kShortestRequestBytes = 1000;

// The runtime's classic linear congruential generator: results 0 to 32767.
struct RequestRandom {
    uint32_t state = 1;
    uint32_t Next() {
        state = state * 214013u + 2531011u;
        return (state >> 16) & 0x7FFFu;
    }
};

// An even request length from 1000 to 32768 bytes for one draw of the generator.
int32_t RequestLengthFor(uint32_t draw);

// Checks received blocks against the counting words 0..65535, little-endian, continued
// across blocks. One error is counted per mismatching chunk; the first wrong word of a
// report interval is kept until the report takes it.
class PatternCheck {
public:
    PatternCheck() : reference_(CountingPattern()) {}
    // After a restart of the data flow: the next block sets the expected word itself.
    void Resync() { syncPending_ = true; }
    // streamOffset: stream bytes before this block, for the first error's position.
    void CheckBlock(const uint8_t* data, uint32_t bytes, uint64_t streamOffset);
    // Hands out the interval's first error, if one is pending, and clears it.
    bool TakeFirstError(uint64_t* position, uint16_t* value);

    uint32_t ErrorCount() const { return errorCount_; }

private:
    void RecordFirstError(const uint8_t* chunk, uint32_t chunkBytes, uint64_t chunkOffset);

    // The counting words as the scanner sends them; the byte comparison against them is the
    // whole cost of a clean block.
    const uint8_t* reference_;
    uint32_t errorCount_ = 0;
    uint16_t expectedWord_ = 0;
    bool syncPending_ = true;
    bool firstErrorPending_ = false;
    uint64_t firstErrorPosition_ = 0;
    uint16_t firstErrorValue_ = 0;
};
