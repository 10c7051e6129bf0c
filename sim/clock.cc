// sim/clock.cc: the clock, the pauses and the stop request, the host's or a test's.
#include "sim/clock.h"

#include "host/host.h"

namespace sim {

namespace {

struct Seam {
    uint64_t (*nowNs)() = nullptr;
    void (*pauseNs)(uint64_t) = nullptr;
    int (*raiseStop)() = nullptr;
};

Seam gSeam;

}  // namespace

uint64_t ClockNs() { return gSeam.nowNs != nullptr ? gSeam.nowNs() : host::MonotonicNs(); }

void PauseNs(uint64_t nanoseconds) {
    if (gSeam.pauseNs != nullptr) {
        gSeam.pauseNs(nanoseconds);
    } else {
        host::SleepNs(nanoseconds);
    }
}

bool RaiseStop(std::string* error) {
    if (gSeam.raiseStop == nullptr) return host::RaiseStopRequest(error);
    if (gSeam.raiseStop() == 0) return true;
    *error = "refused";
    return false;
}

void UseClock(uint64_t (*nowNs)(), void (*pauseNs)(uint64_t), int (*raiseStop)()) {
    gSeam = Seam{nowNs, pauseNs, raiseStop};
}

}  // namespace sim
