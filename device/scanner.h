// device/scanner.h: the scanner's fixed facts that more than one part of the tool relies on:
// its I2C devices, the FPGA configuration that makes it stream, and the pace of the reports.
#pragma once

#include <cstdint>

// I2C devices, as 8-bit bus addresses with bit 0 clear.
constexpr uint8_t kConfigEepromId = 0xA0;   // 256-byte configuration EEPROM
constexpr uint8_t kBootEepromId = 0xA2;     // the boot EEPROM, also read by the stress loop
constexpr uint8_t kConverterId = 0x90;      // ADC channels 0 to 3 and the high-voltage DAC
constexpr uint8_t kTempSensorId = 0x92;

// The FPGA configuration loaded at bring-up unless -ini names another, and again by the
// streaming test, which needs the configuration that produces the counting stream.
inline constexpr char kDefaultFpgaFile[] = "scanner3.mcs";

// The two endless loops report about once a second: strictly more than this since the last.
constexpr uint32_t kReportIntervalMs = 1000;
