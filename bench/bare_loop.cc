// bench/bare_loop.cc: the bare copy-and-compare loop.
#include "bench/bare_loop.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <ctime>

#include "bench/pattern_library.h"
#include "device/counting_pattern.h"
#include "device/stream_check.h"

// The tool's own table, as the tool compares against it; the library copies from a table of
// its own, since comparing against the copy's source would flatter the bare loop.
BareLoop::BareLoop() : buffer_(kScanBufferBytes), random_(static_cast<uint32_t>(std::time(nullptr))) {}

// The same lengths, the same copy, the same comparison in at most two chunks; nothing else.
uint64_t BareLoop::Run(uint64_t passes) {
    RequestRandom random;
    random.state = random_;
    const uint8_t* reference = CountingPattern();
    uint64_t bytes = 0;
    for (uint64_t pass = 0; pass < passes; ++pass) {
        const uint32_t length = static_cast<uint32_t>(RequestLengthFor(random.Next()));
        std::memcpy(buffer_.data(), PatternBytes() + 2 * nextWord_, length);
        benchmark::ClobberMemory();
        const uint32_t roomBytes = 2 * (kPatternWords - nextWord_);
        const uint32_t first = length < roomBytes ? length : roomBytes;
        errors_ += std::memcmp(buffer_.data(), reference + 2 * nextWord_, first) != 0;
        if (length > first) errors_ += std::memcmp(buffer_.data() + first, reference, length - first) != 0;
        nextWord_ = (nextWord_ + length / 2) & 0xFFFFu;
        bytes += length;
    }
    random_ = random.state;
    benchmark::DoNotOptimize(errors_);
    return bytes;
}

double BareLoop::Rate(double seconds) {
    const auto start = std::chrono::steady_clock::now();
    uint64_t bytes = 0;
    double elapsed = 0;
    do {
        bytes += Run(10000);
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    } while (elapsed < seconds);
    return static_cast<double>(bytes) / elapsed;
}
