// sim/device.h: the virtual scanner as the USB host sees it: whether the interface is open,
// the USB time-out, the versions it reports and the last error of any operation.
#pragma once

#include <cstdint>

namespace sim {

struct Versions {
    uint16_t hardware;
    uint16_t firmware;
    uint16_t library;
    uint16_t usbDriver;
};

int32_t DeviceOpen();          // resets every part of the scanner for a fresh session
int32_t DeviceClose();
bool DeviceIsOpen();
Versions DeviceVersions();

void SetUsbTimeoutMs(uint32_t milliseconds);
uint32_t UsbTimeoutMs();

void SetLastError(int32_t code);
int32_t LastError();

// Back to the state of a freshly loaded library, with the current scenario.
void DeviceReset();

// Says on standard error, once per run, that this is the virtual scanner and which library
// file it is, so that no transcript of it passes for one from a bench. The tool's own lines
// are not touched: this one begins "kelvosim: " like every line of the virtual scanner.
void AnnounceVirtualScanner() noexcept;

}  // namespace sim
