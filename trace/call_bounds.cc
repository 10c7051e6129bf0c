// trace/call_bounds.cc: the bounds a decoded call must keep. Each numeric argument, result and
// value given back lies within its C type, read from the operation's declaration; and by the
// device contract no call moves more than kLargestTransferBytes, and the bytes a record holds
// are the ones its call names (a short EEPROM transfer exactly its addresses' bytes, a status
// record the status's size, a block's data never more than was asked for).
#include <array>
#include <limits>
#include <type_traits>

#include "device/contract.h"
#include "device/kelvoscanusb.h"
#include "device/stream_check.h"
#include "trace/layout.h"

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
