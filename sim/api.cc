// sim/api.cc: the exported operations of the virtual scanner, and the simulated scanner's
// table of them. Each operation of the model checks the interface state and the scenario's
// injected failures, hands the call to a part and records a failure as the last error.
#include "device/kelvoscanusb.h"

#include <cstring>

#include "device/contract.h"
#include "sim/backend.h"
#include "sim/clock.h"
#include "sim/converter.h"
#include "sim/device.h"
#include "sim/errors.h"
#include "sim/faults.h"
#include "sim/firmware.h"
#include "sim/i2c_bus.h"
#include "sim/motor.h"
#include "sim/registers.h"
#include "sim/replay.h"
#include "sim/scenario.h"
#include "sim/stream.h"
#include "sim/temp_sensor.h"

using namespace sim;

extern "C" KELVO_API void SimConfigure(const char* settings);
// The clock, pauses and stop request the virtual scanner uses in place of the host's (nullptr:
// the host's), for tests that move the clock themselves. raiseStop returns 0 on success.
extern "C" KELVO_API void SimUseClock(uint64_t (*nowNs)(void), void (*pauseNs)(uint64_t), int (*raiseStop)(void));

namespace {

// Counts the call for the scenario and checks that the interface is open. 0: go ahead.
int32_t Enter(Operation operation) {
    const int32_t injected = InjectedFailure(operation);
    if (!DeviceIsOpen()) return kErrNotOpen;
    return injected;
}

int32_t Finish(int32_t status) {
    if (status != kOk) SetLastError(status);
    return status;
}

template <typename Value>
Value ReadResult(int32_t status, uint32_t value) {
    return Finish(status) == kOk ? static_cast<Value>(value) : Value{0};
}

int32_t RegisterWriteOf(Operation operation, uint32_t address, uint32_t value, uint32_t bytes) {
    int32_t status = Enter(operation);
    if (status == kOk) status = RegisterWrite(address, value, bytes);
    return RegisterWriteResult(Finish(status) == kOk);
}

template <typename Value>
Value RegisterReadOf(Operation operation, uint32_t address, uint32_t bytes, bool increment) {
    uint32_t value = 0;
    int32_t status = Enter(operation);
    if (status == kOk) status = increment ? RegisterReadInc(address, bytes, &value) : RegisterRead(address, bytes, &value);
    return ReadResult<Value>(status, value);
}

int32_t EepromTransfer(Operation operation, uint8_t deviceId, uint32_t first, uint8_t* buffer, int32_t* length,
                       bool write) {
    int32_t status = Enter(operation);
    if (status == kOk && (buffer == nullptr || length == nullptr || *length < 0)) status = kErrBadArgument;
    if (status == kOk) {
        uint32_t moved = 0;
        const auto count = static_cast<uint32_t>(*length);
        status = write ? EepromWrite(deviceId, first, buffer, count, &moved) : EepromRead(deviceId, first, buffer, count, &moved);
        *length = static_cast<int32_t>(moved);
    }
    return Finish(status);
}

}  // namespace

