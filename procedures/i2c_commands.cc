// procedures/i2c_commands.cc: the I2C commands. Every message here, failures included, is a
// result message (level bit 0x4); library codes go through ReportDeviceError, which gates
// its own output. Device reads are made whatever the gate, only the printing is gated.
#include "procedures/i2c_commands.h"

#include <vector>

#include "device/kelvoscanusb.h"
#include "device/contract.h"
#include "device/device_errors.h"
#include "device/scanner.h"
#include "console/keyboard.h"
#include "log/trace_log.h"
#include "platform/platform.h"

constexpr uint32_t kEepromBufferBytes = 1024;
constexpr uint8_t kDumpLastAddress = 255;
constexpr uint8_t kStressLastAddress = 15;
constexpr int32_t kStressSensorConfig = 0xAA;

int32_t AdcReadingOf(int32_t result, uint8_t* reading) {
    if (AdcResultIsError(result)) return result;
    *reading = static_cast<uint8_t>(result & 0xFF);
    return 0;
}

bool Rail3V3InBounds(uint8_t reading) {
    const double volts = reading * kVoltsPerCount3V3;
    return volts >= kRail3V3MinVolts && volts <= kRail3V3MaxVolts;
}

int16_t TemperatureRawOf(int32_t result) {
    return static_cast<int16_t>(static_cast<uint16_t>(result & 0xFFFF));
}


// -wre: the low 8 bits of -val go to the one byte at the -wre address.
static void WriteEepromByte(uint8_t* buffer, int32_t eepromId, int32_t byteAddress, int32_t value) {
    buffer[0] = static_cast<uint8_t>(value & 0xFF);
    const uint8_t deviceId = static_cast<uint8_t>(eepromId);
    const uint32_t address = static_cast<uint32_t>(byteAddress);
    const int32_t status = I2C_PROM_write(buffer, deviceId, address, static_cast<uint8_t>(address));
    if (status != 0) {
        ReportDeviceError(status);
        return;
    }
    if (ResultsOn()) {
        gTraceLog.Print("ksutest: I2C_PROM_write success ID:%02x Adr:%d Val:0x%02x!\n", eepromId,
                        byteAddress, buffer[0]);
    }
}

static void ReadEepromByte(uint8_t* buffer, int32_t eepromId, int32_t byteAddress) {
    const uint8_t deviceId = static_cast<uint8_t>(eepromId);
    const uint32_t address = static_cast<uint32_t>(byteAddress);
    const int32_t status = I2C_PROM_read(buffer, deviceId, address, static_cast<uint8_t>(address));
    if (status != 0) {
        ReportDeviceError(status);
        return;
    }
    if (ResultsOn()) {
        gTraceLog.Print("ksutest: I2C_PROM_read success ID:%02x Adr:%d Val:0x%02x!\n", eepromId,
                        byteAddress, buffer[0]);
    }
}

// -dumpe: the first 256 bytes. ID 0 means -id was not given; no device answers there.
static void DumpEeprom(uint8_t* buffer, int32_t eepromId) {
    if (eepromId == 0) {
        if (ResultsOn()) gTraceLog.Print("ksutest: Error: not valid ID parameter!\n");
        return;
    }
    const int32_t status = I2C_PROM_read(buffer, static_cast<uint8_t>(eepromId), 0, kDumpLastAddress);
    if (status != 0) {
        ReportDeviceError(status);
        return;
    }
    if (ResultsOn()) {
        gTraceLog.Print("ksutest: I2C_PROM_dump Adr.:0 from ID:0x%02x!\n", eepromId);
        gTraceLog.HexDump(buffer, kDumpLastAddress + 1u);
    }
}

// One stress pass. Each failing step counts one error; the pass always runs to its end.
static void RunStressPass(uint8_t* buffer, I2cStressCounts* counts) {
    for (const uint8_t eepromId : {kConfigEepromId, kBootEepromId}) {
        const int32_t status = I2C_PROM_read(buffer, eepromId, 0, kStressLastAddress);
        if (status != 0) {
            ++counts->errors;
            ReportDeviceError(status);
        }
    }
    const int32_t initStatus = I2C_TEMPinit(kTempSensorId, kStressSensorConfig);
    if (initStatus != 0) {
        ++counts->errors;
        if (ResultsOn()) gTraceLog.Print("ksutest: Error I2C_TEMPinit!\n");
        ReportDeviceError(initStatus);
    }
    uint8_t reading = 0;
    const int32_t adcStatus = AdcReadingOf(I2C_ADCread(kConverterId, 1), &reading);
    if (adcStatus != 0) {
        // An error code's low byte could pass for a healthy reading; count it as the failure it is.
        ++counts->errors;
        ReportDeviceError(adcStatus);
    } else if (!Rail3V3InBounds(reading)) {
        ++counts->errors;
        if (ResultsOn()) {
            gTraceLog.Print("ksutest: Error I2C_ADCread from channel 1! Value:%f!\n",
                            reading * kVoltsPerCount3V3);
        }
    }
    // The two EEPROM reads and the converter read; the sensor initialisation is a write.
    counts->reads += 3;
}

