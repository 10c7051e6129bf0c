// device/counting_pattern.h: the scanner's test stream: 16-bit words counting 0 to 65535 and
// round again, each sent low byte first. One table of it serves the tool's check, the virtual
// scanner, the trace codec and the benchmarks.
#pragma once

#include <cstdint>

constexpr uint32_t kPatternWords = 65536;
constexpr uint32_t kPatternBytes = 2 * kPatternWords;   // one period, as bytes

// Two periods of the pattern from word 0, so that from any position of the first period a
// whole period (and so any block of up to kPatternBytes) compares or copies in one piece.
// Filled on first use; safe to call from any thread.
const uint8_t* CountingPattern();

// The pattern's bytes from byte position `patternByte` (taken modulo one period) on.
inline const uint8_t* CountingPatternAt(uint64_t patternByte) {
    return CountingPattern() + patternByte % kPatternBytes;
}