// The simulated scanner's operations.
namespace model {

// The mask selects the library's own debug output, which the virtual scanner does not have.
void SetTraceMask(uint32_t) noexcept {}

// A scenario that cannot be honoured stops the scanner before anything else, injected
// failures included: they may be the very settings that were mistyped.
int32_t Init_Interface() noexcept {
    AnnounceVirtualScanner();
    if (!ScenarioValid()) return Finish(kErrScenario);
    const int32_t injected = InjectedFailure(Operation::kInit_Interface);
    if (injected != kOk) return Finish(injected);
    return Finish(DeviceOpen());
}

void SetUsbTimeout(uint32_t milliseconds) noexcept {
    if (Finish(Enter(Operation::kSetUsbTimeout)) == kOk) SetUsbTimeoutMs(milliseconds);
}

int32_t GetKelvoVersion(uint16_t* hardware, uint16_t* firmware, uint16_t* library, uint16_t* usbDriver) noexcept {
    int32_t status = Enter(Operation::kGetKelvoVersion);
    if (status == kOk && (hardware == nullptr || firmware == nullptr || library == nullptr ||
                          usbDriver == nullptr)) {
        status = kErrBadArgument;
    }
    if (status == kOk) {
        const Versions versions = DeviceVersions();
        *hardware = versions.hardware;
        *firmware = versions.firmware;
        *library = versions.library;
        *usbDriver = versions.usbDriver;
    }
    return Finish(status);
}

int32_t Init_Firmware(const char* fileName, int32_t useDefault) noexcept {
    int32_t status = Enter(Operation::kInit_Firmware);
    if (status == kOk && fileName == nullptr) status = kErrBadArgument;
    if (status != kOk) return Finish(status);
    // Reconfiguring the FPGA clears its registers and stops the stream, whatever the outcome.
    status = useDefault != 0 ? FirmwareLoadDefault(fileName) : FirmwareLoad(fileName);
    RegistersReset();
    return Finish(status);
}

int32_t Free_Interface() noexcept {
    const int32_t injected = InjectedFailure(Operation::kFree_Interface);
    if (injected != kOk) return Finish(injected);
    return Finish(DeviceClose());
}

// which = 0 reads the last error and clears it; any other value only reads it.
int32_t GetLastKelvoError(int32_t which) noexcept {
    const int32_t code = LastError();
    if (which == 0) SetLastError(kOk);
    return code;
}

int32_t GetKelvoErrorText(int32_t code, char* text, uint32_t size) noexcept {
    const char* known = ErrorText(code);
    if (known == nullptr) known = ErrorText(AdcErrorCause(code));
    if (known == nullptr || text == nullptr || size == 0) return kErrBadArgument;
    std::strncpy(text, known, size - 1);
    text[size - 1] = '\0';
    return kOk;
}

int32_t RegWrite(uint32_t address, uint8_t value) noexcept {
    return RegisterWriteOf(Operation::kRegWrite, address, value, 1);
}
int32_t RegWriteShort(uint32_t address, uint16_t value) noexcept {
    return RegisterWriteOf(Operation::kRegWriteShort, address, value, 2);
}
int32_t RegWriteLong(uint32_t address, uint32_t value) noexcept {
    return RegisterWriteOf(Operation::kRegWriteLong, address, value, 4);
}

int32_t RegWriteLongInc(uint32_t address, uint32_t value) noexcept {
    int32_t status = Enter(Operation::kRegWriteLongInc);
    if (status == kOk) status = RegisterWriteLongInc(address, value);
    return RegisterWriteResult(Finish(status) == kOk);
}

uint8_t RegRead(uint32_t address) noexcept { return RegisterReadOf<uint8_t>(Operation::kRegRead, address, 1, false); }
uint16_t RegReadShort(uint32_t address) noexcept {
    return RegisterReadOf<uint16_t>(Operation::kRegReadShort, address, 2, false);
}
uint16_t RegReadShortInc(uint32_t address) noexcept {
    return RegisterReadOf<uint16_t>(Operation::kRegReadShortInc, address, 2, true);
}
uint32_t RegReadLong(uint32_t address) noexcept {
    return RegisterReadOf<uint32_t>(Operation::kRegReadLong, address, 4, false);
}
uint32_t RegReadLongInc(uint32_t address) noexcept {
    return RegisterReadOf<uint32_t>(Operation::kRegReadLongInc, address, 4, true);
}

int32_t I2C_PROM_write(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress) noexcept {
    auto length = static_cast<int32_t>(ShortTransferBytes(firstAddress, lastAddress));
    return EepromTransfer(Operation::kI2C_PROM_write, deviceId, firstAddress, buffer, &length, true);
}

int32_t I2C_PROM_read(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress) noexcept {
    auto length = static_cast<int32_t>(ShortTransferBytes(firstAddress, lastAddress));
    return EepromTransfer(Operation::kI2C_PROM_read, deviceId, firstAddress, buffer, &length, false);
}

int32_t I2C_LargePROMwr(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length) noexcept {
    return EepromTransfer(Operation::kI2C_LargePROMwr, deviceId, startAddress, buffer, length, true);
}

int32_t I2C_LargePROMrd(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length) noexcept {
    return EepromTransfer(Operation::kI2C_LargePROMrd, deviceId, startAddress, buffer, length, false);
}

int32_t I2C_ADCread(uint8_t deviceId, int32_t channel) noexcept {
    uint8_t reading = 0;
    int32_t status = Enter(Operation::kI2C_ADCread);
    if (status == kOk) status = ConverterRead(deviceId, channel, &reading);
    return Finish(status) == kOk ? reading : AdcErrorResult(status);
}

int32_t I2C_DACout(uint8_t deviceId, int32_t value) noexcept {
    int32_t status = Enter(Operation::kI2C_DACout);
    if (status == kOk) status = ConverterDacOut(deviceId, value);
    return Finish(status);
}

int32_t I2C_TEMPinit(uint8_t deviceId, int32_t value) noexcept {
    int32_t status = Enter(Operation::kI2C_TEMPinit);
    if (status == kOk) status = TempSensorInit(deviceId, value);
    return Finish(status);
}

int32_t I2C_TEMPread(uint8_t deviceId) noexcept {
    int16_t raw = 0;
    int32_t status = Enter(Operation::kI2C_TEMPread);
    if (status == kOk) status = TempSensorRead(deviceId, &raw);
    return Finish(status) == kOk ? raw : kTemperatureFailure;
}

int32_t Pentamotor_init(int32_t revolutions) noexcept {
    int32_t status = Enter(Operation::kPentamotor_init);
    if (status == kOk) status = MotorStart(revolutions);
    return Finish(status);
}

int32_t Anz_ScanLine() noexcept {
    int32_t lines = 0;
    int32_t status = Enter(Operation::kAnz_ScanLine);
    if (status == kOk) status = ScanLineCount(&lines);
    return Finish(status) == kOk ? lines : kScanLineFailure;
}

int32_t GetScanStatus(ScannerStatus* status) noexcept {
    int32_t result = Enter(Operation::kGetScanStatus);
    if (result == kOk && status == nullptr) result = kErrBadArgument;
    if (result == kOk) result = StatusRead(status);
    return Finish(result);
}

int32_t ReadBlock(uint8_t* buffer, int32_t requested, int32_t* received) noexcept {
    int32_t status = Enter(Operation::kReadBlock);
    if (status == kOk && (buffer == nullptr || received == nullptr || requested < 0)) {
        status = kErrBadArgument;
    }
    if (received != nullptr) *received = 0;
    if (status == kOk) status = StreamRead(buffer, requested, received, UsbTimeoutMs());
    // The data that came is good; the loss before it is the news, kept as the last error.
    if (status == kOk && StreamTakeLoss()) SetLastError(kErrFifoOverflow);
    return Finish(status);
}

void ClearReadBlock() noexcept {
    const int32_t status = Enter(Operation::kClearReadBlock);
    if (status == kOk) StreamClear();
    Finish(status);
}

}  // namespace model

