// sim/replay.h: the virtual scanner answering from a trace of the recording library. With
// "replay = FILE" in the scenario every operation takes its result and data from the
// recording, in order ("replay.pace = recorded": no earlier than it came on the bench). A
// call that differs from the recording stops the replay with a message on stderr; from then
// on every operation fails with kErrReplay. The matching rules are in replay.cc.
#pragma once

#include <cstdint>

#include "device/kelvoscanusb.h"

namespace sim {

bool ReplayActive();   // the scenario names a trace: the operations below answer every call
void ReplayReset();    // the scenario changed: look at it again, from the trace's first call

void ReplaySetTraceMask(uint32_t mask);
int32_t ReplayInit_Interface();
void ReplaySetUsbTimeout(uint32_t milliseconds);
int32_t ReplayGetKelvoVersion(uint16_t* hardware, uint16_t* firmware, uint16_t* library, uint16_t* usbDriver);
int32_t ReplayInit_Firmware(const char* fileName, int32_t useDefault);
int32_t ReplayFree_Interface();
int32_t ReplayGetLastKelvoError(int32_t which);
int32_t ReplayGetKelvoErrorText(int32_t code, char* text, uint32_t size);
int32_t ReplayRegWrite(uint32_t address, uint8_t value);
int32_t ReplayRegWriteShort(uint32_t address, uint16_t value);
int32_t ReplayRegWriteLong(uint32_t address, uint32_t value);
int32_t ReplayRegWriteLongInc(uint32_t address, uint32_t value);
uint8_t ReplayRegRead(uint32_t address);
uint16_t ReplayRegReadShort(uint32_t address);
uint16_t ReplayRegReadShortInc(uint32_t address);
uint32_t ReplayRegReadLong(uint32_t address);
uint32_t ReplayRegReadLongInc(uint32_t address);
int32_t ReplayI2C_PROM_write(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress);
int32_t ReplayI2C_PROM_read(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress);
int32_t ReplayI2C_LargePROMwr(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length);
int32_t ReplayI2C_LargePROMrd(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length);
int32_t ReplayI2C_ADCread(uint8_t deviceId, int32_t channel);
int32_t ReplayI2C_DACout(uint8_t deviceId, int32_t value);
int32_t ReplayI2C_TEMPinit(uint8_t deviceId, int32_t value);
int32_t ReplayI2C_TEMPread(uint8_t deviceId);
int32_t ReplayPentamotor_init(int32_t revolutions);
int32_t ReplayAnz_ScanLine();
int32_t ReplayGetScanStatus(ScannerStatus* status);
int32_t ReplayReadBlock(uint8_t* buffer, int32_t requested, int32_t* received);
void ReplayClearReadBlock();

}  // namespace sim
