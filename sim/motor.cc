// sim/motor.cc: the virtual scanner's motor, its scan-line counter and the status record.
//
// Pentamotor_init(N) turns the motor for N revolutions (0 stops it; 0..motor.max, default
// 10000) at motor.rpm (default 600). The line counter is 27 bits wide, so its value never
// meets the library's failure marker 2^27: it advances by one line per lines.bytes (default
// 4096) of scan data the stream produces, and by lines.per_rev (default 100) per revolution.
// With motor.revs_per_query set, the motor ignores the clock and instead turns that many
// revolutions at every line count and status read, so tests see the same numbers every run.
// motor.stall = 1 makes every start with N > 0 fail with the stalled-motor error.
//
// Status record: byte 0 record version 1; LS = register 0x0D; LED bit 0 power, bit 1 FPGA
// configured, bit 2 stream gate open, bit 3 motor turning, bits 4-7 as written to register
// 0x0C; RAMStatus bit 0 FIFO holds data, bit 1 stream gate open (the FIFO is filling), bit 2
// words were lost to a full FIFO since the interface was opened or the FIFO last cleared;
// AnzDat the whole lines the stream has produced since the interface was opened; RamFIFO the
// FIFO fill in bytes; LastError the library's last error code.
#include "sim/motor.h"

#include <algorithm>

#include "sim/device.h"
#include "sim/errors.h"
#include "sim/firmware.h"
#include "sim/clock.h"
#include "sim/registers.h"
#include "sim/scenario.h"
#include "sim/stream.h"

namespace sim {

constexpr uint32_t kLineCounterMask = 0x07FFFFFF;
constexpr uint8_t kLedPower = 0x01;
constexpr uint8_t kLedFpga = 0x02;
constexpr uint8_t kLedStream = 0x04;
constexpr uint8_t kLedMotor = 0x08;
constexpr uint8_t kLedPanelMask = 0xF0;   // the four LEDs the host switches through register 0x0C
constexpr uint8_t kRamDataWaiting = 0x01;
constexpr uint8_t kRamFilling = 0x02;
constexpr uint8_t kRamOverflow = 0x04;
constexpr uint8_t kStatusRecordVersion = 1;

struct Motor {
    int32_t targetRevolutions = 0;
    double earlierRevolutions = 0;   // finished or stopped runs since the counter was cleared
    uint64_t runStartNs = 0;
    double steppedRevolutions = 0;   // this run, when the motor turns per query
    bool running = false;
    uint64_t lineBaseline = 0;       // raw line count at the last clear
    // settings, read at reset
    int64_t maxRevolutions = 10000;
    double revsPerSecond = 10;
    bool turnsPerQuery = false;
    double revsPerQuery = 0;
    bool stalls = false;
    uint64_t lineBytes = 4096;
    double linesPerRevolution = 100;
};

static Motor gMotor;

static bool TurnsPerQuery() { return gMotor.turnsPerQuery; }

static double RevolutionsThisRun() {
    if (!gMotor.running) return 0;
    double turned = gMotor.steppedRevolutions;
    if (!TurnsPerQuery()) {
        turned = static_cast<double>(ClockNs() - gMotor.runStartNs) * 1e-9 * gMotor.revsPerSecond;
    }
    return std::min(turned, static_cast<double>(gMotor.targetRevolutions));
}

// A query is the moment the motor moves when it turns per query.
static void Query() {
    if (gMotor.running && TurnsPerQuery()) {
        gMotor.steppedRevolutions += gMotor.revsPerQuery;
    }
}

static uint64_t StreamLines() {
    return StreamBytesProduced() / gMotor.lineBytes;
}

// Lines since the interface was opened, before the counter's clear and its 27-bit width.
static uint64_t RawLines() {
    const double revolutions = gMotor.earlierRevolutions + RevolutionsThisRun();
    return StreamLines() + static_cast<uint64_t>(revolutions * gMotor.linesPerRevolution);
}

void MotorReset() {
    Motor& m = gMotor;
    m = Motor{};
    m.maxRevolutions = ScenarioInteger("motor.max", 10000);
    m.revsPerSecond = ScenarioNumber("motor.rpm", 600.0) / 60.0;
    m.turnsPerQuery = ScenarioHas("motor.revs_per_query");
    m.revsPerQuery = ScenarioNumber("motor.revs_per_query", 0.0);
    m.stalls = ScenarioInteger("motor.stall", 0) != 0;
    m.lineBytes = static_cast<uint64_t>(ScenarioInteger("lines.bytes", 4096));
    m.linesPerRevolution = ScenarioNumber("lines.per_rev", 100.0);
}

bool MotorTurning() {
    return gMotor.running && RevolutionsThisRun() < static_cast<double>(gMotor.targetRevolutions);
}

void MotorStop() {
    gMotor.earlierRevolutions += RevolutionsThisRun();
    gMotor.running = false;
    gMotor.steppedRevolutions = 0;
}

void ScanLineCounterClear() { gMotor.lineBaseline = RawLines(); }

int32_t MotorStart(int32_t revolutions) {
    if (revolutions < 0 || revolutions > gMotor.maxRevolutions) return kErrMotorRange;
    // A new start ends the run under way; what it has turned so far stays counted.
    MotorStop();
    if (revolutions == 0) return kOk;
    if (gMotor.stalls) return kErrMotorStalled;
    gMotor.targetRevolutions = revolutions;
    gMotor.runStartNs = ClockNs();
    gMotor.running = true;
    return kOk;
}

int32_t ScanLineCount(int32_t* lines) {
    if (lines == nullptr) return kErrBadArgument;
    Query();
    const uint64_t count = (RawLines() - gMotor.lineBaseline) & kLineCounterMask;
    *lines = static_cast<int32_t>(count);
    return kOk;
}

static uint8_t LedBits() {
    uint8_t led = static_cast<uint8_t>((LedControl() & kLedPanelMask) | kLedPower);
    if (FpgaConfigured()) led |= kLedFpga;
    if (StreamGateOpen()) led |= kLedStream;
    if (MotorTurning()) led |= kLedMotor;
    return led;
}

int32_t StatusRead(ScannerStatus* status) {
    if (status == nullptr) return kErrBadArgument;
    Query();
    const uint32_t fifoBytes = StreamFifoBytes();
    *status = ScannerStatus{};
    status->reserved = kStatusRecordVersion;
    status->LS = LightSourceControl();
    status->LED = LedBits();
    status->RAMStatus = static_cast<uint8_t>((fifoBytes > 0 ? kRamDataWaiting : 0) |
                                             (StreamGateOpen() ? kRamFilling : 0) |
                                             (StreamOverflowed() ? kRamOverflow : 0));
    status->AnzDat = static_cast<int32_t>(StreamLines() & 0x7FFFFFFF);
    status->RamFIFO = static_cast<int32_t>(std::min<uint32_t>(fifoBytes, 0x7FFFFFFF));
    status->LastError = static_cast<int16_t>(LastError());
    return kOk;
}

}  // namespace sim
