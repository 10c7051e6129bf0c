// trace/describe.cc: a call in words, as kelvotrace dump and replay's messages show it, and
// what the reader of a call needs to know of it: whether it failed, whether it was the same.
// Recorded text is shown escaped, so a name holding a newline or an escape sequence can neither
// split a line nor reach the terminal.
#include <cstdio>
#include <string>

#include "device/contract.h"
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
