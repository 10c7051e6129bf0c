// device/stack_bytes.h: the bytes an operation's arguments take on the 32-bit x86 stack: the
// N of its stdcall name Name@N. Right on any machine that compiles it (make_def runs on the
// build machine): a pointer takes 4 bytes there, an integer its size rounded up to 4.
#pragma once

#include <type_traits>

#include "device/kelvoscanusb.h"

namespace kelvo {

template <typename T>
constexpr unsigned StackBytes() {
    if constexpr (std::is_pointer_v<T>) {
        return 4;
    } else {
        static_assert(std::is_integral_v<T> && sizeof(T) <= 8,
                      "an operation's argument is neither a pointer nor an integer: add its stack size here");
        return sizeof(T) <= 4 ? 4 : 8;
    }
}

// ArgumentBytes<decltype(::Init_Interface)>::value
template <typename Function>
struct ArgumentBytes;
template <typename Result, typename... Arguments>
struct ArgumentBytes<Result KELVO_CALL(Arguments...)> {
    static constexpr unsigned value = (0u + ... + StackBytes<Arguments>());
};

}  // namespace kelvo
