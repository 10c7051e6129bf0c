// procedures/i2c_commands.h: the commands for the scanner's I2C devices: EEPROM byte write,
// read and dump, the I2C stress loop, the high-voltage DAC, the converter's four channels
// and the temperature sensor.
#pragma once

#include <cstdint>
#include <optional>

// Volts per converter count: the fixed decimal factors the tool has always printed with, not
// the multiples of 1/256 they come close to (0.01953, not 5/256 = 0.01953125).
constexpr double kVoltsPerCount3V3 = 0.01953;    // channel 1
constexpr double kVoltsPerCount5V = 0.02929;     // channel 2
constexpr double kVoltsPerCount24V = 0.12793;    // channel 3
constexpr double kVoltsPerDacUnit = 4.883;       // high-voltage output per -dao unit

// The stress loop's healthy window for the 3.3 V rail, both ends included.
constexpr double kRail3V3MinVolts = 3.1;
constexpr double kRail3V3MaxVolts = 3.5;

// What the command line asks of the I2C devices; an empty value or a false flag is not
// requested.
struct I2cRequests {
    int32_t eepromId = 0;      // -id, for -wre, -rde and -dumpe; 0 when not given
    int32_t writeValue = -1;   // -val; its low 8 bits are what -wre writes
    std::optional<int32_t> eepromWrite, eepromRead;   // byte addresses
    bool dump = false;
    bool stressLoop = false;
    std::optional<int32_t> dacValue;
    bool adcRead = false;
    std::optional<int32_t> tempInit;
    bool tempRead = false;
};

// Runs each requested I2C command once, in the fixed order -wre, -rde, -dumpe, -iictest,
// -dao, -adread, -tinit, -trd. A failing command is reported and the next one runs; when
// stopRequested() says yes before a command, that one and every later one are skipped.
void RunI2cCommands(const I2cRequests& requests, bool (*stopRequested)());

// A converter result's error code (device/contract.h), else 0 with *reading set.
int32_t AdcReadingOf(int32_t result, uint8_t* reading);

bool Rail3V3InBounds(uint8_t reading);

// The temperature sensor's raw reading is the low 16 bits of the result, signed.
int16_t TemperatureRawOf(int32_t result);

struct I2cStressCounts {
    uint64_t reads = 0;
    uint64_t errors = 0;
};

// Runs passes over both EEPROMs, the sensor and the converter until a key is pressed or
// the user asks the tool to stop; the ending key stays unread. buffer holds 1024 bytes.
I2cStressCounts RunI2cStressLoop(uint8_t* buffer);