namespace sim {

namespace {

#define KELVO_FILL(result, name, parameters, arguments) &model::name,
constexpr Backend kModel = {KELVO_OPERATIONS(KELVO_FILL)};
#undef KELVO_FILL

const Backend* gChosen = nullptr;

}  // namespace

// A scenario that cannot be honoured leaves the model in charge, which refuses to open.
const Backend& ChosenBackend() {
    if (gChosen == nullptr) gChosen = ScenarioValid() && ScenarioHas("replay") ? &ReplayBackend() : &kModel;
    return *gChosen;
}

void ChooseBackendAgain() { gChosen = nullptr; }

}  // namespace sim

extern "C" {

void SimConfigure(const char* settings) {
    ScenarioReplace(settings);
    ReplayReset();
    ChooseBackendAgain();
    FaultCountersReset();
    DeviceReset();
}

void SimUseClock(uint64_t (*nowNs)(void), void (*pauseNs)(uint64_t), int (*raiseStop)(void)) {
    UseClock(nowNs, pauseNs, raiseStop);
}

#define KELVO_EXPORT(result, name, parameters, arguments) \
    result name parameters { return ChosenBackend().name arguments; }
KELVO_OPERATIONS(KELVO_EXPORT)
#undef KELVO_EXPORT

}  // extern "C"
