// tests/support/fake_device.h: a scripted stand-in for the device library, linked into the
// unit tests in its place. It records every call with its arguments and returns scripted
// results; its EEPROM cells start at 0xCC so that zeroed, erased and untouched bytes differ.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device/kelvoscanusb.h"

constexpr int32_t kFakeFailStatus = -777;
constexpr uint32_t kFakeEepromBytes = 128 * 1024;

struct FakeDevice {
    // "RegWrite(4, 1)", arguments in decimal, buffers left out. Error look-ups
    // (GetLastKelvoError, GetKelvoErrorText) are recorded too.
    std::vector<std::string> calls;

    // Results handed out in order per operation; when a queue runs dry, the default applies
    // (status 0, register writes 1, reads 0, the EEPROM ops act on the cells).
    std::map<std::string, std::deque<int64_t>> results;
    void Script(const std::string& operation, std::vector<int64_t> values);

    // Fails the Nth device call (error look-ups are not counted) with kFakeFailStatus, or 0
    // for the register writes.
    int failDeviceCall = 0;
    bool failureInjected = false;
    int deviceCalls = 0;

    uint16_t versions[4] = {0x0300, 0x0104, 0x0104, 0x0210};
    int32_t lastError = 0;
    std::map<int32_t, std::string> errorTexts;   // a code without a text: GetKelvoErrorText fails

    std::map<uint8_t, std::vector<uint8_t>> cells;   // per device ID, created on first use
    std::vector<uint8_t> Cells(uint8_t deviceId, uint32_t first, uint32_t count);
    std::vector<uint8_t>& Eeprom(uint8_t deviceId);

    // Optional replacements for the operations whose results are more than one number.
    std::function<int32_t(int32_t* length)> onLargeWrite;   // before the cells are written
    std::function<int32_t(uint8_t* buffer, int32_t* length)> onLargeRead;   // after they are read
    std::function<int32_t(ScannerStatus* status)> onScanStatus;
    std::function<int32_t(uint8_t* buffer, int32_t requested, int32_t* received)> onReadBlock;
    std::function<void()> onClearReadBlock;
    std::function<void(const std::string& operation)> onDeviceCall;   // while any device call runs

    int Count(const std::string& operation) const;   // calls of that operation
    std::vector<std::string> CallsOf(const std::string& operation) const;
};

extern FakeDevice gFakeDevice;
void ResetFakeDevice();
