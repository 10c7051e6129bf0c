// trace/call_facts.cc: what the reader of a call knows of it. Its words, as kelvotrace dump
// and replay's messages show it: recorded text is shown escaped, so a name holding a newline
// or an escape sequence can neither split a line nor reach the terminal. Whether it failed,
// whether it was the same call. And whether it lies within its bounds: each numeric argument,
// result and value given back within its C type, read from the operation's declaration; and
// by the device contract no call moves more than kLargestTransferBytes, and the bytes a record
// holds are the ones its call names (a short EEPROM transfer exactly its addresses' bytes, a
// status record the status's size, a block's request within the largest transfer).
#include <array>
#include <cstdio>
#include <limits>
#include <string>
#include <type_traits>

#include "device/contract.h"
#include "device/kelvoscanusb.h"
#include "device/stream_check.h"
#include "trace/layout.h"
#include "trace/trace_format.h"

namespace trace {

using layout::kLayouts;
using layout::Layout;

namespace {

std::string Hex(int64_t value) {
    char text[24];
    // The magnitude in unsigned arithmetic: INT64_MIN has no positive counterpart.
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::snprintf(text, sizeof text, value < 0 ? "-0x%llx" : "0x%llx", static_cast<unsigned long long>(magnitude));
    return text;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    constexpr size_t kShown = 32;
    std::string text = "[" + std::to_string(bytes.size()) + ":";
    char byte[4];
    for (size_t i = 0; i < bytes.size() && i < kShown; ++i) {
        std::snprintf(byte, sizeof byte, " %02x", bytes[i]);
        text += byte;
    }
    return text + (bytes.size() > kShown ? " ...]" : "]");
}

std::string DescribeStream(const Call& call) {
    std::string text;
    for (const StreamRun& run : call.runs) {
        text += text.empty() ? " " : ", ";
        if (run.pattern) {
            text += "pattern from word " + Hex(run.patternByte / 2) +
                    (run.patternByte % 2 != 0 ? " (high byte)" : "") + " " + std::to_string(run.bytes) + " bytes";
        } else {
            text += "as came " + HexBytes(std::vector<uint8_t>(call.literals.begin() + static_cast<long>(run.literalAt),
                                                                call.literals.begin() + static_cast<long>(run.literalAt + run.bytes)));
        }
    }
    return text;
}

// Printable ASCII as it is, but for the quote and the backslash; every other byte as \n, \t,
// \r or \xNN.
std::string Escaped(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            shown += '\\';
            shown += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            shown += c;
        } else if (byte == '\n') {
            shown += "\\n";
        } else if (byte == '\t') {
            shown += "\\t";
        } else if (byte == '\r') {
            shown += "\\r";
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            shown += escape;
        }
    }
    return shown;
}

}  // namespace

const char* OpName(Op op) {
    const int number = static_cast<int>(op);
    return number >= 1 && number <= kOpCount ? kOperationNames[number - 1] : nullptr;
}

std::string DescribeCall(const Call& call, bool withResults) {
    const int number = static_cast<int>(call.op);
    if (number < 1 || number > kOpCount) return "operation " + std::to_string(number);
    const Layout& layout = kLayouts[number];
    std::string text = std::string(kOperationNames[number - 1]) + "(";
    for (int i = 0; i < layout.args; ++i) {
        if (i > 0) text += ", ";
        text += std::string(layout.argNames[i]) + " " + Hex(call.args[i]);
    }
    if (layout.textIn) text += std::string(layout.args > 0 ? ", " : "") + "\"" + Escaped(call.text) + "\"";
    if (layout.dataIn) text += " " + HexBytes(call.dataIn);
    text += ")";
    if (!withResults) return text;
    if (layout.result) {
        text += " = " + std::to_string(call.result);
    }
    if (layout.outs > 0) {
        text += " ->";
        for (int i = 0; i < layout.outs; ++i) text += " " + Hex(call.outs[i]);
    }
    if (layout.textOut) text += " \"" + Escaped(call.text) + "\"";
    if (layout.dataOut) text += " " + HexBytes(call.dataOut);
    if (layout.stream) text += DescribeStream(call);
    return text;
}

bool IsFailure(const Call& call) {
    switch (call.op) {
        case Op::RegWrite: case Op::RegWriteShort: case Op::RegWriteLong: case Op::RegWriteLongInc:
            return !RegisterWriteSucceeded(static_cast<int32_t>(call.result));
        case Op::I2C_ADCread: return AdcResultIsError(static_cast<int32_t>(call.result));
        case Op::I2C_TEMPread: return TemperatureReadFailed(static_cast<int32_t>(call.result));
        case Op::Anz_ScanLine: return ScanLineCountFailed(static_cast<int32_t>(call.result));
        case Op::RegRead: case Op::RegReadShort: case Op::RegReadShortInc: case Op::RegReadLong:
        case Op::RegReadLongInc: case Op::GetLastKelvoError: case Op::SetTraceMask:
        case Op::SetUsbTimeout: case Op::ClearReadBlock:
            return false;
        default: return call.result != 0;
    }
}

