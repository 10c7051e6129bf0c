// sim/api.cc: the exported operations of the virtual scanner, and nothing else. Each checks
// the interface state and the scenario's injected failures, hands the call to a part and
// records a failure as the last error.
#include "device/kelvoscanusb.h"

#include <cstring>

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

int32_t WriteResult(int32_t status) { return Finish(status) == kOk ? 1 : 0; }

template <typename Value>
Value ReadResult(int32_t status, uint32_t value) {
    return Finish(status) == kOk ? static_cast<Value>(value) : Value{0};
}

// The last address of a short I2C transfer is given in 8 bits: it is the low byte of the
// last address, which lies at most 255 bytes past the first.
uint32_t ShortTransferBytes(uint32_t first, uint8_t last) {
    return ((static_cast<uint32_t>(last) - first) & 0xFFu) + 1u;
}

uint32_t gTraceMask = 0;

}  // namespace

extern "C" {

void SimConfigure(const char* settings) {
    ScenarioReplace(settings);
    ReplayReset();
    FaultCountersReset();
    DeviceReset();
}

void SetTraceMask(uint32_t mask) {
    if (ReplayActive()) return ReplaySetTraceMask(mask);
    gTraceMask = mask;
}

int32_t Init_Interface(void) {
    AnnounceVirtualScanner();
    // A scenario that cannot be honoured stops the scanner before anything else, injected
    // failures included: they may be the very settings that were mistyped.
    if (!ScenarioValid()) return Finish(kErrScenario);
    if (ReplayActive()) return ReplayInit_Interface();
    const int32_t injected = InjectedFailure(Operation::kInit_Interface);
    if (injected != kOk) return Finish(injected);
    return Finish(DeviceOpen());
}

void SetUsbTimeout(uint32_t milliseconds) {
    if (ReplayActive()) return ReplaySetUsbTimeout(milliseconds);
    if (Finish(Enter(Operation::kSetUsbTimeout)) == kOk) SetUsbTimeoutMs(milliseconds);
}

int32_t GetKelvoVersion(uint16_t* hardware, uint16_t* firmware, uint16_t* library, uint16_t* usbDriver) {
    if (ReplayActive()) return ReplayGetKelvoVersion(hardware, firmware, library, usbDriver);
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

int32_t Init_Firmware(const char* fileName, int32_t useDefault) {
    if (ReplayActive()) return ReplayInit_Firmware(fileName, useDefault);
    int32_t status = Enter(Operation::kInit_Firmware);
    if (status == kOk && fileName == nullptr) status = kErrBadArgument;
    if (status != kOk) return Finish(status);
    // Reconfiguring the FPGA clears its registers and stops the stream, whatever the outcome.
    status = useDefault != 0 ? FirmwareLoadDefault(fileName) : FirmwareLoad(fileName);
    RegistersReset();
    return Finish(status);
}

int32_t Free_Interface(void) {
    if (ReplayActive()) return ReplayFree_Interface();
    const int32_t injected = InjectedFailure(Operation::kFree_Interface);
    if (injected != kOk) return Finish(injected);
    return Finish(DeviceClose());
}

// which = 0 reads the last error and clears it; any other value only reads it.
int32_t GetLastKelvoError(int32_t which) {
    if (ReplayActive()) return ReplayGetLastKelvoError(which);
    const int32_t code = LastError();
    if (which == 0) SetLastError(kOk);
    return code;
}

int32_t GetKelvoErrorText(int32_t code, char* text, uint32_t size) {
    if (ReplayActive()) return ReplayGetKelvoErrorText(code, text, size);
    const char* known = ErrorText(code);
    if (known == nullptr || text == nullptr || size == 0) return kErrBadArgument;
    std::strncpy(text, known, size - 1);
    text[size - 1] = '\0';
    return kOk;
}

int32_t RegWrite(uint32_t address, uint8_t value) {
    if (ReplayActive()) return ReplayRegWrite(address, value);
    int32_t status = Enter(Operation::kRegWrite);
    if (status == kOk) status = RegisterWrite(address, value, 1);
    return WriteResult(status);
}

int32_t RegWriteShort(uint32_t address, uint16_t value) {
    if (ReplayActive()) return ReplayRegWriteShort(address, value);
    int32_t status = Enter(Operation::kRegWriteShort);
    if (status == kOk) status = RegisterWrite(address, value, 2);
    return WriteResult(status);
}

int32_t RegWriteLong(uint32_t address, uint32_t value) {
    if (ReplayActive()) return ReplayRegWriteLong(address, value);
    int32_t status = Enter(Operation::kRegWriteLong);
    if (status == kOk) status = RegisterWrite(address, value, 4);
    return WriteResult(status);
}

int32_t RegWriteLongInc(uint32_t address, uint32_t value) {
    if (ReplayActive()) return ReplayRegWriteLongInc(address, value);
    int32_t status = Enter(Operation::kRegWriteLongInc);
    if (status == kOk) status = RegisterWriteLongInc(address, value);
    return WriteResult(status);
}

uint8_t RegRead(uint32_t address) {
    if (ReplayActive()) return ReplayRegRead(address);
    uint32_t value = 0;
    int32_t status = Enter(Operation::kRegRead);
    if (status == kOk) status = RegisterRead(address, 1, &value);
    return ReadResult<uint8_t>(status, value);
}

uint16_t RegReadShort(uint32_t address) {
    if (ReplayActive()) return ReplayRegReadShort(address);
    uint32_t value = 0;
    int32_t status = Enter(Operation::kRegReadShort);
    if (status == kOk) status = RegisterRead(address, 2, &value);
    return ReadResult<uint16_t>(status, value);
}

uint16_t RegReadShortInc(uint32_t address) {
    if (ReplayActive()) return ReplayRegReadShortInc(address);
    uint32_t value = 0;
    int32_t status = Enter(Operation::kRegReadShortInc);
    if (status == kOk) status = RegisterReadInc(address, 2, &value);
    return ReadResult<uint16_t>(status, value);
}

uint32_t RegReadLong(uint32_t address) {
    if (ReplayActive()) return ReplayRegReadLong(address);
    uint32_t value = 0;
    int32_t status = Enter(Operation::kRegReadLong);
    if (status == kOk) status = RegisterRead(address, 4, &value);
    return ReadResult<uint32_t>(status, value);
}

uint32_t RegReadLongInc(uint32_t address) {
    if (ReplayActive()) return ReplayRegReadLongInc(address);
    uint32_t value = 0;
    int32_t status = Enter(Operation::kRegReadLongInc);
    if (status == kOk) status = RegisterReadInc(address, 4, &value);
    return ReadResult<uint32_t>(status, value);
}

int32_t I2C_PROM_write(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress) {
    if (ReplayActive()) return ReplayI2C_PROM_write(buffer, deviceId, firstAddress, lastAddress);
    int32_t status = Enter(Operation::kI2C_PROM_write);
    if (status == kOk && buffer == nullptr) status = kErrBadArgument;
    uint32_t moved = 0;
    if (status == kOk) {
        status = EepromWrite(deviceId, firstAddress, buffer,
                             ShortTransferBytes(firstAddress, lastAddress), &moved);
    }
    return Finish(status);
}

int32_t I2C_PROM_read(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress) {
    if (ReplayActive()) return ReplayI2C_PROM_read(buffer, deviceId, firstAddress, lastAddress);
    int32_t status = Enter(Operation::kI2C_PROM_read);
    if (status == kOk && buffer == nullptr) status = kErrBadArgument;
    uint32_t moved = 0;
    if (status == kOk) {
        status = EepromRead(deviceId, firstAddress, buffer,
                            ShortTransferBytes(firstAddress, lastAddress), &moved);
    }
    return Finish(status);
}

int32_t I2C_LargePROMwr(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length) {
    if (ReplayActive()) return ReplayI2C_LargePROMwr(deviceId, startAddress, buffer, length);
    int32_t status = Enter(Operation::kI2C_LargePROMwr);
    if (status == kOk && (buffer == nullptr || length == nullptr || *length < 0)) status = kErrBadArgument;
    if (status == kOk) {
        uint32_t moved = 0;
        status = EepromWrite(deviceId, startAddress, buffer, static_cast<uint32_t>(*length), &moved);
        *length = static_cast<int32_t>(moved);
    }
    return Finish(status);
}

int32_t I2C_LargePROMrd(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length) {
    if (ReplayActive()) return ReplayI2C_LargePROMrd(deviceId, startAddress, buffer, length);
    int32_t status = Enter(Operation::kI2C_LargePROMrd);
    if (status == kOk && (buffer == nullptr || length == nullptr || *length < 0)) status = kErrBadArgument;
    if (status == kOk) {
        uint32_t moved = 0;
        status = EepromRead(deviceId, startAddress, buffer, static_cast<uint32_t>(*length), &moved);
        *length = static_cast<int32_t>(moved);
    }
    return Finish(status);
}

// The reading, or a negative error code.
int32_t I2C_ADCread(uint8_t deviceId, int32_t channel) {
    if (ReplayActive()) return ReplayI2C_ADCread(deviceId, channel);
    uint8_t reading = 0;
    int32_t status = Enter(Operation::kI2C_ADCread);
    if (status == kOk) status = ConverterRead(deviceId, channel, &reading);
    return Finish(status) == kOk ? reading : status;
}

int32_t I2C_DACout(uint8_t deviceId, int32_t value) {
    if (ReplayActive()) return ReplayI2C_DACout(deviceId, value);
    int32_t status = Enter(Operation::kI2C_DACout);
    if (status == kOk) status = ConverterDacOut(deviceId, value);
    return Finish(status);
}

int32_t I2C_TEMPinit(uint8_t deviceId, int32_t value) {
    if (ReplayActive()) return ReplayI2C_TEMPinit(deviceId, value);
    int32_t status = Enter(Operation::kI2C_TEMPinit);
    if (status == kOk) status = TempSensorInit(deviceId, value);
    return Finish(status);
}

// The raw reading, or -32768 when the sensor could not be read.
int32_t I2C_TEMPread(uint8_t deviceId) {
    if (ReplayActive()) return ReplayI2C_TEMPread(deviceId);
    int16_t raw = 0;
    int32_t status = Enter(Operation::kI2C_TEMPread);
    if (status == kOk) status = TempSensorRead(deviceId, &raw);
    return Finish(status) == kOk ? raw : -32768;
}

int32_t Pentamotor_init(int32_t revolutions) {
    if (ReplayActive()) return ReplayPentamotor_init(revolutions);
    int32_t status = Enter(Operation::kPentamotor_init);
    if (status == kOk) status = MotorStart(revolutions);
    return Finish(status);
}

// The line count, or 0x08000000 when it could not be read.
int32_t Anz_ScanLine(void) {
    if (ReplayActive()) return ReplayAnz_ScanLine();
    int32_t lines = 0;
    int32_t status = Enter(Operation::kAnz_ScanLine);
    if (status == kOk) status = ScanLineCount(&lines);
    return Finish(status) == kOk ? lines : 0x08000000;
}

int32_t GetScanStatus(ScannerStatus* status) {
    if (ReplayActive()) return ReplayGetScanStatus(status);
    int32_t result = Enter(Operation::kGetScanStatus);
    if (result == kOk && status == nullptr) result = kErrBadArgument;
    if (result == kOk) result = StatusRead(status);
    return Finish(result);
}

int32_t ReadBlock(uint8_t* buffer, int32_t requested, int32_t* received) {
    if (ReplayActive()) return ReplayReadBlock(buffer, requested, received);
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

void ClearReadBlock(void) {
    if (ReplayActive()) return ReplayClearReadBlock();
    const int32_t status = Enter(Operation::kClearReadBlock);
    if (status == kOk) StreamClear();
    Finish(status);
}

}  // extern "C"
