// device/stream_check.cc: request lengths and the counting-pattern check of the scan
// streaming test.
#include "device/stream_check.h"

#include <cstring>

int32_t RequestLengthFor(uint32_t draw) {
    // Scales 0..32767 onto 0..32768 so that a full buffer can be asked for too.
    uint32_t length = draw * 32768u / 32767u;
    if (length < static_cast<uint32_t>(kShortestRequestBytes)) length += kShortestRequestBytes;
    return static_cast<int32_t>(length & ~1u);
}

static uint16_t WordAt(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

void PatternCheck::CheckBlock(const uint8_t* data, uint32_t bytes, uint64_t streamOffset) {
    if (syncPending_) {
        // A lone byte holds no word to take the stream's position from: wait for a block
        // that does.
        if (bytes < 2) return;
        syncPending_ = false;
        expectedWord_ = WordAt(data);
    }
    // Chunks end at the pattern's wrap from word 65535 to word 0, so that each is one
    // comparison; a stream in step crosses it at most once per block.
    uint32_t position = 0;
    uint32_t remaining = bytes;
    while (remaining != 0) {
        const uint32_t roomBytes = 2 * (kPatternWords - expectedWord_);
        const uint32_t chunkBytes = remaining < roomBytes ? remaining : roomBytes;
        const uint8_t* chunk = data + position;
        if (std::memcmp(chunk, reference_ + 2 * expectedWord_, chunkBytes) != 0) {
            ++errorCount_;
            if (!firstErrorPending_) RecordFirstError(chunk, chunkBytes, streamOffset + position);
        }
        const uint32_t words = chunkBytes / 2;
        // Only an odd last byte makes a chunk without a whole word; the expectation stays.
        if (words == 0) break;
        // Follow the received data, not the expectation: after a break the check goes on
        // from the new values, and each break costs one error.
        expectedWord_ = static_cast<uint16_t>(WordAt(chunk + 2 * words - 2) + 1);
        position += 2 * words;
        remaining -= chunkBytes;
    }
}

void PatternCheck::RecordFirstError(const uint8_t* chunk, uint32_t chunkBytes, uint64_t chunkOffset) {
    for (uint32_t k = 0; k < chunkBytes / 2; ++k) {
        const uint16_t received = WordAt(chunk + 2 * k);
        if (received != static_cast<uint16_t>(expectedWord_ + k)) {
            firstErrorPending_ = true;
            firstErrorPosition_ = chunkOffset + 2 * k;
            firstErrorValue_ = received;
            return;
        }
    }
    // Only the odd last byte differed: counted, but there is no wrong word to show.
}

bool PatternCheck::TakeFirstError(uint64_t* position, uint16_t* value) {
    if (!firstErrorPending_) return false;
    firstErrorPending_ = false;
    *position = firstErrorPosition_;
    *value = firstErrorValue_;
    return true;
}
