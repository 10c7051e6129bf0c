// trace/layout.h: inside the trace layer only: which fields each operation's record holds
// (kLayouts), the record bytes that are no call, and the bounds a decoded field must keep.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trace/trace_format.h"

namespace trace::layout {

constexpr char kMagic[8] = {'K', 'E', 'L', 'V', 'O', 'T', 'R', 'C'};
constexpr uint8_t kOpMask = 0x1F;
constexpr size_t kMaxLengthPrefix = 5;
constexpr uint8_t kOpClosing = 0;                // the operation byte of the closing record
constexpr uint8_t kOpCheck = 31;                 // the operation byte of a check record
static_assert(kOpCount < kOpCheck && kOpCheck <= kOpMask, "a check record is no operation");
constexpr size_t kCheckPayloadBytes = 5;         // operation byte, CRC

struct Layout {
    uint8_t args;
    bool textIn, dataIn, result;
    uint8_t outs;
    bool textOut, dataOut, stream;
    const char* argNames[3];
};

// Indexed by the operation's number.
extern const Layout kLayouts[kOpCount + 1];

// CRC-32C of a version 2 header, all but its flags: it counts into the first group's check.
uint32_t OldHeaderCrc(const uint8_t* header);

// Whether all `count` bytes of `data` follow the counting pattern from the even byte
// position `patternByte` on (trace/continues_pattern.cc).
bool ContinuesPattern(const uint8_t* data, uint32_t count, uint32_t patternByte);

// Whether every field of a decoded call lies within its parameter's type and the device
// contract's bounds: a value no program could have passed or been given is damage.
bool WithinBounds(const Call& call);

}  // namespace trace::layout
