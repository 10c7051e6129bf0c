// tests/support/fake_device.cc: the scripted fake device library.
#include "tests/support/fake_device.h"

#include <algorithm>
#include <cstring>

#include "device/contract.h"

FakeDevice gFakeDevice;

void ResetFakeDevice() { gFakeDevice = FakeDevice(); }

void FakeDevice::Script(const std::string& operation, std::vector<int64_t> values) {
    auto& queue = results[operation];
    queue.insert(queue.end(), values.begin(), values.end());
}

std::vector<uint8_t>& FakeDevice::Eeprom(uint8_t deviceId) {
    auto found = cells.find(deviceId);
    if (found == cells.end()) found = cells.emplace(deviceId, std::vector<uint8_t>(kFakeEepromBytes, 0xCC)).first;
    return found->second;
}

std::vector<uint8_t> FakeDevice::Cells(uint8_t deviceId, uint32_t first, uint32_t count) {
    const std::vector<uint8_t>& eeprom = Eeprom(deviceId);
    return std::vector<uint8_t>(eeprom.begin() + first, eeprom.begin() + first + count);
}

int FakeDevice::Count(const std::string& operation) const {
    return static_cast<int>(CallsOf(operation).size());
}

std::vector<std::string> FakeDevice::CallsOf(const std::string& operation) const {
    std::vector<std::string> found;
    for (const std::string& call : calls) {
        if (call.compare(0, operation.size() + 1, operation + "(") == 0) found.push_back(call);
    }
    return found;
}

namespace {

template <typename... Args>
void Record(const char* operation, Args... args) {
    std::string call = std::string(operation) + "(";
    bool first = true;
    ((call += (first ? "" : ", ") + std::to_string(args), first = false), ...);
    gFakeDevice.calls.push_back(call + ")");
}

// A device call: counts it for failDeviceCall and takes a scripted result if there is one.
// Returns true with *result set when the call is decided here.
bool Decide(const char* operation, int64_t failValue, int64_t* result) {
    ++gFakeDevice.deviceCalls;
    if (gFakeDevice.onDeviceCall) gFakeDevice.onDeviceCall(operation);
    if (gFakeDevice.failDeviceCall == gFakeDevice.deviceCalls) {
        gFakeDevice.failureInjected = true;
        gFakeDevice.lastError = kFakeFailStatus;
        *result = failValue;
        return true;
    }
    auto found = gFakeDevice.results.find(operation);
    if (found == gFakeDevice.results.end() || found->second.empty()) return false;
    *result = found->second.front();
    found->second.pop_front();
    return true;
}

int32_t Status(const char* operation) {
    int64_t result = 0;
    Decide(operation, kFakeFailStatus, &result);
    return static_cast<int32_t>(result);
}

int32_t RegisterWriteResult(const char* operation) {
    int64_t result = 1;
    Decide(operation, 0, &result);
    return static_cast<int32_t>(result);
}

int64_t Value(const char* operation, int64_t fallback) {
    int64_t result = fallback;
    Decide(operation, fallback, &result);
    return result;
}

uint32_t ShortBytes(uint32_t first, uint8_t last) { return ((last - first) & 0xFFu) + 1u; }

}  // namespace

