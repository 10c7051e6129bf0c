// sim/registers.cc: the FPGA register file of the virtual scanner. One byte-addressed space of
// 256 bytes (0x00-0xFF), reached by 8, 16 and 32-bit accesses, little-endian, at any byte address.
//
//   0x00-0x03  identity, read-only: 0x4B530300
//   0x04       stream gate A, read/write   } the scan stream runs while both hold 1
//   0x05       stream gate B, read/write   }
//   0x06-0x07  spare, read/write
//   0x08-0x0B  state, read-only: bit 0 stream gate open, bit 1 motor turning
//   0x0C       LED control, read/write: bits 4-7 switch the panel LEDs (status record LED)
//   0x0D       light-source control, read/write (the status record's LS byte)
//   0x0E-0x0F  spare, read/write
//   0x10-0x13  command, write-only: bit 0 clears the scan-line counter, bit 1 stops the motor
//   0x14-0xFF  general purpose, read/write, zero at power-on
//
// The incrementing forms treat a register as a counter: RegReadShortInc and RegReadLongInc
// return the content and leave it one higher (wrapping in their width); RegWriteLongInc adds
// the value to the 32-bit content instead of replacing it.
#include "sim/registers.h"

#include <array>

#include "sim/errors.h"
#include "sim/firmware.h"
#include "sim/motor.h"
#include "sim/stream.h"

namespace sim {

constexpr uint32_t kRegisterBytes = 0x100;
constexpr uint32_t kIdentityAddress = 0x00;
constexpr uint32_t kIdentity = 0x4B530300;
constexpr uint32_t kGateAAddress = 0x04;
constexpr uint32_t kGateBAddress = 0x05;
constexpr uint32_t kStateAddress = 0x08;
constexpr uint32_t kLedAddress = 0x0C;
constexpr uint32_t kLightSourceAddress = 0x0D;
constexpr uint32_t kCommandAddress = 0x10;
constexpr uint32_t kStateGateOpen = 0x1;
constexpr uint32_t kStateMotorTurning = 0x2;
constexpr uint32_t kCommandClearLines = 0x1;
constexpr uint32_t kCommandStopMotor = 0x2;

struct RegisterFile {
    std::array<uint8_t, kRegisterBytes> bytes{};
};

static RegisterFile gRegisters;

static bool Overlaps(uint32_t address, int widthBytes, uint32_t first, uint32_t count) {
    return address < first + count && first < address + static_cast<uint32_t>(widthBytes);
}

static bool ReadOnly(uint32_t address, int widthBytes) {
    return Overlaps(address, widthBytes, kIdentityAddress, 4) ||
           Overlaps(address, widthBytes, kStateAddress, 4);
}

static bool WriteOnly(uint32_t address, int widthBytes) {
    return Overlaps(address, widthBytes, kCommandAddress, 4);
}

// Checks that the access can reach the register file at all.
static int32_t CheckAccess(uint32_t address, int widthBytes) {
    if (widthBytes != 1 && widthBytes != 2 && widthBytes != 4) return kErrBadArgument;
    if (!FpgaConfigured()) return kErrFpgaNotConfigured;
    // 64-bit sum: an address near 0xFFFFFFFF must not wrap back into the register space.
    if (static_cast<uint64_t>(address) + static_cast<uint64_t>(widthBytes) > kRegisterBytes) {
        return kErrRegisterAddress;
    }
    return kOk;
}

static uint32_t WidthMask(int widthBytes) {
    return widthBytes == 4 ? 0xFFFFFFFFu : (1u << (8 * widthBytes)) - 1u;
}

static uint32_t Load(uint32_t address, int widthBytes) {
    uint32_t value = 0;
    for (int i = widthBytes - 1; i >= 0; --i) value = (value << 8) | gRegisters.bytes[address + i];
    return value;
}

static void Store(uint32_t address, uint32_t value, int widthBytes) {
    for (int i = 0; i < widthBytes; ++i) {
        gRegisters.bytes[address + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

static bool GateOpen() {
    return gRegisters.bytes[kGateAAddress] == 1 && gRegisters.bytes[kGateBAddress] == 1;
}

uint8_t LedControl() { return gRegisters.bytes[kLedAddress]; }
uint8_t LightSourceControl() { return gRegisters.bytes[kLightSourceAddress]; }
bool StreamGateOpen() { return GateOpen(); }

// The state register is computed, not stored: it shows what the scanner is doing right now.
static void RefreshState() {
    uint32_t state = 0;
    if (GateOpen()) state |= kStateGateOpen;
    if (MotorTurning()) state |= kStateMotorTurning;
    Store(kStateAddress, state, 4);
}

// The command register acts on the bytes of it that the access covers and keeps nothing.
static void RunCommand(uint32_t address, uint32_t value, int widthBytes) {
    if (!Overlaps(address, widthBytes, kCommandAddress, 1)) return;
    const uint8_t command = static_cast<uint8_t>(value >> (8 * (kCommandAddress - address)));
    if (command & kCommandClearLines) ScanLineCounterClear();
    if (command & kCommandStopMotor) MotorStop();
}

static int32_t WriteChecked(uint32_t address, uint32_t value, int widthBytes) {
    if (ReadOnly(address, widthBytes)) return kErrRegisterReadOnly;
    if (WriteOnly(address, widthBytes)) {
        RunCommand(address, value, widthBytes);
    } else {
        Store(address, value, widthBytes);
    }
    // Any write may have touched a gate byte, by itself or as part of a wider access.
    StreamSetGate(GateOpen());
    return kOk;
}

static int32_t ReadChecked(uint32_t address, int widthBytes, uint32_t* value) {
    if (WriteOnly(address, widthBytes)) return kErrRegisterWriteOnly;
    RefreshState();
    *value = Load(address, widthBytes);
    return kOk;
}

void RegistersReset() {
    gRegisters = RegisterFile{};
    Store(kIdentityAddress, kIdentity, 4);
    StreamSetGate(false);
}

int32_t RegisterWrite(uint32_t address, uint32_t value, int widthBytes) {
    const int32_t status = CheckAccess(address, widthBytes);
    if (status != kOk) return status;
    return WriteChecked(address, value & WidthMask(widthBytes), widthBytes);
}

int32_t RegisterRead(uint32_t address, int widthBytes, uint32_t* value) {
    if (value == nullptr) return kErrBadArgument;
    const int32_t status = CheckAccess(address, widthBytes);
    if (status != kOk) return status;
    return ReadChecked(address, widthBytes, value);
}

int32_t RegisterWriteLongInc(uint32_t address, uint32_t value) {
    int32_t status = CheckAccess(address, 4);
    if (status != kOk) return status;
    if (ReadOnly(address, 4)) return kErrRegisterReadOnly;
    // Adding needs the old content, which a write-only register cannot give.
    if (WriteOnly(address, 4)) return kErrRegisterWriteOnly;
    return WriteChecked(address, Load(address, 4) + value, 4);
}

int32_t RegisterReadInc(uint32_t address, int widthBytes, uint32_t* value) {
    const int32_t status = RegisterRead(address, widthBytes, value);
    if (status != kOk) return status;
    // A read-only register is read like any other but cannot count.
    if (ReadOnly(address, widthBytes)) return kOk;
    return WriteChecked(address, (*value + 1u) & WidthMask(widthBytes), widthBytes);
}

}  // namespace sim
