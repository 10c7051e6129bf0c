// sim/device.cc: the interface state of the virtual scanner. Opening the interface powers the
// scanner's parts up afresh; the EEPROMs keep their contents, as non-volatile memory does.
#include "sim/device.h"

#include <cstdio>

#include "sim/converter.h"
#include "sim/errors.h"
#include "sim/firmware.h"
#include "host/host.h"
#include "sim/i2c_bus.h"
#include "sim/motor.h"
#include "sim/registers.h"
#include "sim/scenario.h"
#include "sim/stream.h"
#include "sim/temp_sensor.h"

namespace sim {

constexpr uint32_t kDefaultUsbTimeoutMs = 1000;

static bool gOpen = false;
static bool gEepromsLoaded = false;
static uint32_t gUsbTimeoutMs = kDefaultUsbTimeoutMs;
static int32_t gLastError = kOk;
static Versions gVersions{};
static bool gAnnounced = false;

// The scenario checked each version against 16 bits.
static uint16_t VersionSetting(const char* key, uint16_t fallback) {
    return static_cast<uint16_t>(ScenarioInteger(key, fallback));
}

int32_t DeviceOpen() {
    if (gOpen) return kErrAlreadyOpen;
    if (!ScenarioValid()) return kErrScenario;
    if (!gEepromsLoaded) {
        I2cBusReset();
        gEepromsLoaded = true;
    }
    const int32_t attached = I2cBusAttach();
    if (attached != kOk) return attached;
    gVersions = Versions{VersionSetting("version.hardware", 0x0300),
                         VersionSetting("version.firmware", 0x0104),
                         VersionSetting("version.library", 0x0104),
                         VersionSetting("version.usbdriver", 0x0210)};
    FirmwareReset();
    RegistersReset();
    StreamReset();
    ConverterReset();
    TempSensorReset();
    MotorReset();
    gOpen = true;
    return kOk;
}

// Closing is also the end of every path whose opening failed, so closing a closed interface
// is no error.
int32_t DeviceClose() {
    if (!gOpen) return kOk;
    StreamSetGate(false);
    I2cBusDetach();
    gOpen = false;
    return kOk;
}

bool DeviceIsOpen() { return gOpen; }

Versions DeviceVersions() { return gVersions; }

void SetUsbTimeoutMs(uint32_t milliseconds) { gUsbTimeoutMs = milliseconds; }
uint32_t UsbTimeoutMs() { return gUsbTimeoutMs; }

void SetLastError(int32_t code) { gLastError = code; }
int32_t LastError() { return gLastError; }

void AnnounceVirtualScanner() noexcept {
    if (gAnnounced) return;
    gAnnounced = true;
    std::fprintf(stderr, "kelvosim: virtual scanner, not hardware (library %s)\n", host::LibraryPath());
    std::fflush(stderr);
}

void DeviceReset() {
    DeviceClose();
    gAnnounced = false;
    gEepromsLoaded = false;
    gUsbTimeoutMs = kDefaultUsbTimeoutMs;
    gLastError = kOk;
}

}  // namespace sim
