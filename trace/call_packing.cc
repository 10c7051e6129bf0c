// trace/call_packing.cc: the calls as the program made them, one function an operation.
#include "trace/call_packing.h"

#include "device/contract.h"

#include <cstring>

namespace trace::asked {

Call SetTraceMask(uint32_t mask) { return CallOf(Op::SetTraceMask, mask); }
Call Init_Interface() { return CallOf(Op::Init_Interface); }
Call SetUsbTimeout(uint32_t milliseconds) { return CallOf(Op::SetUsbTimeout, milliseconds); }
Call GetKelvoVersion(uint16_t*, uint16_t*, uint16_t*, uint16_t*) { return CallOf(Op::GetKelvoVersion); }

Call Init_Firmware(const char* fileName, int32_t useDefault) {
    Call call = CallOf(Op::Init_Firmware, useDefault);
    if (fileName != nullptr) call.text = fileName;
    return call;
}

Call Free_Interface() { return CallOf(Op::Free_Interface); }
Call GetLastKelvoError(int32_t which) { return CallOf(Op::GetLastKelvoError, which); }
Call GetKelvoErrorText(int32_t code, char*, uint32_t size) { return CallOf(Op::GetKelvoErrorText, code, size); }
Call RegWrite(uint32_t address, uint8_t value) { return CallOf(Op::RegWrite, address, value); }
Call RegWriteShort(uint32_t address, uint16_t value) { return CallOf(Op::RegWriteShort, address, value); }
Call RegWriteLong(uint32_t address, uint32_t value) { return CallOf(Op::RegWriteLong, address, value); }
Call RegWriteLongInc(uint32_t address, uint32_t value) { return CallOf(Op::RegWriteLongInc, address, value); }
Call RegRead(uint32_t address) { return CallOf(Op::RegRead, address); }
Call RegReadShort(uint32_t address) { return CallOf(Op::RegReadShort, address); }
Call RegReadShortInc(uint32_t address) { return CallOf(Op::RegReadShortInc, address); }
Call RegReadLong(uint32_t address) { return CallOf(Op::RegReadLong, address); }
Call RegReadLongInc(uint32_t address) { return CallOf(Op::RegReadLongInc, address); }

Call I2C_PROM_write(uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress) {
    Call call = CallOf(Op::I2C_PROM_write, deviceId, firstAddress, lastAddress);
    if (buffer != nullptr) call.dataIn.assign(buffer, buffer + ShortTransferBytes(firstAddress, lastAddress));
    return call;
}

Call I2C_PROM_read(uint8_t*, uint8_t deviceId, uint32_t firstAddress, uint8_t lastAddress) {
    return CallOf(Op::I2C_PROM_read, deviceId, firstAddress, lastAddress);
}

// The length asked for is an argument; the bytes written are handed over.
Call I2C_LargePROMwr(uint8_t deviceId, uint32_t startAddress, uint8_t* buffer, int32_t* length) {
    const int32_t lengthIn = length != nullptr ? *length : 0;
    Call call = CallOf(Op::I2C_LargePROMwr, deviceId, startAddress, lengthIn);
    if (buffer != nullptr && lengthIn > 0) call.dataIn.assign(buffer, buffer + lengthIn);
    return call;
}

Call I2C_LargePROMrd(uint8_t deviceId, uint32_t startAddress, uint8_t*, int32_t* length) {
    return CallOf(Op::I2C_LargePROMrd, deviceId, startAddress, length != nullptr ? *length : 0);
}

Call I2C_ADCread(uint8_t deviceId, int32_t channel) { return CallOf(Op::I2C_ADCread, deviceId, channel); }
Call I2C_DACout(uint8_t deviceId, int32_t value) { return CallOf(Op::I2C_DACout, deviceId, value); }
Call I2C_TEMPinit(uint8_t deviceId, int32_t value) { return CallOf(Op::I2C_TEMPinit, deviceId, value); }
Call I2C_TEMPread(uint8_t deviceId) { return CallOf(Op::I2C_TEMPread, deviceId); }
Call Pentamotor_init(int32_t revolutions) { return CallOf(Op::Pentamotor_init, revolutions); }
Call Anz_ScanLine() { return CallOf(Op::Anz_ScanLine); }
Call GetScanStatus(ScannerStatus*) { return CallOf(Op::GetScanStatus); }
Call ReadBlock(uint8_t*, int32_t requested, int32_t*) { return CallOf(Op::ReadBlock, requested); }
Call ClearReadBlock() { return CallOf(Op::ClearReadBlock); }

}  // namespace trace::asked

namespace trace::given {

void Outputs(OpTag<Op::GetKelvoVersion>, Call& call, uint16_t* hardware, uint16_t* firmware, uint16_t* library,
             uint16_t* usbDriver) {
    const uint16_t* values[4] = {hardware, firmware, library, usbDriver};
    for (int i = 0; i < 4; ++i) call.outs[i] = values[i] != nullptr ? *values[i] : 0;
}

void Outputs(OpTag<Op::GetKelvoErrorText>, Call& call, int32_t, char* text, uint32_t size) {
    if (text != nullptr && size > 0) call.text.assign(text, strnlen(text, size));
}

void Outputs(OpTag<Op::I2C_PROM_read>, Call& call, uint8_t* buffer, uint8_t, uint32_t firstAddress,
             uint8_t lastAddress) {
    if (buffer != nullptr) call.dataOut.assign(buffer, buffer + ShortTransferBytes(firstAddress, lastAddress));
}

void Outputs(OpTag<Op::I2C_LargePROMwr>, Call& call, uint8_t, uint32_t, uint8_t*, int32_t* length) {
    call.outs[0] = length != nullptr ? *length : 0;
}

// Only what the library says it moved, and never past the buffer the program gave.
void Outputs(OpTag<Op::I2C_LargePROMrd>, Call& call, uint8_t, uint32_t, uint8_t* buffer, int32_t* length) {
    call.outs[0] = length != nullptr ? *length : 0;
    const int64_t asked = call.args[2];
    const int64_t moved = call.outs[0] < 0 ? 0 : (call.outs[0] < asked ? call.outs[0] : asked);
    if (buffer != nullptr && moved > 0) call.dataOut.assign(buffer, buffer + moved);
}

void Outputs(OpTag<Op::GetScanStatus>, Call& call, ScannerStatus* status) {
    if (status == nullptr) return;
    const auto* bytes = reinterpret_cast<const uint8_t*>(status);
    call.dataOut.assign(bytes, bytes + sizeof *status);
}

void Outputs(OpTag<Op::ReadBlock>, Call& call, uint8_t* buffer, int32_t, int32_t* received) {
    call.outs[0] = received != nullptr ? *received : 0;
    call.stream = buffer;   // trace::StreamBytes keeps it within the request
}

}  // namespace trace::given