extern "C" {

void SetTraceMask(uint32_t mask) { Record("SetTraceMask", mask); }

int32_t Init_Interface(void) {
    Record("Init_Interface");
    return Status("Init_Interface");
}

void SetUsbTimeout(uint32_t milliseconds) {
    Record("SetUsbTimeout", milliseconds);
    int64_t ignored = 0;
    Decide("SetUsbTimeout", 0, &ignored);
}

int32_t GetKelvoVersion(uint16_t* hardware, uint16_t* firmware, uint16_t* library, uint16_t* usbDriver) {
    Record("GetKelvoVersion");
    *hardware = gFakeDevice.versions[0];
    *firmware = gFakeDevice.versions[1];
    *library = gFakeDevice.versions[2];
    *usbDriver = gFakeDevice.versions[3];
    return Status("GetKelvoVersion");
}

int32_t Init_Firmware(const char* fileName, int32_t useDefault) {
    gFakeDevice.calls.push_back(std::string("Init_Firmware(") + fileName + ", " +
                                std::to_string(useDefault) + ")");
    return Status("Init_Firmware");
}

int32_t Free_Interface(void) {
    Record("Free_Interface");
    return Status("Free_Interface");
}

int32_t GetLastKelvoError(int32_t which) {
    Record("GetLastKelvoError", which);
    return gFakeDevice.lastError;
}

int32_t GetKelvoErrorText(int32_t code, char* text, uint32_t size) {
    Record("GetKelvoErrorText", code);
    const auto found = gFakeDevice.errorTexts.find(code);
    if (found == gFakeDevice.errorTexts.end()) return -1;
    std::strncpy(text, found->second.c_str(), size - 1);
    text[size - 1] = '\0';
    return 0;
}

int32_t RegWrite(uint32_t address, uint8_t value) {
    Record("RegWrite", address, value);
    return RegisterWriteResult("RegWrite");
}
int32_t RegWriteShort(uint32_t address, uint16_t value) {
    Record("RegWriteShort", address, value);
    return RegisterWriteResult("RegWriteShort");
}
int32_t RegWriteLong(uint32_t address, uint32_t value) {
    Record("RegWriteLong", address, value);
    return RegisterWriteResult("RegWriteLong");
}
int32_t RegWriteLongInc(uint32_t address, uint32_t value) {
    Record("RegWriteLongInc", address, value);
    return RegisterWriteResult("RegWriteLongInc");
}
uint8_t RegRead(uint32_t address) {
    Record("RegRead", address);
    return static_cast<uint8_t>(Value("RegRead", 0));
}
uint16_t RegReadShort(uint32_t address) {
    Record("RegReadShort", address);
    return static_cast<uint16_t>(Value("RegReadShort", 0));
}
uint16_t RegReadShortInc(uint32_t address) {
    Record("RegReadShortInc", address);
    return static_cast<uint16_t>(Value("RegReadShortInc", 0));
}
uint32_t RegReadLong(uint32_t address) {
    Record("RegReadLong", address);
    return static_cast<uint32_t>(Value("RegReadLong", 0));
}
uint32_t RegReadLongInc(uint32_t address) {
    Record("RegReadLongInc", address);
    return static_cast<uint32_t>(Value("RegReadLongInc", 0));
}

int32_t I2C_PROM_write(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress) {
    Record("I2C_PROM_write", deviceId, firstAddress, lastAddress);
    int64_t result = 0;
    if (Decide("I2C_PROM_write", kFakeFailStatus, &result)) return static_cast<int32_t>(result);
    std::vector<uint8_t>& eeprom = gFakeDevice.Eeprom(deviceId);
    const uint32_t count = ShortBytes(firstAddress, lastAddress);
    for (uint32_t i = 0; i < count && firstAddress + i < eeprom.size(); ++i) eeprom[firstAddress + i] = buffer[i];
    return 0;
}

int32_t I2C_PROM_read(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress) {
    Record("I2C_PROM_read", deviceId, firstAddress, lastAddress);
    int64_t result = 0;
    if (Decide("I2C_PROM_read", kFakeFailStatus, &result)) return static_cast<int32_t>(result);
    const std::vector<uint8_t>& eeprom = gFakeDevice.Eeprom(deviceId);
    const uint32_t count = ShortBytes(firstAddress, lastAddress);
    for (uint32_t i = 0; i < count && firstAddress + i < eeprom.size(); ++i) buffer[i] = eeprom[firstAddress + i];
    return 0;
}

int32_t I2C_LargePROMwr(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length) {
    Record("I2C_LargePROMwr", deviceId, startAddress, *length);
    int64_t result = 0;
    if (Decide("I2C_LargePROMwr", kFakeFailStatus, &result)) return static_cast<int32_t>(result);
    if (gFakeDevice.onLargeWrite) {
        const int32_t status = gFakeDevice.onLargeWrite(length);
        if (status != 0) return status;
    }
    std::vector<uint8_t>& eeprom = gFakeDevice.Eeprom(deviceId);
    for (int32_t i = 0; i < *length && startAddress + i < eeprom.size(); ++i) eeprom[startAddress + i] = buffer[i];
    return 0;
}

int32_t I2C_LargePROMrd(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length) {
    Record("I2C_LargePROMrd", deviceId, startAddress, *length);
    int64_t result = 0;
    if (Decide("I2C_LargePROMrd", kFakeFailStatus, &result)) return static_cast<int32_t>(result);
    const std::vector<uint8_t>& eeprom = gFakeDevice.Eeprom(deviceId);
    for (int32_t i = 0; i < *length && startAddress + i < eeprom.size(); ++i) buffer[i] = eeprom[startAddress + i];
    return gFakeDevice.onLargeRead ? gFakeDevice.onLargeRead(buffer, length) : 0;
}

int32_t I2C_ADCread(uint8_t deviceId, int32_t channel) {
    Record("I2C_ADCread", deviceId, channel);
    return static_cast<int32_t>(Value("I2C_ADCread", 0));
}
int32_t I2C_DACout(uint8_t deviceId, int32_t value) {
    Record("I2C_DACout", deviceId, value);
    return Status("I2C_DACout");
}
int32_t I2C_TEMPinit(uint8_t deviceId, int32_t value) {
    Record("I2C_TEMPinit", deviceId, value);
    return Status("I2C_TEMPinit");
}
int32_t I2C_TEMPread(uint8_t deviceId) {
    Record("I2C_TEMPread", deviceId);
    return static_cast<int32_t>(Value("I2C_TEMPread", 0));
}

int32_t Pentamotor_init(int32_t revolutions) {
    Record("Pentamotor_init", revolutions);
    return Status("Pentamotor_init");
}
int32_t Anz_ScanLine(void) {
    Record("Anz_ScanLine");
    return static_cast<int32_t>(Value("Anz_ScanLine", 0));
}
int32_t GetScanStatus(ScannerStatus* status) {
    Record("GetScanStatus");
    int64_t result = 0;
    if (Decide("GetScanStatus", kFakeFailStatus, &result)) return static_cast<int32_t>(result);
    return gFakeDevice.onScanStatus ? gFakeDevice.onScanStatus(status) : 0;
}

int32_t ReadBlock(uint8_t* buffer, int32_t requested, int32_t* received) {
    Record("ReadBlock", requested);
    int64_t result = 0;
    if (Decide("ReadBlock", kFakeFailStatus, &result)) {
        *received = 0;
        return static_cast<int32_t>(result);
    }
    if (gFakeDevice.onReadBlock) return gFakeDevice.onReadBlock(buffer, requested, received);
    *received = 0;
    return kNoDataStatus;
}

void ClearReadBlock(void) {
    Record("ClearReadBlock");
    int64_t ignored = 0;
    Decide("ClearReadBlock", 0, &ignored);
    if (gFakeDevice.onClearReadBlock) gFakeDevice.onClearReadBlock();
}

}  // extern "C"
