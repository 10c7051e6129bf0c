// bench/bare_loop.h: the yardstick of the streaming benchmarks: the bare loop that copies the
// counting pattern in the tool's request lengths and compares it, and does nothing else.
#pragma once

#include <cstdint>
#include <vector>

class BareLoop {
public:
    BareLoop();
    // Runs `passes` blocks; returns the bytes they moved. Errors() must stay 0.
    uint64_t Run(uint64_t passes);
    // Runs for about `seconds` and returns the bytes per second.
    double Rate(double seconds);
    uint32_t Errors() const { return errors_; }

private:
    std::vector<uint8_t> buffer_;
    uint32_t random_;
    uint32_t nextWord_ = 0;
    uint32_t errors_ = 0;
};