bool SameArguments(const Call& a, const Call& b) {
    if (a.op != b.op) return false;
    const Layout& layout = kLayouts[static_cast<int>(a.op)];
    for (int i = 0; i < layout.args; ++i) {
        if (a.args[i] != b.args[i]) return false;
    }
    return (!layout.textIn || a.text == b.text) && (!layout.dataIn || a.dataIn == b.dataIn);
}

}  // namespace trace

namespace trace::layout {

namespace {

static_assert(kScanBufferBytes <= static_cast<int32_t>(kLargestTransferBytes), "a stream request fits a record");

struct Range {
    int64_t low = 0;
    int64_t high = 0;
    bool Holds(int64_t value) const { return value >= low && value <= high; }
};

template <typename T>
constexpr Range RangeOf() {
    return Range{static_cast<int64_t>(std::numeric_limits<T>::min()), static_cast<int64_t>(std::numeric_limits<T>::max())};
}

// The numeric fields of an operation, in the order of kLayouts: its integer parameters, then
// the values behind its int32_t* parameters (the large EEPROM calls' length, an argument and
// a value given back; ReadBlock's count received). The result's type, when it has one.
struct Bounds {
    std::array<Range, 4> numbers{};
    int count = 0;
    Range result{};
};

template <typename P>
constexpr void AddInteger(Bounds& bounds) {
    if constexpr (std::is_integral_v<P>) bounds.numbers[static_cast<size_t>(bounds.count++)] = RangeOf<P>();
}
template <typename P>
constexpr void AddPointedInteger(Bounds& bounds) {
    if constexpr (std::is_same_v<P, int32_t*>) bounds.numbers[static_cast<size_t>(bounds.count++)] = RangeOf<int32_t>();
}

template <typename Function>
struct Declared;
template <typename Result, typename... Parameters>
struct Declared<Result KELVO_CALL(Parameters...)> {
    static constexpr Bounds Get() {
        Bounds bounds;
        (AddInteger<Parameters>(bounds), ...);
        (AddPointedInteger<Parameters>(bounds), ...);
        if constexpr (!std::is_void_v<Result>) bounds.result = RangeOf<Result>();
        return bounds;
    }
};

constexpr Bounds kBounds[kOpCount + 1] = {
    {},
#define KELVO_BOUNDS(result, name, parameters, arguments) Declared<decltype(::name)>::Get(),
    KELVO_OPERATIONS(KELVO_BOUNDS)
#undef KELVO_BOUNDS
};

constexpr int64_t kLargest = kLargestTransferBytes;

bool NumbersWithinTheirTypes(const Call& call, const Layout& layout, const Bounds& bounds) {
    for (int i = 0; i < layout.args; ++i) {
        if (!bounds.numbers[static_cast<size_t>(i)].Holds(call.args[i])) return false;
    }
    if (layout.result && !bounds.result.Holds(call.result)) return false;
    const Range given = layout.outs == 4 ? RangeOf<uint16_t>() : RangeOf<int32_t>();
    for (int i = 0; i < layout.outs; ++i) {
        if (!given.Holds(call.outs[i])) return false;
    }
    return true;
}

// None, when the program passed no buffer; else exactly `bytes`.
bool NoneOrExactly(size_t size, int64_t bytes) { return size == 0 || static_cast<int64_t>(size) == bytes; }

bool BytesAsTheCallNamesThem(const Call& call) {
    if (call.text.size() > kLargestTransferBytes) return false;
    const int64_t asked = call.args[2] > 0 ? call.args[2] : 0;   // the large EEPROM calls' length
    switch (call.op) {
        case Op::I2C_PROM_write:
            return NoneOrExactly(call.dataIn.size(), ShortTransferBytes(static_cast<uint32_t>(call.args[1]),
                                                                        static_cast<uint8_t>(call.args[2])));
        case Op::I2C_PROM_read:
            return NoneOrExactly(call.dataOut.size(), ShortTransferBytes(static_cast<uint32_t>(call.args[1]),
                                                                         static_cast<uint8_t>(call.args[2])));
        case Op::I2C_LargePROMwr: return asked <= kLargest && NoneOrExactly(call.dataIn.size(), asked);
        case Op::I2C_LargePROMrd: return asked <= kLargest && static_cast<int64_t>(call.dataOut.size()) <= asked;
        case Op::GetScanStatus: return NoneOrExactly(call.dataOut.size(), sizeof(ScannerStatus));
        case Op::GetKelvoErrorText: return call.text.size() <= static_cast<uint64_t>(call.args[1]);
        case Op::ReadBlock: return call.args[0] <= kLargest;
        default: return true;
    }
}

}  // namespace

bool WithinBounds(const Call& call) {
    const int number = static_cast<int>(call.op);
    if (number < 1 || number > kOpCount) return false;
    const Layout& layout = kLayouts[number];
    const Bounds& bounds = kBounds[number];
    return NumbersWithinTheirTypes(call, layout, bounds) && BytesAsTheCallNamesThem(call);
}

}  // namespace trace::layout
