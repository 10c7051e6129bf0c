// tests/support/virtual_clock.h: a clock for the virtual scanner that moves only when the
// scanner pauses on it, and a stop request that is counted instead of sent, so that a
// time-out or a replay's pace is checked exactly and the test process is never signalled.
#pragma once

#include <cstdint>

extern "C" void SimUseClock(uint64_t (*nowNs)(void), void (*pauseNs)(uint64_t), int (*raiseStop)(void));

struct VirtualClock {
    static inline uint64_t nowNs = 0;
    static inline int stopRequests = 0;

    VirtualClock() {
        nowNs = 1000000000;   // not 0, so that a clock never read still shows
        stopRequests = 0;
        SimUseClock([] { return nowNs; }, [](uint64_t ns) { nowNs += ns; }, [] { ++stopRequests; return 0; });
    }
    ~VirtualClock() { SimUseClock(nullptr, nullptr, nullptr); }
    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;

    static uint64_t Ms() { return nowNs / 1000000u; }
};
