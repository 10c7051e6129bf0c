// sim/converter.cc: the converter chip at 0x90. Channels 1 to 3 measure the 3.3 V, 5 V and
// 24 V rails through dividers of 0.01953, 0.02929 and 0.12793 V per count; channel 0 watches
// the high-voltage monitor, which follows the 8-bit DAC. Each conversion carries up to one
// count of noise from a fixed pseudo-random sequence, so runs repeat exactly.
//
// Scenario keys:
//   adc.ch0 = <count>       channel 0 reads this raw count instead of the DAC monitor
//   adc.ch1 = <volts>       3.3 V rail (default 3.3); adc.ch2 (5.0) and adc.ch3 (24.0) alike
//   adc.noise = <counts>    largest noise step, 0 for exact readings (default 1)
//   adc.sag = <volts>       the 3.3 V rail dips by this much on every adc.sag.every-th
//   adc.sag.every = <N>     conversion of channel 1 (default 1: on every one)
//   adc.nak = 1             the chip answers nothing: ADC and DAC fail with "no acknowledge"
//   adc.seed = <number>     start of the noise sequence (default 1)
//   adc.transfer_us = <us>  bus time of one transfer with the chip (default 200, as at
//                           100 kHz); 0 answers at once
#include "sim/converter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "sim/errors.h"
#include "sim/clock.h"
#include "sim/scenario.h"

namespace sim {

constexpr uint8_t kConverterId = 0x90;
constexpr int32_t kChannels = 4;
constexpr int32_t kDacMax = 255;
constexpr double kVoltsPerCount[kChannels] = {0.0, 0.01953, 0.02929, 0.12793};
constexpr double kDefaultVolts[kChannels] = {0.0, 3.3, 5.0, 24.0};
static const char* const kChannelKeys[kChannels] = {"adc.ch0", "adc.ch1", "adc.ch2", "adc.ch3"};

struct Converter {
    int32_t dacValue = 0;             // the chip powers up with its output at 0
    uint32_t noiseState = 1;
    uint64_t rail3V3Conversions = 0;
    // settings, read at reset
    int32_t noise = 1;
    bool monitorFixed = false;
    int32_t monitorCount = 0;
    double railVolts[kChannels] = {};
    bool sags = false;
    double sagVolts = 0;
    uint64_t sagEvery = 1;
    bool naks = false;
    uint64_t transferNs = 200000;
};

static Converter gConverter;

void ConverterReset() {
    Converter& c = gConverter;
    c = Converter();
    c.noiseState = static_cast<uint32_t>(ScenarioInteger("adc.seed", 1));
    c.noise = static_cast<int32_t>(ScenarioInteger("adc.noise", 1));
    c.monitorFixed = ScenarioHas("adc.ch0");
    c.monitorCount = static_cast<int32_t>(ScenarioInteger("adc.ch0", 0));
    for (int32_t channel = 1; channel < kChannels; ++channel) {
        c.railVolts[channel] = ScenarioNumber(kChannelKeys[channel], kDefaultVolts[channel]);
    }
    c.sags = ScenarioHas("adc.sag");
    c.sagVolts = ScenarioNumber("adc.sag", 0.0);
    c.sagEvery = static_cast<uint64_t>(ScenarioInteger("adc.sag.every", 1));
    c.naks = ScenarioInteger("adc.nak", 0) != 0;
    c.transferNs = static_cast<uint64_t>(ScenarioInteger("adc.transfer_us", 200)) * 1000u;
}

// -noise..+noise counts from a linear congruential sequence; the high bits of the state
// are the well-mixed ones. The noise is at most 255 counts, so 2 * noise + 1 cannot overflow.
static int32_t NextNoise() {
    const int32_t noise = gConverter.noise;
    gConverter.noiseState = gConverter.noiseState * 1664525u + 1013904223u;
    if (noise == 0) return 0;
    return static_cast<int32_t>((gConverter.noiseState >> 16) % static_cast<uint32_t>(2 * noise + 1)) - noise;
}

static double RailVolts(int32_t channel) {
    double volts = gConverter.railVolts[channel];
    if (channel == 1 && gConverter.sags) {
        ++gConverter.rail3V3Conversions;
        if (gConverter.rail3V3Conversions % gConverter.sagEvery == 0) volts -= gConverter.sagVolts;
    }
    return volts;
}

// The count before noise: a rail through its divider, or the monitor's raw count.
static double IdealCount(int32_t channel) {
    if (channel == 0) return gConverter.monitorFixed ? gConverter.monitorCount : gConverter.dacValue;
    return RailVolts(channel) / kVoltsPerCount[channel];
}

// Address, command and data bytes at 100 kHz take about 0.2 ms; a NAK costs the same.
static void Transfer() {
    if (gConverter.transferNs > 0) PauseNs(gConverter.transferNs);
}

int32_t ConverterRead(uint8_t deviceId, int32_t channel, uint8_t* reading) {
    Transfer();
    if (deviceId != kConverterId || gConverter.naks) return kErrNoAck;
    if (channel < 0 || channel >= kChannels) return kErrChannel;
    // Clamped first: a rail may stand far outside the divider's range; the chip saturates at 0
    // and 255.
    const double ideal = std::clamp(IdealCount(channel), -1000.0, 1000.0);
    const long count = std::lround(ideal) + NextNoise();
    *reading = static_cast<uint8_t>(std::clamp<long>(count, 0, 255));
    return kOk;
}

int32_t ConverterDacOut(uint8_t deviceId, int32_t value) {
    Transfer();
    if (deviceId != kConverterId || gConverter.naks) return kErrNoAck;
    if (value < 0 || value > kDacMax) return kErrBadArgument;
    gConverter.dacValue = value;
    return kOk;
}

}  // namespace sim
