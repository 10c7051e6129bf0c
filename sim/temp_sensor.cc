// sim/temp_sensor.cc: the temperature sensor at 0x92. Its reading is the temperature in
// whole degrees Celsius as a signed 16-bit value (25 °C reads 0x0019, -50 °C reads 0xFFCE),
// limited to the sensor's range of -55 to 150 °C, so a working sensor never gives the
// failure value (kTemperatureFailure). The configuration is one byte; bit 0 shuts the
// converter down, and a read then gets no answer until a configuration with bit 0 clear wakes it.
//
// Scenario keys:
//   temp.celsius = <degrees>   the temperature the sensor sees (default 25)
//   temp.fail = 1              the sensor answers nothing: initialisation and read fail
//   temp.transfer_us = <us>    bus time of one transfer (default 200, as at 100 kHz)
#include "sim/temp_sensor.h"

#include <algorithm>
#include <cmath>

#include "sim/errors.h"
#include "sim/clock.h"
#include "sim/scenario.h"

namespace sim {

constexpr uint8_t kTempSensorId = 0x92;
constexpr int32_t kShutdownBit = 0x01;
constexpr double kLowestCelsius = -55.0;
constexpr double kHighestCelsius = 150.0;

struct TempSensor {
    int32_t configuration = 0;   // power-up: converting continuously
    // settings, read at reset
    int16_t raw = 25;
    bool fails = false;
    uint64_t transferNs = 200000;
};

static TempSensor gSensor;

void TempSensorReset() {
    gSensor = TempSensor();
    // The scenario's temperature is finite (checked when read); the sensor holds it to its range.
    const double celsius = std::clamp(ScenarioNumber("temp.celsius", 25.0), kLowestCelsius, kHighestCelsius);
    gSensor.raw = static_cast<int16_t>(std::lround(celsius));
    gSensor.fails = ScenarioInteger("temp.fail", 0) != 0;
    gSensor.transferNs = static_cast<uint64_t>(ScenarioInteger("temp.transfer_us", 200)) * 1000u;
}

// Spends the bus time of one transfer, then says whether the sensor answered it.
static int32_t Addressed(uint8_t deviceId) {
    if (gSensor.transferNs > 0) PauseNs(gSensor.transferNs);
    if (deviceId != kTempSensorId) return kErrNoAck;
    if (gSensor.fails) return kErrSensor;
    return kOk;
}

int32_t TempSensorInit(uint8_t deviceId, int32_t configuration) {
    const int32_t status = Addressed(deviceId);
    if (status != kOk) return status;
    if (configuration < 0 || configuration > 0xFF) return kErrBadArgument;   // one register byte
    gSensor.configuration = configuration;
    return kOk;
}

int32_t TempSensorRead(uint8_t deviceId, int16_t* raw) {
    const int32_t status = Addressed(deviceId);
    if (status != kOk) return status;
    if ((gSensor.configuration & kShutdownBit) != 0) return kErrSensor;
    *raw = gSensor.raw;
    return kOk;
}

}  // namespace sim