I2cStressCounts RunI2cStressLoop(uint8_t* buffer) {
    if (ResultsOn()) gTraceLog.Print("ksutest: iictest, read from U4_EEPROM,RAMPROM and ADC, init temp.!\n");
    // Held for the whole loop, so that Ctrl-C ends it like a key and the terminal comes back.
    KeyLoopScope keyLoop;
    uint32_t lastReportMs = TickCountMs();
    // Only a key pressed after the loop has started may end it.
    DrainKeyboard();
    I2cStressCounts counts;
    do {
        RunStressPass(buffer, &counts);
        if (TickCountMs() - lastReportMs > kReportIntervalMs) {
            lastReportMs = TickCountMs();
            // 64-bit counters: a run left going for days to weeks on a real bus passes 2^31 reads.
            if (ResultsOn()) {
                gTraceLog.Print("ksutest: Count of I2C-Reads:%I64u, errors:%I64u\n", counts.reads,
                                counts.errors);
            }
        }
    } while (!LoopEndRequested());
    return counts;
}

static void SetDacOutput(int32_t dacValue) {
    const int32_t status = I2C_DACout(kConverterId, dacValue);
    if (status != 0) {
        ReportDeviceError(status);
        return;
    }
    if (ResultsOn()) {
        gTraceLog.Print("ksutest: I2C_DACout High Voltage in %f V\n", dacValue * kVoltsPerDacUnit);
    }
}

// One converter channel; false (after reporting the library's code) when it gave no reading.
static bool ReadAdcChannel(int32_t channel, uint8_t* reading) {
    const int32_t status = AdcReadingOf(I2C_ADCread(kConverterId, channel), reading);
    if (status != 0) ReportDeviceError(status);
    return status == 0;
}

static void ReadAdcChannels() {
    uint8_t reading = 0;
    // All four conversions are made whatever the gate; only the printing is gated.
    if (ReadAdcChannel(0, &reading) && ResultsOn()) {
        gTraceLog.Print("ksutest: AD Channel 0: %d\n", reading);
    }
    if (ReadAdcChannel(1, &reading) && ResultsOn()) {
        gTraceLog.Print("ksutest: AD Channel 3,3V in V: %f\n", reading * kVoltsPerCount3V3);
    }
    if (ReadAdcChannel(2, &reading) && ResultsOn()) {
        gTraceLog.Print("ksutest: AD Channel 5V in V: %f\n", reading * kVoltsPerCount5V);
    }
    if (ReadAdcChannel(3, &reading) && ResultsOn()) {
        gTraceLog.Print("ksutest: AD Channel 24V in V: %f\n", reading * kVoltsPerCount24V);
    }
}

static void InitTempSensor(int32_t configuration) {
    const int32_t status = I2C_TEMPinit(kTempSensorId, configuration);
    if (status != 0) {
        if (ResultsOn()) gTraceLog.Print("ksutest: Error I2C_TEMPinit!\n");
        ReportDeviceError(status);
        return;
    }
    if (ResultsOn()) gTraceLog.Print("ksutest: I2C_TEMPinit success!\n");
}

// The raw value is printed as the sensor gave it.
static void ReadTempSensor() {
    const int16_t raw = TemperatureRawOf(I2C_TEMPread(kTempSensorId));
    if (!ResultsOn()) return;
    if (TemperatureReadFailed(raw)) {
        gTraceLog.Print("ksutest: Error I2C_TEMPread: Value: %d\n", raw);
    } else {
        gTraceLog.Print("ksutest: I2C_TEMPread: Value: %d\n", raw);
    }
}

void RunI2cCommands(const I2cRequests& requests, bool (*stopRequested)()) {
    // Shared by the EEPROM commands; byte 0 belongs to the first address of a transfer.
    std::vector<uint8_t> eepromData(kEepromBufferBytes, 0);
    uint8_t* buffer = eepromData.data();
    // A stop request skips the command in question and, as it stays, every later one.
    const auto runs = [stopRequested](bool requested) { return requested && !stopRequested(); };
    if (runs(requests.eepromWrite.has_value())) {
        WriteEepromByte(buffer, requests.eepromId, *requests.eepromWrite, requests.writeValue);
    }
    if (runs(requests.eepromRead.has_value())) ReadEepromByte(buffer, requests.eepromId, *requests.eepromRead);
    if (runs(requests.dump)) DumpEeprom(buffer, requests.eepromId);
    if (runs(requests.stressLoop)) RunI2cStressLoop(buffer);
    if (runs(requests.dacValue.has_value())) SetDacOutput(*requests.dacValue);
    if (runs(requests.adcRead)) ReadAdcChannels();
    if (runs(requests.tempInit.has_value())) InitTempSensor(*requests.tempInit);
    if (runs(requests.tempRead)) ReadTempSensor();
}
