// fuzz/sim_scenario_fuzz.cc: the virtual scanner's scenario parser on arbitrary text. A text
// it accepts is then put in force and every part is reset and used once with it, so that a
// value the table lets through but a part cannot handle (an overflow, a division by zero)
// shows up under the sanitizers.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/converter.h"
#include "sim/device.h"
#include "sim/faults.h"
#include "sim/motor.h"
#include "sim/scenario.h"
#include "sim/stream.h"
#include "sim/temp_sensor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    sim::Scenario scenario;
    sim::ParseScenarioText(text, "fuzz", scenario);
    if (scenario.errors.size() > sim::kScenarioErrorsKept + 1) std::abort();
    if (!scenario.errors.empty()) return 0;
    // State files would be created wherever the text points, and a replay reads the trace it
    // names (the replay's reader has a fuzz target of its own).
    if (scenario.settings.count("eeprom.dir") != 0 || scenario.settings.count("eeprom.a0.file") != 0 ||
        scenario.settings.count("eeprom.a2.file") != 0 || scenario.settings.count("replay") != 0) {
        return 0;
    }
    // Bus times off, so that a run takes microseconds; later keys win.
    const std::string settings = std::string(text) + "\nadc.transfer_us = 0\ntemp.transfer_us = 0\n";
    sim::ScenarioReplace(settings.c_str());
    if (!sim::ScenarioValid()) std::abort();   // what was accepted once is accepted again
    sim::FaultCountersReset();
    sim::DeviceReset();
    if (sim::DeviceOpen() != 0) std::abort();
    for (int op = 0; op < kOperationCount; ++op) {
        (void)sim::InjectedFailure(static_cast<sim::Operation>(op));
    }
    uint8_t reading = 0;
    for (int32_t channel = 0; channel < 4; ++channel) (void)sim::ConverterRead(0x90, channel, &reading);
    int16_t raw = 0;
    (void)sim::TempSensorRead(0x92, &raw);
    (void)sim::MotorStart(5);
    int32_t lines = 0;
    (void)sim::ScanLineCount(&lines);
    ScannerStatus status{};
    (void)sim::StatusRead(&status);
    sim::StreamSetGate(true);
    uint8_t buffer[4096];
    int32_t received = 0;
    (void)sim::StreamRead(buffer, sizeof buffer, &received, 0);
    if (received < 0 || received > static_cast<int32_t>(sizeof buffer) || received % 2 != 0) std::abort();
    sim::DeviceClose();
    return 0;
}
