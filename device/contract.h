// device/contract.h: what the device library's results mean where they are more than a
// status, and the shape of its short EEPROM transfers. The tool reads results through these
// functions; the virtual scanner, its replay and the recorder give their answers through them.
#pragma once

#include <cstdint>
#include <type_traits>

#include "device/kelvoscanusb.h"

// ReadBlock's status when nothing arrived within the USB time-out; the streaming test passes
// over it silently.
constexpr int32_t kNoDataStatus = -306;

// I2C_TEMPread: the raw reading is the low 16 bits of the result, signed; this value of them
// means the sensor could not be read.
constexpr int16_t kTemperatureFailure = -32768;
inline bool TemperatureReadFailed(int32_t result) { return static_cast<int16_t>(result) == kTemperatureFailure; }

// Anz_ScanLine: this value (2^27, not 2^31) means the count could not be read; every other
// value, 0x80000000 included, is a count.
constexpr int32_t kScanLineFailure = 0x08000000;
inline bool ScanLineCountFailed(int32_t result) { return result == kScanLineFailure; }

// The register writes answer non-zero for success and 0 for failure, not a status.
constexpr int32_t RegisterWriteResult(bool succeeded) { return succeeded ? 1 : 0; }
constexpr bool RegisterWriteSucceeded(int32_t result) { return result != 0; }

// I2C_ADCread: the reading is the result's low 8 bits. A library may hand its byte back
// sign-extended, so -255 to -1 are readings too (-87 is 169); only a result below -255,
// which no byte can give, is an error code. An implementation whose own code lies among the
// readings answers it moved below them by kAdcErrorShift, and takes it back for its text.
constexpr int32_t kLowestAdcReading = -255;
constexpr int32_t kAdcErrorShift = -1000;
constexpr bool AdcResultIsError(int32_t result) { return result < kLowestAdcReading; }
constexpr int32_t AdcErrorResult(int32_t code) { return AdcResultIsError(code) ? code : code + kAdcErrorShift; }
constexpr int32_t AdcErrorCause(int32_t result) {
    const bool shifted = result >= kLowestAdcReading + kAdcErrorShift && result < kAdcErrorShift;
    return shifted ? result - kAdcErrorShift : result;
}
static_assert(AdcResultIsError(AdcErrorResult(-1)) && AdcResultIsError(AdcErrorResult(-255)));
static_assert(AdcErrorCause(AdcErrorResult(-110)) == -110 && AdcErrorCause(AdcErrorResult(-601)) == -601);

// The largest buffer the tool hands the library in one call: a boot image, read or written
// whole. Every other transfer is smaller (a stream request at most 32768 bytes, an error
// text 1024), so no recorded call of the tool carries more bytes than this.
constexpr uint32_t kLargestTransferBytes = 70000;

// I2C_PROM_write and I2C_PROM_read name their last byte in 8 bits: the low byte of the last
// address, which lies at most 255 bytes past the first. buffer[0] belongs to the first.
constexpr uint32_t ShortTransferBytes(uint32_t firstAddress, uint8_t lastAddress) {
    return ((static_cast<uint32_t>(lastAddress) - firstAddress) & 0xFFu) + 1u;
}
static_assert(ShortTransferBytes(0, 255) == 256 && ShortTransferBytes(0x1F0, 0xFF) == 16);

// The operations, in the order of their list, with their names and result types.
enum class Operation : int {
#define KELVO_ENUM(result, name, parameters, arguments) k##name,
    KELVO_OPERATIONS(KELVO_ENUM)
#undef KELVO_ENUM
};
inline constexpr const char* kOperationNames[] = {
#define KELVO_NAME(result, name, parameters, arguments) #name,
    KELVO_OPERATIONS(KELVO_NAME)
#undef KELVO_NAME
};
inline constexpr int kOperationCount = static_cast<int>(sizeof kOperationNames / sizeof kOperationNames[0]);

template <Operation>
struct OperationResult;
#define KELVO_RESULT(result, name, parameters, arguments) \
    template <>                                              \
    struct OperationResult<Operation::k##name> {             \
        using Type = result;                                 \
    };
KELVO_OPERATIONS(KELVO_RESULT)
#undef KELVO_RESULT

// What an operation answers when it fails with `code`, for an implementation that cannot
// reach the scanner at all (the recorder without its library, a replay that has stopped):
// the code itself where the result is a status, else the value that means failure there.
template <Operation op>
constexpr auto FailedResult(int32_t code) {
    using Result = typename OperationResult<op>::Type;
    if constexpr (std::is_void_v<Result>) {
        return;
    } else if constexpr (op == Operation::kRegWrite || op == Operation::kRegWriteShort ||
                         op == Operation::kRegWriteLong || op == Operation::kRegWriteLongInc) {
        return RegisterWriteResult(false);
    } else if constexpr (!std::is_same_v<Result, int32_t>) {
        return Result{0};   // the register reads: their value is all they answer
    } else if constexpr (op == Operation::kI2C_ADCread) {
        return AdcErrorResult(code);
    } else if constexpr (op == Operation::kI2C_TEMPread) {
        return static_cast<int32_t>(kTemperatureFailure);
    } else if constexpr (op == Operation::kAnz_ScanLine) {
        return kScanLineFailure;
    } else {
        return code;
    }
}
