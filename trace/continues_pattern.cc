// trace/continues_pattern.cc: the recorder's test of every stream block, whether it goes on
// with the counting pattern where the last one ended. It is the whole cost of recording a
// clean block, so it reads nothing but the block: the expected words are counted in vector
// registers instead of being read from the pattern's table, which halves the loads of a
// comparison with the table. Four vectors are compared a stride, each with its own count, so
// that no step waits on the one before. Where the processor has
// them, 32-byte vectors are used (chosen once, at the first block).
#include <bit>
#include <cstring>

#include "trace/layout.h"

namespace trace::layout {

namespace {

static_assert(std::endian::native == std::endian::little, "the stream's words are sent low byte first");

// The bytes from `at` on, one word at a time: the end of a block that fills no whole stride.
bool TailContinues(const uint8_t* data, uint32_t at, uint32_t count, uint16_t word) {
    for (; at + 2 <= count; at += 2, ++word) {
        if (data[at] != static_cast<uint8_t>(word) || data[at + 1] != static_cast<uint8_t>(word >> 8)) return false;
    }
    return at == count || data[at] == static_cast<uint8_t>(word);
}

// One body for every vector width; the words wrap from 65535 to 0 by themselves. After the
// strides come single vectors, then the block's last vector, which overlaps what was compared
// (only a block shorter than one vector, or of odd length, ends word by word). The
// difference is looked at once, at the end: folding a vector into a word
// costs as much as the comparison of a kilobyte, and a block that differs is rare and is
// read again anyway to be split into runs.
#define KELVO_CONTINUES_PATTERN_BODY(kVectorBytes)                                              \
    using Words = uint16_t __attribute__((vector_size(kVectorBytes)));                         \
    constexpr int kLanes = (kVectorBytes) / 2;                                                  \
    constexpr uint32_t kStrideBytes = 4 * (kVectorBytes);                                       \
    Words e0;                                                                                   \
    for (int i = 0; i < kLanes; ++i) e0[i] = static_cast<uint16_t>(word + i);                   \
    const Words zero = e0 - e0;                                                                 \
    const Words first = e0;                                                                     \
    Words e1 = e0 + kLanes, e2 = e0 + 2 * kLanes, e3 = e0 + 3 * kLanes;                         \
    const Words step = zero + 4 * kLanes;                                                       \
    Words difference = zero;                                                                    \
    uint32_t at = 0;                                                                            \
    for (; at + kStrideBytes <= count; at += kStrideBytes) {                                    \
        Words g0, g1, g2, g3;                                                                   \
        std::memcpy(&g0, data + at, sizeof g0);                                                 \
        std::memcpy(&g1, data + at + (kVectorBytes), sizeof g1);                                \
        std::memcpy(&g2, data + at + 2 * (kVectorBytes), sizeof g2);                            \
        std::memcpy(&g3, data + at + 3 * (kVectorBytes), sizeof g3);                            \
        difference |= ((g0 ^ e0) | (g1 ^ e1)) | ((g2 ^ e2) | (g3 ^ e3));                        \
        e0 += step;                                                                             \
        e1 += step;                                                                             \
        e2 += step;                                                                             \
        e3 += step;                                                                             \
    }                                                                                           \
    for (; at + (kVectorBytes) <= count; at += (kVectorBytes)) {                                \
        Words g;                                                                                \
        std::memcpy(&g, data + at, sizeof g);                                                   \
        difference |= g ^ e0;                                                                   \
        e0 += kLanes;                                                                           \
    }                                                                                           \
    /* The last words: the block's last whole vector, over some compared already. */           \
    if (at < count && count >= (kVectorBytes) && count % 2 == 0) {                              \
        const uint32_t last = count - (kVectorBytes);                                           \
        Words g;                                                                                \
        std::memcpy(&g, data + last, sizeof g);                                                 \
        difference |= g ^ (first + static_cast<uint16_t>(last / 2));                            \
        at = count;                                                                             \
    }                                                                                           \
    uint64_t parts[(kVectorBytes) / 8];                                                         \
    std::memcpy(parts, &difference, sizeof parts);                                              \
    uint64_t any = 0;                                                                           \
    for (const uint64_t part : parts) any |= part;                                              \
    return any == 0 && TailContinues(data, at, count, static_cast<uint16_t>(word + at / 2));

bool Continues16(const uint8_t* data, uint32_t count, uint16_t word) { KELVO_CONTINUES_PATTERN_BODY(16) }

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) bool Continues32(const uint8_t* data, uint32_t count, uint16_t word) {
    KELVO_CONTINUES_PATTERN_BODY(32)
}
__attribute__((target("avx512bw"))) bool Continues64(const uint8_t* data, uint32_t count, uint16_t word) {
    KELVO_CONTINUES_PATTERN_BODY(64)
}
using Test = bool (*)(const uint8_t*, uint32_t, uint16_t);
const Test kContinues = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512bw") ? Continues64 : __builtin_cpu_supports("avx2") ? Continues32 : Continues16;
}();
#else
bool (*const kContinues)(const uint8_t*, uint32_t, uint16_t) = Continues16;
#endif

#undef KELVO_CONTINUES_PATTERN_BODY

}  // namespace

bool ContinuesPattern(const uint8_t* data, uint32_t count, uint32_t patternByte) {
    return kContinues(data, count, static_cast<uint16_t>(patternByte / 2));
}

}  // namespace trace::layout
