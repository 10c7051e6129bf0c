// trace/call_packing.h: each operation's call as the program made it: its numeric arguments,
// the file name and the bytes it handed over. The recorder records this and replay compares
// it with the recording, so the two can never disagree on what a call was; and what the
// library gave back beside its result, as the recorder takes it (replay hands it out again).
#pragma once

#include "device/kelvoscanusb.h"
#include "trace/trace_format.h"

namespace trace::asked {

#define KELVO_ASKED(result, name, parameters, arguments) Call name parameters;
KELVO_OPERATIONS(KELVO_ASKED)
#undef KELVO_ASKED

}  // namespace trace::asked

namespace trace::given {

// The operations that give back more than their result, through buffers and out-values.
constexpr bool HasOutputs(Op op) {
    return op == Op::GetKelvoVersion || op == Op::GetKelvoErrorText || op == Op::I2C_PROM_read ||
           op == Op::I2C_LargePROMwr || op == Op::I2C_LargePROMrd || op == Op::GetScanStatus || op == Op::ReadBlock;
}

template <Op>
struct OpTag {};

// Adds to `call`, after the library returned, what it gave back: one overload for each
// operation of HasOutputs, taking the operation's own arguments.
template <Op op, typename... Arguments>
void Outputs(OpTag<op>, Call&, Arguments...) {
    static_assert(!HasOutputs(op), "an operation with outputs calls an overload of its own");
}
void Outputs(OpTag<Op::GetKelvoVersion>, Call& call, uint16_t* hardware, uint16_t* firmware, uint16_t* library,
             uint16_t* usbDriver);
void Outputs(OpTag<Op::GetKelvoErrorText>, Call& call, int32_t code, char* text, uint32_t size);
void Outputs(OpTag<Op::I2C_PROM_read>, Call& call, uint8_t* buffer, uint8_t deviceId, uint32_t firstAddress,
             uint8_t lastAddress);
void Outputs(OpTag<Op::I2C_LargePROMwr>, Call& call, uint8_t deviceId, uint32_t startAddress, uint8_t* buffer,
             int32_t* length);
void Outputs(OpTag<Op::I2C_LargePROMrd>, Call& call, uint8_t deviceId, uint32_t startAddress, uint8_t* buffer,
             int32_t* length);
void Outputs(OpTag<Op::GetScanStatus>, Call& call, ScannerStatus* status);
void Outputs(OpTag<Op::ReadBlock>, Call& call, uint8_t* buffer, int32_t requested, int32_t* received);

}  // namespace trace::given
